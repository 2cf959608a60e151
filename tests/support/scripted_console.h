#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>

#include "console/console.h"
#include "support/temp_folder.h"

// A Console whose standard input is a file holding the given script, as when
// the examiner's answers are piped in, and whose output is kept in memory.
class ScriptedConsole {
 public:
  explicit ScriptedConsole(const std::string& script) {
    WriteFileBytes(folder_ / "input", script);
    fd_ = ::open((folder_ / "input").c_str(), O_RDONLY);
    console_ = std::make_unique<Console>(fd_, output_);
  }
  ~ScriptedConsole() { ::close(fd_); }

  Console& console() { return *console_; }
  std::string output() const { return output_.str(); }

 private:
  TempFolder folder_;
  int fd_ = -1;
  std::ostringstream output_;
  std::unique_ptr<Console> console_;
};
