#include "evidence/evidence_database.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/system_error.h"

namespace {

// The sidecar files that hold a database's unfinished or uncheckpointed
// changes. The "-shm" index is not among them: SQLite rebuilds it from the
// WAL, and the evidence's own one is left as it is.
constexpr const char* kSidecars[] = {"-wal", "-journal"};

bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// Bytes 18 and 19 of the database header are the file format's write and
// read versions: 2 for WAL mode.
bool IsInWalMode(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  char header[20] = {};
  if (!file.read(header, sizeof header)) return false;
  return header[18] == 2 || header[19] == 2;
}

bool NeedsPrivateCopy(const std::string& fileName) {
  for (const char* sidecar : kSidecars) {
    if (Exists(fileName + sidecar)) return true;
  }
  return IsInWalMode(fileName);
}

// The page cache of a connection, below SQLite's default of 2 MB, so that
// memory stays within a megabyte of its small-history size however large
// the history; the larger default saves little on the visit join's scattered
// page lookups, which the system's file cache serves.
constexpr int kPageCacheKiB = 1536;

DatabaseHandle Open(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  // The program has one thread: SQLite's own locking of each call is not
  // needed, and costs a mutex pair per call and per cell.
  int result = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  DatabaseHandle db(raw);  // a failed open leaves a handle to release too
  if (result != SQLITE_OK) return nullptr;
  SetPageCache(db.get(), kPageCacheKiB);
  return db;
}

// The database and its sidecars copied into a private folder, and the copy
// opened for reading and writing, so that SQLite may apply the WAL or roll
// back the journal there.
EvidenceDatabase OpenPrivateCopy(const std::string& fileName) {
  std::unique_ptr<PrivateFolder> folder = PrivateFolder::Create();
  if (!folder) return EvidenceDatabase::CopyFailed(SystemErrorText(errno));
  const std::filesystem::path copy = std::filesystem::path(folder->path()) / "evidence.db";
  std::error_code error;
  if (!std::filesystem::copy_file(fileName, copy, error)) return EvidenceDatabase::CopyFailed(error.message());
  for (const char* sidecar : kSidecars) {
    if (Exists(fileName + sidecar) && !std::filesystem::copy_file(fileName + sidecar, copy.string() + sidecar, error)) {
      return EvidenceDatabase::CopyFailed(error.message());
    }
  }
  DatabaseHandle db = Open(copy.string(), SQLITE_OPEN_READWRITE);
  if (!db) return {};
  return EvidenceDatabase(std::move(folder), std::move(db));
}

}  // namespace

std::unique_ptr<PrivateFolder> PrivateFolder::Create() {
  std::error_code error;
  std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return nullptr;
  std::string pattern = (base / "skv-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return nullptr;
  return std::unique_ptr<PrivateFolder>(new PrivateFolder(pattern));
}

PrivateFolder::~PrivateFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

EvidenceDatabase OpenEvidenceDatabase(const std::string& fileName) {
  if (Exists(fileName) && NeedsPrivateCopy(fileName)) return OpenPrivateCopy(fileName);
  return EvidenceDatabase(nullptr, Open(fileName, SQLITE_OPEN_READONLY));
}

Statement PrepareStatement(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  int result = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  Statement statement(raw);
  if (result != SQLITE_OK) return nullptr;
  return statement;
}

void SetPageCache(sqlite3* db, int kibibytes) {
  const std::string pragma = "PRAGMA cache_size = -" + std::to_string(kibibytes);
  sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr);
}

std::string QuoteIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  return quoted;
}

std::int64_t CountRows(sqlite3* db, std::string_view table) {
  Statement count = PrepareStatement(db, "SELECT count(*) FROM " + QuoteIdentifier(table));
  return count && sqlite3_step(count.get()) == SQLITE_ROW ? sqlite3_column_int64(count.get(), 0) : 0;
}

std::optional<std::string_view> ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  if (text == nullptr) return std::nullopt;
  return std::string_view(text, std::strlen(text));
}
