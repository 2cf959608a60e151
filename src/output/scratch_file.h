#pragma once

// A file the program writes for itself and reads back, never published: a
// task's work too large to hold in memory, such as the records a recovery
// found, before it knows which to write.
//
// The file is made in the temporary folder (base/system.h), with no name
// where the file system allows (O_TMPFILE), else under a name that is
// removed as soon as the file is open; on Windows it is deleted by the
// system when its handle closes: however the program ends, it leaves
// nothing behind. Only the running user may read it (mode 0600; on Windows
// the user's own temporary folder, shared with nobody while open).
// Bytes are written in blocks of 64 KiB, and read back in order from the
// start, or from any offset once the writing has ended.
//
// Nothing here writes to the console or ends the program: the first failure
// is kept (Failure::Step::kCreate or kWrite, naming the temporary folder)
// for the task to report, and every later call does nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/failure.h"

class ScratchFile {
 public:
  ScratchFile();
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::optional<Failure>& failure() const { return failure_; }

  // Appends bytes, until the reading starts.
  void Append(std::string_view bytes);
  // Ends the writing, and begins reading at the start; again to read the
  // file once more.
  void StartReading();
  // The next size bytes into out; false at the end of the file or on a
  // failure.
  bool Read(std::size_t size, std::string& out);

  // Where the next bytes appended go.
  std::uint64_t size() const { return written_ + (writing_ ? block_.size() : 0); }
  // The size bytes at offset into out, once the reading has started; false
  // past the end of the file or on a failure.
  bool ReadFrom(std::uint64_t offset, std::size_t size, std::string& out);

 private:
  static constexpr std::size_t kBlockSize = 64 * 1024;

  void WriteOut();
  void Fail(Failure::Step step, int error);

  int fd_ = -1;
  std::string folder_;
  std::optional<Failure> failure_;
  bool writing_ = true;         // else reading, and written no more
  std::string block_;           // bytes not yet written, or read ahead
  std::size_t blockAt_ = 0;     // the next byte of block_ to read
  std::uint64_t written_ = 0;   // the file's size
  std::uint64_t readAt_ = 0;    // where the next block is read from
  std::string cache_;           // two blocks read for ReadFrom, from cacheAt_
  std::uint64_t cacheAt_ = 0;
};
