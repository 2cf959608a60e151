#include "support/fixture_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "evidence_generator/browser_database.h"
#include "support/temp_folder.h"

std::filesystem::path TestDataFile(const std::string& relative) { return std::filesystem::path(TEST_DATA_DIR) / relative; }

void ExecuteSql(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  int result = sqlite3_open(reinterpret_cast<const char*>(file.u8string().c_str()), &db);
  ASSERT_EQ(result, SQLITE_OK) << file;
  char* message = nullptr;
  result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  std::string error = message != nullptr ? message : "";
  sqlite3_free(message);
  sqlite3_close(db);
  ASSERT_EQ(result, SQLITE_OK) << error << "\nin: " << sql.substr(0, 400);
}

void CreateHistoryToInterrupt(const std::filesystem::path& file) {
  CreateBrowserDatabase(file, "firefox3/places.sql",
                        "INSERT INTO moz_places VALUES (1, 'http://a.example/', 'A', '.', 1, 0, 0, NULL, 0);"
                        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400000) "
                        "INSERT INTO moz_historyvisits SELECT i, 0, 1, 1228580112000000 + i, 1, 1 FROM n;");
  ExecuteSql(file, "PRAGMA journal_mode=WAL;");
}

OpenConnection::OpenConnection(const std::filesystem::path& file) {
  sqlite3_open(reinterpret_cast<const char*>(file.u8string().c_str()), &db_);
}

OpenConnection::~OpenConnection() { sqlite3_close(db_); }

void OpenConnection::Run(const std::string& sql) {
  char* message = nullptr;
  const int result = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  EXPECT_EQ(result, SQLITE_OK) << (message != nullptr ? message : "") << " in " << sql.substr(0, 400);
  sqlite3_free(message);
}

void CreateBrowserDatabase(const std::filesystem::path& file, const std::string& schemaScript,
                           const std::string& rowsSql) {
  try {
    BrowserDatabase db(file.string(), schemaScript);
    if (!rowsSql.empty()) db.Execute(rowsSql);
    db.Finish();
  } catch (const SqlError& error) {
    FAIL() << "fixture " << file << ": " << error.what();
  }
}

void CopyTestDataFolder(const std::string& relative, const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(TestDataFile(relative))) {
    const std::filesystem::path target = folder / entry.path().filename();
    std::filesystem::copy_file(entry.path(), target, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(target, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  }
}
