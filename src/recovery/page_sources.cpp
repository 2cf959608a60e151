#include "recovery/page_sources.h"

#include <algorithm>
#include <unordered_set>

#include "base/system_error.h"

namespace {

SourceFile FileOf(const EvidenceFile* file) {
  if (file == nullptr) return {};
  const int fd = file->fd.get();
  return {file->name, static_cast<std::uint64_t>(file->size),
          [fd](std::uint64_t offset, std::span<std::uint8_t> out) { return ReadExactly(fd, offset, out); }};
}

// The sector sizes a journal's records may start at: SQLite pads its header
// to one.
constexpr std::uint32_t kLeastSector = 512;
constexpr std::uint32_t kMostSector = 65536;

}  // namespace

bool PageSources::Read(const SourceFile& file, std::uint64_t offset, std::vector<std::uint8_t>& out) const {
  const ReadResult result = file.read(offset, out);
  if (result.got == out.size()) return true;
  // A file shorter than its structure says is told by the structure's own
  // check; only the system's failures are reads that failed.
  if (result.error != 0) {
    auto found = std::find_if(failedReads_.begin(), failedReads_.end(),
                              [&file](const auto& failed) { return failed.first == file.name; });
    if (found == failedReads_.end()) {
      failedReads_.push_back({file.name, {0, offset + result.got, SystemErrorText(result.error)}});
      found = failedReads_.end() - 1;
    }
    ++found->second.count;
  }
  return false;
}

SearchedPlaces PageSources::searched() const {
  SearchedPlaces searched = searched_;
  for (const auto& [name, failed] : failedReads_) {
    searched.problems.push_back(std::to_string(failed.count) + (failed.count == 1 ? " read" : " reads") + " of " +
                                name + " that failed, the first at byte " + std::to_string(failed.firstOffset) +
                                ": " + failed.firstWhy);
  }
  return searched;
}

bool PageSources::Open(const EvidenceFiles& files) {
  return Open(FileOf(&files.files().front()), FileOf(files.Sidecar("-wal")), FileOf(files.Sidecar("-journal")));
}

bool PageSources::Open(SourceFile database, SourceFile wal, SourceFile journal) {
  database_ = std::move(database);
  wal_ = std::move(wal);
  journal_ = std::move(journal);
  std::vector<std::uint8_t> first(kDatabaseHeaderSize);
  const std::optional<DatabaseHeader> header = Read(database_, 0, first) ? ReadDatabaseHeader(first) : std::nullopt;
  if (!header) {
    searched_.problems.push_back("no SQLite database header");
    return false;
  }
  header_ = *header;
  pageCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(database_.size / header_.pageSize, UINT32_MAX));
  ReadFreelist();
  IndexWal();
  return true;
}

void PageSources::ReadFreelist() {
  freelist_.assign(static_cast<std::size_t>(pageCount_) + 1, false);
  trunks_.assign(static_cast<std::size_t>(pageCount_) + 1, false);
  std::vector<std::uint8_t> trunk(header_.usableSize);
  for (std::uint32_t page = header_.firstFreelistTrunk; page != 0;) {
    if (page > pageCount_ || trunks_[page]) {
      searched_.problems.push_back("a freelist chain that leads outside the file or back on itself");
      return;
    }
    if (!Read(database_, static_cast<std::uint64_t>(page - 1) * header_.pageSize, trunk)) return;
    freelist_[page] = true;
    trunks_[page] = true;
    const std::uint32_t leaves = BigEndian32(trunk, 4);
    if (leaves > (header_.usableSize - 8) / 4) {
      searched_.problems.push_back("a freelist trunk page with more leaves than it holds");
      return;
    }
    for (std::uint32_t leaf = 0; leaf < leaves; ++leaf) {
      const std::uint32_t number = BigEndian32(trunk, 8 + 4 * leaf);
      if (number != 0 && number <= pageCount_) freelist_[number] = true;
    }
    page = BigEndian32(trunk, 0);
  }
}

void PageSources::IndexWal() {
  if (wal_.size < kWalHeaderSize) return;
  std::vector<std::uint8_t> headerBytes(kWalHeaderSize);
  if (!Read(wal_, 0, headerBytes)) return;
  const std::optional<WalHeader> header = ReadWalHeader(headerBytes);
  if (!header || header->pageSize != header_.pageSize) {
    searched_.problems.push_back("a write-ahead log whose header is not SQLite's or whose page size differs");
    return;
  }
  const bool bigEndian = header->bigEndian;
  WalChecksum running;
  running.Add(Bytes(headerBytes).first(kWalHeaderChecksummed), bigEndian);
  bool chainValid = running.Matches(header->checksums);
  const std::uint64_t frameSize = kWalFrameHeaderSize + header_.pageSize;
  const std::uint64_t count = (wal_.size - kWalHeaderSize) / frameSize;
  std::vector<std::uint8_t> frame(frameSize);
  std::size_t lastCommit = 0;  // 1 + the index of the last valid commit frame
  // The frame before, whose checksum seeds this one's in its generation.
  std::optional<WalFrameHeader> previous;
  std::uint32_t largestCommit = pageCount_;
  for (std::uint64_t index = 0; index < count; ++index) {
    if (!Read(wal_, kWalHeaderSize + index * frameSize, frame)) break;
    const Bytes bytes(frame);
    const WalFrameHeader frameHeader = ReadWalFrameHeader(bytes);
    const auto checksumFrom = [&](const std::uint32_t (&seed)[2]) {
      WalChecksum sum{seed[0], seed[1]};
      sum.Add(bytes.first(kWalFrameChecksummed), bigEndian);
      sum.Add(bytes.subspan(kWalFrameHeaderSize), bigEndian);
      return sum.Matches(frameHeader.checksums);
    };
    const bool sameSaltsAsHeader =
        frameHeader.salts[0] == header->salts[0] && frameHeader.salts[1] == header->salts[1];
    bool valid = chainValid && sameSaltsAsHeader;
    if (valid) {
      const std::uint32_t seed[2] = {running.first, running.second};
      valid = checksumFrom(seed);
      if (valid) running = WalChecksum{frameHeader.checksums[0], frameHeader.checksums[1]};
    }
    chainValid = valid;
    // Outside the valid chain, a frame is vouched for by its generation's
    // own chain: the frame before it, of the same salts, seeds its checksum.
    const bool continues = !valid && previous && previous->salts[0] == frameHeader.salts[0] &&
                           previous->salts[1] == frameHeader.salts[1] && checksumFrom(previous->checksums);
    if (continues && !frames_.empty()) frames_.back().searched = true;  // the chain vouches for its start too
    frames_.push_back({frameHeader.pageNumber, valid, false, valid || continues});
    if (valid && frameHeader.commitSize != 0) {
      lastCommit = frames_.size();
      largestCommit = std::max(largestCommit, frameHeader.commitSize);
    }
    previous = frameHeader;
  }
  // A page number the database never reached is no page of it: the
  // database grows by a page a frame at most, whatever a commit claims.
  const std::uint64_t mostPages =
      std::min<std::uint64_t>(std::max(largestCommit, pageCount_), std::uint64_t{pageCount_} + frames_.size());
  std::uint64_t unverified = 0;
  for (std::size_t index = 0; index < frames_.size(); ++index) {
    Frame& frame = frames_[index];
    if (frame.page == 0 || frame.page > mostPages) frame.searched = false;
    if (!frame.searched) ++unverified;
    if (index >= lastCommit || !frame.valid || !frame.searched) continue;
    frame.committed = true;
    if (frame.page >= currentFrame_.size()) currentFrame_.resize(static_cast<std::size_t>(frame.page) + 1, 0);
    currentFrame_[frame.page] = static_cast<std::uint32_t>(index + 1);
  }
  if (unverified > 0) {
    searched_.problems.push_back(std::to_string(unverified) + " WAL " + (unverified == 1 ? "frame" : "frames") +
                                 " whose checksum nothing verifies");
  }
}

bool PageSources::ReadCurrentPage(std::uint32_t n, std::vector<std::uint8_t>& out) const {
  out.resize(header_.pageSize);
  if (n < currentFrame_.size() && currentFrame_[n] != 0) {
    const std::uint64_t frameSize = kWalFrameHeaderSize + header_.pageSize;
    return Read(wal_, kWalHeaderSize + (currentFrame_[n] - 1) * frameSize + kWalFrameHeaderSize, out);
  }
  if (n == 0 || n > pageCount_) return false;
  return Read(database_, static_cast<std::uint64_t>(n - 1) * header_.pageSize, out);
}

bool PageSources::ReadOverflowPage(std::uint32_t n, std::vector<std::uint8_t>& out) const {
  if (n < trunks_.size() && trunks_[n]) return false;
  return ReadCurrentPage(n, out);
}

void PageSources::WalkTree(std::uint32_t root, std::vector<bool>& seen,
                           const std::function<void(std::uint32_t page, bool leaf)>& visit) const {
  std::vector<std::uint32_t> pending = {root};
  std::vector<std::uint8_t> page;
  bool indexTree = false;
  while (!pending.empty()) {
    const std::uint32_t number = pending.back();
    pending.pop_back();
    // A page already seen is not walked again: no b-tree loops.
    if (number == 0 || number >= seen.size() || seen[number] || !ReadCurrentPage(number, page)) continue;
    seen[number] = true;
    const std::size_t headerAt = BTreeHeaderOffset(number);
    const std::optional<PageHeader> header = ReadPageHeader(page, headerAt);
    if (!header) continue;
    // A b-tree's pages are all of its root's kind, table or index.
    const bool index = header->type == kIndexInteriorPage || header->type == kIndexLeafPage;
    if (number == root) indexTree = index;
    if (index != indexTree) continue;
    const bool interior = header->type == kTableInteriorPage || header->type == kIndexInteriorPage;
    visit(number, !interior);
    if (!interior) continue;
    // Pushed right-most first, so that the leaves come out in key order.
    pending.push_back(BigEndian32(page, headerAt + kRightMostChildAt));
    for (std::uint32_t cell = header->cellCount; cell-- > 0;) {
      const std::size_t at = BigEndian16(page, header->cellPointers + 2 * cell);
      if (at + 4 <= header_.usableSize && at + 4 <= page.size()) pending.push_back(BigEndian32(page, at));
    }
  }
}

std::vector<std::uint32_t> PageSources::TableLeaves(std::uint32_t root) const {
  std::vector<bool> seen(std::max<std::size_t>(pageCount_, currentFrame_.size()) + 1, false);
  std::vector<std::uint32_t> leaves;
  WalkTree(root, seen, [&leaves](std::uint32_t page, bool leaf) {
    if (leaf) leaves.push_back(page);
  });
  return leaves;
}

std::vector<int> PageSources::PageOwners(const std::vector<std::uint32_t>& rootPages) const {
  std::vector<bool> seen(std::max<std::size_t>(pageCount_, currentFrame_.size()) + 1, false);
  std::vector<int> owners(seen.size(), -1);
  for (std::size_t table = 0; table < rootPages.size(); ++table) {
    WalkTree(rootPages[table], seen, [&](std::uint32_t page, bool) { owners[page] = static_cast<int>(table); });
  }
  return owners;
}

void PageSources::ForEachImage(const std::function<void(const PageImage&)>& visit) {
  VisitMainFile(visit);
  VisitWal(visit);
  VisitJournal(visit);
}

void PageSources::VisitMainFile(const std::function<void(const PageImage&)>& visit) {
  buffer_.resize(header_.pageSize);
  for (std::uint32_t page = 1; page <= pageCount_; ++page) {
    const std::uint64_t offset = static_cast<std::uint64_t>(page - 1) * header_.pageSize;
    if (!Read(database_, offset, buffer_)) continue;
    ++searched_.pages;
    const bool replaced = page < currentFrame_.size() && currentFrame_[page] != 0;
    PageImage image{buffer_, page, !freelist_[page] && !replaced, freelist_[page], &database_.name, offset, {}, {}};
    if (freelist_[page]) {
      ++searched_.freelistPages;
      image.place = "freelist page " + std::to_string(page);
    } else if (replaced) {
      image.place = "page " + std::to_string(page) + ", older than its WAL frame";
    } else {
      image.place = "free space of page " + std::to_string(page);
    }
    visit(image);
  }
}

void PageSources::VisitWal(const std::function<void(const PageImage&)>& visit) {
  const std::uint64_t frameSize = kWalFrameHeaderSize + header_.pageSize;
  buffer_.resize(header_.pageSize);
  for (std::size_t index = 0; index < frames_.size(); ++index) {
    const Frame& frame = frames_[index];
    if (!frame.searched) continue;
    const std::uint64_t offset = kWalHeaderSize + index * frameSize + kWalFrameHeaderSize;
    if (!Read(wal_, offset, buffer_)) continue;
    ++searched_.walFrames;
    const bool current = frame.page < currentFrame_.size() && currentFrame_[frame.page] == index + 1;
    const std::string where = "frame " + std::to_string(index + 1) + " (page " + std::to_string(frame.page) + ")";
    visit({buffer_, frame.page, current, false, &wal_.name, offset, current ? "free space of " + where : where, {}});
  }
}

void PageSources::VisitJournal(const std::function<void(const PageImage&)>& visit) {
  if (journal_.size < kJournalHeaderSize) return;
  std::vector<std::uint8_t> headerBytes(kJournalHeaderSize);
  if (!Read(journal_, 0, headerBytes)) return;
  const bool zeroed = std::all_of(headerBytes.begin(), headerBytes.end(), [](std::uint8_t byte) { return byte == 0; });
  std::optional<JournalHeader> header = ReadJournalHeader(headerBytes);
  if (!zeroed && !header) {
    searched_.problems.push_back("a journal whose header is not SQLite's");
    return;
  }
  if (header && header->pageSize != header_.pageSize) {
    searched_.problems.push_back("a journal whose page size differs from the database's");
    return;
  }
  const std::uint64_t recordSize = kJournalPageNumberSize + header_.pageSize + kJournalChecksumSize;
  std::vector<std::uint8_t> record(recordSize);
  const Bytes recordBytes(record);
  const Bytes page = recordBytes.subspan(kJournalPageNumberSize, header_.pageSize);
  const auto pageNumber = [&] { return BigEndian32(recordBytes, 0); };
  const auto storedChecksum = [&] { return BigEndian32(recordBytes, kJournalPageNumberSize + header_.pageSize); };
  // A page number of the database before the transaction.
  const std::uint32_t mostPages = header ? header->initialPages : pageCount_;
  const auto plausible = [&](std::uint32_t number) { return number >= 1 && number <= mostPages; };

  std::uint64_t start = header ? header->sectorSize : kLeastSector;
  std::optional<std::uint32_t> nonce;
  if (header) nonce = header->nonce;
  if (zeroed) {
    // A header zeroed after its transaction (journal_mode PERSIST) took the
    // nonce and the sector size with it: the records begin at a sector, and
    // a sector where two records agree on one nonce gives both.
    for (std::uint64_t sector = kLeastSector; sector <= kMostSector && !nonce; sector *= 2) {
      if (sector + 2 * recordSize > journal_.size || !Read(journal_, sector, record) || !plausible(pageNumber())) {
        continue;
      }
      const std::uint32_t candidate = storedChecksum() - JournalChecksum(0, page);
      if (!Read(journal_, sector + recordSize, record) || !plausible(pageNumber())) continue;
      if (JournalChecksum(candidate, page) == storedChecksum()) {
        nonce = candidate;
        start = sector;
      }
    }
  }
  std::uint64_t failed = 0;
  buffer_.resize(header_.pageSize);
  for (std::uint64_t at = start; at + recordSize <= journal_.size; at += recordSize) {
    if (!Read(journal_, at, record)) break;
    const std::uint32_t number = pageNumber();
    if (number == 0) break;  // past the records of the last transaction
    // Without a nonce, a lone record of a zeroed journal: its own checksum
    // cannot be checked, only its page number.
    const bool checked = nonce.has_value();
    if ((checked && JournalChecksum(*nonce, page) != storedChecksum()) || !plausible(number)) {
      ++failed;
      continue;
    }
    ++searched_.journalPages;
    std::copy(page.begin(), page.end(), buffer_.begin());
    visit({buffer_, number, false, false, &journal_.name, at + kJournalPageNumberSize, "page " + std::to_string(number),
           checked ? "" : "its journal page's checksum could not be checked"});
    if (!checked) break;  // a second record would have given the nonce
  }
  if (failed > 0) {
    searched_.problems.push_back(std::to_string(failed) + " journal " + (failed == 1 ? "record" : "records") +
                                 " whose checksum or page number does not hold");
  }
}
