// The tool's own reader of carved CREATE TABLE statements: what it reads
// of the statements browsers write, the same as SQLite reads; and what it
// refuses, at once, whatever the statement would do if it were run.

#include "recovery/create_table.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "evidence/sqlite_handles.h"
#include "support/fixture_database.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(CreateTable, ReadsColumnsTypesKeysAndOptions) {
  struct Case {
    const char* sql;
    std::vector<std::string> columns;
    std::vector<Affinity> affinities;
    std::vector<bool> notNull;
    int rowIdColumn;
    bool withoutRowid;
  };
  using A = Affinity;
  const Case cases[] = {
      {"CREATE TABLE t (a, b)", {"a", "b"}, {A::kBlob, A::kBlob}, {false, false}, -1, false},
      {"create table \"t\" ('id' INT UNSIGNED NOT NULL, [na me] VARCHAR(32) DEFAULT 'x', `c``d` DOUBLE PRECISION)",
       {"id", "na me", "c`d"}, {A::kInteger, A::kText, A::kReal}, {true, false, false}, -1, false},
      {"CREATE TABLE IF NOT EXISTS main.urls (id INTEGER PRIMARY KEY AUTOINCREMENT, url LONGVARCHAR, n NUMERIC)",
       {"id", "url", "n"}, {A::kInteger, A::kText, A::kNumeric}, {false, false, false}, 0, false},
      // DESC keeps a column declared INTEGER PRIMARY KEY from being the row id.
      {"CREATE TABLE t (id INTEGER PRIMARY KEY DESC, v TEXT)", {"id", "v"}, {A::kInteger, A::kText}, {false, false}, -1,
       false},
      {"CREATE TABLE t (v TEXT, id INTEGER, CONSTRAINT pk PRIMARY KEY (id DESC) ON CONFLICT REPLACE)",
       {"v", "id"}, {A::kText, A::kInteger}, {false, false}, 1, false},
      {"CREATE TABLE t (id INT PRIMARY KEY, v)", {"id", "v"}, {A::kInteger, A::kBlob}, {false, false}, -1, false},
      {"CREATE TABLE t (a INTEGER, b INTEGER, PRIMARY KEY (a, b))", {"a", "b"}, {A::kInteger, A::kInteger},
       {false, false}, -1, false},
      {"CREATE TABLE moz_meta (key TEXT PRIMARY KEY, value NOT NULL) WITHOUT ROWID ",
       {"key", "value"}, {A::kText, A::kBlob}, {false, true}, -1, true},
      {"CREATE TABLE t (a INTEGER PRIMARY KEY, b TEXT CHECK (length(b) > (1 + (2))) COLLATE NOCASE, "
       "c REFERENCES u(x) ON DELETE CASCADE ON UPDATE SET NULL DEFERRABLE INITIALLY DEFERRED, "
       "d FLOAT DEFAULT -1.5, e BLOB DEFAULT X'00', FOREIGN KEY (c) REFERENCES u (x), UNIQUE (b, c)) STRICT;",
       {"a", "b", "c", "d", "e"}, {A::kInteger, A::kText, A::kBlob, A::kReal, A::kBlob},
       {false, false, false, false, false}, 0, false},
      {"CREATE TABLE t -- a comment\n(/* the key */ id INTEGER PRIMARY KEY, t TEXT NOT NULL ON CONFLICT FAIL);\n",
       {"id", "t"}, {A::kInteger, A::kText}, {false, true}, 0, false},
  };
  for (const Case& c : cases) {
    const std::optional<CreatedTable> table = ReadCreateTable(c.sql);
    ASSERT_TRUE(table) << c.sql;
    EXPECT_EQ(table->schema.columns, c.columns) << c.sql;
    EXPECT_EQ(table->schema.affinities, c.affinities) << c.sql;
    EXPECT_EQ(table->schema.notNull, c.notNull) << c.sql;
    EXPECT_EQ(table->schema.rowIdColumn, c.rowIdColumn) << c.sql;
    EXPECT_EQ(table->withoutRowid, c.withoutRowid) << c.sql;
  }
}

// Statements that are not one plain column-list CREATE TABLE, and
// statements that would loop, fill the memory or write files if run: each
// refused (or, for the lawful ones, read) at once.
TEST(CreateTable, RefusesAllButOnePlainColumnListAtOnce) {
  std::string deep = "CREATE TABLE t (a CHECK (";
  for (int i = 0; i < 1000; ++i) deep += "(";
  deep += "1";
  for (int i = 0; i < 1000; ++i) deep += ")";
  deep += "))";
  std::string wide = "CREATE TABLE t (";
  for (int i = 0; i < 2000; ++i) wide += (i > 0 ? ", c" : "c") + std::to_string(i) + " INTEGER";
  const std::string tooWide = wide + ", c2000)";
  wide += ")";
  struct Case {
    std::string sql;
    bool read;
  };
  const Case cases[] = {
      {"CREATE TABLE t AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) SELECT x FROM c WHERE x<0",
       false},
      {"CREATE TABLE t AS SELECT randomblob(10000) FROM (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) "
       "SELECT x FROM c)",
       false},
      {"CREATE TABLE temp.t AS SELECT zeroblob(1000000)", false},
      {"CREATE TEMP TABLE t (a)", false},
      {"CREATE TABLE t (a); ATTACH 'x.db' AS x", false},
      {"CREATE TABLE t (a);; ", false},
      {"ATTACH DATABASE 'leak.db' AS leak", false},
      {"CREATE TRIGGER t AFTER INSERT ON u BEGIN SELECT 1; END", false},
      {"CREATE VIRTUAL TABLE t USING fts5(a)", false},
      {"CREATE VIEW t AS SELECT 1", false},
      {"CREATE TABLE t (a INTEGER GENERATED ALWAYS AS (1) VIRTUAL)", false},
      {"CREATE TABLE t (a, b AS (a + 1))", false},
      {"CREATE TABLE t (a CHECK (1; DROP TABLE u))", false},
      {"CREATE TABLE t (a 'unterminated)", false},
      {"CREATE TABLE t ()", false},
      {"CREATE TABLE t (a) WITHOUT ROWID x", false},
      {"CREATE TABLE t (a SELECT)", false},
      {tooWide, false},
      {wide, true},
      {deep, true},
  };
  for (const Case& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadCreateTable(c.sql).has_value(), c.read) << c.sql.substr(0, 120);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.1)
        << c.sql.substr(0, 120);
  }
  EXPECT_EQ(ReadCreateTable(wide)->schema.columns.size(), 2000u);
}

// Every table of the browsers' schemas, old and current, as SQLite reads
// it: the same columns, affinities, NOT NULL and row id column.
TEST(CreateTable, ReadsEveryBrowserTableAsSqliteDoes) {
  TempFolder folder;
  std::vector<fs::path> databases;
  for (const char* browser : {"firefox3", "chrome"}) {
    for (const auto& entry : fs::directory_iterator(TestDataFile(std::string("browser-schemas/") + browser))) {
      const fs::path database = folder / (std::string(browser) + "-" + entry.path().stem().string());
      CreateBrowserDatabase(database, std::string(browser) + "/" + entry.path().filename().string());
      databases.push_back(database);
    }
  }
  for (const char* profile : {"real-profiles/firefox-esr", "real-profiles/chromium"}) {
    const fs::path copies = folder.path() / fs::path(profile).filename();
    fs::create_directory(copies);
    CopyTestDataFolder(profile, copies);
    for (const auto& entry : fs::directory_iterator(copies)) {
      if (!entry.path().string().ends_with("-wal")) databases.push_back(entry.path());
    }
  }
  int tables = 0;
  for (const fs::path& file : databases) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(reinterpret_cast<const char*>(file.u8string().c_str()), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    DatabaseHandle db(raw);
    Statement sql = PrepareStatement(db.get(), "SELECT name, sql FROM sqlite_master WHERE type = 'table'");
    std::map<std::string, std::string> statements;
    while (sql && sqlite3_step(sql.get()) == SQLITE_ROW) {
      statements[std::string(*ColumnText(sql.get(), 0))] = std::string(ColumnText(sql.get(), 1).value_or(""));
    }
    std::string error;
    const std::optional<std::vector<TableSchema>> live = ReadTableSchemas(db.get(), error);
    ASSERT_TRUE(live) << file << ": " << error;
    for (const TableSchema& expected : *live) {
      if (expected.kind != BTreeKind::kTable) continue;
      const std::optional<CreatedTable> read = ReadCreateTable(statements[expected.name]);
      ASSERT_TRUE(read) << file << ": " << statements[expected.name];
      EXPECT_FALSE(read->withoutRowid);
      EXPECT_EQ(read->schema.name, expected.name) << file;
      EXPECT_EQ(read->schema.columns, expected.columns) << file << ": " << expected.name;
      EXPECT_EQ(read->schema.affinities, expected.affinities) << file << ": " << expected.name;
      EXPECT_EQ(read->schema.notNull, expected.notNull) << file << ": " << expected.name;
      EXPECT_EQ(read->schema.rowIdColumn, expected.rowIdColumn) << file << ": " << expected.name;
      ++tables;
    }
  }
  EXPECT_GT(tables, 100);
}

}  // namespace
