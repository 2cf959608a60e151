#include "output/scratch_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

#include "base/leftover_files.h"
#include "base/temporary_folder.h"

ScratchFile::ScratchFile() : folder_(TemporaryFolder()) {
  fd_ = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    // A named file, unnamed at once, with the terminating signals held
    // between: nothing can end the program while it has a name.
    std::string name = folder_ + "/skv-scratch-XXXXXX";
    TerminatingSignalsHeld held;
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
      Fail(Failure::Step::kCreate, errno);
      return;
    }
    ::unlink(name.c_str());
  }
  block_.reserve(kBlockSize);
}

ScratchFile::~ScratchFile() {
  if (fd_ >= 0) ::close(fd_);
}

void ScratchFile::Fail(Failure::Step step, int error) {
  if (failure_) return;
  failure_ = Failure{step, folder_, error != 0 ? error : EIO, {}};
}

void ScratchFile::WriteOut() {
  for (std::size_t done = 0; done < block_.size() && !failure_;) {
    const ssize_t put = ::pwrite(fd_, block_.data() + done, block_.size() - done, static_cast<off_t>(written_ + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      Fail(Failure::Step::kWrite, errno);
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  written_ += block_.size();
  block_.clear();
}

void ScratchFile::Append(std::string_view bytes) {
  if (failure_ || !writing_) return;
  block_.append(bytes);
  if (block_.size() >= kBlockSize) WriteOut();
}

void ScratchFile::StartReading() {
  if (failure_) return;
  if (writing_) WriteOut();
  writing_ = false;
  block_.clear();
  readAt_ = 0;
  blockAt_ = 0;
}

bool ScratchFile::Read(std::size_t size, std::string& out) {
  out.clear();
  while (out.size() < size && !failure_) {
    if (blockAt_ == block_.size()) {
      if (readAt_ >= written_) return false;
      block_.resize(kBlockSize);
      const ssize_t got = ::pread(fd_, block_.data(), block_.size(), static_cast<off_t>(readAt_));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        Fail(Failure::Step::kWrite, got < 0 ? errno : EIO);
        return false;
      }
      block_.resize(static_cast<std::size_t>(got));
      readAt_ += static_cast<std::uint64_t>(got);
      blockAt_ = 0;
    }
    const std::size_t take = std::min(size - out.size(), block_.size() - blockAt_);
    out.append(block_, blockAt_, take);
    blockAt_ += take;
  }
  return out.size() == size;
}
