#pragma once

// The favicons of the HTML report: each page's icon written out of
// places.sqlite (moz_favicons) as an image file beside the report,
// "favicon_" + id + an extension chosen by the MIME type.
//
// One extractor serves one run of the report: it opens its own read-only
// connection at the first icon, and writes each favicon id at most once, so
// an icon shared by a million visits costs one file. It never writes to the
// console, except when writing an image fails after its file was created:
// that ends the program like any other lost write.

#include <map>
#include <string>

#include "table_export/evidence_database.h"

class Console;

// The extension for a MIME type, matched exactly and case-sensitively; empty
// for any other type, and for a NULL one.
std::string_view FaviconExtension(std::string_view mimeType);

class FaviconExtractor {
 public:
  explicit FaviconExtractor(Console& console) : console_(console) {}

  // The image file name of the favicon, written on first request; empty when
  // there is no image to show (no row, NULL data, a file that cannot be
  // created).
  const std::string& ExtractFavicon(int faviconId);

 private:
  std::string Extract(int faviconId);

  Console& console_;
  bool opened_ = false;
  EvidenceDatabase db_;
  Statement query_;
  std::map<int, std::string> extracted_;
};
