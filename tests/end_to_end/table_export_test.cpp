// Menu tasks A, B, F and G on fixture databases built with the browsers' own
// table definitions: console transcripts and CSV files, byte for byte.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "support/fixture_database.h"
#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

const std::string kFile = "2008-117 - Harbour Street - ";

// What an export shows from its six empty lines to its pause.
std::string ExportTranscript(const std::string& lines) {
  return "\n\n\n\n\n\n" + lines + "\nPress enter to continue";
}

std::string FirefoxNotFound(const std::set<std::string>& found = {}) {
  std::string lines;
  for (const char* name : {"content-prefs.sqlite", "cookies.sqlite", "downloads.sqlite", "formhistory.sqlite",
                           "permissions.sqlite", "places.sqlite", "search.sqlite", "urlclassifier2.sqlite",
                           "urlclassifier3.sqlite", "webappsstore.sqlite"}) {
    if (!found.contains(name)) lines += std::string("Database ") + name + " not found.\n";
  }
  return lines;
}

TEST(TableExport, EmptyFolderGivesEveryNotFoundLineAndNoFile) {
  TempFolder folder;
  SkvRun firefox = RunAnswers(folder.path(), "A\n\n");
  EXPECT_EQ(firefox.exitStatus, 0);
  EXPECT_EQ(firefox.transcript,
            OpeningTranscript() + ExportTranscript(FirefoxNotFound()) + BackToMenuTranscript());
  SkvRun chrome = RunAnswers(folder.path(), "g\n\n");
  EXPECT_EQ(chrome.transcript, OpeningTranscript() +
                                   ExportTranscript("Database Archived History not found.\n"
                                                    "Database Cookies not found.\n"
                                                    "Database History not found.\n"
                                                    "Database Thumbnails not found.\n"
                                                    "Database Web Data not found.\n") +
                                   BackToMenuTranscript());
  EXPECT_TRUE(FileNames(folder.path()).empty());
}

TEST(TableExport, FoundDatabasesListEveryTableInByteOrder) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_keywords (keyword) VALUES ('k');");
  // Upper-case names sort before lower-case ones.
  CreateBrowserDatabase(folder / "webappsstore.sqlite", "firefox3/webappsstore.sql",
                        "CREATE TABLE Zed (a); CREATE TABLE alpha (a);");
  SkvRun run = RunAnswers(folder.path(), "a\n\n");
  const std::string expected =
      "Database content-prefs.sqlite not found.\n"
      "Database cookies.sqlite not found.\n"
      "Database downloads.sqlite not found.\n"
      "Database formhistory.sqlite not found.\n"
      "Database permissions.sqlite not found.\n"
      "Database places.sqlite found.\n"
      "  Processing places.sqlite > moz_anno_attributes\n"
      "  Processing places.sqlite > moz_annos\n"
      "  Processing places.sqlite > moz_bookmarks\n"
      "  Processing places.sqlite > moz_bookmarks_roots\n"
      "  Processing places.sqlite > moz_favicons\n"
      "  Processing places.sqlite > moz_historyvisits\n"
      "  Processing places.sqlite > moz_inputhistory\n"
      "  Processing places.sqlite > moz_items_annos\n"
      "  Processing places.sqlite > moz_keywords\n"
      "  Processing places.sqlite > moz_places\n"
      "  Processing places.sqlite > sqlite_sequence\n"
      "Database search.sqlite not found.\n"
      "Database urlclassifier2.sqlite not found.\n"
      "Database urlclassifier3.sqlite not found.\n"
      "Database webappsstore.sqlite found.\n"
      "  Processing webappsstore.sqlite > Zed\n"
      "  Processing webappsstore.sqlite > alpha\n"
      "  Processing webappsstore.sqlite > webappsstore\n";
  EXPECT_EQ(run.transcript, OpeningTranscript() + ExportTranscript(expected) + BackToMenuTranscript());
  // Tables without rows leave empty files; SQLite's own tables are exported.
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "places.sqlite moz_places.csv")), "");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "places.sqlite sqlite_sequence.csv")),
            "\"name\",\"seq\",\r\n\"moz_keywords\",\"1\",\r\n");
  EXPECT_EQ(FileNames(folder.path()).size(), 2u + 11u + 3u);
}

TEST(TableExport, DatabaseWithoutTablesGivesOnlyItsFoundLine) {
  TempFolder folder;
  ExecuteSql(folder / "search.sqlite", "PRAGMA user_version = 0;");
  WriteFileBytes(folder / "search.sqlite", "");  // an empty file is an empty database
  SkvRun run = RunAnswers(folder.path(), "A\n\n");
  std::string expected = FirefoxNotFound();
  expected.replace(expected.find("search.sqlite not found."), 24, "search.sqlite found.");
  EXPECT_EQ(run.transcript, OpeningTranscript() + ExportTranscript(expected) + BackToMenuTranscript());
}

TEST(TableExport, CellsAreQuotedWithEveryValueWhole) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "formhistory.sqlite", "firefox3/formhistory.sql",
                        "INSERT INTO moz_formhistory VALUES (1, 'name', NULL);"
                        "INSERT INTO moz_formhistory VALUES (2, '', 'say \"hi\", twice');"
                        "INSERT INTO moz_formhistory VALUES (3, 'line' || char(10) || 'feed', "
                        "'cr' || char(13, 10) || 'lf');"
                        "INSERT INTO moz_formhistory VALUES (4, X'41420043', X'');"
                        "INSERT INTO moz_formhistory VALUES (5, 'h\xC3\xA9', 'a,b');"
                        // Values without column affinity keep their types.
                        "CREATE TABLE typed (i, r, b);"
                        "INSERT INTO typed VALUES (-7, 1.5, X'00FF');"
                        "INSERT INTO typed VALUES (9223372036854775807, 0.1, X'0A0D0A');"
                        "INSERT INTO typed VALUES (0, 1e300, NULL);");
  RunAnswers(folder.path(), "A\n\n");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "formhistory.sqlite moz_formhistory.csv")),
            "\"id\",\"fieldname\",\"value\",\r\n"
            "\"1\",\"name\",\"\",\r\n"
            "\"2\",\"\",\"say \"\"hi\"\", twice\",\r\n"
            "\"3\",\"line\nfeed\",\"cr\r\nlf\",\r\n"
            "\"4\",\"AB\",\"\",\r\n"
            "\"5\",\"h\xC3\xA9\",\"a,b\",\r\n");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "formhistory.sqlite typed.csv")),
            "\"i\",\"r\",\"b\",\r\n"
            "\"-7\",\"1.5\",\"\",\r\n"
            "\"9223372036854775807\",\"0.1\",\"\n\r\n\",\r\n"
            "\"0\",\"1.0e+300\",\"\",\r\n");
}

TEST(TableExport, QuotesInColumnNamesAreDoubledToo) {
  TempFolder folder;
  ExecuteSql(folder / "Cookies", "CREATE TABLE t (\"say \"\"when\"\"\", b); INSERT INTO t VALUES (1, 2);");
  RunAnswers(folder.path(), "F\n\n");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "Cookies t.csv")), "\"say \"\"when\"\"\",\"b\",\r\n\"1\",\"2\",\r\n");
}

TEST(TableExport, OnlyTheCataloguesColumnsAreDecoded) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_annos VALUES (1, 1, 1, NULL, 'c', 0, 0, 3, 1228580112345678, 1228580112345678);"
                        "INSERT INTO moz_items_annos VALUES (1, 1, 1, NULL, 'c', 0, 0, 3, 1228580112345678, "
                        "1228580112345678);"
                        "INSERT INTO moz_items_annos VALUES (2, 1, 2, NULL, 'c', 0, 0, 3, NULL, 0);");
  RunAnswers(folder.path(), "A\n\n");
  const std::string annos = kFile + "places.sqlite moz_annos.csv";
  const std::string items = kFile + "places.sqlite moz_items_annos.csv";
  const std::string header =
      "\"id\",\"item_id\",\"anno_attribute_id\",\"mime_type\",\"content\",\"flags\",\"expiration\",\"type\","
      "\"dateAdded\",\"lastModified\",\r\n";
  EXPECT_EQ(ReadFileBytes(folder / items),
            header + "\"1\",\"1\",\"1\",\"\",\"c\",\"0\",\"0\",\"3\",\"1228580112345678\",\"1228580112345678\",\r\n"
                     "\"2\",\"1\",\"2\",\"\",\"c\",\"0\",\"0\",\"3\",\"\",\"0\",\r\n");

  RunAnswers(folder.path(), "B\n\n");
  // moz_annos: only dateAdded is a timestamp; moz_items_annos: both are.
  EXPECT_NE(ReadFileBytes(folder / annos).find("\"06/12/2008 16:15:12\",\"1228580112345678\",\r\n"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(folder / items),
            header + "\"1\",\"1\",\"1\",\"\",\"c\",\"0\",\"0\",\"3\",\"06/12/2008 16:15:12\",\"06/12/2008 16:15:12\",\r\n"
                     "\"2\",\"1\",\"2\",\"\",\"c\",\"0\",\"0\",\"3\",\"\",\"0\",\r\n");
}

TEST(TableExport, ChromeColumnsDecodeWithChromeTimeInAmericanFormat) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "History", "chrome/history.sql",
                        "INSERT INTO urls VALUES (1, 'http://a.example/', 'A', 1, 0, 12873053712345678, 0, 0);"
                        "INSERT INTO downloads VALUES (1, 'C:\\a.zip', 'http://a.example/a.zip', 1228580112, 5, 5, 1);");
  SkvRun run = RunSkv(folder.path(), "A\n-90\n2008-117\nHarbour Street\nJ\nG\n\nX\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "History urls.csv")),
            "\"id\",\"url\",\"title\",\"visit_count\",\"typed_count\",\"last_visit_time\",\"hidden\",\"favicon_id\",\r\n"
            "\"1\",\"http://a.example/\",\"A\",\"1\",\"0\",\"12/06/2008 14:45:12\",\"0\",\"0\",\r\n");
  EXPECT_NE(ReadFileBytes(folder / (kFile + "History downloads.csv")).find("\"12/06/2008 14:45:12\""),
            std::string::npos);
}

TEST(TableExport, TimestampFlagsReachPastTheTwentiethColumn) {
  TempFolder folder;
  std::string columns;
  for (int i = 0; i < 24; ++i) columns += "c" + std::to_string(i) + ", ";
  ExecuteSql(folder / "cookies.sqlite", "CREATE TABLE moz_cookies (" + columns + "lastAccessed);"
                                        "INSERT INTO moz_cookies (c0, lastAccessed) VALUES (1, 1228580112345678);");
  RunAnswers(folder.path(), "B\n\n");
  const std::string csv = ReadFileBytes(folder / (kFile + "cookies.sqlite moz_cookies.csv"));
  EXPECT_TRUE(csv.ends_with(",\"06/12/2008 16:15:12\",\r\n")) << csv;
}

TEST(TableExport, TableNamesThatNeedQuotingAreExportedAndKeptInsideTheFolder) {
  TempFolder folder;
  ExecuteSql(folder / "Web Data",
             "CREATE TABLE \"odd \"\"name\"\" ../x\\y\" (a); INSERT INTO \"odd \"\"name\"\" ../x\\y\" VALUES ('v');"
             "CREATE TABLE \"order\" (a); INSERT INTO \"order\" VALUES (1);");
  SkvRun run = RunAnswers(folder.path(), "F\n\n");
  EXPECT_NE(run.transcript.find("  Processing Web Data > odd \"name\" ../x\\y\n"), std::string::npos);
  EXPECT_EQ(run.transcript.find("Could not prepare"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(folder / SystemName(kFile + "Web Data odd \"name\" .._x_y.csv")), "\"a\",\r\n\"v\",\r\n");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "Web Data order.csv")), "\"a\",\r\n\"1\",\r\n");
}

TEST(TableExport, TablesWithoutRowIdsComeInPrimaryKeyOrder) {
  TempFolder folder;
  ExecuteSql(folder / "Cookies",
             "CREATE TABLE pairs (b TEXT, a INTEGER, v, PRIMARY KEY (a, b)) WITHOUT ROWID;"
             "INSERT INTO pairs VALUES ('y', 2, 'third'), ('x', 1, 'second'), ('a', 1, 'first');"
             "CREATE TABLE plain (v); INSERT INTO plain VALUES ('one'), ('two');");
  SkvRun run = RunAnswers(folder.path(), "F\n\n");
  EXPECT_EQ(run.transcript.find("Could not prepare"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "Cookies pairs.csv")),
            "\"b\",\"a\",\"v\",\r\n\"a\",\"1\",\"first\",\r\n\"x\",\"1\",\"second\",\r\n\"y\",\"2\",\"third\",\r\n");
}

TEST(TableExport, RowsComeInRowIdOrder) {
  TempFolder folder;
  ExecuteSql(folder / "Cookies",
             "CREATE TABLE t (v); INSERT INTO t (rowid, v) VALUES (30, 'c'), (10, 'a'), (20, 'b');"
             "CREATE INDEX t_v ON t (v DESC);");
  RunAnswers(folder.path(), "F\n\n");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "Cookies t.csv")), "\"v\",\r\n\"a\",\r\n\"b\",\r\n\"c\",\r\n");
}

TEST(TableExport, ExistingOutputFileIsRewritten) {
  TempFolder folder;
  ExecuteSql(folder / "Cookies", "CREATE TABLE t (v); INSERT INTO t VALUES (1);");
  WriteFileBytes(folder / (kFile + "Cookies t.csv"), std::string(5000, 'x'));
  RunAnswers(folder.path(), "F\n\n");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "Cookies t.csv")), "\"v\",\r\n\"1\",\r\n");
}

TEST(TableExport, EmptyCaseTextsLeaveTheSeparatorsInTheFileName) {
  TempFolder folder;
  ExecuteSql(folder / "Cookies", "CREATE TABLE t (v); INSERT INTO t VALUES (1);");
  SkvRun run = RunSkv(folder.path(), "E\n0\n\n\n\nF\n\nX\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(ReadFileBytes(folder / " -  - Cookies t.csv"), "\"v\",\r\n\"1\",\r\n");
}

// A database SQLite cannot list (no database at all) is said so with
// SQLite's reason, and the export goes on with the next one.
TEST(TableExport, FileThatIsNoDatabaseIsReportedAndTheExportGoesOn) {
  TempFolder folder;
  WriteFileBytes(folder / "places.sqlite", "This is not an SQLite database, only text of some length.\n");
  CreateBrowserDatabase(folder / "search.sqlite", "firefox3/search.sql");
  SkvRun run = RunAnswers(folder.path(), "A\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  const std::string lines =
      "Database content-prefs.sqlite not found.\n"
      "Database cookies.sqlite not found.\n"
      "Database downloads.sqlite not found.\n"
      "Database formhistory.sqlite not found.\n"
      "Database permissions.sqlite not found.\n"
      "Database places.sqlite found.\n"
      "  Could not prepare statement.\n"
      "  file is not a database\n"
      "Database search.sqlite found.\n"
      "  Processing search.sqlite > engine_data\n"
      "Database urlclassifier2.sqlite not found.\n"
      "Database urlclassifier3.sqlite not found.\n"
      "Database webappsstore.sqlite not found.\n"
      "\nPress enter to continue";
  EXPECT_EQ(run.transcript, OpeningTranscript() + "\n\n\n\n\n\n" + lines + BackToMenuTranscript());
  EXPECT_EQ(FileNames(folder.path()).size(), 3u);  // the search tables' file
}

TEST(TableExport, OutputFileThatCannotBeCreatedEndsTheProgram) {
  SKIP_UNDER_WINE("file modes and users are POSIX's");
  TempFolder folder;
  ExecuteSql(folder / "Cookies", "CREATE TABLE t (v);");
  std::filesystem::permissions(folder.path(), std::filesystem::perms(0555));
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "F\n\nX\n", AsUnprivilegedUser());
  std::filesystem::permissions(folder.path(), std::filesystem::perms(0755));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.transcript.ends_with("Database Cookies found.\n"
                                       "  Processing Cookies > t\n"
                                       "Error creating output file " + kFile + "Cookies t.csv:"
                                       "Permission denied\n\n"))
      << run.transcript;
}

TEST(TableExport, WriteFailureEndsTheProgramAndLeavesNoFile) {
  SKIP_UNDER_WINE("a file-size limit is POSIX's");
  TempFolder folder;
  ExecuteSql(folder / "Cookies", "CREATE TABLE a (v); INSERT INTO a VALUES (1);"
                                 "CREATE TABLE t (v); INSERT INTO t VALUES (zeroblob(0));"
                                 "UPDATE t SET v = hex(zeroblob(100000));");
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "F\n\nX\n", WithFileSizeLimit(65536));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.transcript.ends_with("  Processing Cookies > t\n"
                                       "Error writing output file " + kFile + "Cookies t.csv:"
                                       "File too large\n\n"))
      << run.transcript;
  // The table written before stays; the one that lost data is not there,
  // not even in part.
  EXPECT_EQ(FileNames(folder.path()), (std::set<std::string>{"Cookies", kFile + "Cookies a.csv"}));
}

TEST(TableExport, MemoryStaysFlatAsATableGrows) {
  SKIP_UNDER_WINE("the memory measured would be Wine's");
  TempFolder folder;
  ExecuteSql(folder / "History",
             "CREATE TABLE urls (id INTEGER PRIMARY KEY, url, title);"
             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
             "INSERT INTO urls SELECT i, 'http://host' || i || '.example/' || hex(randomblob(20)), "
             "hex(randomblob(30)) FROM n;");
  SkvRun run = RunAnswers(folder.path(), "F\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_GT(std::filesystem::file_size(folder / (kFile + "History urls.csv")), 25'000'000u);
  // A 30 MB table in far less memory than the table: rows are streamed.
  if (kMemoryIsMeasured) {
    EXPECT_LT(run.peakMemoryKiB, 12 * 1024);
  }
}

// Every kind of table is exported as SQLite gives it: an FTS5 table, and its
// shadow tables, two of which are WITHOUT ROWID. A table SQLite cannot read
// is said so with SQLite's reason, and every other table and database is
// exported.
TEST(TableExport, EveryKindOfTableIsExportedAndOneThatCannotBeReadIsPassedOver) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "CREATE VIRTUAL TABLE moz_historyvisits_fts USING fts5(title);"
                        "INSERT INTO moz_historyvisits_fts VALUES ('hello');"
                        "PRAGMA writable_schema = ON;"
                        "INSERT INTO sqlite_master VALUES ('table', 'unknown_module', 'unknown_module', 0, "
                        "'CREATE VIRTUAL TABLE unknown_module USING nosuchmodule(a)');");
  CreateBrowserDatabase(folder / "search.sqlite", "firefox3/search.sql");
  SkvRun run = RunAnswers(folder.path(), "A\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.transcript.find("  Processing places.sqlite > unknown_module\n"
                                "  Could not prepare statement.\n"
                                "  no such module: nosuchmodule\n"),
            std::string::npos)
      << run.transcript;
  for (const char* table : {"moz_historyvisits_fts", "moz_historyvisits_fts_config", "moz_historyvisits_fts_content",
                            "moz_historyvisits_fts_data", "moz_historyvisits_fts_docsize", "moz_historyvisits_fts_idx",
                            "moz_places", "moz_bookmarks"}) {
    EXPECT_TRUE(std::filesystem::exists(folder / (kFile + "places.sqlite " + table + ".csv"))) << table;
  }
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "places.sqlite moz_historyvisits_fts.csv")), "\"title\",\r\n\"hello\",\r\n");
  EXPECT_FALSE(std::filesystem::exists(folder / (kFile + "places.sqlite unknown_module.csv")));
  EXPECT_TRUE(std::filesystem::exists(folder / (kFile + "search.sqlite engine_data.csv")));
  EXPECT_NE(run.transcript.find("Database webappsstore.sqlite not found.\n\nPress enter to continue"),
            std::string::npos);
}

// A database whose schema is damaged after a complete run: no task publishes
// a file of it, every earlier one stays byte for byte, the console gives
// SQLite's reason, and the other databases are exported.
TEST(TableExport, DamagedSchemaKeepsEveryEarlierFileAndTheOtherDatabasesAreExported) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_places VALUES (1, 'http://a.example/', 'A', '.', 1, 0, 0, NULL, 5);"
                        "INSERT INTO moz_historyvisits VALUES (1, 0, 1, 1228580112000000, 1, 1);");
  CreateBrowserDatabase(folder / "search.sqlite", "firefox3/search.sql");
  ASSERT_EQ(RunAnswers(folder.path(), "A\n\nC\n\nD\nn\n\n").exitStatus, 0);
  std::map<std::string, std::string> earlier;
  for (const std::string& name : FileNames(folder.path())) earlier[name] = ReadFileBytes(folder / name);
  ASSERT_TRUE(earlier.contains(kFile + "Internet Usage.html"));

  ExecuteSql(folder / "places.sqlite",
             "PRAGMA writable_schema = ON;"
             "UPDATE sqlite_master SET sql = 'CREATE TABLE moz_places (' WHERE name = 'moz_places';");
  earlier["places.sqlite"] = ReadFileBytes(folder / "places.sqlite");
  std::filesystem::remove(folder / (kFile + "search.sqlite engine_data.csv"));
  SkvRun run = RunAnswers(folder.path(), "A\n\nC\n\nD\nn\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  const std::string reason = "malformed database schema (moz_places) - incomplete input";
  EXPECT_NE(run.transcript.find("Database places.sqlite found.\n  Could not prepare statement.\n  " + reason +
                                "\nDatabase search.sqlite found.\n"),
            std::string::npos)
      << run.transcript;
  std::size_t reports = 0;
  for (std::size_t at = 0; (at = run.transcript.find("Processing...\nCould not prepare statement.\n" + reason, at)) !=
                           std::string::npos;
       ++at) {
    ++reports;
  }
  EXPECT_EQ(reports, 2u) << run.transcript;
  for (const auto& [name, bytes] : earlier) EXPECT_TRUE(ReadFileBytes(folder / name) == bytes) << name << " changed";
  EXPECT_TRUE(std::filesystem::exists(folder / (kFile + "search.sqlite engine_data.csv")));
}

}  // namespace
