#include "usage_reports/favicon_extraction.h"

#include <algorithm>
#include <optional>

#include "output/output_file.h"
#include "evidence/named_columns.h"
#include "evidence/table_probes.h"
#include "usage_reports/image_types.h"

namespace {

const std::string kNoImageName;

// The extensions an image file can have; an entry of extracted_ holds an
// index into it.
constexpr std::string_view kExtensions[] = {"", ".bmp", ".gif", ".png", ".ico", ".jpg", ".svg"};
constexpr std::int8_t kNoImage = -1;

// Ids below this are remembered in a table of one byte each (at most 256
// KiB); a larger one, rare in a browser's counter, in a map.
constexpr std::int64_t kIndexedIds = 1 << 18;

std::int8_t ExtensionIndex(std::string_view extension) {
  for (std::size_t i = 0; i < std::size(kExtensions); ++i) {
    if (kExtensions[i] == extension) return static_cast<std::int8_t>(i);
  }
  return 0;
}

// Files of the favicons database are read once each: a small cache will do.
constexpr int kFaviconPageCacheKiB = 256;

constexpr const char* kFaviconsDatabase = "favicons.sqlite";
constexpr const char* kChromeThumbnailsDatabase = "Thumbnails";

// A page's icons, the one nearest 16 pixels wide first.
constexpr const char* kIconOfPage =
    "SELECT i.id, i.data FROM moz_pages_w_icons p "
    "JOIN moz_icons_to_pages ip ON ip.page_id = p.id JOIN moz_icons i ON i.id = ip.icon_id "
    "WHERE p.page_url = ?1 ORDER BY abs(i.width - 16), i.id LIMIT 1";

}  // namespace

std::string_view FaviconExtractor::IconsDatabase() const {
  if (browser_ == IconBrowser::kFirefox) return kFaviconsDatabase;
  return iconsDatabase_;
}

EvidenceDatabase FaviconExtractor::OpenIconsDatabase() {
  EvidenceDatabase icons = EvidenceDatabase::Open(std::string(IconsDatabase()));
  if (browser_ == IconBrowser::kChrome && icons.found() == EvidenceDatabase::Found::kMissing) {
    // Chrome kept its icons in Thumbnails until it gave them a file of their
    // own.
    iconsDatabase_ = kChromeThumbnailsDatabase;
    icons = EvidenceDatabase::Open(kChromeThumbnailsDatabase);
  }
  if (icons.found() == EvidenceDatabase::Found::kUnreadable) tally_.unreadableDatabase = *icons.failure();
  if (icons) SetPageCache(icons.get(), kFaviconPageCacheKiB);
  return icons;
}

void FaviconExtractor::ChooseSource() {
  source_ = Source::kNone;
  if (browser_ == IconBrowser::kChrome) return ChooseChromeSource();
  if (ProbeTables(places_).contains("moz_favicons")) {
    query_ = PrepareStatement(places_, "SELECT * FROM moz_favicons WHERE id=?1");
    if (query_) source_ = Source::kPlaces;
    return;
  }
  EvidenceDatabase favicons = OpenIconsDatabase();
  if (!favicons) return;
  query_ = PrepareStatement(favicons.get(), kIconOfPage);
  db_ = std::move(favicons);
  if (query_) source_ = Source::kFaviconsDatabase;
}

void FaviconExtractor::ChooseChromeSource() {
  EvidenceDatabase icons = OpenIconsDatabase();
  if (!icons) return;
  const auto tables = ProbeTables(icons.get());
  if (tables.contains("icon_mapping")) {
    // Each icon's largest bitmap; before there were bitmaps, the icon's own
    // image. Found by the page's URL.
    query_ = tables.contains("favicon_bitmaps")
                 ? PrepareStatement(icons.get(),
                                    "SELECT b.icon_id, b.image_data FROM icon_mapping m "
                                    "JOIN favicon_bitmaps b ON b.icon_id = m.icon_id WHERE m.page_url = ?1 "
                                    "ORDER BY m.id, b.width * b.height DESC, b.id LIMIT 1")
                 : PrepareStatement(icons.get(),
                                    "SELECT f.id, f.image_data FROM icon_mapping m "
                                    "JOIN favicons f ON f.id = m.icon_id WHERE m.page_url = ?1 ORDER BY m.id LIMIT 1");
    if (query_) source_ = Source::kFaviconsDatabase;
  } else {
    // Chrome of 2009: found by the favicon_id of the page in History.
    query_ = PrepareStatement(icons.get(), "SELECT id, image_data FROM favicons WHERE id=?1");
    if (query_) source_ = Source::kPlaces;
  }
  db_ = std::move(icons);
}

FaviconLookup FaviconExtractor::FaviconFor(std::int64_t faviconId, const std::optional<std::string_view>& url) {
  if (source_ == Source::kNotChosen) ChooseSource();
  if (source_ == Source::kPlaces && faviconId != 0) return ExtractFavicon(faviconId);
  if (source_ == Source::kFaviconsDatabase && url) return ExtractForPage(*url);
  return {kNoImageName, std::nullopt};
}

FaviconLookup FaviconExtractor::ExtractFavicon(std::int64_t faviconId) {
  std::optional<Failure> lost;
  std::int8_t written = extracted_.Get(faviconId);
  if (written == IconMemory::kUnknown) {
    written = ExtractFromPlaces(faviconId, lost);
    extracted_.Set(faviconId, written);
  }
  return {NameOf(faviconId, written), std::move(lost)};
}

std::int8_t FaviconExtractor::IconMemory::Get(std::int64_t id) const {
  if (id >= 0 && static_cast<std::uint64_t>(id) < byId_.size()) return byId_[static_cast<std::size_t>(id)];
  auto known = others_.find(id);
  return known != others_.end() ? known->second : kUnknown;
}

void FaviconExtractor::IconMemory::Set(std::int64_t id, std::int8_t written) {
  if (id >= 0 && id < kIndexedIds) {
    const auto index = static_cast<std::size_t>(id);
    if (index >= byId_.size()) byId_.resize(std::max(index + 1, 2 * byId_.size()), kUnknown);
    byId_[index] = written;
  } else {
    others_.emplace(id, written);
  }
}

const std::string& FaviconExtractor::NameOf(std::int64_t id, std::int8_t written) {
  if (written == kNoImage) return kNoImageName;
  if (name_.empty() || id != nameId_) {  // neighbouring visits often share an icon
    auto renamed = renamed_.find(id);
    name_ = renamed != renamed_.end() ? renamed->second : PlainName(id, written);
    nameId_ = id;
  }
  return name_;
}

std::string FaviconExtractor::PlainName(std::int64_t id, std::int8_t written) const {
  return std::string(NamePrefix()) + std::to_string(id) + std::string(kExtensions[static_cast<std::size_t>(written)]);
}

std::int8_t FaviconExtractor::ExtractFromPlaces(std::int64_t faviconId, std::optional<Failure>& lost) {
  sqlite3_stmt* query = query_.get();
  sqlite3_reset(query);
  sqlite3_bind_int64(query, 1, faviconId);
  if (sqlite3_step(query) != SQLITE_ROW) return kNoImage;

  if (browser_ == IconBrowser::kChrome) {
    // Chrome keeps no type: the image's first bytes tell it.
    if (sqlite3_column_type(query, 1) == SQLITE_NULL) return kNoImage;
    const std::string_view image = BlobAt(query, 1);
    return WriteImage(faviconId, ImageExtension(image), image, lost);
  }
  // The Firefox 3 schema of moz_favicons.
  static constexpr std::string_view kSchema[] = {"id", "url", "data", "mime_type", "expiration"};
  int columns[std::size(kSchema)];
  ResolveColumns(query, kSchema, columns);
  const int dataColumn = columns[2];
  const int mimeColumn = columns[3];
  if (!TextAt(query, dataColumn)) return kNoImage;  // NULL data: no image

  const std::string_view extension = FaviconExtension(TextAt(query, mimeColumn).value_or(""));
  return WriteImage(faviconId, extension, BlobAt(query, dataColumn), lost);
}

FaviconLookup FaviconExtractor::ExtractForPage(std::string_view url) {
  sqlite3_stmt* query = query_.get();
  sqlite3_reset(query);
  sqlite3_bind_text(query, 1, url.data(), static_cast<int>(url.size()), SQLITE_STATIC);
  if (sqlite3_step(query) != SQLITE_ROW || sqlite3_column_type(query, 1) == SQLITE_NULL) {
    return {kNoImageName, std::nullopt};
  }
  const std::int64_t iconId = sqlite3_column_int64(query, 0);
  std::optional<Failure> lost;
  std::int8_t written = extracted_.Get(iconId);
  if (written == IconMemory::kUnknown) {
    const std::string_view image = BlobAt(query, 1);
    written = WriteImage(iconId, ImageExtension(image), image, lost);
    extracted_.Set(iconId, written);
  }
  return {NameOf(iconId, written), std::move(lost)};
}

std::int8_t FaviconExtractor::WriteImage(std::int64_t id, std::string_view extension, std::string_view bytes,
                                         std::optional<Failure>& lost) {
  const std::int8_t index = ExtensionIndex(extension);
  const std::string number = std::to_string(id);
  const std::string_view parts[] = {NamePrefix(), number};
  const ClaimedName claimed = names_.Claim(parts, kExtensions[static_cast<std::size_t>(index)]);
  OutputFile file(claimed.name);
  if (file.failure()) {
    if (tally_.notWritten++ == 0) tally_.firstNotWritten = *file.failure();
    return kNoImage;
  }
  file.Append(bytes);
  if (!file.Publish()) {
    lost = *file.failure();
    return kNoImage;
  }
  // A folder of the plain name is left alone; the page shows the image
  // under the name it was written with.
  if (claimed.renamed) {
    renamed_.emplace(id, claimed.name);
    tally_.renamed.push_back(claimed.name);
  }
  return index;
}
