#pragma once

// Test databases built the way the browsers built theirs: from the table
// definitions of tests/data/browser-schemas, with rows added by SQL.

#include <filesystem>
#include <string>

// Creates file from a schema script (a path below tests/data/browser-schemas,
// such as "firefox3/places.sql"), running rowsSql after the tables and before
// the indexes and triggers that follow the script's "-- @after-data" line, as
// the fixture of a browser that filled its tables before adding triggers.
void CreateBrowserDatabase(const std::filesystem::path& file, const std::string& schemaScript,
                           const std::string& rowsSql = "");

// A places.sqlite of 400,000 visits in WAL mode: a report long enough to be
// interrupted in the middle, read from a private copy.
void CreateHistoryToInterrupt(const std::filesystem::path& file);

// Runs SQL on a database file, creating it when missing. Fails the test on an
// SQLite error.
void ExecuteSql(const std::filesystem::path& file, const std::string& sql);

// A connection of the test's own that stays open, standing for a browser
// still running: its locks, its WAL and its unfinished transactions stay in
// place until it closes. Run fails the test on an SQLite error.
class OpenConnection {
 public:
  explicit OpenConnection(const std::filesystem::path& file);
  ~OpenConnection();
  OpenConnection(const OpenConnection&) = delete;
  OpenConnection& operator=(const OpenConnection&) = delete;
  void Run(const std::string& sql);

 private:
  struct sqlite3* db_ = nullptr;
};

// The path of a file of tests/data.
std::filesystem::path TestDataFile(const std::string& relative);

// Copies every file of a folder of tests/data into folder.
void CopyTestDataFolder(const std::string& relative, const std::filesystem::path& folder);
