#pragma once

// Which columns of a browser's tables hold timestamps: a fixed catalogue of
// (table, column) pairs per browser. A pair names a table wherever it turns
// up among that browser's databases. Names match exactly: same bytes, same
// case, no prefixes.

#include <span>
#include <string_view>

struct TimestampColumn {
  std::string_view table;
  std::string_view column;
};

using TimestampCatalogue = std::span<const TimestampColumn>;

// PRtime columns of the Firefox 3 databases.
extern const TimestampCatalogue FirefoxTimestampColumns;
// Chrome time (or, for short values, Unix seconds) columns of Google Chrome.
extern const TimestampCatalogue ChromeTimestampColumns;

// The columns of the later versions' files (LaterDatabaseFile) that hold
// the browser's own time: Firefox PRtime, microseconds since 1970; Chrome
// time, microseconds since 1601. Their columns in other units (milliseconds,
// seconds, dates as text) are written as stored.
extern const TimestampCatalogue LaterFirefoxTimestampColumns;
extern const TimestampCatalogue LaterChromeTimestampColumns;

bool IsTimestampColumn(TimestampCatalogue catalogue, std::string_view table, std::string_view column);
