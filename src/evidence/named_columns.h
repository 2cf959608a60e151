#pragma once

// Reading the columns of a browser table by name, with a fixed position as
// the fallback.
//
// Firefox moved and dropped columns of moz_places over the years; read by
// position alone, a current profile would put visit dates in the Frecency
// column. Given the table's Firefox 3 columns in order, each is found by its
// name when the statement has a column of that name, and at its Firefox 3
// position otherwise, as long as the column there bears none of the Firefox 3
// names (a renamed column, not a moved one). A column the statement lacks
// reads as NULL (text) or 0 (integer), never past the end.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// The index in the statement of each column of schema (the Firefox 3 column
// names, in their order), or -1 where it has none.
void ResolveColumns(sqlite3_stmt* statement, std::span<const std::string_view> schema, std::span<int> indexes);

// The index in the statement of each named column, by its name alone, or -1
// where it has none: for tables whose columns came and went in any order.
void ResolveColumnsByName(sqlite3_stmt* statement, std::span<const std::string_view> names, std::span<int> indexes);

// Text as SQLite renders it; nothing for SQL NULL or a missing column.
std::optional<std::string_view> TextAt(sqlite3_stmt* statement, int index);
// The value as a 64-bit integer, as SQLite converts it (NULL is 0); 0 for a
// missing column. Never narrower: an id or count of the evidence beyond 32
// bits must not wrap into another one.
std::int64_t IntAt(sqlite3_stmt* statement, int index);
// The bytes of a BLOB (or of a text); empty for SQL NULL or a missing
// column. Valid until the statement steps again.
std::string_view BlobAt(sqlite3_stmt* statement, int index);
