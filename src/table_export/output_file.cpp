#include "table_export/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "console/console.h"

std::optional<OutputFile> OutputFile::Create(const std::string& name) {
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return std::nullopt;
  return OutputFile(name, fd);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : name_(std::move(other.name_)), fd_(other.fd_), error_(other.error_), line_(std::move(other.line_)) {
  other.fd_ = -1;
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::EndLine() {
  line_ += "\r\n";
  return Flush();
}

bool OutputFile::Flush() {
  if (error_ != 0) return false;
  std::size_t written = 0;
  while (written < line_.size()) {
    ssize_t result = ::write(fd_, line_.data() + written, line_.size() - written);
    if (result < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    written += static_cast<std::size_t>(result);
  }
  line_.clear();
  return true;
}

bool OutputFile::Close() {
  bool flushed = Flush();
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && flushed) {
    error_ = errno;
    return false;
  }
  return flushed;
}

std::string SystemErrorText(int error) { return std::strerror(error); }

void EndProgramWithMessage(Console& console, const std::string& message) {
  console.WriteLine(message);
  console.WriteLine();
  throw ProgramEnd{1};
}

void EndProgramAfterWriteFailure(Console& console, const OutputFile& file) {
  EndProgramWithMessage(console, "Error writing output file " + file.name() + ":" + SystemErrorText(file.error()));
}
