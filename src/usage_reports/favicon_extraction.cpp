#include "usage_reports/favicon_extraction.h"

#include <optional>

#include "table_export/output_file.h"
#include "usage_reports/named_columns.h"
#include "usage_reports/report_console.h"

namespace {

const std::string kNoImage;

constexpr const char* kFaviconsDatabase = "favicons.sqlite";

// A page's icons, the one nearest 16 pixels wide first.
constexpr const char* kIconOfPage =
    "SELECT i.id, i.data FROM moz_pages_w_icons p "
    "JOIN moz_icons_to_pages ip ON ip.page_id = p.id JOIN moz_icons i ON i.id = ip.icon_id "
    "WHERE p.page_url = ?1 ORDER BY abs(i.width - 16), i.id LIMIT 1";

bool HasTable(sqlite3* db, const char* table) {
  Statement query = PrepareStatement(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
  return query && sqlite3_bind_text(query.get(), 1, table, -1, SQLITE_STATIC) == SQLITE_OK &&
         sqlite3_step(query.get()) == SQLITE_ROW;
}

bool IsSvgText(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  while (!bytes.empty() && (bytes.front() == ' ' || bytes.front() == '\t' || bytes.front() == '\r' || bytes.front() == '\n')) {
    bytes.remove_prefix(1);
  }
  if (bytes.starts_with("<svg")) return true;
  return bytes.starts_with("<?xml") && bytes.substr(0, 1024).find("<svg") != std::string_view::npos;
}

}  // namespace

std::string_view FaviconExtension(std::string_view mimeType) {
  struct Type {
    std::string_view mime;
    std::string_view extension;
  };
  static constexpr Type kTypes[] = {
      {"image/bmp", ".bmp"},    {"image/gif", ".gif"}, {"image/png", ".png"},
      {"image/x-icon", ".ico"}, {"image/jpg", ".jpg"}, {"image/jpeg", ".jpg"},
  };
  for (const Type& type : kTypes) {
    if (type.mime == mimeType) return type.extension;
  }
  return {};
}

std::string_view ImageExtension(std::string_view bytes) {
  if (bytes.starts_with("\x89PNG\r\n\x1A\n")) return ".png";
  if (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a")) return ".gif";
  if (bytes.starts_with(std::string_view("\0\0\1\0", 4))) return ".ico";
  if (bytes.starts_with("\xFF\xD8\xFF")) return ".jpg";
  if (bytes.starts_with("BM")) return ".bmp";
  if (IsSvgText(bytes)) return ".svg";
  return {};
}

void FaviconExtractor::ChooseSource() {
  source_ = Source::kNone;
  EvidenceDatabase places = OpenEvidenceDatabase(std::string(kPlacesDatabase));
  if (places && HasTable(places.get(), "moz_favicons")) {
    query_ = PrepareStatement(places.get(), "SELECT * FROM moz_favicons WHERE id=?1");
    db_ = std::move(places);
    if (query_) source_ = Source::kPlaces;
    return;
  }
  if (!places) return;
  EvidenceDatabase favicons = OpenEvidenceDatabase(kFaviconsDatabase);
  if (!favicons) return;
  query_ = PrepareStatement(favicons.get(), kIconOfPage);
  db_ = std::move(favicons);
  if (query_) source_ = Source::kFaviconsDatabase;
}

const std::string& FaviconExtractor::FaviconFor(const JoinedVisit& visit) {
  if (source_ == Source::kNotChosen) ChooseSource();
  if (source_ == Source::kPlaces && visit.faviconId != 0) return ExtractFavicon(visit.faviconId);
  if (source_ == Source::kFaviconsDatabase && visit.url) return ExtractForPage(*visit.url);
  return kNoImage;
}

const std::string& FaviconExtractor::ExtractFavicon(int faviconId) {
  if (source_ == Source::kNotChosen) ChooseSource();
  if (source_ != Source::kPlaces) return kNoImage;
  auto known = extracted_.find(faviconId);
  if (known == extracted_.end()) known = extracted_.emplace(faviconId, ExtractFromPlaces(faviconId)).first;
  return known->second;
}

std::string FaviconExtractor::ExtractFromPlaces(int faviconId) {
  sqlite3_stmt* query = query_.get();
  sqlite3_reset(query);
  sqlite3_bind_int(query, 1, faviconId);
  if (sqlite3_step(query) != SQLITE_ROW) return {};

  // The Firefox 3 schema of moz_favicons.
  static constexpr std::string_view kSchema[] = {"id", "url", "data", "mime_type", "expiration"};
  int columns[std::size(kSchema)];
  ResolveColumns(query, kSchema, columns);
  const int dataColumn = columns[2];
  const int mimeColumn = columns[3];
  if (!TextAt(query, dataColumn)) return {};  // NULL data: no image

  const std::string fileName =
      "favicon_" + std::to_string(faviconId) + std::string(FaviconExtension(TextAt(query, mimeColumn).value_or("")));
  return WriteImage(fileName, sqlite3_column_blob(query, dataColumn), sqlite3_column_bytes(query, dataColumn));
}

const std::string& FaviconExtractor::ExtractForPage(std::string_view url) {
  sqlite3_stmt* query = query_.get();
  sqlite3_reset(query);
  sqlite3_bind_text(query, 1, url.data(), static_cast<int>(url.size()), SQLITE_STATIC);
  if (sqlite3_step(query) != SQLITE_ROW || sqlite3_column_type(query, 1) == SQLITE_NULL) return kNoImage;
  const std::int64_t iconId = sqlite3_column_int64(query, 0);
  auto known = extracted_.find(iconId);
  if (known != extracted_.end()) return known->second;

  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(query, 1));
  const int count = sqlite3_column_bytes(query, 1);
  const std::string_view image(bytes != nullptr ? bytes : "", bytes != nullptr ? static_cast<std::size_t>(count) : 0);
  const std::string fileName = "favicon_" + std::to_string(iconId) + std::string(ImageExtension(image));
  return extracted_.emplace(iconId, WriteImage(fileName, image.data(), static_cast<int>(image.size()))).first->second;
}

std::string FaviconExtractor::WriteImage(const std::string& fileName, const void* bytes, int count) {
  std::optional<OutputFile> file = OutputFile::Create(fileName);
  if (!file) return {};
  if (bytes != nullptr && count > 0) file->Append(std::string_view(static_cast<const char*>(bytes), count));
  if (!file->Close()) EndProgramAfterWriteFailure(console_, *file);
  return fileName;
}
