#include "evidence_builder.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <cstring>
#include <limits>
#include <map>
#include <set>

#include "evidence_generator/browser_database.h"

namespace {

constexpr const char* kFileNames[] = {
    "content-prefs.sqlite", "cookies.sqlite", "downloads.sqlite",      "formhistory.sqlite",    "permissions.sqlite",
    "places.sqlite",        "search.sqlite",  "urlclassifier2.sqlite", "urlclassifier3.sqlite", "webappsstore.sqlite",
    "Archived History",     "Cookies",        "History",               "Thumbnails",            "Web Data",
    "favicons.sqlite",      "places.sqlite",  "History",
};

constexpr const char* kSchemas[] = {
    "firefox3/places.sql",         "firefox3/cookies.sql",        "firefox3/downloads.sql",
    "firefox3/formhistory.sql",    "firefox3/content-prefs.sql",  "firefox3/permissions.sql",
    "firefox3/search.sql",         "firefox3/urlclassifier2.sql", "firefox3/urlclassifier3.sql",
    "firefox3/webappsstore.sql",   "chrome/history.sql",          "chrome/history_v15.sql",
    "chrome/archived_history.sql", "chrome/cookies.sql",          "chrome/thumbnails.sql",
    "chrome/web_data.sql",         "firefox3/places.sql",         "chrome/history.sql",
};

// The icons of a current Firefox profile, which stand in favicons.sqlite.
constexpr const char* kCurrentFavicons =
    "CREATE TABLE moz_icons (id INTEGER PRIMARY KEY, icon_url TEXT NOT NULL, fixed_icon_url_hash INTEGER NOT NULL, "
    "width INTEGER NOT NULL DEFAULT 0, root INTEGER NOT NULL DEFAULT 0, color INTEGER, expire_ms INTEGER NOT NULL "
    "DEFAULT 0, data BLOB);"
    "CREATE TABLE moz_pages_w_icons (id INTEGER PRIMARY KEY, page_url TEXT NOT NULL, page_url_hash INTEGER NOT NULL);"
    "CREATE TABLE moz_icons_to_pages (page_id INTEGER NOT NULL, icon_id INTEGER NOT NULL, expire_ms INTEGER NOT NULL "
    "DEFAULT 0, PRIMARY KEY (page_id, icon_id)) WITHOUT ROWID;";

// Names that have broken tools before, and the names the tool looks for.
const std::string kHostileNames[] = {
    "quote\"d",      "with blank",        "line\nfeed",   "../../escape", "back\\slash",
    "..",            "/",                 "a/b",          "a\\b",         "a_b",
    "A_B",           std::string(300, 'L'), "\xC3\xA9\xFF\xFE", "cr\r",   "tab\tdel\x7F",
    "moz_places",    "moz_historyvisits", "moz_favicons", "urls",         "visits",
    "cookies",       "order",             "select",       "",             "<b>&amp;",
};

// Texts that the date decoding, the CSV writer and the HTML escaper must
// take as they come.
const std::string kHostileTexts[] = {
    "1228580112345678",  " 228580112345678", "12873053712345678", "-000000001000000", "9999999999999999",
    "<script>x</script>", "a,\"b\"\r\nc",     "&amp;<>'\"",        "\xEF\xBB\xBF<svg>", "\x89PNG\r\n\x1A\n",
    "GIF89a",            "BM",               "http://a.example/", "file:///C:/x.html", "moc.elpmaxe.a.",
    ".",                 "",                 "\xC3",              "x\xE2\x82",         "\n",
};

const std::string kCaseTexts[] = {
    "2008-117", "", "../x", "a/b\\c", std::string("N\0", 2), "r\r", std::string(200, 'r'), "Harbour Street",
};

std::string Quoted(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

class Database {
 public:
  explicit Database(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
  ~Database() { sqlite3_close(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* get() const { return db_; }
  // Errors are part of the game: a constraint, a name SQLite refuses.
  void Execute(const std::string& sql) { sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }

  std::vector<std::string> Strings(const std::string& sql) {
    std::vector<std::string> values;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        values.emplace_back(text != nullptr ? text : "");
      }
    }
    sqlite3_finalize(statement);
    return values;
  }

 private:
  sqlite3* db_ = nullptr;
};

std::string FuzzedName(FuzzedDataProvider& data) {
  if (data.ConsumeBool()) return data.PickValueInArray(kHostileNames);
  std::string name = data.ConsumeRandomLengthString(40);
  // A zero byte would end the SQL text that names it.
  for (char& c : name) {
    if (c == '\0') c = '0';
  }
  return name;
}

std::int64_t FuzzedInteger(FuzzedDataProvider& data) {
  switch (data.ConsumeIntegralInRange(0, 4)) {
    case 0: return data.ConsumeIntegralInRange<std::int64_t>(-2, 9);  // ids that join
    case 1: return data.ConsumeIntegralInRange<std::int64_t>(1000000000000000, 9999999999999999);  // PRtime
    case 2: return data.ConsumeIntegralInRange<std::int64_t>(10000000000000000, 99999999999999999);  // Chrome
    case 3: return data.PickValueInArray({std::numeric_limits<std::int64_t>::min(),
                                          std::numeric_limits<std::int64_t>::max(), std::int64_t{-1},
                                          std::int64_t{2147483648}, std::int64_t{-2147483649}});
    default: return data.ConsumeIntegral<std::int64_t>();
  }
}

void BindFuzzedValue(FuzzedDataProvider& data, sqlite3_stmt* insert, int index) {
  switch (data.ConsumeIntegralInRange(0, 6)) {
    case 0: sqlite3_bind_null(insert, index); break;
    case 1:
    case 2: sqlite3_bind_int64(insert, index, FuzzedInteger(data)); break;
    case 3: sqlite3_bind_double(insert, index, data.ConsumeFloatingPoint<double>()); break;
    case 4: {
      const std::string& text = data.PickValueInArray(kHostileTexts);
      sqlite3_bind_text(insert, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
    case 5: {
      const std::string text = data.ConsumeRandomLengthString(data.ConsumeBool() ? 300 : 40);
      sqlite3_bind_text(insert, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
    default: {
      std::string bytes = data.ConsumeBool() ? data.PickValueInArray(kHostileTexts) : std::string();
      bytes += data.ConsumeRandomLengthString(64);
      sqlite3_bind_blob(insert, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      break;
    }
  }
}

// A few rows in every table, each value of any storage class.
void FillTables(FuzzedDataProvider& data, Database& db) {
  // Every table with its number of columns, in one statement.
  const std::vector<std::string> tables = db.Strings(
      "SELECT count(p.name) || ' ' || m.name FROM sqlite_master AS m, pragma_table_info(m.name) AS p "
      "WHERE m.type = 'table' GROUP BY m.name");
  for (const std::string& entry : tables) {
    const std::size_t blank = entry.find(' ');
    const int columns = std::atoi(entry.c_str());
    const std::string table = entry.substr(blank + 1);
    if (columns == 0) continue;
    std::string sql = "INSERT INTO " + Quoted(table) + " VALUES (?";
    for (int column = 1; column < columns; ++column) sql += ", ?";
    sql += ")";
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &insert, nullptr) != SQLITE_OK) continue;
    const int rows = data.ConsumeIntegralInRange(0, 5);
    for (int row = 0; row < rows; ++row) {
      for (int column = 1; column <= columns; ++column) BindFuzzedValue(data, insert, column);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
  }
}

// Texts as SQL literals: a quoted text, or the hexadecimal form of a BLOB.
std::string TextLiteral(const std::string& text) {
  char* quoted = sqlite3_mprintf("%Q", text.c_str());
  std::string literal = quoted != nullptr ? quoted : "NULL";
  sqlite3_free(quoted);
  return literal;
}

std::string BlobLiteral(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string literal = "X'";
  for (unsigned char byte : bytes) {
    literal += kDigits[byte >> 4];
    literal += kDigits[byte & 15];
  }
  return literal + "'";
}

// Visits of pages that have an icon. Values drawn one by one seldom join
// across three tables, so these rows are made to: a visit, its page, the
// page's icon in moz_favicons or in the tables of a current favicons.sqlite.
// A row whose table or column the schema step took away is not made.
void LinkVisitsToIcons(FuzzedDataProvider& data, Database& db) {
  static const std::string kUrls[] = {"http://a.example/", "file:///C:/x.html", "<script>x</script>", ""};
  static const std::string kImages[] = {"\x89PNG\r\n\x1A\n", "GIF89a", std::string("\0\0\1\0", 4),
                                        "\xFF\xD8\xFF", "BM", "\xEF\xBB\xBF<svg>", "<?xml ?><svg", ""};
  static const std::string kMimeTypes[] = {"image/png", "image/x-icon", "image/jpeg", "image/gif", "text/html", ""};
  const int links = data.ConsumeIntegralInRange(0, 4);
  for (int link = 0; link < links; ++link) {
    const std::string page = std::to_string(data.ConsumeIntegralInRange(1, 9));
    const std::string icon = std::to_string(data.ConsumeIntegralInRange(1, 9));
    const std::string url = TextLiteral(data.PickValueInArray(kUrls));
    const std::string image = BlobLiteral(data.PickValueInArray(kImages) + data.ConsumeRandomLengthString(32));
    const std::string mimeType = TextLiteral(data.PickValueInArray(kMimeTypes));
    const std::string visitDate = std::to_string(FuzzedInteger(data));
    db.Execute("INSERT OR REPLACE INTO moz_favicons (id, url, data, mime_type) VALUES (" + icon + ", " + url + ", " +
               image + ", " + mimeType + ")");
    db.Execute("INSERT OR REPLACE INTO moz_places (id, url, rev_host, favicon_id, visit_count) VALUES (" + page +
               ", " + url + ", 'moc.elpmaxe.a.', " + icon + ", 1)");
    db.Execute("INSERT INTO moz_historyvisits (place_id, visit_date, from_visit, visit_type) VALUES (" + page + ", " +
               visitDate + ", 0, 1)");
    db.Execute("INSERT OR REPLACE INTO moz_icons (id, icon_url, fixed_icon_url_hash, width, data) VALUES (" + icon +
               ", " + url + ", 0, " + std::to_string(data.ConsumeIntegralInRange(0, 64)) + ", " + image + ")");
    db.Execute("INSERT OR REPLACE INTO moz_pages_w_icons (id, page_url, page_url_hash) VALUES (" + page + ", " + url +
               ", 0)");
    db.Execute("INSERT OR REPLACE INTO moz_icons_to_pages (page_id, icon_id) VALUES (" + page + ", " + icon + ")");
  }
}

// Tables dropped, columns added and dropped, tables of the fuzzer's own.
void ShapeSchema(FuzzedDataProvider& data, Database& db) {
  const int changes = data.ConsumeIntegralInRange(0, 4);
  for (int change = 0; change < changes; ++change) {
    const std::vector<std::string> tables = db.Strings("SELECT name FROM sqlite_master WHERE type = 'table'");
    const std::string table = tables.empty() ? std::string() : tables[data.ConsumeIntegralInRange<std::size_t>(0, tables.size() - 1)];
    switch (data.ConsumeIntegralInRange(0, 3)) {
      case 0: db.Execute("DROP TABLE " + Quoted(table)); break;
      case 1: db.Execute("ALTER TABLE " + Quoted(table) + " ADD COLUMN " + Quoted(FuzzedName(data))); break;
      case 2: {
        const std::vector<std::string> columns = db.Strings("SELECT name FROM pragma_table_info(" + Quoted(table) + ")");
        if (!columns.empty()) {
          db.Execute("ALTER TABLE " + Quoted(table) + " DROP COLUMN " +
                     Quoted(columns[data.ConsumeIntegralInRange<std::size_t>(0, columns.size() - 1)]));
        }
        break;
      }
      default: {
        std::string sql = "CREATE TABLE " + Quoted(FuzzedName(data)) + " (";
        const std::string first = Quoted(FuzzedName(data) + "0");
        sql += first;
        const int columns = data.ConsumeIntegralInRange(1, 5);
        for (int column = 1; column < columns; ++column) {
          sql += ", " + Quoted(FuzzedName(data) + std::to_string(column));
          if (data.ConsumeBool()) sql += data.PickValueInArray({" INTEGER", " TEXT", " BLOB", " REAL", " LONGVARCHAR"});
        }
        // A table without row ids, ordered by its key.
        sql += data.ConsumeBool() ? ", PRIMARY KEY (" + first + ")) WITHOUT ROWID" : ")";
        db.Execute(sql);
        break;
      }
    }
  }
}

// The database a schema kind starts from, made once per process and kept
// serialized: executing a schema script costs far more than loading its
// result, and each run starts from a copy.
//
// Most runs start from the schema rewritten with pages of 512 bytes: a
// database of a few pages is made and read much faster (under the address
// sanitizer above all), and SQLite reads every page size alike.
const std::string& SchemaTemplate(int kind, bool smallPages) {
  static std::map<std::pair<int, bool>, std::string> templates;
  auto found = templates.find({kind, smallPages});
  if (found != templates.end()) return found->second;
  Database db(":memory:");
  std::string script;
  if (kind < static_cast<int>(std::size(kSchemas))) {
    script = BrowserSchemaScript(kSchemas[kind]);
  } else if (kind == static_cast<int>(std::size(kSchemas))) {
    script = kCurrentFavicons;
  }
  if (smallPages) {
    // The page size is set before the first table; the script's own setting
    // is taken out.
    for (std::size_t at; (at = script.find("PRAGMA page_size")) != std::string::npos;) {
      script.erase(at, script.find(';', at) + 1 - at);
    }
    script = "PRAGMA page_size = 512;" + script;
  }
  db.Execute(script);
  sqlite3_int64 size = 0;
  unsigned char* bytes = sqlite3_serialize(db.get(), "main", &size, 0);
  std::string serialized(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
  sqlite3_free(bytes);
  return templates.emplace(std::make_pair(kind, smallPages), std::move(serialized)).first->second;
}

// Loads a template into an open in-memory database.
void Load(Database& db, const std::string& serialized) {
  auto* bytes = static_cast<unsigned char*>(sqlite3_malloc64(serialized.size()));
  if (bytes == nullptr) return;
  std::memcpy(bytes, serialized.data(), serialized.size());
  sqlite3_deserialize(db.get(), "main", bytes, static_cast<sqlite3_int64>(serialized.size()),
                      static_cast<sqlite3_int64>(serialized.size()),
                      SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE);
}

// Flipped bytes or a cut, as a damaged disk or an unfinished copy leaves.
void Damage(FuzzedDataProvider& data, std::string& bytes) {
  if (bytes.empty()) return;
  // An exhausted provider gives 0: the rare steps are taken on high values.
  if (data.ConsumeProbability<float>() > 0.85f) {
    const int flips = data.ConsumeIntegralInRange(1, 8);
    for (int flip = 0; flip < flips; ++flip) {
      bytes[data.ConsumeIntegralInRange<std::size_t>(0, bytes.size() - 1)] ^=
          static_cast<char>(data.ConsumeIntegralInRange(1, 255));
    }
  }
  if (data.ConsumeProbability<float>() > 0.9f) bytes.resize(data.ConsumeIntegralInRange<std::size_t>(0, bytes.size()));
}

}  // namespace

std::string ReadAll(const std::string& path) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buffer[65536];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(got));
  ::close(fd);
  return bytes;
}

std::vector<GeneratedEvidenceFile> BuildEvidence(FuzzedDataProvider& data, const std::string& scratch) {
  std::vector<GeneratedEvidenceFile> files;
  std::set<std::string> names;
  const int databases = data.ConsumeIntegralInRange(1, 3);
  for (int index = 0; index < databases; ++index) {
    const std::string name = data.PickValueInArray(kFileNames);
    const bool wal = data.ConsumeProbability<float>() > 0.8f;
    const std::string path = scratch + "/wal.db";
    std::string bytes;
    std::string walBytes;
    const int kind = data.ConsumeIntegralInRange<int>(0, std::size(kSchemas) + 1);
    const std::string& start = SchemaTemplate(kind, data.ConsumeProbability<float>() < 0.8f);
    if (wal) std::ofstream(path, std::ios::binary) << start;
    {
      Database db(wal ? path : std::string(":memory:"));
      if (!wal) Load(db, start);
      // Files of the fuzzer's own need no durability.
      db.Execute("PRAGMA synchronous = OFF;");
      ShapeSchema(data, db);
      FillTables(data, db);
      LinkVisitsToIcons(data, db);
      if (wal) {
        // The newest rows stand in the -wal only, as in a copy taken while
        // the browser ran.
        db.Execute("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;");
        FillTables(data, db);
        bytes = ReadAll(path);
        walBytes = ReadAll(path + "-wal");
      } else {
        sqlite3_int64 size = 0;
        unsigned char* serialized = sqlite3_serialize(db.get(), "main", &size, 0);
        if (serialized != nullptr) bytes.assign(reinterpret_cast<const char*>(serialized), static_cast<std::size_t>(size));
        sqlite3_free(serialized);
      }
    }
    if (wal) {
      for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
    }
    Damage(data, bytes);
    if (!names.insert(name).second) continue;
    files.push_back({name, std::move(bytes)});
    if (!walBytes.empty()) files.push_back({name + "-wal", std::move(walBytes)});
  }
  return files;
}

std::string FuzzedCaseText(FuzzedDataProvider& data) {
  if (data.ConsumeBool()) return data.PickValueInArray(kCaseTexts);
  return data.ConsumeRandomLengthString(300);
}
