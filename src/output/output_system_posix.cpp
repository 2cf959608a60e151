// The output layer on POSIX systems (Linux): see output/output_system.h.

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "base/system.h"
#include "output/output_system.h"

int CreateUnnamedOutput() {
  const int fd = ::open(".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) TakeRunLock(fd);
  return fd;
}

int NameUnnamedOutput(int fd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

int CreateNamedOutput(const std::string& name, int& error) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  // The run's lock, taken at once: another run's sweep removes only files
  // no run holds. One that took the file first has removed its name, or is
  // removing it: another name is taken.
  if (!TakeRunLockOnNew(fd)) {
    ::close(fd);
    error = EEXIST;
    return -1;
  }
  error = 0;
  return fd;
}

int NameTakenError() { return EEXIST; }

int CloseOutput(int fd) { return ::close(fd) == 0 ? 0 : errno; }

int ReplaceWith(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool HoldsOtherThanFile(const std::string& name) {
  struct stat status {};
  if (::lstat(name.c_str(), &status) != 0) return false;
  return !S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode);
}

bool IsForbiddenInName(char) { return false; }

std::string WithSystemNameRules(std::string name) { return name; }

int RemoveUnlockedOutputs(bool (*isOurs)(std::string_view name)) {
  const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir("."), ::closedir);
  if (!folder) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(folder.get())) {
    if (!isOurs(entry->d_name)) continue;
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

int CreateScratchFile(const std::string& folder, int& error) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // A named file, unnamed at once, with the terminating signals held
    // between: nothing can end the program while it has a name.
    std::string name = folder + "/skv-scratch-XXXXXX";
    TerminationHeld held;
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
      error = errno;
      return -1;
    }
    ::unlink(name.c_str());
  }
  error = 0;
  return fd;
}
