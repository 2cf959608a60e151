#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "console/console.h"
#include "evidence/evidence_system.h"
#include "support/temp_folder.h"

// A Console whose standard input is a file holding the given script, as when
// the examiner's answers are piped in, and whose output is kept in memory.
class ScriptedConsole {
 public:
  explicit ScriptedConsole(const std::string& script) {
    WriteFileBytes(folder_ / "input", script);
    // Opened as the tool opens every file it reads, on every system.
    input_ = OpenEvidence((folder_ / "input").string(), EvidenceRole::kSidecar).fd;
    console_ = std::make_unique<Console>(input_.get(), output_);
  }

  Console& console() { return *console_; }
  std::string output() const { return output_.str(); }

 private:
  TempFolder folder_;
  FileDescriptor input_{-1};
  std::ostringstream output_;
  std::unique_ptr<Console> console_;
};
