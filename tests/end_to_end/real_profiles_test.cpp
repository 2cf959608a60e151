// Current-day profiles written by Firefox ESR and Chromium (WAL-mode files,
// tables without row ids, tables of more than 20 columns): every table of
// every database of the browser's lists gets its file, whole, the files of
// the later versions included.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>

#include "support/fixture_database.h"
#include "support/report_page.h"
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

// A line ends with a cell's closing quote and comma: the line ends within
// a cell (a title's line feed, the bytes of an image) have no comma before.
long CountLineEnds(const std::string& text) {
  long count = 0;
  for (std::size_t at = 0; (at = text.find("\",\r\n", at)) != std::string::npos; at += 4) ++count;
  return count;
}

// reference: a copy of the evidence of its own, whose rows are counted.
void ExpectEveryTableExportedFrom(const std::filesystem::path& folder, const std::filesystem::path& reference,
                                  const std::string& letters, const std::vector<std::string>& databases) {
  for (char letter : letters) {
    SkvRun run = RunSkv(folder, StandardSettingsInput() + letter + "\n\nX\n");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.transcript.find("Could not"), std::string::npos) << letter << run.transcript;
    EXPECT_TRUE(run.transcript.ends_with("\nPress enter to continue" + BackToMenuTranscript())) << letter;
    for (const std::string& database : databases) {
      EXPECT_NE(run.transcript.find("Database " + database + " found.\n"), std::string::npos) << database;
      const std::map<std::string, long> counts = RowCounts(reference / database);
      EXPECT_FALSE(counts.empty()) << database;
      for (const auto& [table, rows] : counts) {
        std::string name = database;
        std::replace(name.begin(), name.end(), '/', '_');
        const std::filesystem::path csv = folder / (kFile + name + " " + table + ".csv");
        ASSERT_TRUE(std::filesystem::exists(csv)) << letter << " " << csv;
        const std::string bytes = ReadFileBytes(csv);
        EXPECT_EQ(CountLineEnds(bytes), rows == 0 ? 0 : rows + 1) << letter << " " << database << " " << table;
      }
    }
  }
}

void ExpectEveryTableExported(const std::string& profileFolder, const std::string& letters,
                              const std::vector<std::string>& databases) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/" + profileFolder, folder.path());
  TempFolder reference;
  CopyTestDataFolder("real-profiles/" + profileFolder, reference.path());
  ExpectEveryTableExportedFrom(folder.path(), reference.path(), letters, databases);
}

TEST(RealProfiles, FirefoxEsrExportsEveryTableRawAndDecoded) {
  ExpectEveryTableExported("firefox-esr", "AB",
                           {"content-prefs.sqlite", "cookies.sqlite", "formhistory.sqlite", "permissions.sqlite",
                            "places.sqlite", "favicons.sqlite"});
}

TEST(RealProfiles, ChromiumExportsEveryTableRawAndDecoded) {
  ExpectEveryTableExported("chromium", "FG", {"Cookies", "History", "Web Data", "Favicons", "Top Sites", "Login Data"});
}

// Cookies where Chrome keeps them since version 96: in the profile's Network
// folder, none at its top.
void MoveCookiesIntoNetworkFolder(const std::filesystem::path& profile) {
  std::filesystem::create_directory(profile / "Network");
  std::filesystem::rename(profile / "Cookies", profile / "Network" / "Cookies");
}

TEST(RealProfiles, ChromiumCookiesOfTheNetworkFolderExported) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/chromium", folder.path());
  MoveCookiesIntoNetworkFolder(folder.path());
  TempFolder reference;
  CopyTestDataFolder("real-profiles/chromium", reference.path());
  MoveCookiesIntoNetworkFolder(reference.path());
  ExpectEveryTableExportedFrom(folder.path(), reference.path(), "FG", {"Network/Cookies"});
}

// The microsecond times of the later files, in the case's format, against
// values worked out by hand from the stored ones: Chrome time counts
// microseconds from 1601, 11644473600 seconds before 1970.
TEST(RealProfiles, LaterFilesTimesDecoded) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/chromium", folder.path());
  CopyTestDataFolder("real-profiles/firefox-esr", folder.path());
  MoveCookiesIntoNetworkFolder(folder.path());
  RunSkv(folder.path(), StandardSettingsInput() + "G\n\nB\n\nX\n");
  TempFolder topCookiesFolder;
  CopyTestDataFolder("real-profiles/chromium", topCookiesFolder.path());
  // A profile copied before and after Chrome moved its cookies holds both
  // files, each with rows of its own: both are read, into files of their own.
  std::filesystem::create_directory(topCookiesFolder / "Network");
  std::filesystem::copy_file(topCookiesFolder / "Cookies", topCookiesFolder / "Network" / "Cookies");
  ExecuteSql(topCookiesFolder / "Network" / "Cookies", "DELETE FROM cookies WHERE rowid > 1;");
  const SkvRun topCookiesRun = RunSkv(topCookiesFolder.path(), StandardSettingsInput() + "G\n\nX\n");
  EXPECT_NE(topCookiesRun.transcript.find("Database Cookies found.\n  Processing Cookies > cookies\n"),
            std::string::npos);
  EXPECT_NE(topCookiesRun.transcript.find("Database Network/Cookies found.\n  Processing Network/Cookies > cookies\n"),
            std::string::npos)
      << topCookiesRun.transcript;
  const std::string networkCookies = ReadFileBytes(topCookiesFolder / (kFile + "Network_Cookies cookies.csv"));
  EXPECT_EQ(std::count(networkCookies.begin(), networkCookies.end(), '\n'), 2) << "the header and one cookie";
  // favicon_bitmaps id 1: last_updated 13441089855786806, 1796616255 s since
  // 1970, day 20794 (7 December 2026) and 14655 s (04:04:15); never
  // requested (0), which stays 0.
  const std::string bitmaps = ReadFileBytes(folder / (kFile + "Favicons favicon_bitmaps.csv"));
  EXPECT_TRUE(bitmaps.starts_with("\"id\",\"icon_id\",\"last_updated\",\"image_data\",\"width\",\"height\",\"last_requested\",\r\n"
                                  "\"1\",\"1\",\"07/12/2026 04:04:15\",")) << bitmaps.substr(0, 200);
  EXPECT_NE(bitmaps.find("\"16\",\"16\",\"0\",\r\n"), std::string::npos);
  // The first cookie by row id: created and last updated 13441089819993934 and
  // ...939 (04:03:39); expiring 13441176219993934 (a day later).
  const std::string cookies = ReadFileBytes(folder / (kFile + "Network_Cookies cookies.csv"));
  EXPECT_NE(cookies.find("\r\n\"07/12/2026 04:03:39\",\"127.0.0.1\",\"\",\"__Host-prefixed\","), std::string::npos);
  EXPECT_NE(cookies.find(",\"/\",\"08/12/2026 04:03:39\",\"1\",\"0\",\"07/12/2026 04:03:39\",\"1\",\"1\",\"1\",\"-1\",\"2\",\"443\",\"07/12/2026 04:03:39\","),
            std::string::npos);
  // The same file at the top of the profile keeps the rules of 2009 Chrome:
  // last_access_utc and last_update_utc as stored.
  const std::string topCookies = ReadFileBytes(topCookiesFolder / (kFile + "Cookies cookies.csv"));
  EXPECT_NE(topCookies.find(",\"13441089819993934\",\"1\",\"1\",\"1\",\"-1\",\"2\",\"443\",\"13441089819993939\","), std::string::npos);
  // Firefox keeps its icons' expiry in milliseconds: as stored.
  const std::string icons = ReadFileBytes(folder / (kFile + "favicons.sqlite moz_icons.csv"));
  EXPECT_NE(icons.find(",\"1797220918328\","), std::string::npos);
}

TEST(RealProfiles, ChromiumVisitTimesDecodeToTheDayTheyWereMade) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/chromium", folder.path());
  RunSkv(folder.path(), StandardSettingsInput() + "G\n\nX\n");
  const std::string visits = ReadFileBytes(folder / (kFile + "History visits.csv"));
  EXPECT_NE(visits.find("\"07/12/2026 04:03:35\""), std::string::npos);
}

}  // namespace

namespace {

// The fields of one line of the usage CSV report: quoted fields with their
// doubled quotes undone, bare fields as they stand.
std::vector<std::string> SplitCsvLine(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// The rows of a query as texts, NULL as empty; with an "icons" database
// attached when one is given.
std::vector<std::vector<std::string>> QueryRows(const std::filesystem::path& file, const std::string& sql,
                                                const std::filesystem::path& icons = {}) {
  std::vector<std::vector<std::string>> rows;
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  if (!icons.empty()) {
    const std::string attach = "ATTACH '" + icons.string() + "' AS icons";
    EXPECT_EQ(sqlite3_exec(db, attach.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  }
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
      row.emplace_back(text != nullptr ? text : "");
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

TEST(RealProfiles, FirefoxEsrUsageReportReadsEveryColumnByName) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/firefox-esr", folder.path());
  TempFolder reference;
  CopyTestDataFolder("real-profiles/firefox-esr", reference.path());
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "C\n\nX\n");
  const auto expected =
      QueryRows(reference / "places.sqlite",
                "SELECT p.url, p.frecency, v.from_visit, v.visit_type, p.visit_count, p.typed, p.hidden, v.visit_date "
                "FROM moz_historyvisits v LEFT JOIN moz_places p ON p.id = v.place_id ORDER BY v.visit_date");
  ASSERT_GT(expected.size(), 30u);
  EXPECT_NE(run.transcript.find("\n" + std::to_string(expected.size()) + " rows exported\n"), std::string::npos);

  const std::string csv = ReadFileBytes(folder / (kFile + "Internet Usage.csv"));
  std::vector<std::string> lines;
  for (std::size_t at = csv.find("\r\n") + 2, end; (end = csv.find("\r\n", at)) != std::string::npos; at = end + 2) {
    lines.push_back(csv.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::vector<std::string> fields = SplitCsvLine(lines[i]);
    ASSERT_EQ(fields.size(), 10u) << lines[i];
    const std::vector<std::string>& row = expected[i];
    EXPECT_EQ(fields[1], row[0]) << "URL of visit " << i;
    EXPECT_EQ(fields[6], row[1]) << "Frecency of visit " << i;
    EXPECT_EQ(fields[7], row[2]) << "From Visit of visit " << i;
    EXPECT_EQ(fields[8], row[3]) << "Visit Type of visit " << i;
    EXPECT_EQ(fields[3], row[4]) << "Visit Count of visit " << i;
    EXPECT_EQ(fields[4], row[5] == "0" ? "No" : "Yes") << "Typed of visit " << i;
    EXPECT_EQ(fields[5], row[6] == "0" ? "No" : "Yes") << "Hidden of visit " << i;
    // The visits were made on 2026-12-07 between 04:01:59 and 04:03:27 UTC.
    EXPECT_TRUE(fields[0].starts_with("07/12/2026 04:0")) << fields[0];
  }
}

TEST(RealProfiles, FirefoxEsrHtmlReportShowsTheIconsOfFaviconsSqlite) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/firefox-esr", folder.path());
  TempFolder reference;
  CopyTestDataFolder("real-profiles/firefox-esr", reference.path());
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "D\ny\n\nX\n");
  EXPECT_EQ(run.exitStatus, 0);

  // For each visit, oldest first: the id of its page's icon nearest 16
  // pixels wide, or nothing.
  const auto expected = QueryRows(
      reference / "places.sqlite",
      "SELECT (SELECT i.id FROM icons.moz_pages_w_icons pw JOIN icons.moz_icons_to_pages ip ON ip.page_id = pw.id "
      "JOIN icons.moz_icons i ON i.id = ip.icon_id WHERE pw.page_url = p.url ORDER BY abs(i.width - 16), i.id LIMIT 1) "
      "FROM moz_historyvisits v LEFT JOIN moz_places p ON p.id = v.place_id ORDER BY v.visit_date",
      reference / "favicons.sqlite");
  const std::string page = ReadFileBytes(folder / (kFile + "Internet Usage.html"));
  const std::vector<std::string> cells = FaviconCells(page);
  ASSERT_EQ(cells.size(), expected.size());
  std::size_t shown = 0;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const std::string& icon = expected[i][0];
    if (icon.empty()) {
      EXPECT_EQ(cells[i], "") << "visit " << i;
      continue;
    }
    ++shown;
    const std::string file = "favicon_" + icon + ".png";  // every icon of this profile is a PNG
    EXPECT_EQ(cells[i], "<img src=\"" + file + "\" width=\"16\" height=\"16\">") << "visit " << i;
    EXPECT_TRUE(ReadFileBytes(folder / file).starts_with("\x89PNG\r\n\x1A\n")) << file;
  }
  EXPECT_GT(shown, 20u);
}

}  // namespace
