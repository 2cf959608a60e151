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

// Runs SQL on a database file, creating it when missing. Fails the test on an
// SQLite error.
void ExecuteSql(const std::filesystem::path& file, const std::string& sql);

// The path of a file of tests/data.
std::filesystem::path TestDataFile(const std::string& relative);

// Copies every file of a folder of tests/data into folder.
void CopyTestDataFolder(const std::string& relative, const std::filesystem::path& folder);
