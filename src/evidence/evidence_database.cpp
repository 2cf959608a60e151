#include "evidence/evidence_database.h"

#include <vector>

namespace {

// The page cache of a connection, below SQLite's default of 2 MB, so that
// memory stays within a megabyte of its small-history size however large
// the history; the larger default saves little on the visit join's scattered
// page lookups, which the system's file cache serves.
constexpr int kPageCacheKiB = 1024;

// Opens a database with SQLite; nothing when it cannot, SQLite's reason then
// in failure. A private copy is the connection's alone: it keeps its WAL
// index in memory instead of a "-shm" file that stays mapped, and so open,
// while the connection lives.
DatabaseHandle OpenWithSqlite(const std::string& path, int flags, bool privateCopy, Failure& failure) {
  sqlite3* raw = nullptr;
  // The program has one thread: SQLite's own locking of each call is not
  // needed, and costs a mutex pair per call and per cell.
  const int result = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  DatabaseHandle db(raw);  // a failed open leaves a handle to release too
  if (result != SQLITE_OK) {
    failure.reason = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(result);
    return nullptr;
  }
  // One read transaction for all a task reads: one snapshot of the
  // database, taken with one shared lock, instead of a lock, a check for a
  // hot journal and a look at the file for every statement. It ends when the
  // connection closes; nothing is written in it. A file that is no database
  // fails here in silence and at the task's first statement aloud.
  const std::string begin = std::string(privateCopy ? "PRAGMA locking_mode = EXCLUSIVE; " : "") +
                            "BEGIN; PRAGMA cache_size = -" + std::to_string(kPageCacheKiB);
  sqlite3_exec(db.get(), begin.c_str(), nullptr, nullptr, nullptr);
  return db;
}

// Whether the database header says WAL mode: bytes 18 and 19 are the file
// format's write and read versions, 2 for WAL.
bool InWalMode(int fd) {
  std::uint8_t header[20] = {};
  if (ReadExactly(fd, 0, header).got != sizeof header) return false;
  return header[18] == 2 || header[19] == 2;
}

}  // namespace

EvidenceDatabase EvidenceDatabase::Unreadable(Failure failure) {
  EvidenceDatabase db;
  db.found_ = Found::kUnreadable;
  db.failure_ = std::move(failure);
  return db;
}

EvidenceDatabase EvidenceDatabase::Open(const std::string& fileName) {
  EvidenceDatabase db;
  db.files_ = EvidenceFiles::Open(fileName);
  if (db.files_.found() == EvidenceFiles::Found::kMissing) return db;
  if (db.files_.found() == EvidenceFiles::Found::kUnreadable) return Unreadable(*db.files_.failure());

  std::vector<PrivateCopy::Source> sources;
  for (const EvidenceFile& file : db.files_.files()) {
    sources.push_back({file.fd.get(), file.size, file.name, file.suffix});
  }
  const int database = db.files_.files().front().fd.get();
  Failure copyFailure;
  db.copy_ = PrivateCopy::Make(sources, copyFailure);
  if (db.copy_) {
    // Read and write, so that SQLite may apply the WAL or roll the journal
    // back; never create: the copy is there.
    Failure failure{Failure::Step::kCopy, {}, 0, {}};
    db.db_ = OpenWithSqlite(db.copy_->database(), SQLITE_OPEN_READWRITE, true, failure);
    if (!db.db_) return Unreadable(std::move(failure));
  } else if (copyFailure.step == Failure::Step::kCopy && sources.size() == 1 && !InWalMode(database)) {
    // No room for a copy of a database that SQLite can read where it stands
    // without writing: read it so, at the cost of its access time.
    Failure failure{Failure::Step::kRead, fileName, 0, {}};
    db.db_ = OpenWithSqlite(fileName, SQLITE_OPEN_READONLY, false, failure);
    if (!db.db_) return Unreadable(std::move(failure));
    db.failure_ = std::move(copyFailure);
  } else {
    return Unreadable(std::move(copyFailure));
  }
  db.found_ = Found::kOpen;
  return db;
}

void EvidenceDatabase::Close() {
  db_.reset();
  copy_.reset();
  files_ = EvidenceFiles();
}
