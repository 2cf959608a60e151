#include "evidence/evidence_files.h"

#include "evidence/evidence_system.h"

namespace {

// The files that hold a database's changes not yet in it: a WAL not yet
// checkpointed, or the journal of a transaction not finished. The "-shm"
// index is not among them: SQLite rebuilds it from the WAL.
constexpr std::string_view kSidecars[] = {"-wal", "-journal"};

Failure ReadFailure(const std::string& name, int error, std::string reason = {}) {
  return {Failure::Step::kRead, name, error, std::move(reason)};
}

}  // namespace

std::string_view SidecarKind(std::string_view name) {
  return name.ends_with("-wal") ? "write-ahead log" : "journal";
}

EvidenceFiles EvidenceFiles::Unreadable(Failure failure) {
  EvidenceFiles files;
  files.found_ = Found::kUnreadable;
  files.failure_ = std::move(failure);
  return files;
}

const EvidenceFile* EvidenceFiles::Sidecar(std::string_view suffix) const {
  for (const EvidenceFile& file : files_) {
    if (!file.suffix.empty() && file.suffix == suffix) return &file;
  }
  return nullptr;
}

EvidenceFiles EvidenceFiles::Open(const std::string& fileName) {
  OpenedEvidence database = OpenEvidence(fileName, EvidenceRole::kDatabase);
  if (database.state == OpenedEvidence::State::kMissing) return EvidenceFiles();
  if (database.state == OpenedEvidence::State::kUnreadable) {
    return Unreadable(ReadFailure(fileName, database.error, std::move(database.reason)));
  }
  EvidenceFiles files;
  const std::string& shownBase = database.isLink ? database.resolved : fileName;
  files.files_.push_back({std::move(database.fd), fileName, "", database.size});
  for (const std::string_view suffix : kSidecars) {
    const std::string shown = shownBase + std::string(suffix);
    OpenedEvidence sidecar = OpenEvidence(database.resolved + std::string(suffix), EvidenceRole::kSidecar);
    if (sidecar.state == OpenedEvidence::State::kMissing) continue;
    if (sidecar.state == OpenedEvidence::State::kUnreadable) {
      return Unreadable(ReadFailure(shown, sidecar.error, std::move(sidecar.reason)));
    }
    files.files_.push_back({std::move(sidecar.fd), shown, std::string(suffix), sidecar.size});
  }
  files.found_ = Found::kOpen;
  return files;
}

ReadResult ReadExactly(int fd, std::uint64_t offset, std::span<std::uint8_t> out) { return ReadAt(fd, offset, out); }
