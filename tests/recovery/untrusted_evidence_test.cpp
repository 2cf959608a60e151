// Menu tasks I and J on evidence made to mislead them: schema records that
// would run if stepped, random bytes where records stand, copies of live
// rows, a header SQLite refuses, pages built to multiply the work. Nothing
// of the evidence is run, nothing is written that is no deleted record, and
// the work stays in proportion to the files.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/fixture_database.h"
#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

const std::string kPrefix = "2008-117 - Harbour Street - ";

std::uint32_t Big32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
         static_cast<unsigned char>(bytes[at + 3]);
}
std::uint32_t Big16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 8 |
         static_cast<unsigned char>(bytes[at + 1]);
}
void PutBig32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
}

std::string RandomBytes(std::size_t size, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::string bytes(size, '\0');
  for (std::size_t at = 0; at < size; at += 8) {
    const std::uint64_t word = random();
    for (std::size_t i = 0; i < 8 && at + i < size; ++i) bytes[at + i] = static_cast<char>(word >> (8 * i));
  }
  return bytes;
}

std::string Places(int from, int to) {
  std::string sql;
  for (int id = from; id <= to; ++id) {
    const std::string n = std::to_string(id);
    sql += "INSERT INTO moz_places VALUES (" + n + ", 'http://site" + n + ".example/', 'Title " + n + "', '.', " + n +
           ", 0, 1, NULL, " + n + "00);";
  }
  return sql;
}

// The names of the recovered files in the folder.
std::set<std::string> RecoveredFiles(const fs::path& folder) {
  std::set<std::string> names;
  for (const std::string& name : FileNames(folder)) {
    if (name.ends_with("(recovered).csv")) names.insert(name);
  }
  return names;
}

// A freed record of the schema table holding each statement: a row put into
// sqlite_master with writable_schema, deleted before SQLite reads it back.
TEST(UntrustedEvidence, SchemaRecordsAreReadNeverRun) {
  const std::vector<std::string> statements = {
      "CREATE TABLE t1 AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) SELECT x FROM c WHERE x<0",
      "CREATE TABLE t2 AS SELECT randomblob(10000) AS a, randomblob(10000) AS b FROM "
      "(WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) SELECT x FROM c)",
      "CREATE TABLE temp.t3 AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) SELECT zeroblob(1000000) FROM c",
      "CREATE TABLE t4 (a TEXT, b INTEGER); ATTACH 'x.db' AS x; CREATE TABLE x.y (z)",
      "ATTACH DATABASE 'leak.db' AS leak",
      "CREATE TRIGGER t6 AFTER INSERT ON moz_places BEGIN SELECT 1; END",
  };
  TempFolder folder;
  TempFolder temporary;
  ExecuteSql(folder / "places.sqlite", "CREATE TABLE moz_keywords (id INTEGER PRIMARY KEY, keyword TEXT UNIQUE);"
                                       "INSERT INTO moz_keywords VALUES (1, 'news');");
  std::string sql = "PRAGMA writable_schema = ON;";
  for (std::size_t i = 0; i < statements.size(); ++i) {
    std::string quoted;
    for (char c : statements[i]) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    const std::string name = "t" + std::to_string(i + 1);
    sql += "INSERT INTO sqlite_master VALUES ('table', '" + name + "', '" + name + "', 0, '" + quoted + "');";
  }
  ExecuteSql(folder / "places.sqlite", sql);
  // Deleted by a connection of its own: one that inserted a cell and freed it
  // in the same transaction may never write its bytes.
  ExecuteSql(folder / "places.sqlite", "PRAGMA writable_schema = ON; PRAGMA secure_delete = OFF;"
                                       "DELETE FROM sqlite_master WHERE name GLOB 't[0-9]';");

  const auto start = std::chrono::steady_clock::now();
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "I\n\nX\n", {.temporaryFolder = temporary.path()});
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(run.exitStatus, 0) << run.errors;
  EXPECT_LT(seconds, 20.0);
  EXPECT_TRUE(FileNames(temporary.path()).empty()) << "written in the temporary folder";
  EXPECT_EQ(FileNames(folder.path()), (std::set<std::string>{"places.sqlite"})) << run.transcript;
  if (kMemoryIsMeasured) {
    EXPECT_LT(run.peakMemoryKiB, 64 * 1024);
  }
}

// A table whose rows were all deleted but two: SQLite moved the two live
// rows when the tree shrank, and their cells stay on the freed pages. The
// records fit two tables (their first value NULL, as moz_keywords' row id),
// and are live rows of one: none is written.
TEST(UntrustedEvidence, CopiesOfLiveRowsAreNeverWritten) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  ExecuteSql(folder / "places.sqlite",
             "PRAGMA secure_delete = OFF; CREATE TABLE loose (n INTEGER, t TEXT);"
             "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 200) "
             "INSERT INTO loose (t) SELECT 'the loose row number ' || i || ' of the table, long enough to fill pages' "
             "FROM c; DELETE FROM loose WHERE rowid > 2;");
  SkvRun run = RunAnswers(folder.path(), "I\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  for (const std::string& name : RecoveredFiles(folder.path())) {
    const std::string bytes = ReadFileBytes(folder / name);
    for (const char* live : {"row number 1 of", "row number 2 of"}) {
      EXPECT_EQ(bytes.find(live), std::string::npos) << name << ": " << live;
    }
  }
  // The deleted rows are there, unattributed: they fit both tables alike.
  EXPECT_NE(ReadFileBytes(folder / (kPrefix + "places.sqlite (unattributed) (recovered).csv")).find("row number 150 of"),
            std::string::npos);
}

// A deleted row whose cell the main file keeps in its free space, its first
// bytes overwritten, and whose page the journal keeps whole: one row, the
// whole reading with its row id.
TEST(UntrustedEvidence, ARecordFoundWholeAndRebuiltIsWrittenOnceWhole) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", Places(1, 6));
  ExecuteSql(folder / "places.sqlite", "PRAGMA journal_mode = PERSIST; PRAGMA secure_delete = OFF;"
                                       "DELETE FROM moz_places WHERE id IN (2, 4);");
  SkvRun run = RunAnswers(folder.path(), "I\n\n");
  const std::string bytes = ReadFileBytes(folder / (kPrefix + "places.sqlite moz_places (recovered).csv"));
  for (const char* deleted : {"\"http://site2.example/\"", "\"http://site4.example/\""}) {
    const std::size_t first = bytes.find(deleted);
    ASSERT_NE(first, std::string::npos) << bytes;
    EXPECT_EQ(bytes.find(deleted, first + 1), std::string::npos) << "written twice:\n" << bytes;
  }
  EXPECT_NE(bytes.find("\r\n\"2\",\"http://site2.example/\""), std::string::npos) << bytes;
  EXPECT_NE(bytes.find("\r\n\"4\",\"http://site4.example/\""), std::string::npos) << bytes;
}

// Random bytes where records stand: after a journal's valid header, as WAL
// frames after a valid WAL header, on the freelist's leaf pages, and in the
// free space of every live page. None of it is a record.
TEST(UntrustedEvidence, RandomBytesGiveNoRecord) {
  constexpr std::size_t kRandomBytes = 4 << 20;
  struct Place {
    const char* name;
    std::function<void(const fs::path& history)> plant;
  };
  const Place places[] = {
      {"a journal", [](const fs::path& history) {
         std::string header(512, '\0');
         const std::string magic = "\xd9\xd5\x05\xf9\x20\xa1\x63\xd7";
         header.replace(0, 8, magic);
         PutBig32(header, 8, 0xffffffff);  // records to the end of the file
         PutBig32(header, 12, 0x1234abcd);  // the nonce
         PutBig32(header, 16, static_cast<std::uint32_t>(fs::file_size(history) / 4096));
         PutBig32(header, 20, 512);
         PutBig32(header, 24, 4096);
         WriteFileBytes(history.string() + "-journal", header + RandomBytes(kRandomBytes, 1));
       }},
      {"a write-ahead log", [](const fs::path& history) {
         std::string bytes = ReadFileBytes(history);
         bytes[18] = bytes[19] = 2;  // WAL mode
         WriteFileBytes(history, bytes);
         std::string header(32, '\0');
         PutBig32(header, 0, 0x377f0682);
         PutBig32(header, 4, 3007000);
         PutBig32(header, 8, 4096);
         PutBig32(header, 16, 0x11111111);
         PutBig32(header, 20, 0x22222222);
         // The header's checksum, little-endian words as the magic says.
         std::uint32_t a = 0, b = 0;
         for (std::size_t at = 0; at < 24; at += 8) {
           auto word = [&](std::size_t w) {
             return static_cast<std::uint32_t>(static_cast<unsigned char>(header[w])) |
                    static_cast<std::uint32_t>(static_cast<unsigned char>(header[w + 1])) << 8 |
                    static_cast<std::uint32_t>(static_cast<unsigned char>(header[w + 2])) << 16 |
                    static_cast<std::uint32_t>(static_cast<unsigned char>(header[w + 3])) << 24;
           };
           a += word(at) + b;
           b += word(at + 4) + a;
         }
         PutBig32(header, 24, a);
         PutBig32(header, 28, b);
         WriteFileBytes(history.string() + "-wal", header + RandomBytes(kRandomBytes, 2));
       }},
      {"the freelist", [](const fs::path& history) {
         std::string bytes = ReadFileBytes(history);
         // Leaf pages listed by the first trunk page, then as many more
         // random pages as the trunk's room allows, added to the file.
         const std::uint32_t trunk = Big32(bytes, 32);
         ASSERT_NE(trunk, 0u);
         const std::size_t trunkAt = (trunk - 1) * 4096;
         std::uint32_t leaves = Big32(bytes, trunkAt + 4);
         const std::uint32_t added = static_cast<std::uint32_t>(kRandomBytes / 4096);
         const std::uint32_t first = static_cast<std::uint32_t>(bytes.size() / 4096) + 1;
         bytes += RandomBytes(kRandomBytes, 3);
         for (std::uint32_t page = 0; page < added && leaves < 1000; ++page, ++leaves) {
           PutBig32(bytes, trunkAt + 8 + 4 * leaves, first + page);
         }
         PutBig32(bytes, trunkAt + 4, leaves);
         PutBig32(bytes, 28, static_cast<std::uint32_t>(bytes.size() / 4096));
         PutBig32(bytes, 36, Big32(bytes, 36) + added);
         WriteFileBytes(history, bytes);
       }},
      {"the free space of live pages", [](const fs::path& history) {
         std::string bytes = ReadFileBytes(history);
         const std::string noise = RandomBytes(kRandomBytes, 4);
         std::size_t used = 0;
         for (std::size_t page = 0; page < bytes.size() / 4096; ++page) {
           const std::size_t at = page * 4096 + (page == 0 ? 100 : 0);
           if (bytes[at] != 13) continue;
           const std::size_t start = Big16(bytes, at + 5);
           const std::size_t from = at + 8 + 2 * Big16(bytes, at + 3);
           for (std::size_t b = from; b < page * 4096 + start; ++b) bytes[b] = noise[used++ % noise.size()];
         }
         WriteFileBytes(history, bytes);
       }},
  };
  for (const Place& place : places) {
    TempFolder folder;
    // The tables of Chrome's History, a hundred rows in each of its larger
    // ones; the file grows by the pages the bytes need.
    CreateBrowserDatabase(folder / "History", "chrome/history.sql");
    ExecuteSql(folder / "History",
               "PRAGMA secure_delete = ON;"
               "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 3000) "
               "INSERT INTO urls (id, url, title, visit_count, typed_count, last_visit_time, hidden, favicon_id) "
               "SELECT i, 'http://site' || i || '.example/', 'Title ' || i, 1, 0, 13000000000000000 + i, 0, 0 FROM c;"
               "DELETE FROM urls WHERE id > 2000;");
    place.plant(folder / "History");
    SkvRun run = RunAnswers(folder.path(), "J\n\n");
    EXPECT_EQ(run.exitStatus, 0) << place.name;
    EXPECT_NE(run.transcript.find("\n0 records recovered\n"), std::string::npos) << place.name << "\n" << run.transcript;
    EXPECT_EQ(RecoveredFiles(folder.path()), std::set<std::string>{}) << place.name;
  }
}

// A header that says the file is longer than it is: SQLite refuses to read
// the schema. The console says so, and the schema is read from the pages,
// so that the deleted rows go to their table.
TEST(UntrustedEvidence, ASchemaSqliteCannotReadIsToldAndReadFromThePages) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "History", "chrome/history.sql");
  ExecuteSql(folder / "History",
             "PRAGMA secure_delete = OFF;"
             "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 12) "
             "INSERT INTO urls (id, url, title, visit_count, typed_count, last_visit_time, hidden, favicon_id) "
             "SELECT i, 'http://site' || i || '.example/', 'Title ' || i, i, 0, 13000000000000000 + i, 0, 0 FROM c;"
             "DELETE FROM urls WHERE id > 3;");
  std::string bytes = ReadFileBytes(folder / "History");
  PutBig32(bytes, 28, 1000);
  WriteFileBytes(folder / "History", bytes);
  SkvRun run = RunAnswers(folder.path(), "J\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.transcript.find("Database History found.\n"
                                "  SQLite could not read the schema: database disk image is malformed\n"
                                "  The schema is read from the file's own pages.\n"),
            std::string::npos)
      << run.transcript;
  EXPECT_NE(run.transcript.find("  urls: 9 recovered\n"), std::string::npos) << run.transcript;
}

// The record encoding of ("http://<n>", a title of the given size) as a
// moz_places row of Firefox 3 (the row id NULL, the counts small), the
// title's bytes 't'.
std::string PlaceRecord(int n, std::size_t titleSize) {
  const std::string url = "http://site" + std::to_string(n) + ".example/";
  auto varint = [](std::uint64_t value) {
    std::string bytes;
    std::string groups;
    do {
      groups.insert(groups.begin(), static_cast<char>(value & 0x7f));
      value >>= 7;
    } while (value != 0);
    for (std::size_t i = 0; i + 1 < groups.size(); ++i) bytes += static_cast<char>(groups[i] | 0x80);
    return bytes + groups.back();
  };
  const std::string types = varint(0) + varint(13 + 2 * url.size()) + varint(13 + 2 * titleSize) + varint(13 + 2) +
                            varint(1) + varint(8) + varint(9) + varint(0) + varint(1);
  const std::string header = varint(1 + types.size()) + types;  // one byte of length
  return header + url + std::string(titleSize, 't') + "." + "\x05" + "" + "" + "" + "\x64";
}

// Four freed 64 KiB pages, each a table leaf whose 16,382 cell pointers all
// point at one cell, a record whose payload spills to an overflow page: each
// cell is read once, its chain gathered once, and its record written once.
TEST(UntrustedEvidence, APageOfPointersToOneCellIsReadOnce) {
  constexpr std::size_t kPage = 65536;
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  ExecuteSql(folder / "places.sqlite",
             "PRAGMA page_size = 65536; VACUUM; PRAGMA secure_delete = OFF;"
             "CREATE TABLE filler (b BLOB);"
             "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 20) "
             "INSERT INTO filler SELECT zeroblob(60000) FROM c; DROP TABLE filler;");
  std::string bytes = ReadFileBytes(folder / "places.sqlite");
  const std::size_t trunkAt = (Big32(bytes, 32) - 1) * kPage;
  ASSERT_GE(Big32(bytes, trunkAt + 4), 8u);
  for (int n = 0; n < 4; ++n) {
    const std::uint32_t leaf = Big32(bytes, trunkAt + 8 + 4 * 2 * n);
    const std::uint32_t overflow = Big32(bytes, trunkAt + 8 + 4 * (2 * n + 1));
    const std::string record = PlaceRecord(n, 70000);
    // The local part as 1.6 gives it for a payload of this size, then the
    // overflow page's number; the rest on that page.
    const std::size_t local = 8199;
    ASSERT_GT(record.size(), local);
    std::string page(kPage, '\0');
    page[0] = 13;
    const std::size_t cells = 16382;
    const std::size_t cellAt = 8 + 2 * cells + 16;
    page[3] = static_cast<char>(cells >> 8);
    page[4] = static_cast<char>(cells & 0xff);
    page[5] = static_cast<char>(cellAt >> 8);
    page[6] = static_cast<char>(cellAt & 0xff);
    for (std::size_t cell = 0; cell < cells; ++cell) {
      page[8 + 2 * cell] = static_cast<char>(cellAt >> 8);
      page[9 + 2 * cell] = static_cast<char>(cellAt & 0xff);
    }
    std::string cell;
    const std::uint64_t payload = record.size();
    cell += static_cast<char>(0x80 | (payload >> 14));
    cell += static_cast<char>(0x80 | ((payload >> 7) & 0x7f));
    cell += static_cast<char>(payload & 0x7f);
    cell += static_cast<char>(10 + n);  // the row id
    cell += record.substr(0, local);
    std::string link(4, '\0');
    PutBig32(link, 0, overflow);
    cell += link;
    page.replace(cellAt, cell.size(), cell);
    bytes.replace((leaf - 1) * kPage, kPage, page);
    std::string rest(kPage, '\0');
    rest.replace(4, record.size() - local, record.substr(local));
    bytes.replace((overflow - 1) * kPage, kPage, rest);
  }
  WriteFileBytes(folder / "places.sqlite", bytes);
  const auto start = std::chrono::steady_clock::now();
  SkvRun run = RunAnswers(folder.path(), "I\n\n");
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0);
  EXPECT_NE(run.transcript.find("  moz_places: 4 recovered\n"), std::string::npos) << run.transcript;
}

// A table dropped, its schema record overwritten, and a table of the same
// shape made on its pages (the forensic corpus's "overwritten tables"): its
// records fit that table, and the examiner is told the columns are assumed.
TEST(UntrustedEvidence, RecordsOfATableWhoseSchemaIsGoneAreNotSaidToBeAnothers) {
  TempFolder folder;
  fs::copy_file(TestDataFile("sqlite-forensic-corpus/0B/0B-01.db"), folder / "History");
  SkvRun run = RunAnswers(folder.path(), "J\n\n");
  const std::string bytes = ReadFileBytes(folder / (kPrefix + "History members (recovered).csv"));
  std::size_t rows = 0;
  for (std::size_t at = bytes.find("\r\n"); at + 2 < bytes.size(); at = bytes.find("\r\n", at + 2)) {
    const std::size_t end = bytes.find("\r\n", at + 2);
    const std::string line = bytes.substr(at + 2, end - at - 2);
    EXPECT_TRUE(line.ends_with("; the table assumed from the shape of its columns\",")) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 4u);
}

}  // namespace
