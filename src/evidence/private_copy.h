#pragma once

// A private copy of an evidence database, for the databases SQLite cannot
// read where they stand without changing them: one in WAL mode, or with a
// "-wal" or "-journal" file beside it (a copy taken while the browser ran,
// or after it crashed). SQLite applies the WAL, or rolls the hot journal
// back, in the copy; the evidence is only ever read.
//
// The copy is made in a folder of its own, created with mkdtemp (mode 0700)
// in the system's temporary folder ($TMPDIR, else /tmp), its files created
// by the running user with mode 0600: whatever the owner and modes of the
// evidence, SQLite may write the copy, and nobody else may read it. The
// folder and every file SQLite may add to it are registered as leftovers
// before they exist, so that neither the end of the task, nor the end of the
// program, nor a signal ever leaves a copy of the evidence behind.

#include <memory>
#include <string>
#include <vector>

#include "base/leftover_files.h"

class PrivateCopy {
 public:
  // Copies the open, regular evidence file evidenceFd and the sidecars named
  // after evidenceName beside it. Nothing when it cannot; why, in words
  // naming the temporary folder and the system's reason, in failure.
  static std::unique_ptr<PrivateCopy> Make(int evidenceFd, const std::string& evidenceName, std::string& failure);

  ~PrivateCopy();
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;

  // The copy of the database, to open with SQLite.
  const std::string& database() const { return database_; }

 private:
  explicit PrivateCopy(std::string folder);

  std::string folder_;
  std::string database_;
  // The folder and, first, its files: removed in that order.
  std::vector<std::string> files_;
  std::vector<Leftover> leftovers_;
};

// Whether a database can only be read from a private copy: in WAL mode (its
// header says so), or with a "-wal" or "-journal" file beside it.
bool NeedsPrivateCopy(int evidenceFd, const std::string& evidenceName);
