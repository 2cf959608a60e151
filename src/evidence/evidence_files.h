#pragma once

// The files of one evidence database, opened for reading and looked at
// before anything reads them: the database, and the "-wal" and "-journal"
// beside the file its name leads to, which hold its changes not yet in it
// (a WAL not yet checkpointed, the journal of an unfinished transaction).
// The "-shm" index is not among them: SQLite rebuilds it from the WAL.
//
// Every file is opened read-only, without updating its access time where the
// system lets this user, and without waiting (evidence/evidence_system.h):
// - no file of the database's name: missing;
// - a folder, FIFO, device or socket, a link that leads nowhere, or a file
//   the user may not read, as the database or as one of its sidecars:
//   unreadable, with the file and the reason; a database is never read
//   without the changes its sidecars hold. A link to a regular file, such as
//   evidence on a mounted image, is followed, and the sidecars are looked for
//   beside the file it leads to.
//
// These descriptors are the only reads of the evidence: the private copy is
// made through them, and the recovery of deleted records reads their bytes.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"
#include "base/file_descriptor.h"
#include "base/system.h"

struct EvidenceFile {
  FileDescriptor fd;
  std::string name;    // as the examiner knows it: "places.sqlite", "places.sqlite-wal"
  std::string suffix;  // "" for the database, "-wal", "-journal"
  std::uint64_t size = 0;
};

class EvidenceFiles {
 public:
  enum class Found { kOpen, kMissing, kUnreadable };

  static EvidenceFiles Open(const std::string& fileName);

  Found found() const { return found_; }
  // Why the files cannot be read: Failure::Step::kRead, naming the database
  // or the sidecar.
  const std::optional<Failure>& failure() const { return failure_; }
  // The database first, then each sidecar there is.
  const std::vector<EvidenceFile>& files() const { return files_; }
  // The sidecar of that suffix, when there is one.
  const EvidenceFile* Sidecar(std::string_view suffix) const;

 private:
  static EvidenceFiles Unreadable(Failure failure);

  Found found_ = Found::kMissing;
  std::optional<Failure> failure_;
  std::vector<EvidenceFile> files_;
};

// What a sidecar of a database is, by the suffix of its name: "write-ahead
// log" or "journal".
std::string_view SidecarKind(std::string_view name);

// Reads out.size() bytes of the file at offset, as many reads as it takes:
// all of them, or fewer when the file ends first or a read fails, which
// the result tells apart.
ReadResult ReadExactly(int fd, std::uint64_t offset, std::span<std::uint8_t> out);
