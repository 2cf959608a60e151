// Databases that are damaged or built to break tools, and a console that
// goes away: the tool neither crashes nor hangs, writes nothing outside its
// folder, and never reports a loss as success.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <functional>
#include <set>

#include "support/fixture_database.h"
#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

const std::string kFile = "2008-117 - Harbour Street - ";

TEST(HostileDatabases, TableNamesFromTheEvidenceStayInsideTheFolder) {
  TempFolder parent;
  const std::filesystem::path folder = parent / "evidence";
  std::filesystem::create_directory(folder);
  const std::string longName = std::string(200, 'L') + "\xC3\xA9\xC3\xA9" + std::string(100, 'M');
  const std::vector<std::string> names = {"quote\"d", "with blank", "line\nfeed", "../../escape", "back\\slash",
                                          "..",        "/",          "esc\x1B[2J", longName};
  std::string sql;
  for (const std::string& name : names) {
    std::string quoted = "\"";
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += "\"";
    sql += "CREATE TABLE " + quoted + " (v); INSERT INTO " + quoted + " VALUES ('row');";
  }
  ExecuteSql(folder / "History", sql);
  SkvRun run = RunSkv(folder, StandardSettingsInput() + "F\n\nX\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript.find("Could not"), std::string::npos);
  // On the console, a name's control bytes cannot break its line or reach
  // the terminal as an escape sequence.
  EXPECT_NE(run.transcript.find("  Processing History > line\\x0Afeed\n"), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("  Processing History > esc\\x1B[2J\n"), std::string::npos) << run.transcript;
  EXPECT_EQ(FileNames(parent.path()), std::set<std::string>{"evidence"}) << "a file was written outside the folder";
  const std::set<std::string> files = FileNames(folder);
  EXPECT_EQ(files.size(), 1 + names.size());
  for (const std::string& expected : {kFile + "History quote\"d.csv", kFile + "History line_feed.csv",
                                      kFile + "History esc_[2J.csv",
                                      kFile + "History .._.._escape.csv", kFile + "History back_slash.csv",
                                      kFile + "History ...csv", kFile + "History _.csv"}) {
    ASSERT_TRUE(files.contains(SystemName(expected))) << expected;
    EXPECT_EQ(ReadFileBytes(folder / SystemName(expected)), "\"v\",\r\n\"row\",\r\n");
  }
  // The long name is cut to fit 255 bytes, before the two-byte character
  // that would not fit whole.
  const std::string shortened = kFile + "History " + std::string(200, 'L') + "\xC3\xA9\xC3\xA9" +
                                std::string(255 - 36 - 204 - 4, 'M') + ".csv";
  EXPECT_EQ(shortened.size(), 255u);
  EXPECT_TRUE(files.contains(shortened));
}

TEST(HostileDatabases, ThousandColumnsAndFiftyMegabyteCells) {
  TempFolder folder;
  std::string columns;
  for (int i = 0; i < 1000; ++i) columns += (i ? ", c" : "c") + std::to_string(i);
  ExecuteSql(folder / "Cookies", "CREATE TABLE wide (" + columns + "); INSERT INTO wide (c0, c999) VALUES (1, 2);"
                                 "CREATE TABLE big (v); INSERT INTO big VALUES (zeroblob(0));"
                                 "UPDATE big SET v = replace(hex(zeroblob(25000000)), '00', 'ab');");
  SkvRun run = RunAnswers(folder.path(), "G\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  const std::string wide = ReadFileBytes(folder / (kFile + "Cookies wide.csv"));
  EXPECT_TRUE(wide.starts_with("\"c0\",\"c1\","));
  EXPECT_TRUE(wide.ends_with("\"c999\",\r\n\"1\"," + [] {
                std::string empty;
                for (int i = 0; i < 998; ++i) empty += "\"\",";
                return empty;
              }() + "\"2\",\r\n"));
  const std::string big = ReadFileBytes(folder / (kFile + "Cookies big.csv"));
  EXPECT_EQ(big.size(), 6 + 1 + 50'000'000 + 4u);
  EXPECT_EQ(big.substr(7, 6), "ababab");
}

TEST(HostileDatabases, TextWithZeroBytesEndsAtTheFirstOne) {
  TempFolder folder;
  ExecuteSql(folder / "Cookies", "CREATE TABLE t (v); INSERT INTO t VALUES ('ab' || char(0) || 'cd');"
                                 "INSERT INTO t VALUES (CAST(X'410042' AS TEXT));");
  RunAnswers(folder.path(), "F\n\n");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "Cookies t.csv")), "\"v\",\r\n\"ab\",\r\n\"A\",\r\n");
}

TEST(HostileDatabases, TruncatedDatabasesAreSurvived) {
  TempFolder source;
  std::string rows;
  for (int i = 1; i <= 300; ++i) {
    const std::string id = std::to_string(i);
    rows += "INSERT INTO moz_places VALUES (" + id + ", 'http://h" + id + ".example/" + std::string(i % 50, 'p') +
            "', 'title " + id + "', 'elpmaxe." + id + "h.', 1, 0, 0, " + std::to_string(i % 3) + ", 0);"
            "INSERT INTO moz_historyvisits VALUES (" + id + ", 0, " + id + ", " + std::to_string(1228580112000000LL + i) +
            ", 1, 1);";
  }
  rows += "INSERT INTO moz_favicons VALUES (1, 'f', X'89504E47', 'image/png', 0);";
  CreateBrowserDatabase(source / "places.sqlite", "firefox3/places.sql", rows);
  const std::string whole = ReadFileBytes(source / "places.sqlite");
  ASSERT_GT(whole.size(), 20'000u);
  // Every page boundary, and cuts inside the header and inside pages.
  std::vector<std::size_t> lengths = {0, 50, 99, 100, 101, 6000, whole.size() - 1};
  for (std::size_t page = 4096; page < whole.size(); page += 4096) lengths.push_back(page);
  for (std::size_t length : lengths) {
    TempFolder folder;
    WriteFileBytes(folder / "places.sqlite", whole.substr(0, length));
    SkvRun run = RunAnswers(folder.path(), "A\n\nC\n\nD\ny\n\n");
    EXPECT_EQ(run.exitStatus, 0) << "truncated to " << length;
    EXPECT_TRUE(run.transcript.ends_with(MenuTranscript())) << "truncated to " << length;
  }
}

TEST(HostileDatabases, AReadThatFailsMidwayIsReportedNotPassedOver) {
  TempFolder source;
  CreateBrowserDatabase(source / "places.sqlite", "firefox3/places.sql",
                        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                        "INSERT INTO moz_places SELECT i, 'http://h' || i || '/' || hex(randomblob(50)), 't', 'h.', "
                        "1, 0, 0, NULL, 0 FROM n;");
  std::string bytes = ReadFileBytes(source / "places.sqlite");
  // Damage the headers of a few pages in the middle of the file, which
  // belong to moz_places, the largest table.
  const std::size_t middlePage = bytes.size() / 4096 / 2;
  for (std::size_t page = middlePage; page < middlePage + 3; ++page) {
    for (std::size_t at = page * 4096; at < page * 4096 + 12; ++at) bytes[at] = '\xFF';
  }
  TempFolder folder;
  WriteFileBytes(folder / "places.sqlite", bytes);
  SkvRun run = RunAnswers(folder.path(), "A\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.transcript.find("  Could not read all of places.sqlite > moz_places: database disk image is malformed\n"),
            std::string::npos)
      << run.transcript;
}

TEST(HostileDatabases, TablesWithFewerColumnsReadTheMissingOnesAsNull) {
  TempFolder folder;
  ExecuteSql(folder / "places.sqlite",
             "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url, rev_host, visit_count);"
             "CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, place_id, visit_date);"
             "CREATE TABLE moz_favicons (id INTEGER PRIMARY KEY);"
             "INSERT INTO moz_places VALUES (1, 'http://short.example/', 'elpmaxe.trohs.', 4);"
             "INSERT INTO moz_historyvisits VALUES (1, 1, 1228580112345678);");
  SkvRun run = RunAnswers(folder.path(), "C\n\nD\ny\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript.find("Could not prepare"), std::string::npos) << run.transcript;
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "Internet Usage.csv")),
            "Visit Date,URL,Title,Visit Count,Typed,Hidden,Frecency,From Visit,Visit Type,Session\r\n"
            "\"06/12/2008 16:15:12\",\"http://short.example/\",,4,No,No,0,0,0,0\r\n");
  EXPECT_NE(ReadFileBytes(folder / (kFile + "Internet Usage.html")).find("http://short.example/</font></TD>"),
            std::string::npos);
}

TEST(HostileDatabases, VisitsWithoutADateColumnCannotBeListed) {
  TempFolder folder;
  ExecuteSql(folder / "places.sqlite",
             "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url);"
             "CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, place_id);");
  SkvRun run = RunAnswers(folder.path(), "C\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(run.transcript.ends_with("Processing...\nCould not prepare statement.\nno such column: visit_date" +
                                       BackToMenuTranscript()))
      << run.transcript;
}

TEST(HostileDatabases, FaviconsWithEmptyOrNullData) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_favicons VALUES (1, 'a', X'', 'image/png', 0);"
                        "INSERT INTO moz_favicons VALUES (2, 'b', NULL, 'image/png', 0);"
                        "INSERT INTO moz_places VALUES (1, 'http://a/', NULL, '.', 1, 0, 0, 1, 0);"
                        "INSERT INTO moz_places VALUES (2, 'http://b/', NULL, '.', 1, 0, 0, 2, 0);"
                        "INSERT INTO moz_historyvisits VALUES (1, 0, 1, 1, 1, 1);"
                        "INSERT INTO moz_historyvisits VALUES (2, 0, 2, 2, 1, 1);");
  SkvRun run = RunAnswers(folder.path(), "D\ny\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  const std::set<std::string> files = FileNames(folder.path());
  EXPECT_FALSE(files.contains("favicon_2.png"));  // NULL data: no image
  if (files.contains("favicon_1.png")) {
    EXPECT_EQ(ReadFileBytes(folder / "favicon_1.png"), "");
  }
}

// A database in WAL mode with its -wal, copied while its writer still has
// it open, so that the -wal is there.
void MakeWalDatabase(const std::filesystem::path& at) {
  TempFolder staging;
  const std::filesystem::path file = staging / "places.sqlite";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; CREATE TABLE moz_places (url);"
                             "INSERT INTO moz_places VALUES ('http://a.example/');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::filesystem::copy_file(file, at);
  std::filesystem::copy_file(file.string() + "-wal", at.string() + "-wal");
  sqlite3_close(db);
}

// A database, and beside it a -journal or -wal made by make.
std::function<void(const std::filesystem::path&)> WithSidecar(
    const std::string& suffix, std::function<void(const std::filesystem::path&)> make) {
  return [suffix, make](const std::filesystem::path& at) {
    CreateBrowserDatabase(at, "firefox3/places.sql");
    make(at.string() + suffix);
  };
}

// A file only its owner, root, may read.
void MakeRootOnlyFile(const std::filesystem::path& at) {
  WriteFileBytes(at, std::string(4096, 'j'));
  std::filesystem::permissions(at, std::filesystem::perms(0400));
}

// A database, or its -wal or -journal, that cannot be read is said so with
// the reason and passed over; the other databases of the task are read.
TEST(HostileDatabases, NamesThatHoldNoFileAreSaidSoAndPassedOver) {
  using Make = std::function<void(const std::filesystem::path&)>;
  struct Case {
    std::string kind;
    Make make;
    std::string reason;
    bool asNobody = false;  // run as an ordinary user, whom file modes bind
  };
  const Make fifo = [](const std::filesystem::path& at) { ::mkfifo(at.c_str(), 0644); };
  const Make folder = [](const std::filesystem::path& at) { std::filesystem::create_directory(at); };
  const Case cases[] = {
      {"FIFO", fifo, "it is a FIFO, not a file"},
      {"folder", folder, "it is a folder, not a file"},
      {"dangling link", [](const std::filesystem::path& at) { std::filesystem::create_symlink("/nowhere/x", at); },
       "it is a link to /nowhere/x, which is not there"},
      {"FIFO as -wal", WithSidecar("-wal", fifo),
       "its write-ahead log places.sqlite-wal cannot be read: it is a FIFO, not a file"},
      {"folder as -journal", WithSidecar("-journal", folder),
       "its journal places.sqlite-journal cannot be read: it is a folder, not a file"},
      {"-journal the user may not read", WithSidecar("-journal", MakeRootOnlyFile),
       "its journal places.sqlite-journal cannot be read: Permission denied", true},
      {"-wal the user may not read",
       [](const std::filesystem::path& at) {
         MakeWalDatabase(at);
         std::filesystem::permissions(at, std::filesystem::perms(0444));
         std::filesystem::permissions(at.string() + "-wal", std::filesystem::perms(0400));
       },
       "its write-ahead log places.sqlite-wal cannot be read: Permission denied", true},
  };
  const bool root = ::geteuid() == 0;
  for (const Case& c : cases) {
    if (c.asNobody && !root) continue;
    // FIFOs, Unix links and file modes are POSIX's; a folder is anyone's.
    if (RunsUnderWine() && !c.kind.starts_with("folder")) continue;
    TempFolder evidence;
    c.make(evidence / "places.sqlite");
    CreateBrowserDatabase(evidence / "search.sqlite", "firefox3/search.sql");
    std::filesystem::permissions(evidence.path(), std::filesystem::perms(0777));
    const std::set<std::string> before = FileNames(evidence.path());
    SkvRun run = RunSkv(evidence.path(), StandardSettingsInput() + "A\n\nC\n\nD\nn\n\nX\n",
                        c.asNobody ? AsUnprivilegedUser() : SkvOptions());
    EXPECT_EQ(run.exitStatus, 0) << c.kind;
    const std::string lines = "Database places.sqlite found.\n  Could not read places.sqlite: " + c.reason + "\n";
    EXPECT_NE(run.transcript.find(lines + "Database search.sqlite found.\n  Processing search.sqlite > engine_data\n"),
              std::string::npos)
        << c.kind << run.transcript;
    EXPECT_NE(run.transcript.find(lines + "\nPress enter to continue"), std::string::npos) << c.kind;
    std::set<std::string> expected = before;
    expected.insert("2008-117 - Harbour Street - search.sqlite engine_data.csv");
    EXPECT_EQ(FileNames(evidence.path()), expected) << c.kind;
  }
  if (!root) GTEST_SKIP() << "the cases of files the user may not read need root, to run skv as nobody";
}

TEST(ConsoleFaults, ClosedStandardOutputNeverReachesTheReports) {
  TempFolder folder;
  ExecuteSql(folder / "Cookies", "CREATE TABLE t (v); INSERT INTO t VALUES ('only this');");
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "F\n\nX\n", {.output = StandardOutput::kClosed, .temporaryFolder = ""});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "Cookies t.csv")), "\"v\",\r\n\"only this\",\r\n");
}

TEST(ConsoleFaults, BrokenPipeDoesNotKillTheTool) {
  TempFolder folder;
  ExecuteSql(folder / "Cookies", "CREATE TABLE t (v); INSERT INTO t VALUES (1);");
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "F\n\nH\n\nE\n1\nn\nX\n",
                      {.output = StandardOutput::kBrokenPipe, .temporaryFolder = ""});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "Cookies t.csv")), "\"v\",\r\n\"1\",\r\n");
}

TEST(ConsoleFaults, EndOfInputAtEveryPromptEndsAtOnceWithStatusZero) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  const std::string settings = StandardSettingsInput();
  // Each script stops right where a prompt waits for its answer.
  for (const std::string& script :
       {std::string(), std::string("E\n"), std::string("E\n0\n"), std::string("E\n0\nr\n"), std::string("E\n0\nr\nn\n"),
        settings, settings + "A\n", settings + "C\n", settings + "D\n", settings + "D\ny\n", settings + "E\n",
        settings + "E\n1\n", settings + "F\n", settings + "H\n", settings + "R\n", settings + "R\nE\n"}) {
    SkvRun run = RunSkv(folder.path(), script);
    EXPECT_EQ(run.exitStatus, 0) << script;
  }
}

}  // namespace
