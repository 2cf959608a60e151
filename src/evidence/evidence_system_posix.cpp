// The evidence layer on POSIX systems (Linux): see evidence/evidence_system.h.

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>

#include "base/leftover_files.h"
#include "base/system.h"
#include "base/system_error.h"
#include "evidence/evidence_system.h"

namespace {

int OpenWithoutAccessTime(const std::string& path) {
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

// The path of the file an open descriptor reads, every link resolved.
std::string ResolvedPath(int fd, const std::string& fileName) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
  if (error) path = std::filesystem::canonical(fileName, error);
  return error ? fileName : path.string();
}

}  // namespace

OpenedEvidence OpenEvidence(const std::string& path, EvidenceRole role) {
  // A database's name first: most names a profile lists are not there.
  struct stat name {};
  if (role == EvidenceRole::kDatabase && ::lstat(path.c_str(), &name) != 0) {
    return errno == ENOENT ? OpenedEvidence() : OpenedEvidence::Unreadable(errno);
  }
  FileDescriptor fd(OpenWithoutAccessTime(path));
  if (fd.get() < 0 && role == EvidenceRole::kDatabase) {
    return OpenedEvidence::Unreadable(0, WhyNotOpened(path, name, errno));
  }
  if (fd.get() < 0) return errno == ENOENT ? OpenedEvidence() : OpenedEvidence::Unreadable(errno);
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return OpenedEvidence::Unreadable(errno);
  if (!S_ISREG(status.st_mode)) return OpenedEvidence::Unreadable(0, KindOf(status.st_mode));
  OpenedEvidence opened;
  opened.state = OpenedEvidence::State::kOpen;
  opened.size = static_cast<std::uint64_t>(status.st_size);
  opened.isLink = S_ISLNK(name.st_mode);
  if (role == EvidenceRole::kDatabase) opened.resolved = ResolvedPath(fd.get(), path);
  opened.fd = std::move(fd);
  return opened;
}

CopyFolder MakeCopyFolder(const std::string& base, std::string_view prefix) {
  CopyFolder folder;
  std::string pattern = base + "/" + std::string(prefix) + std::to_string(CurrentProcessId()) + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    folder.error = errno;
    return folder;
  }
  // The run's lock on its folder, taken at once: another run's sweep
  // removes only folders no run holds. One that took the folder before
  // this run could has removed it, or is removing it: another is made.
  FileDescriptor lock(::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (lock.get() < 0) {
    folder.error = errno;
    ::rmdir(pattern.c_str());
    return folder;
  }
  if (!TakeRunLockOnNew(lock.get())) return folder;
  folder.path = std::move(pattern);
  folder.lock = std::move(lock);
  return folder;
}

int CreateCopyFile(const std::string& path, int& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  error = fd < 0 ? errno : 0;
  return fd;
}

std::uint64_t CopyInSystem(int in, int out, std::uint64_t from, std::uint64_t to) {
  while (from < to) {
    loff_t inOffset = static_cast<loff_t>(from);
    loff_t outOffset = static_cast<loff_t>(from);
    const ssize_t copied = ::copy_file_range(in, &inOffset, out, &outOffset, static_cast<std::size_t>(to - from), 0);
    if (copied < 0 && errno == EINTR) continue;
    // Not between these two files (another file system, an old kernel), or
    // an error whose side only a plain read and write can tell.
    if (copied < 0) return from;
    if (copied == 0) return to;  // the file shrank meanwhile: the rest is not there
    from += static_cast<std::uint64_t>(copied);
  }
  return from;
}

DataRun NextDataRun(int fd, std::uint64_t position, std::uint64_t size) {
  const off_t data = ::lseek(fd, static_cast<off_t>(position), SEEK_DATA);
  if (data < 0 && errno == ENXIO) return {size, size};  // nothing but a hole up to the end
  if (data < 0) return {position, size};                // a file system that cannot tell
  const off_t hole = ::lseek(fd, data, SEEK_HOLE);
  const auto end = hole < 0 || static_cast<std::uint64_t>(hole) > size ? size : static_cast<std::uint64_t>(hole);
  return {static_cast<std::uint64_t>(data), end};
}

int SetFileLength(int fd, std::uint64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno; }

int RemoveUnlockedCopyFolders(const std::string& base, std::string_view prefix,
                              std::span<const std::string> fileNames) {
  const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(base.c_str()), ::closedir);
  if (!folder) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(folder.get())) {
    const std::string_view name = entry->d_name;
    if (!IsNamedLikeLeftover(name, prefix)) continue;
    const std::string path = base + "/" + std::string(name);
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) continue;
    // A folder whose lock a run holds is that run's, whatever process ids
    // say: it stays.
    const FileDescriptor lock(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (lock.get() < 0 || !TakeRunLock(lock.get())) continue;
    for (const std::string& file : fileNames) ::unlink((path + "/" + file).c_str());
    // A folder that holds anything else is not one of ours: it stays.
    if (::rmdir(path.c_str()) == 0) ++removed;
  }
  return removed;
}
