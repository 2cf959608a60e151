#include "evidence/evidence_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/file_descriptor.h"
#include "base/system_error.h"

namespace {

// The page cache of a connection, below SQLite's default of 2 MB, so that
// memory stays within a megabyte of its small-history size however large
// the history; the larger default saves little on the visit join's scattered
// page lookups, which the system's file cache serves.
constexpr int kPageCacheKiB = 1024;

// Opens a database with SQLite; nothing when it cannot, SQLite's reason then
// in failure.
DatabaseHandle OpenWithSqlite(const std::string& path, int flags, Failure& failure) {
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
  const std::string begin = "BEGIN; PRAGMA cache_size = -" + std::to_string(kPageCacheKiB);
  sqlite3_exec(db.get(), begin.c_str(), nullptr, nullptr, nullptr);
  return db;
}

// Opens a file of the evidence for reading without updating its access
// time, where the system lets this user (the file's owner, or a privileged
// user); without waiting, so that a FIFO named like a database cannot hang
// the tool.
int OpenEvidenceFile(const std::string& path) {
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
  const int fd = ::open(path.c_str(), flags | O_NOATIME);
  if (fd >= 0 || errno != EPERM) return fd;
  return ::open(path.c_str(), flags);
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

// The path of the file an open descriptor reads, every link resolved:
// SQLite keeps a database's WAL and journal beside the file itself, not
// beside a link to it.
std::string ResolvedPath(int fd, const std::string& fileName) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
  if (error) path = std::filesystem::canonical(fileName, error);
  return error ? fileName : path.string();
}

// The files that hold a database's changes not yet in it: a WAL not yet
// checkpointed, or the journal of a transaction not finished. The "-shm"
// index is not among them: SQLite rebuilds it from the WAL.
constexpr std::string_view kSidecars[] = {"-wal", "-journal"};

// Whether the database header says WAL mode: bytes 18 and 19 are the file
// format's write and read versions, 2 for WAL.
bool InWalMode(int fd) {
  unsigned char header[20] = {};
  if (::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return false;
  return header[18] == 2 || header[19] == 2;
}

Failure ReadFailure(const std::string& name, int error, std::string reason = {}) {
  return {Failure::Step::kRead, name, error, std::move(reason)};
}

}  // namespace

std::string_view SidecarKind(std::string_view name) {
  return name.ends_with("-wal") ? "write-ahead log" : "journal";
}

EvidenceDatabase EvidenceDatabase::Unreadable(Failure failure) {
  EvidenceDatabase db;
  db.found_ = Found::kUnreadable;
  db.failure_ = std::move(failure);
  return db;
}

EvidenceDatabase EvidenceDatabase::Open(const std::string& fileName) {
  // The name itself first: most names a profile lists are not there.
  struct stat name {};
  if (::lstat(fileName.c_str(), &name) != 0) {
    return errno == ENOENT ? EvidenceDatabase() : Unreadable(ReadFailure(fileName, errno));
  }
  const FileDescriptor evidence(OpenEvidenceFile(fileName));
  if (evidence.get() < 0) return Unreadable(ReadFailure(fileName, 0, WhyNotOpened(fileName, name, errno)));
  struct stat status {};
  if (::fstat(evidence.get(), &status) != 0) return Unreadable(ReadFailure(fileName, errno));
  if (!S_ISREG(status.st_mode)) return Unreadable(ReadFailure(fileName, 0, KindOf(status.st_mode)));

  // Each sidecar there is beside the file itself, read whole or not at all:
  // a database read without its journal shows an unfinished transaction as
  // data, and without its WAL lacks its latest changes.
  const std::string resolved = ResolvedPath(evidence.get(), fileName);
  const std::string& shownBase = S_ISLNK(name.st_mode) ? resolved : fileName;
  std::vector<std::unique_ptr<FileDescriptor>> sidecars;
  std::vector<PrivateCopy::Source> sources = {{evidence.get(), fileName, ""}};
  for (const std::string_view suffix : kSidecars) {
    const std::string shown = shownBase + std::string(suffix);
    auto sidecar = std::make_unique<FileDescriptor>(OpenEvidenceFile(resolved + std::string(suffix)));
    if (sidecar->get() < 0 && errno == ENOENT) continue;
    if (sidecar->get() < 0) return Unreadable(ReadFailure(shown, errno));
    if (::fstat(sidecar->get(), &status) != 0) return Unreadable(ReadFailure(shown, errno));
    if (!S_ISREG(status.st_mode)) return Unreadable(ReadFailure(shown, 0, KindOf(status.st_mode)));
    sources.push_back({sidecar->get(), shown, std::string(suffix)});
    sidecars.push_back(std::move(sidecar));
  }

  EvidenceDatabase db;
  Failure copyFailure;
  db.copy_ = PrivateCopy::Make(sources, copyFailure);
  if (db.copy_) {
    // Read and write, so that SQLite may apply the WAL or roll the journal
    // back; never create: the copy is there.
    Failure failure{Failure::Step::kCopy, {}, 0, {}};
    db.db_ = OpenWithSqlite(db.copy_->database(), SQLITE_OPEN_READWRITE, failure);
    if (!db.db_) return Unreadable(std::move(failure));
  } else if (copyFailure.step == Failure::Step::kCopy && sidecars.empty() && !InWalMode(evidence.get())) {
    // No room for a copy of a database that SQLite can read where it stands
    // without writing: read it so, at the cost of its access time.
    Failure failure = ReadFailure(fileName, 0);
    db.db_ = OpenWithSqlite(fileName, SQLITE_OPEN_READONLY, failure);
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
}
