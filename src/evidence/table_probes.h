#pragma once

// What a task asks of a table before it reads it: whether it is there, how
// its rows are ordered, how many there are. Every name is bound as a value,
// never spliced into SQL.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

struct TableShape {
  bool exists = false;
  // False for a table declared WITHOUT ROWID, which has no row ids to order
  // by.
  bool hasRowIds = true;
};

// The shape of the table of that exact name in the main schema. Asked of the
// schema rather than found out by a failing query, so that a query that
// fails for another reason is still reported as such. A schema that cannot
// be read gives a table that is not there.
TableShape ProbeTable(sqlite3* db, std::string_view table);

// " ORDER BY " and the primary-key columns of a table without row ids, in
// key order; empty when it has none.
std::string PrimaryKeyOrder(sqlite3* db, std::string_view table);

// The number of rows of a table; 0 when it cannot be counted.
std::int64_t CountRows(sqlite3* db, std::string_view table);
