#pragma once

// Databases made the way the browsers made theirs, for the test fixtures and
// the evidence generator: the table definitions of a browser's own schema
// script, then the rows, then the indexes and triggers that follow the
// script's "-- @after-data" line (a browser fills its tables before those
// exist, so triggers do not rewrite the rows given).

#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

// The schema script of tests/data/browser-schemas by its name there, such as
// "firefox3/places.sql".
std::string_view BrowserSchemaScript(std::string_view name);

class SqlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A read-write connection that creates its file; every SQL error throws.
class BrowserDatabase {
 public:
  // Creates file and runs the table definitions of the schema script.
  BrowserDatabase(const std::string& file, std::string_view schemaScript);
  // Runs the rest of the script: the indexes and triggers.
  void Finish();

  sqlite3* get() const { return db_.get(); }
  void Execute(std::string_view sql);

 private:
  struct Close {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
  };
  std::unique_ptr<sqlite3, Close> db_;
  std::string afterData_;
};

// A statement prepared once and run many times with new values.
class Insert {
 public:
  Insert(const BrowserDatabase& db, const char* sql);
  Insert& Text(std::string_view value);
  Insert& Int(sqlite3_int64 value);
  Insert& Real(double value);
  Insert& Blob(std::string_view bytes);
  Insert& Null();
  // Steps the statement with the values bound so far, then resets it.
  void Run();

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
  int next_ = 1;
};
