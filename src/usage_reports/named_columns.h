#pragma once

// Reading the columns of a browser table by name, with a fixed position as
// the fallback.
//
// Firefox moved and dropped columns of moz_places over the years; read by
// position alone, a current profile would put visit dates in the Frecency
// column. Each wanted column is found by its name when the statement has a
// column of that name, and at its Firefox 3 position otherwise; a column the
// statement lacks reads as NULL (text) or 0 (integer), never past the end.

#include <sqlite3.h>

#include <optional>
#include <string_view>

struct WantedColumn {
  std::string_view name;
  int position;  // in the Firefox 3 schema
};

// The index of the wanted column in the statement, or -1 when it has none.
int ResolveColumn(sqlite3_stmt* statement, WantedColumn wanted);

// Text as SQLite renders it; nothing for SQL NULL or a missing column.
std::optional<std::string_view> TextAt(sqlite3_stmt* statement, int index);
// The value converted to a 32-bit integer as sqlite3_column_int converts it
// (NULL is 0); 0 for a missing column.
int IntAt(sqlite3_stmt* statement, int index);
