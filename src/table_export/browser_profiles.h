#pragma once

// The fixed description of each browser whose databases the table export
// reads: its file names in the order they are tried, its timestamp catalogue
// and the conversion that turns its stored timestamps into date text.

#include <span>
#include <string>
#include <string_view>

#include "base/date_style.h"
#include "table_export/timestamp_columns.h"

struct BrowserProfile {
  std::span<const char* const> databaseFiles;
  TimestampCatalogue timestampColumns;
  // Writes the date text of a stored timestamp into out: DecodePRtimeInto
  // or DecodeChromeTimeInto.
  void (*decodeTimestamp)(std::string& out, std::string_view text, const DateStyle& style);
};

extern const BrowserProfile FirefoxProfile;
extern const BrowserProfile ChromeProfile;
