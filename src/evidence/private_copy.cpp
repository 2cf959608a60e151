#include "evidence/private_copy.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_descriptor.h"
#include "base/system_error.h"

namespace {

// The sidecar files that hold a database's unfinished or uncheckpointed
// changes. The "-shm" index is not among them: SQLite rebuilds it from the
// WAL, and the evidence's own one is left as it is.
constexpr const char* kSidecars[] = {"-wal", "-journal"};
// What SQLite may create beside the copy while it reads it.
constexpr const char* kSqliteFiles[] = {"-wal", "-journal", "-shm"};

constexpr const char* kCopyName = "/evidence.db";

std::string TemporaryFolder() {
  const char* folder = ::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

// A sidecar beside the evidence, opened for reading when it is a regular
// file; -1 when there is none (a folder of that name is no sidecar).
int OpenSidecar(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Copies all of in to out, in the kernel where the system can; the errno of
// a failure, or 0.
int CopyFileBytes(int in, int out) {
  off_t offset = 0;
  bool kernelCopy = true;
  for (;;) {
    ssize_t copied;
    if (kernelCopy) {
      copied = ::copy_file_range(in, &offset, out, nullptr, 1 << 30, 0);
      if (copied < 0 && offset == 0 &&
          (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EPERM)) {
        kernelCopy = false;  // not between these two files: sendfile can
        continue;
      }
    } else {
      copied = ::sendfile(out, in, &offset, 1 << 30);
    }
    if (copied == 0) return 0;
    if (copied < 0 && errno != EINTR) return errno;
  }
}

}  // namespace

PrivateCopy::PrivateCopy(std::string folder) : folder_(std::move(folder)), database_(folder_ + kCopyName) {}

std::unique_ptr<PrivateCopy> PrivateCopy::Make(int evidenceFd, const std::string& evidenceName, std::string& failure) {
  const std::string base = TemporaryFolder();
  auto fail = [&](int error) {
    failure = "cannot make one in the temporary folder " + base + ": " + SystemErrorText(error);
    return nullptr;
  };
  std::string pattern = base + "/skv-XXXXXX";
  std::unique_ptr<PrivateCopy> copy;
  {
    TerminatingSignalsHeld held;
    if (::mkdtemp(pattern.data()) == nullptr) return fail(errno);
    copy.reset(new PrivateCopy(pattern));
    copy->leftovers_.emplace_back(copy->folder_, Leftover::Kind::kFolder);
    copy->files_.push_back(copy->database_);
    for (const char* suffix : kSqliteFiles) copy->files_.push_back(copy->database_ + suffix);
    for (const std::string& file : copy->files_) copy->leftovers_.emplace_back(file, Leftover::Kind::kFile);
  }

  // The database, then each sidecar there is, under the copy's name.
  std::vector<std::pair<int, std::string>> sources = {{evidenceFd, copy->database_}};
  std::vector<std::unique_ptr<FileDescriptor>> sidecars;
  for (const char* suffix : kSidecars) {
    const int fd = OpenSidecar(evidenceName + suffix);
    if (fd < 0) continue;
    sidecars.push_back(std::make_unique<FileDescriptor>(fd));
    sources.emplace_back(fd, copy->database_ + suffix);
  }
  for (const auto& [from, to] : sources) {
    FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.get() < 0) return fail(errno);
    if (const int error = CopyFileBytes(from, out.get()); error != 0) return fail(error);
  }
  return copy;
}

PrivateCopy::~PrivateCopy() {
  for (const std::string& file : files_) ::unlink(file.c_str());
  ::rmdir(folder_.c_str());
  for (Leftover& leftover : leftovers_) leftover.Release();
}

bool NeedsPrivateCopy(int evidenceFd, const std::string& evidenceName) {
  for (const char* sidecar : kSidecars) {
    struct stat status {};
    if (::stat((evidenceName + sidecar).c_str(), &status) == 0 && S_ISREG(status.st_mode)) return true;
  }
  // Bytes 18 and 19 of the database header are the file format's write and
  // read versions: 2 for WAL mode.
  unsigned char header[20] = {};
  if (::pread(evidenceFd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return false;
  return header[18] == 2 || header[19] == 2;
}
