#include "evidence/evidence_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "base/file_descriptor.h"
#include "base/system_error.h"

namespace {

// The page cache of a connection, below SQLite's default of 2 MB, so that
// memory stays within a megabyte of its small-history size however large
// the history; the larger default saves little on the visit join's scattered
// page lookups, which the system's file cache serves.
constexpr int kPageCacheKiB = 1024;

DatabaseHandle OpenWithSqlite(const std::string& path, int flags, std::string& failure) {
  sqlite3* raw = nullptr;
  // The program has one thread: SQLite's own locking of each call is not
  // needed, and costs a mutex pair per call and per cell.
  const int result = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  DatabaseHandle db(raw);  // a failed open leaves a handle to release too
  if (result != SQLITE_OK) {
    failure = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(result);
    return nullptr;
  }
  // One read transaction for all a task reads: one snapshot of the
  // database, taken with one shared lock, instead of a lock, a check for a
  // hot journal and a look at the file for every statement. It ends when the
  // connection closes; nothing is written in it. A file that is no database
  // fails here in silence and at the task's first statement aloud.
  const std::string begin = "BEGIN; PRAGMA cache_size = -" + std::to_string(kPageCacheKiB);
  sqlite3_exec(db.get(), begin.c_str(), nullptr, nullptr, nullptr);
  return db;
}

// What a file that is no regular file is, in words.
std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a folder, not a file";
  if (S_ISFIFO(mode)) return "it is a FIFO, not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
  if (S_ISSOCK(mode)) return "it is a socket, not a file";
  return "it is not a regular file";
}

// Why a name that could not be opened is unreadable.
std::string WhyNotOpened(const std::string& fileName, const struct stat& name, int error) {
  if (error != ENOENT || !S_ISLNK(name.st_mode)) return SystemErrorText(error);
  std::error_code ignored;
  return "it is a link to " + std::filesystem::read_symlink(fileName, ignored).string() + ", which is not there";
}

}  // namespace

EvidenceDatabase EvidenceDatabase::Unreadable(std::string reason, bool copyFailed) {
  EvidenceDatabase db;
  db.found_ = Found::kUnreadable;
  db.reason_ = std::move(reason);
  db.copyFailed_ = copyFailed;
  return db;
}

EvidenceDatabase EvidenceDatabase::Open(const std::string& fileName) {
  // The name itself first: most names a profile lists are not there.
  struct stat name {};
  if (::lstat(fileName.c_str(), &name) != 0) {
    return errno == ENOENT ? EvidenceDatabase() : Unreadable(SystemErrorText(errno));
  }
  const FileDescriptor evidence(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (evidence.get() < 0) return Unreadable(WhyNotOpened(fileName, name, errno));
  struct stat status {};
  if (::fstat(evidence.get(), &status) != 0) return Unreadable(SystemErrorText(errno));
  if (!S_ISREG(status.st_mode)) return Unreadable(KindOf(status.st_mode));

  EvidenceDatabase db;
  std::string failure;
  if (NeedsPrivateCopy(evidence.get(), fileName)) {
    db.copy_ = PrivateCopy::Make(evidence.get(), fileName, failure);
    if (!db.copy_) return Unreadable(std::move(failure), true);
    // Read and write, so that SQLite may apply the WAL or roll the journal
    // back; never create: the copy is there.
    db.db_ = OpenWithSqlite(db.copy_->database(), SQLITE_OPEN_READWRITE, failure);
  } else {
    db.db_ = OpenWithSqlite(fileName, SQLITE_OPEN_READONLY, failure);
  }
  if (!db.db_) return Unreadable(std::move(failure), db.copy_ != nullptr);
  db.found_ = Found::kOpen;
  return db;
}
