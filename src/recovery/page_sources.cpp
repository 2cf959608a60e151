#include "recovery/page_sources.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace {

// The WAL's running checksum (4.3): over 32-bit words of the byte order the
// magic says, two sums each adding the other.
struct WalChecksum {
  std::uint32_t first = 0;
  std::uint32_t second = 0;

  void Add(Bytes bytes, bool bigEndian) {
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
      first += Word(bytes, at, bigEndian) + second;
      second += Word(bytes, at + 4, bigEndian) + first;
    }
  }
  static std::uint32_t Word(Bytes bytes, std::size_t at, bool bigEndian) {
    if (bigEndian) return BigEndian32(bytes, at);
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
  }
};

}  // namespace

bool PageSources::ReadAt(const EvidenceFile& file, std::uint64_t offset, std::vector<std::uint8_t>& out) const {
  for (std::size_t done = 0; done < out.size();) {
    const ssize_t got = ::pread(file.fd.get(), out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool PageSources::Open(const EvidenceFiles& files) {
  database_ = &files.files().front();
  wal_ = files.Sidecar("-wal");
  journal_ = files.Sidecar("-journal");
  std::vector<std::uint8_t> first(100);
  const std::optional<DatabaseHeader> header =
      ReadAt(*database_, 0, first) ? ReadDatabaseHeader(first) : std::nullopt;
  if (!header) {
    searched_.problems.push_back("no SQLite database header");
    return false;
  }
  header_ = *header;
  pageCount_ = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(database_->size) / header_.pageSize, UINT32_MAX));
  ReadFreelist();
  IndexWal();
  return true;
}

void PageSources::ReadFreelist() {
  freelist_.assign(static_cast<std::size_t>(pageCount_) + 1, false);
  trunks_.assign(static_cast<std::size_t>(pageCount_) + 1, false);
  std::vector<std::uint8_t> trunk(header_.usableSize);
  std::unordered_set<std::uint32_t> visited;
  for (std::uint32_t page = header_.firstFreelistTrunk; page != 0;) {
    if (page > pageCount_ || !visited.insert(page).second) {
      searched_.problems.push_back("a freelist chain that leads outside the file or back on itself");
      return;
    }
    if (!ReadAt(*database_, static_cast<std::uint64_t>(page - 1) * header_.pageSize, trunk)) return;
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
  if (wal_ == nullptr || static_cast<std::uint64_t>(wal_->size) < kWalHeaderSize) return;
  std::vector<std::uint8_t> header(kWalHeaderSize);
  if (!ReadAt(*wal_, 0, header)) return;
  const std::uint32_t magic = BigEndian32(header, 0);
  const std::uint32_t pageSize = BigEndian32(header, 8);
  if ((magic != kWalMagicLittle && magic != kWalMagicBig) || pageSize != header_.pageSize) {
    searched_.problems.push_back("a write-ahead log whose header is not SQLite's or whose page size differs");
    return;
  }
  const bool bigEndian = magic == kWalMagicBig;
  WalChecksum checksum;
  checksum.Add(Bytes(header).first(24), bigEndian);
  const bool headerValid = checksum.first == BigEndian32(header, 24) && checksum.second == BigEndian32(header, 28);
  const std::uint64_t frameSize = kWalFrameHeaderSize + pageSize;
  const std::uint64_t count = (static_cast<std::uint64_t>(wal_->size) - kWalHeaderSize) / frameSize;
  std::vector<std::uint8_t> frame(frameSize);
  bool chainValid = headerValid;
  std::size_t lastCommit = 0;  // 1 + the index of the last valid commit frame
  for (std::uint64_t index = 0; index < count; ++index) {
    if (!ReadAt(*wal_, kWalHeaderSize + index * frameSize, frame)) break;
    const Bytes bytes(frame);
    bool valid = chainValid && std::memcmp(frame.data() + 8, header.data() + 16, 8) == 0;
    if (valid) {
      checksum.Add(bytes.first(8), bigEndian);
      checksum.Add(bytes.subspan(kWalFrameHeaderSize), bigEndian);
      valid = checksum.first == BigEndian32(bytes, 16) && checksum.second == BigEndian32(bytes, 20);
    }
    chainValid = valid;
    frames_.push_back({BigEndian32(bytes, 0), valid, false});
    if (valid && BigEndian32(bytes, 4) != 0) lastCommit = frames_.size();
  }
  for (std::size_t index = 0; index < lastCommit; ++index) {
    frames_[index].committed = true;
    const std::uint32_t page = frames_[index].page;
    if (page == 0) continue;
    if (page >= currentFrame_.size()) {
      // Pages the WAL adds beyond the main file; at most one entry per frame.
      if (page > pageCount_ + lastCommit) continue;
      currentFrame_.resize(static_cast<std::size_t>(page) + 1, 0);
    }
    currentFrame_[page] = static_cast<std::uint32_t>(index + 1);
  }
}

bool PageSources::ReadCurrentPage(std::uint32_t n, std::vector<std::uint8_t>& out) const {
  out.resize(header_.pageSize);
  if (n < currentFrame_.size() && currentFrame_[n] != 0) {
    const std::uint64_t frameSize = kWalFrameHeaderSize + header_.pageSize;
    return ReadAt(*wal_, kWalHeaderSize + (currentFrame_[n] - 1) * frameSize + kWalFrameHeaderSize, out);
  }
  if (n == 0 || n > pageCount_) return false;
  return ReadAt(*database_, static_cast<std::uint64_t>(n - 1) * header_.pageSize, out);
}

std::vector<int> PageSources::PageOwners(const std::vector<std::uint32_t>& rootPages) const {
  const std::size_t pages = std::max<std::size_t>(pageCount_, currentFrame_.empty() ? 0 : currentFrame_.size() - 1);
  std::vector<int> owners(pages + 1, -1);
  std::vector<std::uint8_t> page;
  for (std::size_t table = 0; table < rootPages.size(); ++table) {
    std::vector<std::uint32_t> pending = {rootPages[table]};
    while (!pending.empty()) {
      const std::uint32_t number = pending.back();
      pending.pop_back();
      // A page already owned is not walked again: no b-tree loops.
      if (number == 0 || number > pages || owners[number] != -1 || !ReadCurrentPage(number, page)) continue;
      owners[number] = static_cast<int>(table);
      const std::optional<PageHeader> header = ReadPageHeader(page, number == 1 ? 100 : 0);
      if (!header || header->type != kTableInteriorPage) continue;
      // An interior cell begins with its left child; the right-most child
      // follows the page header's first 8 bytes.
      const std::size_t headerAt = number == 1 ? 100 : 0;
      pending.push_back(BigEndian32(page, headerAt + 8));
      for (std::uint32_t cell = 0; cell < header->cellCount; ++cell) {
        const std::size_t at = BigEndian16(page, header->cellPointers + 2 * cell);
        if (at + 4 <= header_.usableSize && at + 4 <= page.size()) pending.push_back(BigEndian32(page, at));
      }
    }
  }
  return owners;
}

bool PageSources::ReadOverflowPage(std::uint32_t n, std::vector<std::uint8_t>& out) const {
  if (n < trunks_.size() && trunks_[n]) return false;
  return ReadCurrentPage(n, out);
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
    if (!ReadAt(*database_, offset, buffer_)) break;
    ++searched_.pages;
    const bool replaced = page < currentFrame_.size() && currentFrame_[page] != 0;
    PageImage image{buffer_, page, !freelist_[page] && !replaced, freelist_[page], &database_->name, offset, {}};
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
  if (frames_.empty()) return;
  const std::uint64_t frameSize = kWalFrameHeaderSize + header_.pageSize;
  buffer_.resize(header_.pageSize);
  for (std::size_t index = 0; index < frames_.size(); ++index) {
    const std::uint64_t offset = kWalHeaderSize + index * frameSize + kWalFrameHeaderSize;
    if (!ReadAt(*wal_, offset, buffer_)) break;
    ++searched_.walFrames;
    const std::uint32_t page = frames_[index].page;
    const bool current = page < currentFrame_.size() && currentFrame_[page] == index + 1;
    const std::string where = "frame " + std::to_string(index + 1) + " (page " + std::to_string(page) + ")";
    PageImage image{buffer_, page, current, false, &wal_->name, offset, current ? "free space of " + where : where};
    visit(image);
  }
}

void PageSources::VisitJournal(const std::function<void(const PageImage&)>& visit) {
  if (journal_ == nullptr || static_cast<std::uint64_t>(journal_->size) < kJournalHeaderSize) return;
  std::vector<std::uint8_t> header(kJournalHeaderSize);
  if (!ReadAt(*journal_, 0, header)) return;
  const bool zeroed = std::all_of(header.begin(), header.end(), [](std::uint8_t byte) { return byte == 0; });
  std::uint32_t sector = 512;
  std::uint32_t pageSize = header_.pageSize;
  if (!zeroed) {
    if (std::memcmp(header.data(), kJournalMagic, sizeof kJournalMagic) != 0) {
      searched_.problems.push_back("a journal whose header is not SQLite's");
      return;
    }
    sector = BigEndian32(header, 20);
    pageSize = BigEndian32(header, 24);
    if (sector < 512 || sector > 65536 || (sector & (sector - 1)) != 0) sector = 512;
    if (pageSize != header_.pageSize) {
      searched_.problems.push_back("a journal whose page size differs from the database's");
      return;
    }
  }
  // A journal kept after its transaction (journal_mode PERSIST) has its
  // header zeroed, and its page records still in place.
  const std::uint64_t recordSize = 4 + static_cast<std::uint64_t>(pageSize) + 4;
  std::vector<std::uint8_t> number(4);
  buffer_.resize(pageSize);
  for (std::uint64_t at = sector; at + recordSize <= static_cast<std::uint64_t>(journal_->size); at += recordSize) {
    if (!ReadAt(*journal_, at, number) || !ReadAt(*journal_, at + 4, buffer_)) break;
    const std::uint32_t page = BigEndian32(number, 0);
    if (page == 0) break;  // past the records of the last transaction
    ++searched_.journalPages;
    PageImage image{buffer_, page, false, false, &journal_->name, at + 4, "page " + std::to_string(page)};
    visit(image);
  }
}
