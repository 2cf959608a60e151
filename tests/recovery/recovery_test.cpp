// Menu tasks I and J: deleted records recovered from the SQLite Forensic
// Corpus, whose ground truth says which rows were deleted, and from
// fixtures made through SQLite for each place a record may stand.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/fixture_database.h"
#include "support/record_bytes.h"
#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

const std::string kPrefix = "2008-117 - Harbour Street - ";

// The records of a CSV file as the tool writes them: every field quoted,
// every line ending with a comma and CR LF.
std::vector<std::vector<std::string>> ReadCsv(const std::string& bytes) {
  std::vector<std::vector<std::string>> records(1);
  std::string field;
  bool quoted = false;
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    const char c = bytes[at];
    if (quoted) {
      if (c == '"' && at + 1 < bytes.size() && bytes[at + 1] == '"') {
        field += '"';
        ++at;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      records.back().push_back(field);
      field.clear();
    } else if (c == '\n') {
      records.emplace_back();
    }
  }
  records.pop_back();  // after the last line end
  return records;
}

// A file of recovered records: its table (or "" for the unattributed one)
// and its rows, the provenance columns left out.
struct Recovered {
  std::vector<std::vector<std::string>> rows;
};

std::vector<Recovered> RecoveredFiles(const fs::path& folder, const std::string& database) {
  std::vector<Recovered> files;
  const std::string start = kPrefix + database + " ";
  for (const std::string& name : FileNames(folder)) {
    if (!name.starts_with(start) || !name.ends_with(" (recovered).csv")) continue;
    Recovered file;
    auto records = ReadCsv(ReadFileBytes(folder / name));
    for (std::size_t row = 1; row < records.size(); ++row) {
      file.rows.emplace_back(records[row].begin(), records[row].end() - 3);
    }
    files.push_back(std::move(file));
  }
  return files;
}

struct TruthRow {
  std::string table;
  bool deleted;
  std::vector<std::string> values;  // in the truth's column order; "\N" for NULL
};

// A value the truth leaves open (a BLOB's bytes): any cell matches it.
const std::string kAnyValue = "\x01any";

std::string Unescape(const std::string& field) {
  if (field == "\\*") return kAnyValue;
  std::string value;
  for (std::size_t at = 0; at < field.size(); ++at) {
    if (field[at] != '\\' || at + 1 == field.size()) {
      value += field[at];
      continue;
    }
    const char next = field[++at];
    value += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'N' ? '\0' : next;
  }
  return value == std::string(1, '\0') ? "" : value;  // NULL is written as an empty cell
}

std::vector<TruthRow> ReadTruth(const fs::path& file) {
  std::vector<TruthRow> rows;
  std::istringstream lines(ReadFileBytes(file));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(Unescape(cell));
    rows.push_back({fields[0], fields[1] == "1", {fields.begin() + 2, fields.end()}});
  }
  return rows;
}

// A time as the tool decodes it with the case's English dates and offset 0:
// "06/12/2008 16:15:12", from seconds since 1970.
std::string EnglishDate(std::int64_t seconds) {
  const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const std::int64_t time = seconds - days * 86400;
  // Days since 1970 to a civil date, for the proleptic Gregorian calendar.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2);
  char text[128];
  std::snprintf(text, sizeof text, "%02lld/%02lld/%04lld %02lld:%02lld:%02lld", static_cast<long long>(day),
                static_cast<long long>(month), static_cast<long long>(year), static_cast<long long>(time / 3600),
                static_cast<long long>(time / 60 % 60), static_cast<long long>(time % 60));
  return text;
}

// Whether a cell is the truth's number decoded as one of the browsers'
// times: microseconds since 1970 (PRtime) or since 1601 (Chrome),
// milliseconds or seconds since 1970.
bool IsDecodedTime(const std::string& got, const std::string& truth) {
  if (got.size() != 19) return false;
  char* end = nullptr;
  const std::int64_t value = std::strtoll(truth.c_str(), &end, 10);
  if (truth.empty() || *end != '\0') return false;
  for (const std::int64_t seconds : {value / 1000000, value / 1000000 - std::int64_t{11644473600}, value / 1000, value}) {
    if (seconds > -62135596800 && seconds < 253402300800 && EnglishDate(seconds) == got) return true;
  }
  return false;
}

bool SameNumberOrText(const std::string& got, const std::string& truth) {
  if (got == truth || truth == kAnyValue || IsDecodedTime(got, truth)) return true;
  char* end = nullptr;
  const double a = std::strtod(got.c_str(), &end);
  if (got.empty() || *end != '\0') return false;
  const double b = std::strtod(truth.c_str(), &end);
  return !truth.empty() && *end == '\0' && a == b;
}

// A recovered row is a truth row when every value is, column for column:
// both are in schema order, whichever table the row was written to (a
// table dropped goes to the unattributed file, a record of a table whose
// page another of the same shape took goes to that one's).
bool Matches(const std::vector<std::string>& row, const TruthRow& truth) {
  if (row.size() < truth.values.size()) return false;
  for (std::size_t column = 0; column < truth.values.size(); ++column) {
    if (!SameNumberOrText(row[column], truth.values[column])) return false;
  }
  for (std::size_t column = truth.values.size(); column < row.size(); ++column) {
    if (!row[column].empty()) return false;
  }
  return true;
}

struct Tally {
  int deleted = 0;
  int recovered = 0;
  int written = 0;
  int phantoms = 0;  // rows matching no row of the truth
  int live = 0;      // live rows written again
};

// Each database of a category, copied alone into a folder as "History", J
// run there, and what it wrote matched against the truth.
Tally RecoverCategory(const std::string& category) {
  Tally tally;
  const fs::path folder = fs::path(TEST_DATA_DIR) / "sqlite-forensic-corpus" / category;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".db") continue;
    TempFolder work;
    fs::copy_file(entry.path(), work / "History");
    SkvRun run = RunAnswers(work.path(), "J\n\n");
    EXPECT_EQ(run.exitStatus, 0) << entry.path();
    const std::vector<TruthRow> truth = ReadTruth(fs::path(entry.path()).replace_extension(".truth"));
    std::vector<bool> found(truth.size(), false);
    for (const Recovered& file : RecoveredFiles(work.path(), "History")) {
      for (const auto& row : file.rows) {
        ++tally.written;
        bool deleted = false;
        bool live = false;
        for (std::size_t i = 0; i < truth.size(); ++i) {
          if (!Matches(row, truth[i])) continue;
          (truth[i].deleted ? deleted : live) = true;
          if (truth[i].deleted) found[i] = true;
        }
        if (!deleted && live) ++tally.live;
        if (!deleted && !live) ++tally.phantoms;
      }
    }
    for (std::size_t i = 0; i < truth.size(); ++i) {
      tally.deleted += truth[i].deleted;
      tally.recovered += truth[i].deleted && found[i];
    }
  }
  return tally;
}

// The corpus, category by category: at least the records recovered when
// this was written (docs/recovery.md has the figures beside other tools'),
// and never a live row nor more than one row in fifty that is no row.
TEST(Recovery, ForensicCorpusCategories) {
  struct Expected {
    const char* category;
    int recovered;  // at least
  };
  for (const Expected& expected : {Expected{"07", 1}, Expected{"0A", 100}, Expected{"0B", 8}, Expected{"0C", 101},
                                   Expected{"0D", 19}, Expected{"0E", 3}}) {
    const Tally tally = RecoverCategory(expected.category);
    EXPECT_GE(tally.recovered, expected.recovered) << expected.category;
    EXPECT_EQ(tally.live, 0) << expected.category;
    EXPECT_LE(tally.phantoms * 50, tally.written) << expected.category;
  }
}


// A file of recovered records with its table: the rows, without their
// provenance, and the certainty of each.
struct TableRecovered {
  std::string table;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> certainties;
};

std::vector<TableRecovered> RecoveredTables(const fs::path& folder, const std::vector<std::string>& databases) {
  std::vector<TableRecovered> files;
  for (const std::string& name : FileNames(folder)) {
    const std::string suffix = " (recovered).csv";
    if (!name.starts_with(kPrefix) || !name.ends_with(suffix)) continue;
    for (const std::string& database : databases) {
      const std::string start = kPrefix + database + " ";
      if (!name.starts_with(start)) continue;
      TableRecovered file{name.substr(start.size(), name.size() - start.size() - suffix.size()), {}, {}};
      const auto records = ReadCsv(ReadFileBytes(folder / name));
      for (std::size_t row = 1; row < records.size(); ++row) {
        file.rows.emplace_back(records[row].begin(), records[row].end() - 3);
        file.certainties.push_back(records[row].back());
      }
      files.push_back(std::move(file));
    }
  }
  return files;
}

// A value as a record stores it: its serial type and its bytes in the body.
// An integer takes the fewest of 1, 2, 3, 4, 6 or 8 bytes (0 and 1 none), a
// real 8, a text its own; an empty cell is taken for NULL.
std::pair<std::uint64_t, std::string> StoredValue(const std::string& value) {
  if (value.empty()) return {0, ""};
  char* end = nullptr;
  const long long number = std::strtoll(value.c_str(), &end, 10);
  if (*end == '\0') {
    if (number == 0 || number == 1) return {8 + static_cast<std::uint64_t>(number), ""};
    const std::pair<int, std::uint64_t> widths[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {6, 5}, {8, 6}};
    for (const auto& [width, type] : widths) {
      if (width < 8 && (number < -(1LL << (8 * width - 1)) || number >= (1LL << (8 * width - 1)))) continue;
      std::string big;
      for (int i = width - 1; i >= 0; --i) big += static_cast<char>(static_cast<unsigned long long>(number) >> (8 * i));
      return {type, big};
    }
  }
  const double real = std::strtod(value.c_str(), &end);
  if (*end == '\0') {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &real, sizeof bits);
    std::string big;
    for (int i = 7; i >= 0; --i) big += static_cast<char>(bits >> (8 * i));
    return {7, big};
  }
  return {13 + 2 * value.size(), value};
}

// Whether the files still hold a truth row: its record, header and body, as
// SQLite writes it, with its first value or with NULL for it (the row id,
// which the record does not keep). A row with a value the truth leaves open
// (a BLOB) is looked for by the parts of its body around it; one whose
// record is shorter than 8 bytes cannot be told from other bytes.
bool StillPresent(const std::vector<std::string>& values, const std::string& bytes) {
  const bool open = std::find(values.begin(), values.end(), kAnyValue) != values.end();
  for (const bool firstIsRowId : {false, true}) {
    std::vector<std::string> parts(1);
    std::string types;
    for (std::size_t column = 0; column < values.size(); ++column) {
      if (values[column] == kAnyValue) {
        parts.emplace_back();
        continue;
      }
      const auto [type, stored] = StoredValue(column == 0 && firstIsRowId ? "" : values[column]);
      types += Varint(type);
      parts.back() += stored;
    }
    if (!open) {
      std::string header = Varint(1 + types.size()) + types;
      if (header.size() != 1 + types.size()) header = Varint(2 + types.size()) + types;
      parts.front().insert(0, header);
    }
    std::size_t size = 0;
    bool found = true;
    for (const std::string& part : parts) {
      size += part.size();
      found = found && (part.empty() || bytes.find(part) != std::string::npos);
    }
    if (size >= 8 && found) return true;
  }
  return false;
}

// Cases of the browsers' own deletions (tools/browser-cases): Firefox ESR
// and Chromium on fresh profiles, pages of a local server visited, history
// deleted through the browser's own code, the browser killed. Each archive
// holds the evidence and the browser's rows before and after the deletion.
// Every deleted row the files still hold is recovered, WITHOUT ROWID rows
// included; no row written is no row of the browser's (an earlier version
// of a row it had is one), none is a live row again; and the Recovered
// Internet Usage report shows each visit with the URL the browser gave it.
TEST(Recovery, BrowsersOwnDeletions) {
  struct Browser {
    std::string prefix;  // of its archives
    std::string task;
    std::vector<std::string> databases;
    std::string report;
    std::string visits, pages;  // tables
    std::size_t visitPage, visitDate;  // columns of the visits table
  };
  const Browser browsers[] = {
      {"firefox-", "I", {"places.sqlite", "favicons.sqlite"}, "Recovered Internet Usage", "moz_historyvisits",
       "moz_places", 2, 3},
      {"chromium-", "J", {"History", "Favicons"}, "Recovered Chrome Internet Usage", "visits", "urls", 1, 2},
  };
  const fs::path archives = fs::path(TEST_DATA_DIR) / "browser-deletions";
  int cases = 0;
  for (const Browser& browser : browsers) {
    Tally tally;
    int present = 0;
    for (const std::string& archive : FileNames(archives)) {
      if (!archive.starts_with(browser.prefix)) continue;
      ++cases;
      TempFolder work;
      ASSERT_EQ(std::system(("tar -xzf '" + (archives / archive).string() + "' -C '" + work.path().string() + "'").c_str()), 0);
      const fs::path folder = work / archive.substr(0, archive.size() - std::string(".tar.gz").size());
      const std::vector<TruthRow> truth = ReadTruth(folder / "truth.tsv");
      fs::rename(folder / "truth.tsv", work / "truth.tsv");
      std::string evidence;
      for (const std::string& name : FileNames(folder)) evidence += ReadFileBytes(folder / name);
      SkvRun run = RunAnswers(folder, browser.task + "\n\n");
      ASSERT_EQ(run.exitStatus, 0) << archive;

      std::vector<bool> found(truth.size(), false);
      for (const TableRecovered& file : RecoveredTables(folder, browser.databases)) {
        for (std::size_t row = 0; row < file.rows.size(); ++row) {
          ++tally.written;
          bool deleted = false;
          bool live = false;
          bool version = false;  // of a row the truth has: its key and next column the same
          for (std::size_t i = 0; i < truth.size(); ++i) {
            if (truth[i].table != file.table || truth[i].values.size() != file.rows[row].size()) continue;
            if (Matches(file.rows[row], truth[i])) {
              (truth[i].deleted ? deleted : live) = true;
              found[i] = found[i] || truth[i].deleted;
            }
            version = version || (file.rows[row].size() > 1 && SameNumberOrText(file.rows[row][0], truth[i].values[0]) &&
                                  SameNumberOrText(file.rows[row][1], truth[i].values[1]));
          }
          if (!deleted && live) ++tally.live;
          if (!deleted && !live && !version) {
            ++tally.phantoms;
            ADD_FAILURE() << archive << ": " << file.table << " row " << row << " is no row the browser had";
          }
        }
      }
      for (std::size_t i = 0; i < truth.size(); ++i) {
        tally.deleted += truth[i].deleted;
        if (!truth[i].deleted || !StillPresent(truth[i].values, evidence)) continue;
        ++present;
        tally.recovered += found[i];
        EXPECT_TRUE(found[i]) << archive << ": a deleted row of " << truth[i].table << " still present, not recovered";
      }

      // The report's visits against the browser's own history: the URL of
      // the page of each visit of that date.
      std::map<std::string, std::string> urls;  // by page id
      std::set<std::pair<std::string, std::string>> visits;  // (decoded date, URL)
      for (const TruthRow& row : truth) {
        if (row.table == browser.pages) urls[row.values[0]] = row.values[1];
      }
      for (const TruthRow& row : truth) {
        if (row.table != browser.visits) continue;
        const std::string& raw = row.values[browser.visitDate];
        const long long value = std::strtoll(raw.c_str(), nullptr, 10);
        const std::int64_t seconds = browser.task == "I" ? value / 1000000 : value / 1000000 - 11644473600LL;
        visits.emplace(EnglishDate(seconds), urls[row.values[browser.visitPage]]);
      }
      const fs::path report = folder / (kPrefix + browser.report + ".csv");
      if (!fs::exists(report)) continue;
      std::istringstream lines(ReadFileBytes(report));
      std::string line;
      std::getline(lines, line);  // the heading
      while (std::getline(lines, line)) {
        const std::vector<std::vector<std::string>> cells = ReadCsv(line + ",\n");
        ASSERT_FALSE(cells.empty());
        const std::string date = line.starts_with("\"") ? line.substr(1, 19) : "";
        const std::size_t url = line.find(",\"", date.empty() ? 0 : 21);
        const std::string urlText = url == std::string::npos ? "" : line.substr(url + 2, line.find('"', url + 2) - url - 2);
        const bool pageFound = line.find(",\"live page\",") != std::string::npos ||
                               line.find(",\"recovered page\",") != std::string::npos;
        if (!pageFound) continue;
        EXPECT_TRUE(urlText.starts_with("http://")) << archive << ": " << line;
        if (!date.empty()) {
          EXPECT_TRUE(visits.contains({date, urlText})) << archive << ": " << line;
        }
      }
    }
    EXPECT_EQ(tally.live, 0) << browser.prefix;
    EXPECT_EQ(tally.phantoms, 0) << browser.prefix;
    EXPECT_GE(tally.recovered * 100, present * 97) << browser.prefix << tally.recovered << " of " << present;
  }
  EXPECT_GE(cases, 4);
}


std::string Places(int from, int to, const std::string& titleTail = "") {
  std::string sql;
  for (int id = from; id <= to; ++id) {
    const std::string n = std::to_string(id);
    sql += "INSERT INTO moz_places VALUES (" + n + ", 'http://site" + n + ".example/', 'Title " + n + titleTail +
           "', '.', " + n + ", 0, 1, NULL, " + n + "00);";
  }
  return sql;
}

// A places.sqlite of two places, and a table of notes made and dropped: a
// shape no table of places.sqlite has (a record of a dropped table that fits
// a live one is taken for that one's).
void DropNotes(const fs::path& file) {
  CreateBrowserDatabase(file, "firefox3/places.sql", Places(1, 2));
  ExecuteSql(file, "PRAGMA secure_delete = OFF; CREATE TABLE notes (body TEXT, at INTEGER, place TEXT);"
                   "INSERT INTO notes VALUES ('meet at the harbour', 1228580112, 'pier 4'); DROP TABLE notes;");
}

// Today's favicons.sqlite, its link of pages to icons a WITHOUT ROWID table
// keyed by page and icon, with 400 links of 1 KiB pages: six leaves under an
// interior root, whose cells hold links of their own.
const std::string kLinkIcons =
    "CREATE TABLE moz_icons_to_pages (page_id INTEGER NOT NULL, icon_id INTEGER NOT NULL,"
    " expire_ms INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (page_id, icon_id)) WITHOUT ROWID;"
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
    "INSERT INTO moz_icons_to_pages SELECT i, i % 7 + 1, 1700000000000 + i FROM n;";

void LinkIcons(const fs::path& file, const std::string& journal) {
  ExecuteSql(file, "PRAGMA page_size = 1024;" + journal + kLinkIcons);
}

// Files made in a staging folder by a connection still open, as a killed
// browser leaves them: the database and its WAL, never checkpointed.
void CopyBeforeCheckpoint(const fs::path& staging, const fs::path& folder, const std::string& database) {
  for (const char* suffix : {"", "-wal"}) fs::copy_file(staging / (database + suffix), folder / (database + suffix));
}

// Each place a deleted record may stand, made through SQLite as a browser
// leaves it: the recovered rows of moz_places (or of a dropped table, of a
// WITHOUT ROWID table, of an index), where they were found and how sure the
// reading is; and no live row among them.
TEST(Recovery, EachPlaceADeletedRecordStands) {
  struct Case {
    std::string name;
    std::function<void(const fs::path& folder, const fs::path& staging)> make;
    std::string file;       // the recovered file
    std::string row;        // the start of a row it holds
    std::string foundIn;    // the start of its "Found in"
    std::string certainty;
    std::string said = "";  // a line of the transcript
    std::string kind = " (recovered)";
  };
  const std::string longTail(3000, 'x');
  const Case cases[] = {
      {"free space of a page: the first bytes overwritten",
       [](const fs::path& folder, const fs::path&) {
         CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", Places(1, 5));
         ExecuteSql(folder / "places.sqlite", "PRAGMA secure_delete = OFF; DELETE FROM moz_places WHERE id IN (2, 4);");
       },
       "places.sqlite moz_places", "\"\",\"http://site4.example/\",\"Title 4\",\".\",\"4\",\"0\",\"1\",\"\",\"400\",",
       "places.sqlite, free space of page ", "a record whose row id and first bytes were overwritten"},
      {"a page on the freelist",
       [](const fs::path& folder, const fs::path&) {
         CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", Places(1, 200));
         ExecuteSql(folder / "places.sqlite", "PRAGMA secure_delete = OFF; DELETE FROM moz_places WHERE id > 3;");
       },
       "places.sqlite moz_places", "\"150\",\"http://site150.example/\",\"Title 150\",", "places.sqlite, freelist page ",
       "a whole record"},
      {"an overflow record on a freed page",
       [&longTail](const fs::path& folder, const fs::path&) {
         CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", Places(1, 6, longTail));
         ExecuteSql(folder / "places.sqlite", "PRAGMA secure_delete = OFF; DELETE FROM moz_places WHERE id > 1;");
       },
       "places.sqlite moz_places", "\"4\",\"http://site4.example/\",\"Title 4" + longTail + "\",",
       "places.sqlite, freelist page ", "a whole record"},
      {"the main file's image of a page that a WAL frame replaces",
       [](const fs::path& folder, const fs::path& staging) {
         CreateBrowserDatabase(staging / "places.sqlite", "firefox3/places.sql", Places(1, 5));
         OpenConnection browser(staging / "places.sqlite");
         browser.Run("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; PRAGMA secure_delete = ON;"
                     "DELETE FROM moz_places WHERE id = 3;");
         for (const char* suffix : {"", "-wal"}) fs::copy_file(staging / ("places.sqlite" + std::string(suffix)), folder / ("places.sqlite" + std::string(suffix)));
       },
       "places.sqlite moz_places", "\"3\",\"http://site3.example/\",\"Title 3\",",
       "places.sqlite, page ", "a whole record"},
      {"the page images of a journal kept after its transaction",
       [](const fs::path& folder, const fs::path&) {
         CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", Places(1, 5));
         ExecuteSql(folder / "places.sqlite", "PRAGMA journal_mode = PERSIST; PRAGMA secure_delete = ON;"
                                              "DELETE FROM moz_places WHERE id = 2;");
       },
       "places.sqlite moz_places", "\"2\",\"http://site2.example/\",\"Title 2\",",
       "places.sqlite-journal, page ", "a whole record"},
      {"a dropped table, its statement on a page of the schema table after the first",
       [](const fs::path& folder, const fs::path&) { DropNotes(folder / "places.sqlite"); },
       "places.sqlite notes (dropped table)", "\"meet at the harbour\",\"1228580112\",\"pier 4\",",
       "places.sqlite, freelist page ",
       "a whole record"},
      // Its texts hold no bits of their own: the records are taken where
      // pointers lead, on the freed leaves, not on the root page that the
      // freelist's trunk overwrote.
      {"a dropped table of a UTF-16 database",
       [](const fs::path& folder, const fs::path&) {
         ExecuteSql(folder / "places.sqlite",
                    "PRAGMA encoding = 'UTF-16le'; PRAGMA secure_delete = OFF;"
                    "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR);"
                    "INSERT INTO moz_places VALUES (1, 'http://site1.example/');"
                    "CREATE TABLE notes (body TEXT, at INTEGER, place TEXT);"
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100) "
                    "INSERT INTO notes SELECT 'meet at the harbour', 1228580111 + i, 'pier ' || i FROM n;"
                    "DROP TABLE notes;");
       },
       "places.sqlite notes (dropped table)", "\"meet at the harbour\",\"1228580112\",\"pier 1\",",
       "places.sqlite, freelist page ", "a whole record"},
      {"a dropped table whose statement is gone",
       [](const fs::path& folder, const fs::path&) {
         DropNotes(folder / "places.sqlite");
         // The deleted schema record's statement overwritten.
         std::string bytes = ReadFileBytes(folder / "places.sqlite");
         const std::size_t statement = bytes.find("CREATE TABLE notes");
         ASSERT_NE(statement, std::string::npos);
         bytes.replace(statement, 18, 18, 'x');
         WriteFileBytes(folder / "places.sqlite", bytes);
       },
       "places.sqlite (unattributed)", "\"meet at the harbour\",\"1228580112\",\"pier 4\",",
       "places.sqlite, freelist page ",
       "a whole record"},
      {"a WITHOUT ROWID table's rows on freed pages",
       [](const fs::path& folder, const fs::path&) {
         LinkIcons(folder / "favicons.sqlite", "PRAGMA secure_delete = OFF;");
         ExecuteSql(folder / "favicons.sqlite", "PRAGMA secure_delete = OFF; DELETE FROM moz_icons_to_pages WHERE page_id > 20;");
       },
       "favicons.sqlite moz_icons_to_pages", "\"50\",\"2\",\"1700000000050\",", "favicons.sqlite, freelist page ",
       "a whole record"},
      {"a WITHOUT ROWID table's rows, leaf and interior, in the main file's images that WAL frames replace",
       [](const fs::path& folder, const fs::path& staging) {
         LinkIcons(staging / "favicons.sqlite", "");
         OpenConnection browser(staging / "favicons.sqlite");
         browser.Run("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; PRAGMA secure_delete = ON;"
                     "DELETE FROM moz_icons_to_pages WHERE page_id > 1;"
                     "UPDATE moz_icons_to_pages SET expire_ms = 5 WHERE page_id = 1;");
         CopyBeforeCheckpoint(staging, folder, "favicons.sqlite");
       },
       "favicons.sqlite moz_icons_to_pages", "\"1\",\"2\",\"1700000000001\",", "favicons.sqlite, page ",
       "an earlier version of the live row of its primary key", "  moz_icons_to_pages: 400 recovered\n"},
      {"a WITHOUT ROWID table's rows in the WAL's older frames of their pages",
       [](const fs::path& folder, const fs::path& staging) {
         OpenConnection browser(staging / "favicons.sqlite");
         browser.Run("PRAGMA page_size = 1024; PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;"
                     "PRAGMA secure_delete = ON;" + kLinkIcons + "DELETE FROM moz_icons_to_pages WHERE page_id > 1;");
         CopyBeforeCheckpoint(staging, folder, "favicons.sqlite");
       },
       "favicons.sqlite moz_icons_to_pages", "\"2\",\"3\",\"1700000000002\",", "favicons.sqlite-wal, frame ",
       "a whole record", "  moz_icons_to_pages: 399 recovered\n"},
      {"the index entries of a deleted row whose record is overwritten",
       [](const fs::path& folder, const fs::path& staging) {
         CreateBrowserDatabase(staging / "places.sqlite", "firefox3/places.sql", Places(1, 5));
         OpenConnection browser(staging / "places.sqlite");
         browser.Run("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; PRAGMA secure_delete = ON;"
                     "DELETE FROM moz_places WHERE id = 3;");
         CopyBeforeCheckpoint(staging, folder, "places.sqlite");
         // The record's cell in the main file's older image of its page, from
         // its payload length to the end of its title, overwritten.
         std::string bytes = ReadFileBytes(folder / "places.sqlite");
         const std::size_t values = bytes.find("http://site3.example/Title 3");
         ASSERT_NE(values, std::string::npos);
         bytes.replace(values - 12, 12 + 28, 12 + 28, '\0');
         WriteFileBytes(folder / "places.sqlite", bytes);
       },
       "places.sqlite moz_places", "\"http://site3.example/\",\"\",\"\",\"\",\"\",\"3\",\"moz_places_url_uniqueindex\",",
       "places.sqlite, page ", "a whole record", "  moz_places index entries: 5 recovered\n", " (recovered index entries)"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    TempFolder staging;
    c.make(folder.path(), staging.path());
    SkvRun run = RunAnswers(folder.path(), "I\n\n");
    EXPECT_EQ(run.exitStatus, 0) << c.name;
    const std::string recovered = folder / (kPrefix + c.file + c.kind + ".csv");
    ASSERT_TRUE(fs::exists(recovered)) << c.name << "\n" << run.transcript;
    const std::string bytes = ReadFileBytes(recovered);
    const std::size_t row = bytes.find("\r\n" + c.row);
    ASSERT_NE(row, std::string::npos) << c.name << "\n" << bytes;
    const std::string line = bytes.substr(row + 2, bytes.find("\r\n", row + 2) - row - 2);
    EXPECT_NE(line.find(",\"" + c.foundIn), std::string::npos) << c.name << ": " << line;
    EXPECT_TRUE(line.ends_with(",\"" + c.certainty + "\",")) << c.name << ": " << line;
    // No live row again: row 1 stays in every case.
    EXPECT_EQ(bytes.find("\"http://site1.example/\""), std::string::npos) << c.name;
    EXPECT_NE(run.transcript.find("records recovered\n\nPress enter to continue"), std::string::npos) << c.name;
    EXPECT_NE(run.transcript.find(c.said), std::string::npos) << c.name << "\n" << run.transcript;
  }
}

// The report of recovered usage, as a killed browser leaves places.sqlite:
// visits deleted whose page is live, whose page was deleted too (found in
// the main file's older image), and whose page never was; then a deleted
// page no visit reaches. Each visit with its page's cells, where the page
// came from, and where the visit was found; no live visit again.
TEST(Recovery, RecoveredUsageJoinsVisitsWithLiveRecoveredOrNoPages) {
  TempFolder folder;
  TempFolder staging;
  std::string visits;
  for (const auto& [id, place] : {std::pair{1, 1}, {2, 2}, {3, 3}, {4, 99}, {5, 5}}) {
    // The later a visit's id, the earlier its date: the report goes by date.
    visits += "INSERT INTO moz_historyvisits VALUES (" + std::to_string(id) + ", 0, " + std::to_string(place) + ", " +
              std::to_string(1228580112 + 60 * (5 - id)) + "000000, 1, 7);";
  }
  CreateBrowserDatabase(staging / "places.sqlite", "firefox3/places.sql", Places(1, 6) + visits);
  {
    OpenConnection browser(staging / "places.sqlite");
    browser.Run("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; PRAGMA secure_delete = ON;"
                "DELETE FROM moz_historyvisits WHERE id < 5; DELETE FROM moz_places WHERE id IN (2, 3, 6);");
    CopyBeforeCheckpoint(staging.path(), folder.path(), "places.sqlite");
  }
  SkvRun run = RunAnswers(folder.path(), "I\n\n");
  ASSERT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.transcript.find("  Recovered Internet Usage: 5 lines\n"), std::string::npos) << run.transcript;
  // The page numbers of where each was found are SQLite's choice.
  std::string report = ReadFileBytes(folder / (kPrefix + "Recovered Internet Usage.csv"));
  for (std::size_t at = 0; (at = report.find("page ", at)) != std::string::npos;) {
    at += 5;
    const std::size_t digits = report.find_first_not_of("0123456789", at);
    if (digits > at) report.replace(at, digits - at, "N");
  }
  // The deleting of the visits took one from each page's visit count (the
  // schema's trigger): pages 2 and 3 are given as they were then, their
  // newest records, found in the WAL's first commit.
  const std::string older = ",\"places.sqlite, page N, older than its WAL frame\",\"a whole record\"\r\n";
  EXPECT_EQ(report,
            "Visit Date,URL,Title,Visit Count,Typed,Hidden,Frecency,From Visit,Visit Type,Session,Page From,Found in,"
            "Certainty\r\n"
            "\"06/12/2008 16:16:12\",,,0,No,No,0,0,1,7,\"no page found\"" + older +
            "\"06/12/2008 16:17:12\",\"http://site3.example/\",\"Title 3\",2,Yes,No,300,0,1,7,\"recovered page\"" + older +
            "\"06/12/2008 16:18:12\",\"http://site2.example/\",\"Title 2\",1,Yes,No,200,0,1,7,\"recovered page\"" + older +
            "\"06/12/2008 16:19:12\",\"http://site1.example/\",\"Title 1\",0,Yes,No,100,0,1,7,\"live page\"" + older +
            ",\"http://site6.example/\",\"Title 6\",6,Yes,No,600,,,,\"recovered page\"" + older);
}

// Files that are no database, or a database cut short or damaged, are
// searched as far as they go: no crash, the run goes on, and a file that is
// no database at all is said so.
TEST(Recovery, DamagedAndTruncatedFilesAreSurvived) {
  TempFolder staging;
  CreateBrowserDatabase(staging / "places.sqlite", "firefox3/places.sql", Places(1, 300));
  ExecuteSql(staging / "places.sqlite", "PRAGMA secure_delete = OFF; DELETE FROM moz_places WHERE id % 3 = 0;");
  const std::string whole = ReadFileBytes(staging / "places.sqlite");
  for (std::size_t cut : {std::size_t{0}, std::size_t{50}, std::size_t{100}, std::size_t{1500}, whole.size() / 2,
                          whole.size() - 7}) {
    TempFolder folder;
    std::string bytes = whole.substr(0, cut);
    WriteFileBytes(folder / "places.sqlite", bytes);
    SkvRun run = RunAnswers(folder.path(), "I\n\n");
    EXPECT_EQ(run.exitStatus, 0) << cut;
    EXPECT_NE(run.transcript.find("records recovered\n\nPress enter to continue"), std::string::npos) << cut;
    if (cut < 100) {
      EXPECT_NE(run.transcript.find("  Passed over: no SQLite database header\n"), std::string::npos) << cut;
    }
  }
  // Every byte flipped in turn would take long; every 1009th byte reaches
  // headers, pointers, records and free space alike.
  for (std::size_t at = 0; at < whole.size(); at += 1009) {
    TempFolder folder;
    std::string bytes = whole;
    bytes[at] = static_cast<char>(bytes[at] ^ 0xA5);
    WriteFileBytes(folder / "places.sqlite", bytes);
    SkvRun run = RunAnswers(folder.path(), "I\n\n");
    ASSERT_EQ(run.exitStatus, 0) << at;
  }
}

// A freeblock of thousands of freed records, each but the first after the
// stale freeblock header that took its first bytes: the size of the first
// record's lost first value is borne out by the chain of all the others,
// which is followed without a stack that grows with it (the run has 512 KiB).
TEST(Recovery, ALongChainOfFreedRecordsIsFollowedInLittleStack) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "History", "chrome/history.sql", "");
  // Row 1 is written last, so that it stands lowest in the page, below the
  // freed rows; the row ids below 128 leave a lost first serial type.
  ExecuteSql(folder / "History",
             "PRAGMA page_size = 65536; VACUUM; PRAGMA secure_delete = OFF;"
             "WITH RECURSIVE n(i) AS (SELECT 3500 UNION ALL SELECT i - 1 FROM n WHERE i > 1) "
             "INSERT INTO keyword_search_terms (rowid, keyword_id, url_id, lower_term, term) "
             "SELECT i, i % 50 + 2, i, 'a', 'a' FROM n;"
             "DELETE FROM keyword_search_terms WHERE rowid BETWEEN 2 AND 3499;");
  SkvOptions options;
  options.stackSizeLimit = 512 * 1024;
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "J\n\nX\n", options);
  ASSERT_EQ(run.exitStatus, 0) << run.errors;
  const std::string file = folder / (kPrefix + "History keyword_search_terms (recovered).csv");
  const std::string bytes = ReadFileBytes(file);
  // The first record of the freeblock, rebuilt: keyword 4 (2 % 50 + 2), URL 2.
  EXPECT_NE(bytes.find("\r\n\"4\",\"2\",\"a\",\"a\",\"History, free space of page "), std::string::npos);
  EXPECT_NE(run.transcript.find("  keyword_search_terms: 3498 recovered\n"), std::string::npos) << run.transcript;
}

// Profiles written by current browsers, which delete with secure_delete on:
// nothing of their free space is taken for a record.
TEST(Recovery, CurrentProfilesGiveNoRecordThatIsNone) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/firefox-esr", folder.path());
  CopyTestDataFolder("real-profiles/chromium", folder.path());
  const std::set<std::string> before = FileNames(folder.path());
  SkvRun run = RunAnswers(folder.path(), "I\n\nJ\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.transcript.find("\n0 records recovered\n\nPress enter to continue"), std::string::npos);
  EXPECT_EQ(FileNames(folder.path()), before) << run.transcript;
  // The files of the browsers' later versions are searched too.
  for (const std::string later : {"favicons.sqlite", "Favicons", "Top Sites", "Login Data"}) {
    EXPECT_NE(run.transcript.find("Database " + later + " found.\n  Searched "), std::string::npos) << later;
  }
}

}  // namespace
