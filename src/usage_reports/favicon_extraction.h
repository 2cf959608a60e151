#pragma once

// The favicons of the HTML report: each page's icon written out as an image
// file beside the report, once per run however many visits show it.
//
// Firefox keeps its icons in two ways, Chrome in three:
// - Firefox 3 keeps them in places.sqlite, table moz_favicons, and each page
//   names its icon by favicon_id. The file is "favicon_" + that id + an
//   extension chosen by the stored MIME type.
// - Current Firefox has no moz_favicons; its icons stand in favicons.sqlite
//   beside places.sqlite, found from the page's URL through
//   moz_pages_w_icons and moz_icons_to_pages, the one whose width is closest
//   to 16 chosen. The file is "favicon_" + the moz_icons id + an extension
//   chosen by the image's first bytes.
// - Chrome of 2009 keeps them in the Thumbnails database beside History,
//   table favicons, and each page of urls names its icon by favicon_id;
//   later Chromes in the Favicons database, found from the page's URL
//   through icon_mapping: the icon's largest bitmap of favicon_bitmaps, or,
//   before there were bitmaps, the image of favicons itself. The file is "chrome_favicon_" +
//   the icon's id + an extension chosen by the image's first bytes, so that
//   Firefox's images and Chrome's never take each other's names.
//
// The extractor reads moz_favicons through the report's own connection to
// places.sqlite (one private copy of the database serves both), and opens
// favicons.sqlite, when it needs it, under the same evidence rules as every
// database. It never writes to the console and never ends the program: what
// went wrong goes back to the report. An image whose file cannot be created
// is no image to show, and the report goes on; an image whose write fails
// once its file was created is handed back at once, for the report to end
// on; an image file is never left half written.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/failure.h"
#include "evidence/evidence_database.h"
#include "output/output_names.h"
#include "usage_reports/visit_join.h"

// What the report says of the images after its row count.
struct FaviconTally {
  // Images whose file could not be created, and the first one's failure.
  std::int64_t notWritten = 0;
  std::optional<Failure> firstNotWritten;
  // Images written under a numbered name, their plain one being taken.
  std::vector<std::string> renamed;
  // favicons.sqlite, there but not to be read.
  std::optional<Failure> unreadableDatabase;
};

// The image file of one visit.
struct FaviconLookup {
  const std::string& file;  // empty when there is no image to show
  // An image file that lost data as it was written: the report must end.
  std::optional<Failure> lost;
};

// Whose icons an extractor writes.
enum class IconBrowser { kFirefox, kChrome };

class FaviconExtractor {
 public:
  // history: the report's connection to places.sqlite or History, which
  // outlives the extractor.
  FaviconExtractor(sqlite3* history, IconBrowser browser) : places_(history), browser_(browser) {}

  // The image of the visited page's favicon, written on first request: by
  // the page's icon id where the history keeps one (0 for none), else by
  // its URL.
  FaviconLookup FaviconFor(std::int64_t faviconId, const std::optional<std::string_view>& url);

  // The database the icons stand in beside the history, as the console
  // names it.
  std::string_view IconsDatabase() const;

  const FaviconTally& tally() const { return tally_; }

 private:
  enum class Source { kNotChosen, kNone, kPlaces, kFaviconsDatabase };
  void ChooseSource();
  void ChooseChromeSource();
  // The icon database beside the history, opened; nothing when it is not
  // there or not to be read (said in the tally).
  EvidenceDatabase OpenIconsDatabase();
  // The image of the Firefox 3 favicon with this id, or of the current
  // Firefox icon of this page.
  FaviconLookup ExtractFavicon(std::int64_t faviconId);
  FaviconLookup ExtractForPage(std::string_view url);
  std::int8_t ExtractFromPlaces(std::int64_t faviconId, std::optional<Failure>& lost);
  // Writes the image file of an id; what to remember of it.
  std::int8_t WriteImage(std::int64_t id, std::string_view extension, std::string_view bytes,
                         std::optional<Failure>& lost);
  // The file name of an id from what was remembered of it.
  const std::string& NameOf(std::int64_t id, std::int8_t written);
  std::string PlainName(std::int64_t id, std::int8_t written) const;
  std::string_view NamePrefix() const { return browser_ == IconBrowser::kChrome ? "chrome_favicon_" : "favicon_"; }

  sqlite3* places_;
  IconBrowser browser_;
  // Chrome's icon database: Favicons, or Thumbnails where there is none.
  const char* iconsDatabase_ = "Favicons";
  Source source_ = Source::kNotChosen;
  EvidenceDatabase db_;  // favicons.sqlite, when the icons stand there
  Statement query_;
  // For each favicon or icon id met: the index of its file's extension, or
  // kNoImage. One byte per id, so a run remembers every icon of a large
  // profile in little memory; asked once per visit row, so the ids that
  // browsers give (a counter from 1) are looked up by index, not hashed.
  class IconMemory {
   public:
    static constexpr std::int8_t kUnknown = -2;
    std::int8_t Get(std::int64_t id) const;
    void Set(std::int64_t id, std::int8_t written);

   private:
    std::vector<std::int8_t> byId_;  // ids 0 to a limit
    std::unordered_map<std::int64_t, std::int8_t> others_;
  };
  IconMemory extracted_;
  // Names differ by id, so only the folder is asked whether one is taken.
  OutputNames names_{false};
  // The few images written under a numbered name.
  std::unordered_map<std::int64_t, std::string> renamed_;
  std::string name_;  // the name last returned, of the id nameId_
  std::int64_t nameId_ = 0;
  FaviconTally tally_;
};
