#pragma once

// The favicons of the HTML report: each page's icon written out as an image
// file beside the report, once per run however many visits show it.
//
// Two kinds of profile keep icons in two ways:
// - Firefox 3 keeps them in places.sqlite, table moz_favicons, and each page
//   names its icon by favicon_id. The file is "favicon_" + that id + an
//   extension chosen by the stored MIME type.
// - Current Firefox has no moz_favicons; its icons stand in favicons.sqlite
//   beside places.sqlite, found from the page's URL through
//   moz_pages_w_icons and moz_icons_to_pages, the one whose width is closest
//   to 16 chosen. The file is "favicon_" + the moz_icons id + an extension
//   chosen by the image's first bytes.
//
// The extractor reads moz_favicons through the report's own connection to
// places.sqlite (one private copy of the database serves both), and opens
// favicons.sqlite, when it needs it, under the same evidence rules as every
// database. It never writes to the console,
// except when writing an image fails after its file was created: that ends
// the program like any other lost write. An image file is never left half
// written: it is published whole, or not at all.

#include <cstdint>
#include <unordered_map>
#include <vector>
#include <string>
#include <string_view>

#include "evidence/evidence_database.h"
#include "output/output_names.h"
#include "usage_reports/visit_join.h"

class Console;

// The extension for a Firefox 3 MIME type, matched exactly and
// case-sensitively; empty for any other type, and for a NULL one.
std::string_view FaviconExtension(std::string_view mimeType);

// The extension for image bytes by their signature: PNG, GIF, ICO, JPEG, BMP
// or SVG text; empty for anything else.
std::string_view ImageExtension(std::string_view bytes);

class FaviconExtractor {
 public:
  // places: the report's connection to places.sqlite, which outlives the
  // extractor.
  FaviconExtractor(Console& console, sqlite3* places) : console_(console), places_(places) {}

  // The image file name of the visited page's favicon; empty when there is
  // no image to show.
  const std::string& FaviconFor(const JoinedVisit& visit);

  // The image file name of the Firefox 3 favicon with this id, written on
  // first request; empty when there is no image to show (no row, NULL data,
  // a file that cannot be created).
  const std::string& ExtractFavicon(int faviconId);

 private:
  enum class Source { kNotChosen, kNone, kPlaces, kFaviconsDatabase };
  void ChooseSource();
  std::int8_t ExtractFromPlaces(int faviconId);
  const std::string& ExtractForPage(std::string_view url);
  // Writes the image file of an id; what to remember of it.
  std::int8_t WriteImage(std::int64_t id, std::string_view extension, const void* bytes, int count);
  // The file name of an id from what was remembered of it.
  const std::string& NameOf(std::int64_t id, std::int8_t written);
  static std::string PlainName(std::int64_t id, std::int8_t written);

  Console& console_;
  sqlite3* places_;
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
};
