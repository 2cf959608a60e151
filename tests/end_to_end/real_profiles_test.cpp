// Current-day profiles written by Firefox ESR and Chromium (WAL-mode files,
// tables without row ids, tables of more than 20 columns): every table of
// every database of the browser's list gets its file, whole.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>

#include "support/fixture_database.h"
#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

const std::string kFile = "2008-117 - Harbour Street - ";

// Table name to row count, for every table of a database.
std::map<std::string, long> RowCounts(const std::filesystem::path& file) {
  std::map<std::string, long> counts;
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::vector<std::string> tables;
  sqlite3_stmt* list = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table'", -1, &list, nullptr);
  while (sqlite3_step(list) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list, 0)));
  sqlite3_finalize(list);
  for (const std::string& table : tables) {
    sqlite3_stmt* count = nullptr;
    std::string sql = "SELECT count(*) FROM \"" + table + "\"";
    sqlite3_prepare_v2(db, sql.c_str(), -1, &count, nullptr);
    counts[table] = sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int64(count, 0) : -1;
    sqlite3_finalize(count);
  }
  sqlite3_close(db);
  return counts;
}

long CountLineEnds(const std::string& text) {
  long count = 0;
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++count;
  return count;
}

void ExpectEveryTableExported(const std::string& profileFolder, const std::string& letters,
                              const std::vector<std::string>& databases) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/" + profileFolder, folder.path());
  TempFolder reference;  // counted on a copy of their own
  CopyTestDataFolder("real-profiles/" + profileFolder, reference.path());
  for (char letter : letters) {
    SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + letter + "\n\nX\n");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.transcript.find("Could not"), std::string::npos) << letter << run.transcript;
    EXPECT_TRUE(run.transcript.ends_with("\nPress enter to continue" + BackToMenuTranscript())) << letter;
    for (const std::string& database : databases) {
      EXPECT_NE(run.transcript.find("Database " + database + " found.\n"), std::string::npos) << database;
      const std::map<std::string, long> counts = RowCounts(reference / database);
      EXPECT_FALSE(counts.empty()) << database;
      for (const auto& [table, rows] : counts) {
        const std::filesystem::path csv = folder / (kFile + database + " " + table + ".csv");
        ASSERT_TRUE(std::filesystem::exists(csv)) << letter << " " << csv;
        const std::string bytes = ReadFileBytes(csv);
        EXPECT_EQ(CountLineEnds(bytes), rows == 0 ? 0 : rows + 1) << letter << " " << database << " " << table;
      }
    }
  }
}

TEST(RealProfiles, FirefoxEsrExportsEveryTableRawAndDecoded) {
  ExpectEveryTableExported("firefox-esr", "AB",
                           {"content-prefs.sqlite", "cookies.sqlite", "formhistory.sqlite", "permissions.sqlite",
                            "places.sqlite"});
}

TEST(RealProfiles, ChromiumExportsEveryTableRawAndDecoded) {
  ExpectEveryTableExported("chromium", "FG", {"Cookies", "History", "Web Data"});
}

TEST(RealProfiles, ChromiumVisitTimesDecodeToTheDayTheyWereMade) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/chromium", folder.path());
  RunSkv(folder.path(), StandardSettingsInput() + "G\n\nX\n");
  const std::string visits = ReadFileBytes(folder / (kFile + "History visits.csv"));
  EXPECT_NE(visits.find("\"07/12/2026 04:03:35\""), std::string::npos);
}

}  // namespace
