#include "output/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::size_t kSmallFile = 4 * 1024;

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
  if (fd_ >= 0) return;
  // Otherwise a named temporary, which a handler or a later run removes.
  OpenNamedTemporary();
}

int OutputFile::OpenNamedTemporary() {
  int fd = -1;
  const int error = ClaimTemporaryName(temporaryName_, leftover_, [&fd](const char* name) {
    fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd >= 0;
  });
  if (error != 0) Fail(OutputFailure::Step::kCreate, error);
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

void OutputFile::Fail(OutputFailure::Step step, int error) {
  if (error_ != 0) return;
  step_ = step;
  error_ = error != 0 ? error : EIO;
  Discard();
}

bool OutputFile::WriteOut(std::string_view bytes) {
  while (!bytes.empty() && error_ == 0) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno != EINTR) Fail(OutputFailure::Step::kWrite, errno);
      continue;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return error_ == 0;
}

void OutputFile::WritePendingIfFull() {
  if (pending_.size() < kBlockSize) return;
  WriteOut(pending_);
  pending_.clear();
}

void OutputFile::Append(std::string_view bytes) {
  if (error_ != 0) return;
  if (pending_.empty() && bytes.size() >= kBlockSize) {
    WriteOut(bytes);  // a large image or cell goes out as it is, not through a copy
    return;
  }
  ReserveBlock();
  pending_.append(bytes);
  WritePendingIfFull();
}

void OutputFile::ReserveBlock() {
  // Room for a block and the line that fills it, taken once the file shows
  // it will need it: growing by doubling would take twice the block, and a
  // small file (a favicon, an empty table) needs none of it.
  if (pending_.size() >= kSmallFile && pending_.capacity() < kBlockSize) {
    pending_.reserve(kBlockSize + kBlockSize / 8);
  }
}

bool OutputFile::EndLine() {
  if (error_ != 0) return false;
  ReserveBlock();
  pending_.append(kLineEnd);
  WritePendingIfFull();
  return error_ == 0;
}

bool OutputFile::NameUnnamedFile() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  const int error = ClaimTemporaryName(temporaryName_, leftover_, [&self](const char* name) {
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0;
  });
  if (error != 0) Fail(OutputFailure::Step::kWrite, error);
  return error == 0;
}

bool OutputFile::Publish() {
  if (error_ != 0) return false;
  if (!WriteOut(pending_)) return false;
  pending_.clear();
  // A file without a name gets a temporary one first: linkat cannot replace
  // an earlier file of the final name, rename can.
  if (temporaryName_.empty() && !NameUnnamedFile()) return false;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    Fail(OutputFailure::Step::kWrite, errno);
    return false;
  }
  if (std::rename(temporaryName_.c_str(), finalName_.c_str()) != 0) {
    Fail(OutputFailure::Step::kWrite, errno);
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
    if (!name.ends_with(kTemporarySuffix) || !IsLeftoverOfEndedRun(name, kTemporaryPrefix)) continue;
    struct stat status {};
    if (::lstat(entry->d_name, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) continue;
    if (::unlink(entry->d_name) == 0) ++removed;
  }
  return removed;
}
