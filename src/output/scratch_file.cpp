#include "output/scratch_file.h"

#include "base/system.h"
#include "output/output_system.h"

ScratchFile::ScratchFile() : folder_(TemporaryFolder()) {
  int error = 0;
  fd_ = CreateScratchFile(folder_, error);
  if (fd_ < 0) {
    Fail(Failure::Step::kCreate, error);
    return;
  }
  block_.reserve(kBlockSize);
}

ScratchFile::~ScratchFile() {
  if (fd_ >= 0) CloseDescriptor(fd_);
}

void ScratchFile::Fail(Failure::Step step, int error) {
  if (failure_) return;
  failure_ = Failure{step, folder_, error != 0 ? error : InputOutputError(), {}};
}

void ScratchFile::WriteOut() {
  if (const int error = WriteAt(fd_, written_, block_); error != 0) Fail(Failure::Step::kWrite, error);
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
      block_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, written_ - readAt_)));
      const ReadResult got = ReadAt(fd_, readAt_, {reinterpret_cast<std::uint8_t*>(block_.data()), block_.size()});
      if (got.got < block_.size()) {
        Fail(Failure::Step::kWrite, got.error);
        return false;
      }
      readAt_ += got.got;
      blockAt_ = 0;
    }
    const std::size_t take = std::min(size - out.size(), block_.size() - blockAt_);
    out.append(block_, blockAt_, take);
    blockAt_ += take;
  }
  return out.size() == size;
}

bool ScratchFile::ReadFrom(std::uint64_t offset, std::size_t size, std::string& out) {
  out.clear();
  if (failure_ || writing_ || offset > written_ || size > written_ - offset) return false;
  // Read a block at a time: what is read from one place is mostly read from
  // near it next.
  if (offset < cacheAt_ || offset + size > cacheAt_ + cache_.size()) {
    if (size > kBlockSize) {
      out.resize(size);
      const ReadResult got = ReadAt(fd_, offset, {reinterpret_cast<std::uint8_t*>(out.data()), out.size()});
      if (got.got < size) Fail(Failure::Step::kWrite, got.error);
      return !failure_;
    }
    cacheAt_ = offset - offset % kBlockSize;
    cache_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(2 * kBlockSize, written_ - cacheAt_)));
    const ReadResult got = ReadAt(fd_, cacheAt_, {reinterpret_cast<std::uint8_t*>(cache_.data()), cache_.size()});
    if (got.got < cache_.size()) {
      cache_.clear();
      Fail(Failure::Step::kWrite, got.error);
      return false;
    }
  }
  out.assign(cache_, static_cast<std::size_t>(offset - cacheAt_), size);
  return true;
}
