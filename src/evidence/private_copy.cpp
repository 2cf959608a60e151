#include "evidence/private_copy.h"

#include <algorithm>
#include <memory>

#include "base/file_descriptor.h"
#include "base/system.h"
#include "evidence/evidence_files.h"
#include "evidence/evidence_system.h"

namespace {

// What SQLite may create beside the copy while it reads it.
constexpr const char* kSqliteFiles[] = {"-wal", "-journal", "-shm"};

constexpr const char* kCopyName = "evidence.db";
// Folders made, at most, while other runs' sweeps take them.
constexpr int kFolderAttempts = 100;
constexpr std::string_view kFolderPrefix = "skv-";

// Which side of a copy failed.
struct CopyError {
  bool reading = false;
  int error = 0;
};

// Copies bytes [from, to) of in to the same offsets of out through a buffer:
// slower than the system's copy, but it tells a failed read from a failed
// write.
CopyError CopyThroughBuffer(int in, int out, std::uint64_t from, std::uint64_t to) {
  constexpr std::size_t kBufferSize = 256 * 1024;
  const auto buffer = std::make_unique<std::uint8_t[]>(kBufferSize);
  while (from < to) {
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, kBufferSize));
    const ReadResult read = ReadExactly(in, from, {buffer.get(), wanted});
    if (read.error != 0) return {true, read.error};
    const std::string_view bytes(reinterpret_cast<const char*>(buffer.get()), read.got);
    if (const int error = WriteAt(out, from, bytes); error != 0) return {false, error};
    // A file that shrank meanwhile: the rest is not there to copy.
    if (read.got < wanted) return {};
    from += read.got;
  }
  return {};
}

// Copies all of in (size bytes) to out, leaving out a hole wherever in has
// one, so that a sparse file is not made whole; in the system where it can.
CopyError CopyFileBytes(int in, int out, std::uint64_t size) {
  for (std::uint64_t position = 0; position < size;) {
    const DataRun run = NextDataRun(in, position, size);
    if (run.data >= size) break;
    const std::uint64_t copied = CopyInSystem(in, out, run.data, run.hole);
    if (copied < run.hole) {
      if (const CopyError error = CopyThroughBuffer(in, out, copied, run.hole); error.error != 0) return error;
    }
    position = run.hole;
  }
  if (const int error = SetFileLength(out, size); error != 0) return {false, error};
  return {};
}

}  // namespace

PrivateCopy::PrivateCopy(std::string folder)
    : folder_(std::move(folder)), database_(folder_ + kFolderSeparator + kCopyName) {}

std::unique_ptr<PrivateCopy> PrivateCopy::Make(const std::vector<Source>& sources, Failure& failure) {
  const std::string base = TemporaryFolder();
  auto fail = [&](const CopyError& error, const Source* source) {
    failure = error.reading ? Failure{Failure::Step::kRead, source->name, error.error, {}}
                            : Failure{Failure::Step::kCopy, base, error.error, {}};
    return nullptr;
  };
  std::unique_ptr<PrivateCopy> copy;
  for (int attempt = 0; !copy; ++attempt) {
    TerminationHeld held;
    CopyFolder folder = MakeCopyFolder(base, kFolderPrefix);
    if (folder.error != 0) return fail({false, folder.error}, nullptr);
    // Another run's sweep took the new folder before this run could lock it.
    if (folder.path.empty() && attempt < kFolderAttempts) continue;
    copy.reset(new PrivateCopy(std::move(folder.path)));
    copy->lock_ = std::move(folder.lock);
    copy->leftovers_.emplace_back(copy->folder_, Leftover::Kind::kFolder);
    if (!folder.lockFile.empty()) copy->files_.push_back(copy->folder_ + kFolderSeparator + folder.lockFile);
    copy->files_.push_back(copy->database_);
    for (const char* suffix : kSqliteFiles) copy->files_.push_back(copy->database_ + suffix);
    for (const std::string& file : copy->files_) copy->leftovers_.emplace_back(file, Leftover::Kind::kFile);
  }
  for (const Source& source : sources) {
    int error = 0;
    FileDescriptor out(CreateCopyFile(copy->database_ + source.suffix, error));
    if (out.get() < 0) return fail({false, error}, &source);
    if (const CopyError copied = CopyFileBytes(source.fd, out.get(), source.size); copied.error != 0) {
      return fail(copied, &source);
    }
  }
  return copy;
}

PrivateCopy::~PrivateCopy() {
  // The lock goes first: where it is a file of the folder, it is removed
  // with the others.
  lock_ = FileDescriptor(-1);
  for (const std::string& file : files_) RemoveFileNow(file.c_str());
  RemoveFolderNow(folder_.c_str());
  for (Leftover& leftover : leftovers_) leftover.Release();
}

int RemovePrivateCopiesOfEndedRuns() {
  std::vector<std::string> files{kCopyName};
  for (const char* suffix : kSqliteFiles) files.push_back(std::string(kCopyName) + suffix);
  return RemoveUnlockedCopyFolders(TemporaryFolder(), kFolderPrefix, files);
}
