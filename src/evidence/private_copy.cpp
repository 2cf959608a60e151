#include "evidence/private_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "base/file_descriptor.h"
#include "base/temporary_folder.h"
#include "evidence/evidence_files.h"

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
// slower than the kernel's copy, but it tells a failed read from a failed
// write.
CopyError CopyThroughBuffer(int in, int out, off_t from, off_t to) {
  constexpr std::size_t kBufferSize = 256 * 1024;
  const auto buffer = std::make_unique<std::uint8_t[]>(kBufferSize);
  while (from < to) {
    const auto wanted = static_cast<std::size_t>(std::min<off_t>(to - from, kBufferSize));
    const ReadResult read = ReadExactly(in, static_cast<std::uint64_t>(from), {buffer.get(), wanted});
    if (read.error != 0) return {true, read.error};
    for (std::size_t done = 0; done < read.got;) {
      const ssize_t put = ::pwrite(out, buffer.get() + done, read.got - done, from + static_cast<off_t>(done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return {false, errno};
      done += static_cast<std::size_t>(put);
    }
    // A file that shrank meanwhile: the rest is not there to copy.
    if (read.got < wanted) return {};
    from += static_cast<off_t>(read.got);
  }
  return {};
}

// Copies bytes [from, to) of in to the same offsets of out, in the kernel
// where the system can.
CopyError CopyRange(int in, int out, off_t from, off_t to) {
  while (from < to) {
    loff_t inOffset = from;
    loff_t outOffset = from;
    const ssize_t copied =
        ::copy_file_range(in, &inOffset, out, &outOffset, static_cast<std::size_t>(to - from), 0);
    if (copied < 0 && errno == EINTR) continue;
    // Not between these two files (another file system, an old kernel), or
    // an error whose side only a plain read and write can tell.
    if (copied < 0) return CopyThroughBuffer(in, out, from, to);
    if (copied == 0) return {};
    from += copied;
  }
  return {};
}

// Copies all of in to out, leaving out a hole wherever in has one, so that
// a sparse file is not made whole.
CopyError CopyFileBytes(int in, int out) {
  struct stat status {};
  if (::fstat(in, &status) != 0) return {true, errno};
  const off_t size = status.st_size;
  off_t position = 0;
  while (position < size) {
    off_t data = ::lseek(in, position, SEEK_DATA);
    off_t hole = size;
    if (data < 0 && errno == ENXIO) break;  // nothing but a hole up to the end
    if (data < 0) {
      data = position;  // a file system that cannot tell: all of it is data
    } else {
      hole = ::lseek(in, data, SEEK_HOLE);
      if (hole < 0 || hole > size) hole = size;
    }
    if (const CopyError error = CopyRange(in, out, data, hole); error.error != 0) return error;
    position = hole;
  }
  // The length, holes at the end included.
  if (::ftruncate(out, size) != 0) return {false, errno};
  return {};
}

}  // namespace

PrivateCopy::PrivateCopy(std::string folder) : folder_(std::move(folder)), database_(folder_ + "/" + kCopyName) {}

std::unique_ptr<PrivateCopy> PrivateCopy::Make(const std::vector<Source>& sources, Failure& failure) {
  const std::string base = TemporaryFolder();
  auto fail = [&](const CopyError& error, const Source* source) {
    failure = error.reading ? Failure{Failure::Step::kRead, source->name, error.error, {}}
                            : Failure{Failure::Step::kCopy, base, error.error, {}};
    return nullptr;
  };
  std::unique_ptr<PrivateCopy> copy;
  for (int attempt = 0; !copy; ++attempt) {
    std::string pattern = base + "/" + std::string(kFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX";
    TerminatingSignalsHeld held;
    if (::mkdtemp(pattern.data()) == nullptr) return fail({false, errno}, nullptr);
    // The run's lock on its folder, taken at once: another run's sweep
    // removes only folders no run holds. One that took the folder before
    // this run could has removed it, or is removing it: another is made.
    FileDescriptor lock(::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (lock.get() < 0) {
      const int error = errno;
      ::rmdir(pattern.c_str());
      return fail({false, error}, nullptr);
    }
    if (!TakeRunLockOnNew(lock.get()) && attempt < kFolderAttempts) continue;
    copy.reset(new PrivateCopy(pattern));
    copy->lock_ = std::move(lock);
    copy->leftovers_.emplace_back(copy->folder_, Leftover::Kind::kFolder);
    copy->files_.push_back(copy->database_);
    for (const char* suffix : kSqliteFiles) copy->files_.push_back(copy->database_ + suffix);
    for (const std::string& file : copy->files_) copy->leftovers_.emplace_back(file, Leftover::Kind::kFile);
  }
  for (const Source& source : sources) {
    const std::string to = copy->database_ + source.suffix;
    FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.get() < 0) return fail({false, errno}, &source);
    if (const CopyError error = CopyFileBytes(source.fd, out.get()); error.error != 0) return fail(error, &source);
  }
  return copy;
}

PrivateCopy::~PrivateCopy() {
  for (const std::string& file : files_) ::unlink(file.c_str());
  ::rmdir(folder_.c_str());
  for (Leftover& leftover : leftovers_) leftover.Release();
}

int RemovePrivateCopiesOfEndedRuns() {
  const std::string base = TemporaryFolder();
  const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(base.c_str()), ::closedir);
  if (!folder) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(folder.get())) {
    const std::string_view name = entry->d_name;
    if (!IsNamedLikeLeftover(name, kFolderPrefix)) continue;
    const std::string path = base + "/" + std::string(name);
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) continue;
    // A folder whose lock a run holds is that run's, whatever process ids
    // say: it stays.
    const FileDescriptor lock(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (lock.get() < 0 || !TakeRunLock(lock.get())) continue;
    ::unlink((path + "/" + kCopyName).c_str());
    for (const char* suffix : kSqliteFiles) ::unlink((path + "/" + kCopyName + suffix).c_str());
    // A folder that holds anything else is not one of ours: it stays.
    if (::rmdir(path.c_str()) == 0) ++removed;
  }
  return removed;
}
