#pragma once

// The RAII owners of SQLite's handles, and the few calls every reader of the
// evidence makes through them. A connection or statement is released by its
// owner on every path out of a task, an exception ending the program
// included.

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, CloseDatabase>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// Null when SQLite cannot prepare the text.
Statement PrepareStatement(sqlite3* db, std::string_view sql);

// Binds text to a parameter (1-based), copied; false when SQLite refuses.
bool BindText(sqlite3_stmt* statement, int index, std::string_view text);

// Limits the connection's page cache to the given size.
void SetPageCache(sqlite3* db, int kibibytes);

// An SQL identifier in double quotes, any double quote in it doubled: a table
// name from the evidence can then never end or change a query.
std::string QuoteIdentifier(std::string_view name);

// The text of a cell as SQLite renders it, read as zero-terminated text: up to
// its first zero byte, so a BLOB of image data ends there. Nothing for SQL
// NULL. Valid until the statement steps again.
std::optional<std::string_view> ColumnText(sqlite3_stmt* statement, int column);
