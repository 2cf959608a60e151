#include "evidence/evidence_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "base/system_error.h"

namespace {

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

Failure ReadFailure(const std::string& name, int error, std::string reason = {}) {
  return {Failure::Step::kRead, name, error, std::move(reason)};
}

}  // namespace

std::string_view SidecarKind(std::string_view name) {
  return name.ends_with("-wal") ? "write-ahead log" : "journal";
}

EvidenceFiles EvidenceFiles::Unreadable(Failure failure) {
  EvidenceFiles files;
  files.found_ = Found::kUnreadable;
  files.failure_ = std::move(failure);
  return files;
}

const EvidenceFile* EvidenceFiles::Sidecar(std::string_view suffix) const {
  for (const EvidenceFile& file : files_) {
    if (!file.suffix.empty() && file.suffix == suffix) return &file;
  }
  return nullptr;
}

EvidenceFiles EvidenceFiles::Open(const std::string& fileName) {
  // The name itself first: most names a profile lists are not there.
  struct stat name {};
  if (::lstat(fileName.c_str(), &name) != 0) {
    return errno == ENOENT ? EvidenceFiles() : Unreadable(ReadFailure(fileName, errno));
  }
  FileDescriptor evidence(OpenEvidenceFile(fileName));
  if (evidence.get() < 0) return Unreadable(ReadFailure(fileName, 0, WhyNotOpened(fileName, name, errno)));
  struct stat status {};
  if (::fstat(evidence.get(), &status) != 0) return Unreadable(ReadFailure(fileName, errno));
  if (!S_ISREG(status.st_mode)) return Unreadable(ReadFailure(fileName, 0, KindOf(status.st_mode)));

  EvidenceFiles files;
  const std::string resolved = ResolvedPath(evidence.get(), fileName);
  const std::string& shownBase = S_ISLNK(name.st_mode) ? resolved : fileName;
  files.files_.push_back({std::move(evidence), fileName, "", status.st_size});
  for (const std::string_view suffix : kSidecars) {
    const std::string shown = shownBase + std::string(suffix);
    FileDescriptor sidecar(OpenEvidenceFile(resolved + std::string(suffix)));
    if (sidecar.get() < 0 && errno == ENOENT) continue;
    if (sidecar.get() < 0) return Unreadable(ReadFailure(shown, errno));
    if (::fstat(sidecar.get(), &status) != 0) return Unreadable(ReadFailure(shown, errno));
    if (!S_ISREG(status.st_mode)) return Unreadable(ReadFailure(shown, 0, KindOf(status.st_mode)));
    files.files_.push_back({std::move(sidecar), shown, std::string(suffix), status.st_size});
  }
  files.found_ = Found::kOpen;
  return files;
}

ReadResult ReadExactly(int fd, std::uint64_t offset, std::span<std::uint8_t> out) {
  ReadResult result;
  while (result.got < out.size()) {
    const ssize_t got = ::pread(fd, out.data() + result.got, out.size() - result.got,
                                static_cast<off_t>(offset + result.got));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) result.error = errno;
    if (got <= 0) break;
    result.got += static_cast<std::size_t>(got);
  }
  return result;
}
