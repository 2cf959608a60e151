#include "output/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {


// Temporary names are hidden, carry the process id, and are tried until one
// is free: the exclusive creation, not the name, is what makes them safe.
constexpr int kNameAttempts = 1000;

constexpr std::string_view kTemporaryPrefix = ".skv-";
constexpr std::string_view kTemporarySuffix = ".part";

std::string TemporaryName(unsigned sequence) {
  static const std::string prefix = std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-";
  return prefix + std::to_string(sequence) + std::string(kTemporarySuffix);
}

// Makes a file under the first free temporary name, by create, registered
// as a leftover before it exists so that an interruption can never leave it
// behind. Gives the errno of the last attempt, or 0 with name and leftover
// set.
int ClaimTemporaryName(std::string& name, Leftover& leftover, const std::function<bool(const char*)>& create) {
  static unsigned sequence = 0;
  int error = EEXIST;
  for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
    std::string candidate = TemporaryName(++sequence);
    Leftover registered(candidate, Leftover::Kind::kFile);
    if (create(candidate.c_str())) {
      name = std::move(candidate);
      leftover = std::move(registered);
      return 0;
    }
    error = errno;
  }
  return error;
}

}  // namespace

OutputFile::OutputFile(std::string finalName) : finalName_(std::move(finalName)) {
  // A file without a name until it is complete, where the file system has
  // them: however the program ends before then, nothing is left behind.
  fd_ = ::open(".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd_ >= 0) {
    // Locked from the start: the temporary name it takes when published is
    // then never another run's leftover to sweep.
    TakeRunLock(fd_);
    return;
  }
  // Otherwise a named temporary, which a handler or a later run removes.
  fd_ = OpenNamedTemporary();
}

int OutputFile::OpenNamedTemporary() {
  int fd = -1;
  const int error = ClaimTemporaryName(temporaryName_, leftover_, [&fd](const char* name) {
    fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    // The run's lock, taken at once: another run's sweep removes only files
    // no run holds. One that took the file first has removed its name, or
    // is removing it: another name is taken.
    if (TakeRunLockOnNew(fd)) return true;
    ::close(fd);
    fd = -1;
    errno = EEXIST;
    return false;
  });
  if (error != 0) Fail(Failure::Step::kCreate, error);
  return fd;
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporaryName_.empty()) ::unlink(temporaryName_.c_str());
  temporaryName_.clear();
  leftover_.Release();
}

void OutputFile::Fail(Failure::Step step, int error) {
  if (failure_) return;
  failure_ = Failure{step, finalName_, error != 0 ? error : EIO, {}};
  room_ = 0;
  Discard();
}

bool OutputFile::WriteOut(std::string_view bytes) {
  while (!bytes.empty() && !failure_) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno != EINTR) Fail(Failure::Step::kWrite, errno);
      continue;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return !failure_;
}

void OutputFile::AppendBlock(std::string_view bytes) {
  if (failure_) return;
  if (pending_.size() + bytes.size() < kBlockSize) {
    // A file that grows past a small one gets its whole block at once:
    // growing by doubling would end at twice the block, and a small file (a
    // favicon, an empty table) needs none of it.
    if (pending_.size() + bytes.size() > kSmallFile) pending_.reserve(kBlockSize);
    pending_.append(bytes);
  } else if (pending_.empty()) {
    WriteOut(bytes);
  } else {
    // The block filled and written; what remains goes out as it is when it
    // is a block or more, else starts the next block.
    const std::size_t fill = kBlockSize - pending_.size();
    pending_.append(bytes.substr(0, fill));
    bytes.remove_prefix(fill);
    if (!WriteOut(pending_)) return;
    pending_.clear();
    if (bytes.size() >= kBlockSize) {
      WriteOut(bytes);
    } else {
      pending_.append(bytes);
    }
  }
  room_ = failure_ ? 0 : std::min(pending_.capacity(), kBlockSize) - pending_.size();
}

bool OutputFile::NameUnnamedFile() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  const int error = ClaimTemporaryName(temporaryName_, leftover_, [&self](const char* name) {
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0;
  });
  if (error != 0) Fail(Failure::Step::kWrite, error);
  return error == 0;
}

bool OutputFile::Publish() {
  if (failure_) return false;
  if (!WriteOut(pending_)) return false;
  pending_.clear();
  // A file without a name gets a temporary one first: linkat cannot replace
  // an earlier file of the final name, rename can.
  if (temporaryName_.empty() && !NameUnnamedFile()) return false;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    Fail(Failure::Step::kWrite, errno);
    return false;
  }
  if (std::rename(temporaryName_.c_str(), finalName_.c_str()) != 0) {
    Fail(Failure::Step::kWrite, errno);
    return false;
  }
  temporaryName_.clear();
  leftover_.Release();
  return true;
}

int RemoveUnfinishedOutputsOfEndedRuns() {
  const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir("."), ::closedir);
  if (!folder) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(folder.get())) {
    const std::string_view name = entry->d_name;
    if (!name.ends_with(kTemporarySuffix) || !IsNamedLikeLeftover(name, kTemporaryPrefix)) continue;
    struct stat status {};
    if (::lstat(entry->d_name, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) continue;
    // A file whose lock a run holds is that run's output: it stays.
    const int fd = ::open(entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    if (TakeRunLock(fd) && ::unlink(entry->d_name) == 0) ++removed;
    ::close(fd);
  }
  return removed;
}
