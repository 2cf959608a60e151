#include "recovery/record_carver.h"

#include <algorithm>
#include <limits>

#include "recovery/record_evidence.h"

namespace {

// The bits a record's checks must hold (record_evidence.h), by where it was
// found: see record_carver.h.
constexpr double kBitsAtAPointer = 16;
constexpr double kBitsOfAFreeblockRun = 10;
constexpr double kBitsOfASearchedRun = 30;
// What a run's reaching the end of its region holds.
constexpr double kBitsOfAnEnd = 6;
// What a reading a check of its own vouches for holds: more than any place
// asks.
constexpr double kBitsOfAVouchedReading = 64;

// A stale freeblock header in a gap holds a record of 2 bytes at least
// after its own 4.
constexpr std::size_t kLeastStaleBlock = kFreeblockHeaderSize + 2;

}  // namespace

const char* PassedOverWords(PassedOver reason) {
  switch (reason) {
    case PassedOver::kPointerOutsidePage: return "pointing outside their page";
    case PassedOver::kPointerRepeated: return "pointed at again";
    case PassedOver::kNotACell: return "whose lengths do not hold";
    case PassedOver::kNotARecord: return "holding no record";
    case PassedOver::kOverflowBroken: return "whose overflow chain is broken";
    case PassedOver::kOverflowTaken: return "whose overflow chain another cell took";
    case PassedOver::kTooLarge: return "too large to gather";
    case PassedOver::kFitsNoTable: return "fitting no table";
    case PassedOver::kTooFewChecks: return "too short to tell from chance";
    case PassedOver::kReadTwoWays: return "read two ways";
    case PassedOver::kSeveralTables: return "rebuilt for several tables alike";
    case PassedOver::kSeveralIndexes: return "read for several indexes alike";
    case PassedOver::kLiveRow: return "copies of live rows";
    case PassedOver::kFoundBefore: return "found before";
    case PassedOver::kReadWholeElsewhere: return "found whole elsewhere";
  }
  return "";
}

RecordCarver::RecordCarver(const std::vector<TableSchema>& tables, const DatabaseHeader& header,
                           CellReader::PageReader readPage, Vouch vouch)
    : tables_(tables), header_(header), vouch_(std::move(vouch)), cells_(header, std::move(readPage)),
      rebuilder_(tables, header) {
  for (std::size_t table = 0; table < tables_.size(); ++table) {
    tablesOfPages_[InIndexPages(tables_[table]) ? 1 : 0].push_back(table);
  }
}

double RecordCarver::VouchedBits(double bits, const std::vector<RecordValue>& values) const {
  return bits < kBitsOfASearchedRun && vouch_ && vouch_(values) ? bits + kBitsOfAVouchedReading : bits;
}

RecordCarver::OffsetMemo& RecordCarver::MemoAt(std::size_t at) {
  OffsetMemo& memo = memo_[at];
  if (memo.page != pageStamp_) memo = OffsetMemo{pageStamp_};
  return memo;
}

void RecordCarver::FitTables(CarvedRecord& record) const {
  record.tables.clear();
  // A record of NULLs alone (zeroed bytes read as one) says nothing.
  if (StoredValues(record.values) == 0) return;
  for (const std::size_t table : tablesOfPages_[indexPage_ ? 1 : 0]) {
    if (FitsTable(tables_[table], record.values, header_.encoding)) record.tables.push_back(static_cast<int>(table));
  }
}

bool RecordCarver::FitsAnyTable(const std::vector<RecordValue>& values) const {
  const std::vector<std::size_t>& tables = tablesOfPages_[indexPage_ ? 1 : 0];
  return StoredValues(values) > 0 && std::any_of(tables.begin(), tables.end(), [&](std::size_t table) {
           return FitsTable(tables_[table], values, header_.encoding);
         });
}

std::optional<std::size_t> RecordCarver::WholeCellEnd(std::size_t at, std::size_t end) {
  OffsetMemo& memo = MemoAt(at);
  if (memo.state == OffsetMemo::State::kUntried) {
    memo.state = OffsetMemo::State::kNoRecord;
    if (cells_.Read(page_, at, page_.size(), cell_, cellKind_) == CellReader::Outcome::kRecord) {
      memo.state = FitsAnyTable(cell_.values) ? OffsetMemo::State::kFits : OffsetMemo::State::kFitsNoTable;
      memo.cellEnd = static_cast<std::uint32_t>(cell_.end);
    }
  }
  if (memo.state != OffsetMemo::State::kFits || memo.cellEnd > end) return std::nullopt;
  return memo.cellEnd;
}

bool RecordCarver::ReadWholeCell(std::size_t at, std::size_t end, Place place, bool ofAnyTable, bool inFreeSpace,
                                 Candidate& candidate) {
  OffsetMemo& memo = MemoAt(at);
  // Read before and no record, or none this reading may take.
  if (memo.emitted || memo.state == OffsetMemo::State::kNoRecord || memo.state == OffsetMemo::State::kRefused ||
      (memo.state == OffsetMemo::State::kFitsNoTable && !ofAnyTable) ||
      (memo.state != OffsetMemo::State::kUntried && memo.cellEnd > end)) {
    return false;
  }
  const CellReader::Outcome outcome = cells_.Read(page_, at, page_.size(), cell_, cellKind_);
  const auto passOver = [&](PassedOver reason) {
    if (place == Place::kPointer) Count(reason);
    cells_.Settle(cell_.key);
    return false;
  };
  if (outcome != CellReader::Outcome::kRecord) {
    memo.state = OffsetMemo::State::kNoRecord;
    switch (outcome) {
      case CellReader::Outcome::kNotARecord: return passOver(PassedOver::kNotARecord);
      case CellReader::Outcome::kOverflowBroken: return passOver(PassedOver::kOverflowBroken);
      case CellReader::Outcome::kOverflowTaken: return passOver(PassedOver::kOverflowTaken);
      case CellReader::Outcome::kTooLarge: return passOver(PassedOver::kTooLarge);
      case CellReader::Outcome::kSettled: return passOver(PassedOver::kFoundBefore);
      default: return passOver(PassedOver::kNotACell);
    }
  }
  memo.cellEnd = static_cast<std::uint32_t>(cell_.end);
  if (cell_.end > end) return false;
  CarvedRecord& record = candidate.record;
  record.values = cell_.values;
  record.rowId = indexPage_ ? std::nullopt : std::optional<std::int64_t>(cell_.rowId);
  record.offset = at;
  record.rebuilt = false;
  record.inFreeSpace = inFreeSpace;
  record.pageDamaged = pageDamaged_;
  FitTables(record);
  memo.state = record.tables.empty() ? OffsetMemo::State::kFitsNoTable : OffsetMemo::State::kFits;
  // A record of a table that is gone is looked for in table pages alone.
  if (record.tables.empty() &&
      !(ofAnyTable && !indexPage_ && MayBeOfAnotherTable(record.values, header_.encoding))) {
    return passOver(PassedOver::kFitsNoTable);
  }
  // A spilling record's bytes are the reader's, until its next read: the
  // candidate keeps its own.
  if (cell_.spilled) {
    candidate.storage.assign(cell_.payload.begin(), cell_.payload.end());
    for (RecordValue& value : record.values) {
      value.bytes = Bytes(candidate.storage).subspan(static_cast<std::size_t>(value.bytes.data() - cell_.payload.data()),
                                                     value.bytes.size());
    }
  }
  candidate.bits =
      VouchedBits(Bits(record.tables, record.values, {cell_.payloadLengthBytes, cell_.headerLengthBytes, true}),
                  record.values);
  candidate.end = cell_.end;
  candidate.settleKey = cell_.key;
  return true;
}

bool RecordCarver::ReadRebuilt(std::size_t at, std::size_t blockEnd, Place place, Candidate& candidate) {
  RebuiltRecord rebuilt;
  const RecordRebuilder::Outcome outcome = rebuilder_.Rebuild(at, blockEnd, rebuilt);
  if (outcome == RecordRebuilder::Outcome::kReadTwoWays && place != Place::kSearched) Count(PassedOver::kReadTwoWays);
  if (outcome != RecordRebuilder::Outcome::kRebuilt) return false;
  CarvedRecord& record = candidate.record;
  candidate.bits = VouchedBits(
      Bits(rebuilt.tables, rebuilt.values, {0, rebuilt.headerLengthBytes, rebuilt.firstTypeSeen}), rebuilt.values);
  record.values = std::move(rebuilt.values);
  record.tables = std::move(rebuilt.tables);
  record.rowId.reset();
  record.offset = at;
  record.rebuilt = true;
  record.inFreeSpace = true;
  record.pageDamaged = pageDamaged_;
  candidate.end = rebuilt.end;
  candidate.settleKey = 0;
  return true;
}

double RecordCarver::Bits(const std::vector<int>& tables, const std::vector<RecordValue>& values,
                          const ReadingChecks& checks) const {
  if (tables.empty()) return EvidenceBits(nullptr, values, checks, header_.encoding);
  // The reading by the schema that checked the least.
  double bits = std::numeric_limits<double>::infinity();
  for (const int table : tables) {
    bits = std::min(bits, EvidenceBits(&tables_[static_cast<std::size_t>(table)], values, checks, header_.encoding));
  }
  return bits;
}

void RecordCarver::Give(Candidate& candidate, const Found& found) {
  found(candidate.record);
  if (!candidate.record.rebuilt) MemoAt(candidate.record.offset).emitted = true;
  cells_.Settle(candidate.settleKey);
}

void RecordCarver::Refuse(Candidate& candidate) {
  Count(PassedOver::kTooFewChecks);
  if (!candidate.record.rebuilt) MemoAt(candidate.record.offset).state = OffsetMemo::State::kRefused;
  cells_.Settle(candidate.settleKey);
}

bool RecordCarver::ReadAt(std::size_t at, std::size_t to, bool ofAnyTable, bool staleHeaders, Candidate& candidate) {
  // A cell begins with a payload length of 2 or more: never a zero byte.
  if (page_[at] != 0 && ReadWholeCell(at, to, Place::kSearched, ofAnyTable, true, candidate)) return true;
  // What looks like the header of a freeblock no list links any more (a
  // page emptied of its last cell forgets its freeblocks, the gap takes
  // back a freeblock next to it): the next freeblock's offset, after this
  // one or 0, itself like a freeblock; and a size within the page. A block
  // may reach past the region: the cells written since over its end took
  // that part.
  if (!staleHeaders || owner_ < 0 || at + kFreeblockHeaderSize > to) return false;
  const FreeblockHeader block = ReadFreeblockHeader(page_, at);
  const bool linked = block.next == 0 || (block.next >= at + block.size &&
                                          block.next + kFreeblockHeaderSize <= page_.size() &&
                                          ReadFreeblockHeader(page_, block.next).size >= kFreeblockHeaderSize);
  if (block.size < kLeastStaleBlock || at + block.size > page_.size() || !linked) return false;
  return ReadRebuilt(at, std::min(at + block.size, to), Place::kSearched, candidate);
}

bool RecordCarver::ReadInRun(std::size_t at, std::size_t to, const RunOf& run, Candidate& candidate) {
  if (run.inFreeblock) {
    return ReadRebuilt(at, to, Place::kFreeblock, candidate) ||
           ReadWholeCell(at, to, Place::kFreeblock, false, true, candidate);
  }
  return ReadAt(at, to, run.ofAnyTable, run.staleHeaders, candidate);
}

std::size_t RecordCarver::TakeRun(std::size_t at, std::size_t to, const RunOf& run, const Found& found) {
  const double needed = run.inFreeblock ? kBitsOfAFreeblockRun : kBitsOfASearchedRun;
  const auto read = [&](std::size_t from, Candidate& candidate) { return ReadInRun(from, to, run, candidate); };
  std::size_t records = 0;
  double bits = 0;
  std::size_t cursor = at;
  while (cursor + 3 <= to && bits < needed) {
    if (run_.size() <= records) run_.emplace_back();
    if (!read(cursor, run_[records])) break;
    bits += run_[records].bits;
    cursor = run_[records].end;
    ++records;
  }
  if (cursor == to) bits += kBitsOfAnEnd;
  if (records == 0) return at;
  if (bits < needed) {
    Refuse(run_[0]);
    return at;
  }
  for (std::size_t record = 0; record < records; ++record) Give(run_[record], found);
  // The run goes on, each record where the one before ends.
  Candidate& next = run_[0];
  while (cursor + 3 <= to && read(cursor, next)) {
    Give(next, found);
    cursor = next.end;
  }
  return cursor;
}

void RecordCarver::SearchRegion(std::size_t from, std::size_t to, bool ofAnyTable, bool staleHeaders,
                                const Found& found) {
  const RunOf run{false, ofAnyTable, staleHeaders};
  for (std::size_t at = from; at + 3 <= to;) {
    // A cell given already (a pointer led to it): the search goes on after it.
    if (const OffsetMemo& memo = MemoAt(at); memo.emitted && memo.cellEnd > at) {
      at = memo.cellEnd;
      continue;
    }
    const std::size_t end = TakeRun(at, to, run, found);
    at = end > at ? end : at + 1;
  }
}

void RecordCarver::CarveFreeblock(std::size_t at, std::size_t end, const Found& found) {
  // The block's first record lost its first bytes to the block's header;
  // records freed after it and merged into the block lost theirs to their
  // own, those freed before it kept them. Each record after the first
  // begins where the one before ends: a run the block gives.
  const std::size_t runEnd = TakeRun(at, end, RunOf{true}, found);
  // Whatever the run could not read: whole cells only, searched for.
  SearchRegion(std::min(runEnd + kFreeblockHeaderSize, end), end, false, false, found);
}

void RecordCarver::Carve(Bytes page, std::size_t headerAt, bool live, int owner, const Found& found) {
  const std::size_t usable = std::min<std::size_t>(page.size(), header_.usableSize);
  page_ = page.first(usable);
  const std::optional<PageHeader> header = ReadPageHeader(page_, headerAt);
  indexPage_ = header && (header->type == kIndexLeafPage || header->type == kIndexInteriorPage);
  cellKind_ = header && header->type == kIndexInteriorPage ? CellReader::Kind::kIndexInterior
              : indexPage_                                 ? CellReader::Kind::kIndexLeaf
                                                           : CellReader::Kind::kTableLeaf;
  // Records are rebuilt on table pages alone, by a table's schema.
  owner_ = !indexPage_ && owner >= 0 && static_cast<std::size_t>(owner) < tables_.size() &&
                   !InIndexPages(tables_[static_cast<std::size_t>(owner)])
               ? owner
               : -1;
  pageDamaged_ = false;
  if (memo_.size() < usable) memo_.resize(usable);
  if (++pageStamp_ == 0) {  // after 2^32 pages: the stamps begin again
    std::fill(memo_.begin(), memo_.end(), OffsetMemo{});
    pageStamp_ = 1;
  }
  rebuilder_.StartPage(page_, owner_, [this](std::size_t at, std::size_t end) { return WholeCellEnd(at, end); });
  // Counted once the page is done, whichever way it ends.
  struct CountInPart {
    RecordCarver& carver;
    ~CountInPart() {
      if (carver.rebuilder_.budgetSpent()) ++carver.pagesInPart_;
    }
  } countInPart{*this};

  if (!header) {
    // A freed page that is no b-tree page now (a freelist trunk page, an
    // overflow page, a page of zeros) may still hold cells of a page it was.
    if (!live) {
      freeBytes_ += usable - headerAt;
      SearchRegion(headerAt, usable, true, true, found);
    }
    return;
  }
  if (header->type == kTableInteriorPage) return;  // its cells are keys and child pages alone
  const std::size_t cellsEnd = header->cellPointersEnd();

  // The freeblock list, checked before anything is read of it: each block
  // after the last (SQLite keeps them in order), within the content area.
  std::vector<std::pair<std::size_t, std::size_t>> blocks;
  pageDamaged_ = !IsConsistent(*header, usable);
  for (std::size_t block = header->firstFreeblock, previous = 0; block != 0;) {
    if (block <= previous || block < cellsEnd || block + kFreeblockHeaderSize > usable) {
      pageDamaged_ = true;
      break;
    }
    const FreeblockHeader freeblock = ReadFreeblockHeader(page_, block);
    if (freeblock.size < kFreeblockHeaderSize || block + freeblock.size > usable) {
      pageDamaged_ = true;
      break;
    }
    blocks.emplace_back(block, block + freeblock.size);
    previous = block;
    block = freeblock.next;
  }

  if (!live) {
    // The cells of a page no longer the database's; a page whose structure
    // does not hold gives no place, every cell is searched for.
    const Place place = pageDamaged_ ? Place::kSearched : Place::kPointer;
    for (std::uint32_t cell = 0; cell < header->cellCount; ++cell) {
      const std::size_t at = BigEndian16(page_, header->cellPointers + 2 * cell);
      if (at < cellsEnd || at >= usable) {
        Count(PassedOver::kPointerOutsidePage);
        continue;
      }
      OffsetMemo& memo = MemoAt(at);
      if (memo.pointed) {
        Count(PassedOver::kPointerRepeated);
        continue;
      }
      memo.pointed = true;
      // A cell of a freed page that fits no table: a table since dropped.
      Candidate& candidate = run_.empty() ? run_.emplace_back() : run_[0];
      if (!ReadWholeCell(at, usable, place, true, false, candidate)) continue;
      if (candidate.bits >= (place == Place::kPointer ? kBitsAtAPointer : kBitsOfASearchedRun)) {
        Give(candidate, found);
      } else {
        Refuse(candidate);
      }
    }
  }
  if (indexPage_) {
    // An index cell freed loses its first 4 bytes to its freeblock header:
    // a leaf cell its payload length and the start of its record, which
    // are not rebuilt; an interior cell only its left child's page number,
    // its payload length and record whole after it. Freed cells merged into
    // one block follow each other so. What stands whole elsewhere in an
    // index page's free space is left from SQLite moving cells between
    // pages (copies of entries, not deletions), and is not searched.
    if (header->type == kIndexInteriorPage) {
      for (const auto& [from, to] : blocks) {
        freeBytes_ += to - from;
        CarveInteriorFreeblock(from, to, found);
      }
    }
    return;
  }
  for (const auto& [from, to] : blocks) {
    freeBytes_ += to - from;
    CarveFreeblock(from, to, found);
  }
  if (cellsEnd < header->contentStart && header->contentStart <= usable) {
    freeBytes_ += header->contentStart - cellsEnd;
    SearchRegion(cellsEnd, header->contentStart, !live, true, found);
  }
}

void RecordCarver::CarveInteriorFreeblock(std::size_t at, std::size_t end, const Found& found) {
  cellKind_ = CellReader::Kind::kIndexLeaf;
  Candidate& candidate = run_.empty() ? run_.emplace_back() : run_[0];
  for (std::size_t cell = at + kChildPointerSize; cell + 3 <= end; cell = candidate.end + kChildPointerSize) {
    if (!ReadWholeCell(cell, end, Place::kFreeblock, false, true, candidate)) return;
    if (candidate.bits < kBitsOfAFreeblockRun) {
      Refuse(candidate);
      return;
    }
    Give(candidate, found);
  }
}
