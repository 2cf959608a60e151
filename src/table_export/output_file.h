#pragma once

// The files a task writes into the evidence folder: CSV, HTML and images.
//
// A file is created by its plain name (an existing one is emptied). Lines are
// gathered in a buffer and go to the file when they end, so every finished
// line is on disk before the next row of the evidence is read. A write that
// fails is never passed over: the task that sees EndLine or Close fail ends
// the program through EndProgramAfterWriteFailure.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class Console;

class OutputFile {
 public:
  // Nothing when the file cannot be created; errno tells why.
  static std::optional<OutputFile> Create(const std::string& name);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  ~OutputFile();

  const std::string& name() const { return name_; }
  // The system's error number of the failed write.
  int error() const { return error_; }

  // The line being written; appended to directly by the format writers.
  std::string& line() { return line_; }
  void Append(std::string_view text) { line_.append(text); }
  // Ends the line with CR LF and writes it out. False when the write failed.
  bool EndLine();
  // Writes what is pending without a line end (the last bytes of a page, or
  // image bytes). False when the write failed.
  bool Flush();
  // Flushes and closes. False when either failed.
  bool Close();

 private:
  OutputFile(std::string name, int fd) : name_(std::move(name)), fd_(fd) {}

  std::string name_;
  int fd_;
  int error_ = 0;
  std::string line_;
};

// Ends the program with exit status 1 after a creation failure: the task's
// own message, then two line ends.
[[noreturn]] void EndProgramWithMessage(Console& console, const std::string& message);

// "Error writing output file <name>:<system text>", two line ends, exit
// status 1: a file that lost data must never look like a finished one.
[[noreturn]] void EndProgramAfterWriteFailure(Console& console, const OutputFile& file);

// The system's standard text for an error number.
std::string SystemErrorText(int error);
