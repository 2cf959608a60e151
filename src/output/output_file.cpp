#include "output/output_file.h"

#include <algorithm>
#include <functional>

#include "base/system.h"
#include "output/output_system.h"

namespace {

// Temporary names are hidden, carry the process id, and are tried until one
// is free: the exclusive creation, not the name, is what makes them safe.
constexpr int kNameAttempts = 1000;

constexpr std::string_view kTemporaryPrefix = ".skv-";
constexpr std::string_view kTemporarySuffix = ".part";

std::string TemporaryName(unsigned sequence) {
  static const std::string prefix = std::string(kTemporaryPrefix) + std::to_string(CurrentProcessId()) + "-";
  return prefix + std::to_string(sequence) + std::string(kTemporarySuffix);
}

// Makes a file under the first free temporary name, by create, which gives
// an error number or 0; registered as a leftover before it exists so that an
// interruption can never leave it behind. Gives the error number of the last
// attempt, or 0 with name and leftover set.
int ClaimTemporaryName(std::string& name, Leftover& leftover, const std::function<int(const std::string&)>& create) {
  static unsigned sequence = 0;
  int error = NameTakenError();
  for (int attempt = 0; attempt < kNameAttempts && error == NameTakenError(); ++attempt) {
    std::string candidate = TemporaryName(++sequence);
    Leftover registered(candidate, Leftover::Kind::kFile);
    error = create(candidate);
    if (error == 0) {
      name = std::move(candidate);
      leftover = std::move(registered);
      return 0;
    }
  }
  return error;
}

bool IsNamedLikeTemporary(std::string_view name) {
  return name.ends_with(kTemporarySuffix) && IsNamedLikeLeftover(name, kTemporaryPrefix);
}

}  // namespace

OutputFile::OutputFile(std::string finalName) : finalName_(std::move(finalName)) {
  // A file without a name until it is complete, where the file system has
  // them: however the program ends before then, nothing is left behind.
  // Locked from the start: the temporary name it takes when published is
  // then never another run's leftover to sweep.
  fd_ = CreateUnnamedOutput();
  if (fd_ >= 0) return;
  // Otherwise a named temporary, which a handler or a later run removes.
  fd_ = OpenNamedTemporary();
}

int OutputFile::OpenNamedTemporary() {
  int fd = -1;
  const int error = ClaimTemporaryName(temporaryName_, leftover_, [&fd](const std::string& name) {
    int created = 0;
    fd = CreateNamedOutput(name, created);
    return created;
  });
  if (error != 0) Fail(Failure::Step::kCreate, error);
  return fd;
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  if (fd_ >= 0) CloseDescriptor(fd_);
  fd_ = -1;
  if (!temporaryName_.empty()) RemoveFileNow(temporaryName_.c_str());
  temporaryName_.clear();
  leftover_.Release();
}

void OutputFile::Fail(Failure::Step step, int error) {
  if (failure_) return;
  failure_ = Failure{step, finalName_, error != 0 ? error : InputOutputError(), {}};
  room_ = 0;
  Discard();
}

bool OutputFile::WriteOut(std::string_view bytes) {
  if (failure_) return false;
  if (const int error = WriteAll(fd_, bytes); error != 0) Fail(Failure::Step::kWrite, error);
  return !failure_;
}

void OutputFile::AppendBlock(std::string_view bytes) {
  if (failure_) return;
  if (pending_.size() + bytes.size() < kBlockSize) {
    // A file that grows past a small one gets its whole block at once:
    // growing by doubling would end at twice the block, and a small file (a
    // favicon, an empty table) needs none of it.
    if (pending_.size() + bytes.size() > kSmallFile) pending_.reserve(kBlockSize);
    pending_.append(bytes);
  } else if (pending_.empty()) {
    WriteOut(bytes);
  } else {
    // The block filled and written; what remains goes out as it is when it
    // is a block or more, else starts the next block.
    const std::size_t fill = kBlockSize - pending_.size();
    pending_.append(bytes.substr(0, fill));
    bytes.remove_prefix(fill);
    if (!WriteOut(pending_)) return;
    pending_.clear();
    if (bytes.size() >= kBlockSize) {
      WriteOut(bytes);
    } else {
      pending_.append(bytes);
    }
  }
  room_ = failure_ ? 0 : std::min(pending_.capacity(), kBlockSize) - pending_.size();
}

bool OutputFile::NameUnnamedFile() {
  const int error = ClaimTemporaryName(temporaryName_, leftover_,
                                       [this](const std::string& name) { return NameUnnamedOutput(fd_, name); });
  if (error != 0) Fail(Failure::Step::kWrite, error);
  return error == 0;
}

bool OutputFile::Publish() {
  if (failure_) return false;
  if (!WriteOut(pending_)) return false;
  pending_.clear();
  // A file without a name gets a temporary one first: naming it cannot
  // replace an earlier file of the final name, renaming can.
  if (temporaryName_.empty() && !NameUnnamedFile()) return false;
  const int fd = fd_;
  fd_ = -1;
  if (const int error = CloseOutput(fd); error != 0) {
    Fail(Failure::Step::kWrite, error);
    return false;
  }
  if (const int error = ReplaceWith(temporaryName_, finalName_); error != 0) {
    Fail(Failure::Step::kWrite, error);
    return false;
  }
  temporaryName_.clear();
  leftover_.Release();
  return true;
}

int RemoveUnfinishedOutputsOfEndedRuns() { return RemoveUnlockedOutputs(IsNamedLikeTemporary); }
