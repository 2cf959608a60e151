#pragma once

// A file that a task writes into the evidence folder (CSV, HTML, image),
// which is either complete under its final name or absent.
//
// The bytes go first to a new file in the same folder that has no name
// (O_TMPFILE), or, where the file system has no such files, to a temporary
// ".skv-<pid>-<n>.part" created exclusively and never through a link, so
// that nothing already there, the evidence included, is written through.
// Publish gives a complete file a temporary name and renames it to its final
// name once every byte has been written and the file closed without error;
// the rename replaces a regular file, or a symbolic or hard link, of that
// name without touching what it pointed to. A file that is not published,
// because writing failed or the task ended early, is removed; if a signal
// ends the program, the registry of leftover files removes a named one; if
// the program is killed, a nameless one vanishes with it, and a named one is
// removed by the next run (RemoveUnfinishedOutputsOfEndedRuns).
//
// Writes go out in blocks of 64 KiB, not line by line: no line of an
// unfinished file is ever visible under the final name, so there is nothing
// to gain by writing sooner.
//
// Nothing here writes to the console or ends the program: a failure is kept
// as a value (what failed, the file, the system's error number) for the task
// to report.

#include <string>
#include <string_view>

#include "base/leftover_files.h"

// Every line of a CSV or HTML file ends so.
inline constexpr std::string_view kLineEnd = "\r\n";

struct OutputFailure {
  enum class Step {
    kCreate,  // the temporary file could not be created
    kWrite,   // a write, the close or the rename failed
  };
  Step step = Step::kCreate;
  std::string fileName;  // the final name
  int error = 0;         // errno
};

class OutputFile {
 public:
  // Begins the file that is to become finalName in the current folder; see
  // failed() for whether it could be created.
  explicit OutputFile(std::string finalName);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Removes the temporary file of a file not published.
  ~OutputFile();

  const std::string& name() const { return finalName_; }
  bool failed() const { return error_ != 0; }
  OutputFailure failure() const { return {step_, finalName_, error_}; }

  // What is waiting to be written; the format writers append to it.
  std::string& pending() { return pending_; }
  // Appends bytes, written as they are.
  void Append(std::string_view bytes);
  // Ends the line with CR LF; writes a full block out. False once anything
  // has failed.
  bool EndLine();
  // Writes the rest, closes the file and gives it its final name. False when
  // any step failed, the file being removed then.
  bool Publish();

 private:
  int OpenNamedTemporary();
  bool NameUnnamedFile();
  bool WriteOut(std::string_view bytes);
  void WritePendingIfFull();
  void ReserveBlock();
  void Fail(OutputFailure::Step step, int error);
  void Discard();

  std::string finalName_;
  std::string temporaryName_;
  Leftover leftover_;
  int fd_ = -1;
  OutputFailure::Step step_ = OutputFailure::Step::kCreate;
  int error_ = 0;
  std::string pending_;
};

// Removes from the current folder the temporary files of outputs that
// earlier runs of this user left because they were killed: only regular
// files named as above whose process no longer runs. Gives how many.
int RemoveUnfinishedOutputsOfEndedRuns();
