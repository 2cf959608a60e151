#pragma once

// The private copy of an evidence database that SQLite reads in its place.
//
// SQLite never opens evidence where it stands: even a read-only open reads
// the file through a descriptor of SQLite's own, which updates its access
// time, and a database in WAL mode or with a hot journal cannot be read
// without writing. The evidence layer reads each file once, through the one
// descriptor it opened without updating the access time, into this copy;
// SQLite applies the WAL, or rolls a hot journal back, in the copy.
//
// The copy is made in a folder of its own, "skv-<pid>-XXXXXX" created with
// mkdtemp (mode 0700) in the system's temporary folder ($TMPDIR, else /tmp),
// its files created by the running user with mode 0600: whatever the owner
// and modes of the evidence, SQLite may write the copy, and nobody else may
// read it; on Windows a folder of the user's own temporary folder, which
// the user's profile already keeps from others. The folder and every file SQLite may add to it are registered as
// leftovers before they exist, so that neither the end of the task, nor the
// end of the program, nor a signal leaves a copy of the evidence behind; the
// run holds the folder's lock (TakeRunLock; on Windows, where a folder takes
// no lock, a file "run.lock" in it) for as long as the copy lives, so
// that a later run removes the copy of a run that was killed, and never one
// a run still uses (RemovePrivateCopiesOfEndedRuns).
//
// The copy keeps the holes of a sparse file: it never takes more disk than
// the evidence does.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/file_descriptor.h"
#include "base/leftover_files.h"

class PrivateCopy {
 public:
  // One file to copy: the open, regular evidence file or one of its
  // sidecars, its name as the examiner knows it, and the suffix it takes
  // after the copy's name ("" for the database, "-wal", "-journal").
  struct Source {
    int fd;
    std::uint64_t size;
    std::string name;
    std::string suffix;
  };

  // Copies the sources, the database first. Nothing when it cannot; why in
  // failure: Failure::Step::kRead naming the source whose read failed, or
  // kCopy naming the temporary folder.
  static std::unique_ptr<PrivateCopy> Make(const std::vector<Source>& sources, Failure& failure);

  ~PrivateCopy();
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;

  // The copy of the database, to open with SQLite.
  const std::string& database() const { return database_; }

 private:
  explicit PrivateCopy(std::string folder);

  std::string folder_;
  std::string database_;
  FileDescriptor lock_{-1};  // the folder, its lock held while the copy lives
  // The folder and, first, its files: removed in that order.
  std::vector<std::string> files_;
  std::vector<Leftover> leftovers_;
};

// Removes the private copies that earlier runs of this user left in the
// temporary folder because they were killed (SIGKILL, a power cut): only
// folders named as above whose lock no run holds, and in them only the
// files a copy is made of. Gives how many copies were removed.
int RemovePrivateCopiesOfEndedRuns();
