#pragma once

// The one way a task opens a browser database of the evidence folder, and
// the RAII owners of SQLite's handles. Nothing here writes to the console:
// the task reports what the open found.
//
// A database is opened by its plain file name in the current folder,
// read-only: a missing file fails instead of being created. The evidence is
// never changed and nothing is added beside it. A read-only open alone does
// not promise that: SQLite creates "-wal" and "-shm" files beside a WAL-mode
// database, and cannot read a database whose hot "-journal" it may not roll
// back. So a database in WAL mode, or with a "-wal" or "-journal" file beside
// it, is copied with those files into a private temporary folder and the copy
// is opened, where the WAL's rows and the journal's rollback apply. A plain
// database without such files is opened where it stands; that reads, takes
// locks and writes nothing.
//
// Every connection and statement is released by its owner, on every path out
// of a task; a private copy goes with its connection.

#include <sqlite3.h>

#include <cstdint>
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

// A private temporary folder, removed with its contents by its owner.
class PrivateFolder {
 public:
  // Nothing when the system gives no temporary folder.
  static std::unique_ptr<PrivateFolder> Create();
  ~PrivateFolder();
  const std::string& path() const { return path_; }

 private:
  explicit PrivateFolder(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

// An open connection to one evidence database; false when the database
// could not be opened.
class EvidenceDatabase {
 public:
  EvidenceDatabase() = default;
  EvidenceDatabase(std::unique_ptr<PrivateFolder> copy, DatabaseHandle db)
      : copy_(std::move(copy)), db_(std::move(db)) {}
  // A database that is there but needed a private copy that could not be
  // made (a full or missing temporary folder); why, in the system's words.
  static EvidenceDatabase CopyFailed(std::string reason) {
    EvidenceDatabase failed;
    failed.copyFailure_ = std::move(reason);
    return failed;
  }

  explicit operator bool() const { return db_ != nullptr; }
  sqlite3* get() const { return db_.get(); }
  const std::string& copyFailure() const { return copyFailure_; }

 private:
  std::unique_ptr<PrivateFolder> copy_;  // declared first: removed after the connection closes
  DatabaseHandle db_;
  std::string copyFailure_;
};

// Opens the database without a word on the console (see the head of this
// file); false when it cannot be opened (missing, refused, or a copy that
// could not be made).
EvidenceDatabase OpenEvidenceDatabase(const std::string& fileName);

// Limits the connection's page cache to the given size.
void SetPageCache(sqlite3* db, int kibibytes);

// Null when SQLite cannot prepare the text.
Statement PrepareStatement(sqlite3* db, std::string_view sql);

// An SQL identifier in double quotes, any double quote in it doubled: a table
// name from the evidence can then never end or change a query.
std::string QuoteIdentifier(std::string_view name);

// The number of rows of a table; 0 when it cannot be counted.
std::int64_t CountRows(sqlite3* db, std::string_view table);

// The text of a cell as SQLite renders it, read as zero-terminated text: up to
// its first zero byte, so a BLOB of image data ends there. Nothing for SQL
// NULL. Valid until the statement steps again.
std::optional<std::string_view> ColumnText(sqlite3_stmt* statement, int column);
