#include "evidence/evidence_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "base/file_descriptor.h"
#include "base/system_error.h"

namespace {

// The page cache of a connection, below SQLite's default of 2 MB, so that
// memory stays within a megabyte of its small-history size however large
// the history; the larger default saves little on the visit join's scattered
// page lookups, which the system's file cache serves.
constexpr int kPageCacheKiB = 1536;

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
  SetPageCache(db.get(), kPageCacheKiB);
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

// Why a name that could not be opened is unreadable, or nothing when there
// is no file of that name at all.
std::optional<std::string> WhyNotOpened(const std::string& fileName, int error) {
  if (error != ENOENT) return SystemErrorText(error);
  std::error_code ignored;
  if (!std::filesystem::is_symlink(fileName, ignored)) return std::nullopt;
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
  const FileDescriptor evidence(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (evidence.get() < 0) {
    std::optional<std::string> why = WhyNotOpened(fileName, errno);
    return why ? Unreadable(std::move(*why)) : EvidenceDatabase();
  }
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
