#pragma once

// The one way a task opens a browser database of the evidence folder.
//
// A database is looked for by its plain file name in the current folder and
// never changed: not a byte of it, not its access time, and nothing added
// beside it. Its files are opened and looked at as evidence_files.h says: a
// database that is missing, or that cannot be read with its sidecars, is
// reported so and never read. Any other is read, with its sidecars, into a
// private copy through the descriptors opened there (see private_copy.h), and
// the copy opened with SQLite. When no copy can be made (no room in the
// temporary folder), a database that SQLite can read where it stands without
// writing (no sidecar, not in WAL mode) is opened so, read-only, which may
// update its access time: readInPlace() says so and failure() why; any other
// is unreadable, with the temporary folder and the system's reason named.
// Whether the file holds a database at all is SQLite's to find out, at the
// first statement.
//
// Nothing here writes to the console: the task reports what was found.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "evidence/evidence_files.h"
#include "evidence/private_copy.h"
#include "evidence/sqlite_handles.h"

class EvidenceDatabase {
 public:
  enum class Found {
    kOpen,        // opened: get() is the connection
    kMissing,     // no file of that name
    kUnreadable,  // there, but not to be read: failure() says why
  };

  static EvidenceDatabase Open(const std::string& fileName);

  EvidenceDatabase() = default;

  Found found() const { return found_; }
  // Why an unreadable database could not be read: Failure::Step::kRead
  // naming the database or the sidecar that could not be read, or kCopy
  // naming the temporary folder where no private copy could be made (no
  // name: SQLite could not open the copy, its reason given). For a database
  // read in place, why no copy could be made.
  const std::optional<Failure>& failure() const { return failure_; }
  // Whether it was opened where it stands, no copy being possible.
  bool readInPlace() const { return found_ == Found::kOpen && failure_.has_value(); }

  // Closes the connection and removes the private copy, as soon as the
  // task has read all it needs: suspect data stays in the temporary folder
  // no longer than that, not through a pause.
  void Close();

  // The evidence files it was read from, still open: the database and its
  // sidecars, for a task that reads their bytes itself.
  const EvidenceFiles& files() const { return files_; }

  explicit operator bool() const { return db_ != nullptr; }
  sqlite3* get() const { return db_.get(); }

 private:
  static EvidenceDatabase Unreadable(Failure failure);

  Found found_ = Found::kMissing;
  std::optional<Failure> failure_;
  EvidenceFiles files_;
  std::unique_ptr<PrivateCopy> copy_;  // declared first: removed after the connection closes
  DatabaseHandle db_;
};

