// The base layer on POSIX systems (Linux): see base/system.h.

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/failure.h"
#include "base/posix_signals.h"
#include "base/system.h"
#include "base/system_error.h"

std::string SystemErrorText(int error) { return std::strerror(error); }

std::string Failure::Why() const { return error != 0 ? SystemErrorText(error) : reason; }

std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

const char kFolderSeparator = '/';

long CurrentProcessId() { return static_cast<long>(::getpid()); }

void CloseDescriptor(int fd) { ::close(fd); }

ReadResult ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> out) {
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

int WriteAt(int fd, std::uint64_t offset, std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return put < 0 ? errno : EIO;
    done += static_cast<std::size_t>(put);
  }
  return 0;
}

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

int InputOutputError() { return EIO; }

bool TakeRunLock(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

bool TakeRunLockOnNew(int fd) {
  if (!TakeRunLock(fd) && errno == EWOULDBLOCK) return false;
  struct stat status {};
  return ::fstat(fd, &status) != 0 || status.st_nlink > 0;
}

void RemoveFileNow(const char* path) noexcept { ::unlink(path); }

void RemoveFolderNow(const char* path) noexcept { ::rmdir(path); }

// The program has one thread, and holds are nested at most a few deep: the
// mask before the outermost one is all there is to keep.
namespace {
int gHeldDepth = 0;
sigset_t gMaskBeforeHold;
}  // namespace

TerminationHeld::TerminationHeld() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kTerminatingSignals) sigaddset(&set, signal);
  sigset_t previous;
  ::sigprocmask(SIG_BLOCK, &set, &previous);
  if (gHeldDepth++ == 0) gMaskBeforeHold = previous;
}

TerminationHeld::~TerminationHeld() {
  if (--gHeldDepth == 0) ::sigprocmask(SIG_SETMASK, &gMaskBeforeHold, nullptr);
}
