#pragma once

// A file that a task writes into the evidence folder (CSV, HTML, image),
// which is either complete under its final name or absent.
//
// The bytes go first to a new file in the same folder that has no name
// (Linux's O_TMPFILE), or, where there are no such files (other file
// systems, Windows), to a temporary
// ".skv-<pid>-<n>.part" created exclusively and never through a link, so
// that nothing already there, the evidence included, is written through.
// Publish gives a complete file a temporary name and renames it to its final
// name once every byte has been written and the file closed without error;
// the rename replaces a regular file, or a symbolic or hard link, of that
// name without touching what it pointed to (on Windows: MoveFileEx, through
// to the disk; a file name that is a reparse point, a symbolic link or a
// junction, is never opened as a file). A file that is not published,
// because writing failed or the task ended early, is removed; if a signal
// or a console event ends the program, the registry of leftover files
// removes a named one; if
// the program is killed, a nameless one vanishes with it, and a named one is
// removed by the next run (RemoveUnfinishedOutputsOfEndedRuns): the run holds
// the file's lock (TakeRunLock) from its creation, and the next run removes
// only a file whose lock no run holds.
//
// Bytes are gathered in a buffer of the file's own and written out in blocks
// of 64 KiB, not line by line: no line of an unfinished file is ever visible
// under the final name, so there is nothing to gain by writing sooner. A
// piece of a block's size or more (a 50 MB cell, a large image) goes out as
// it is, without passing through the buffer.
//
// Nothing here writes to the console or ends the program: the first failure
// is kept as a value (the step, the file, the system's error number) for the
// task to report, and every later call does nothing.

#include <optional>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "base/leftover_files.h"

// Every line of a CSV or HTML file ends so.
inline constexpr std::string_view kLineEnd = "\r\n";

class OutputFile {
 public:
  // Begins the file that is to become finalName in the current folder; see
  // failure() for whether it could be created.
  explicit OutputFile(std::string finalName);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Removes the file if it was not published.
  ~OutputFile();

  const std::string& name() const { return finalName_; }
  // The first failure: Failure::Step::kCreate or kWrite, the final name and
  // the error number.
  const std::optional<Failure>& failure() const { return failure_; }

  // Appends bytes, written as they are.
  void Append(std::string_view bytes) {
    if (bytes.size() < room_) {
      pending_.append(bytes);
      room_ -= bytes.size();
    } else {
      AppendBlock(bytes);
    }
  }
  // Ends the line with CR LF.
  void EndLine() { Append(kLineEnd); }
  // Writes the rest, closes the file and gives it its final name. False when
  // any step failed, the file being removed then.
  bool Publish();

 private:
  static constexpr std::size_t kBlockSize = 64 * 1024;
  static constexpr std::size_t kSmallFile = 4 * 1024;

  void AppendBlock(std::string_view bytes);
  int OpenNamedTemporary();
  bool NameUnnamedFile();
  bool WriteOut(std::string_view bytes);
  void Fail(Failure::Step step, int error);
  void Discard();

  std::string finalName_;
  std::string temporaryName_;
  Leftover leftover_;
  int fd_ = -1;
  std::optional<Failure> failure_;
  std::string pending_;
  // What the buffer takes before it must grow or be written out; 0 once
  // anything has failed.
  std::size_t room_ = 0;
};

// Removes from the current folder the temporary files of outputs that
// earlier runs of this user left because they were killed: only regular
// files named as above whose lock no run holds. Gives how many.
int RemoveUnfinishedOutputsOfEndedRuns();
