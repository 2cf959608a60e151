#pragma once

// The one way a task opens a browser database of the evidence folder, with
// the probe line it writes, and the RAII owners of SQLite's handles.
//
// A database is opened by its plain file name in the current folder,
// read-only: a missing file fails instead of being created. Every
// connection and statement is released by its owner, on every path out of a
// task.

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class Console;

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, CloseDatabase>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// Opens the database without a word on the console; null when it cannot be
// opened (missing, or refused).
DatabaseHandle OpenEvidenceDatabase(const std::string& fileName);

// Opens the database and writes "Database <name> found." or
// "Database <name> not found." on a line of its own; null when not found.
DatabaseHandle ProbeEvidenceDatabase(Console& console, const std::string& fileName);

// Null when SQLite cannot prepare the text.
Statement PrepareStatement(sqlite3* db, std::string_view sql);

// A statement that cannot be prepared ends the task at once: a line end, then
// this text with none after it. The menu's section break follows.
void ReportUnpreparedStatement(Console& console);

// The text of a cell as SQLite renders it, read as zero-terminated text: up to
// its first zero byte, so a BLOB of image data ends there. Nothing for SQL
// NULL. Valid until the statement steps again.
std::optional<std::string_view> ColumnText(sqlite3_stmt* statement, int column);
