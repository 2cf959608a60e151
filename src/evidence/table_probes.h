#pragma once

// What a task asks of a table before it reads it: whether it is there, how
// its rows are ordered, how many there are. Every name is bound as a value,
// never spliced into SQL.

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct TableShape {
  // False for a table declared WITHOUT ROWID, which has no row ids to order
  // by.
  bool hasRowIds = true;
};

// The tables of the main schema by their exact names, with their shapes, in
// one query. Asked of the schema rather than found out by a failing query,
// so that a query that fails for another reason is still reported as such.
// A schema that cannot be read gives no tables.
std::map<std::string, TableShape, std::less<>> ProbeTables(sqlite3* db);

// " ORDER BY " and the primary-key columns of a table without row ids, in
// key order; empty when it has none.
std::string PrimaryKeyOrder(sqlite3* db, std::string_view table);

// The number of rows of a table; 0 when it cannot be counted.
std::int64_t CountRows(sqlite3* db, std::string_view table);
