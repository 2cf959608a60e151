#include "output/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::size_t kSmallFile = 4 * 1024;

// Temporary names are hidden, carry the process id, and are tried until one
// is free: the exclusive creation, not the name, is what makes them safe.
constexpr int kNameAttempts = 1000;

std::string TemporaryName(unsigned sequence) {
  static const std::string prefix = ".skv-" + std::to_string(::getpid()) + "-";
  return prefix + std::to_string(sequence) + ".part";
}

}  // namespace

OutputFile::OutputFile(std::string finalName) : finalName_(std::move(finalName)) {
  static unsigned sequence = 0;
  int error = EEXIST;
  for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
    std::string candidate = TemporaryName(++sequence);
    // Registered before it exists, so that an interruption can never leave
    // it behind.
    Leftover leftover(candidate, Leftover::Kind::kFile);
    const int fd =
        ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = fd;
      temporaryName_ = std::move(candidate);
      leftover_ = std::move(leftover);
      return;
    }
    error = errno;
  }
  Fail(OutputFailure::Step::kCreate, error);
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

bool OutputFile::Publish() {
  if (error_ != 0) return false;
  if (!WriteOut(pending_)) return false;
  pending_.clear();
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
