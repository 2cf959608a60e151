#include "recovery/record_carver.h"

#include <algorithm>
#include <span>
#include <unordered_set>

namespace {

std::size_t VarintLength(std::uint64_t value) {
  std::size_t length = 1;
  for (; length < 9 && value >= (std::uint64_t{1} << (7 * length)); ++length) {
  }
  return length;
}

// The serial types a value of this affinity may have had when only its
// size tells it: each integer size, a double for REAL, a text of each length
// whose type fits one varint byte, and kUnknownValue for the zero-size ones
// (NULL, 0, 1, an empty text), which the size cannot tell apart. None for a
// column without affinity: anything at all, no size tells it.
const std::vector<std::int64_t>& LostFirstTypes(Affinity affinity) {
  static const std::vector<std::int64_t> kInteger = {kUnknownValue, 1, 2, 3, 4, 5, 6};
  static const std::vector<std::int64_t> kReal = {kUnknownValue, 1, 2, 3, 4, 5, 7};
  static const std::vector<std::int64_t> kNumeric = {kUnknownValue, 1, 2, 3, 4, 5, 6, 7};
  static const std::vector<std::int64_t> kText = [] {
    std::vector<std::int64_t> types = {kUnknownValue};
    for (std::int64_t type = 15; type < 128; type += 2) types.push_back(type);
    return types;
  }();
  static const std::vector<std::int64_t> kNone;
  switch (affinity) {
    case Affinity::kInteger: return kInteger;
    case Affinity::kReal: return kReal;
    case Affinity::kNumeric: return kNumeric;
    case Affinity::kText: return kText;
    case Affinity::kBlob: return kNone;
  }
  return kNone;
}

bool SameValues(const CarvedRecord& a, const CarvedRecord& b) {
  if (a.values.size() != b.values.size()) return false;
  for (std::size_t i = 0; i < a.values.size(); ++i) {
    if (a.values[i].serialType != b.values[i].serialType ||
        !std::equal(a.values[i].bytes.begin(), a.values[i].bytes.end(), b.values[i].bytes.begin(),
                    b.values[i].bytes.end())) {
      return false;
    }
  }
  return true;
}

// Readings of rebuilt records a page may take, for each byte of it: what
// the most tangled pages of the forensic corpus need, and a bound that
// keeps the work of a hostile file in proportion to its size.
constexpr std::size_t kReadingsPerByte = 25;

// Whether the 4 bytes at page[at] may be a freeblock header SQLite wrote
// there, now or before the space was reused: the offset of the next
// freeblock (0 for none, else one after this block) and a size of 4 or more
// that ends within the page. A record that lost its first bytes lost them to
// such a header.
bool MayBeFreeblockHeader(Bytes page, std::size_t at) {
  if (at + 4 > page.size()) return false;
  const std::size_t next = BigEndian16(page, at);
  const std::size_t size = BigEndian16(page, at + 2);
  return size >= 4 && at + size <= page.size() && (next == 0 || (next >= at + size && next + 4 <= page.size()));
}

}  // namespace

RecordCarver::RecordCarver(const std::vector<TableSchema>& tables, const DatabaseHeader& header, PageReader readPage)
    : tables_(tables), header_(header), readPage_(std::move(readPage)) {}

bool RecordCarver::ReadRecord(Bytes payload, std::vector<RecordValue>& values) const {
  values.clear();
  const std::optional<Varint> headerSize = ReadVarint(payload, 0);
  if (!headerSize || headerSize->value < 2 || static_cast<std::uint64_t>(headerSize->value) > payload.size()) {
    return false;
  }
  const auto end = static_cast<std::size_t>(headerSize->value);
  std::uint64_t body = 0;
  std::size_t at = headerSize->length;
  while (at < end) {
    const std::optional<Varint> type = ReadVarint(payload.first(end), at);
    if (!type) return false;
    const std::optional<std::uint64_t> size = SerialTypeSize(type->value);
    if (!size) return false;
    values.push_back({type->value, {}});
    body += *size;
    at += type->length;
  }
  if (values.empty() || body != payload.size() - end) return false;
  std::size_t value = end;
  for (RecordValue& record : values) {
    const std::size_t size = static_cast<std::size_t>(*SerialTypeSize(record.serialType));
    record.bytes = payload.subspan(value, size);
    value += size;
  }
  return true;
}

bool RecordCarver::GatherOverflow(Bytes local, std::uint32_t firstOverflow, std::uint64_t payloadSize) {
  payload_.assign(local.begin(), local.end());
  std::unordered_set<std::uint32_t> visited;
  const std::size_t perPage = header_.usableSize - 4;
  for (std::uint32_t page = firstOverflow; payload_.size() < payloadSize;) {
    if (page == 0 || !visited.insert(page).second || !readPage_(page, overflowPage_)) return false;
    if (overflowPage_.size() < header_.usableSize) return false;
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(payloadSize - payload_.size(), perPage));
    payload_.insert(payload_.end(), overflowPage_.begin() + 4, overflowPage_.begin() + 4 + static_cast<std::ptrdiff_t>(take));
    page = BigEndian32(overflowPage_, 0);
  }
  return true;
}

bool RecordCarver::ReadCell(Bytes page, std::size_t at, std::size_t end, CarvedRecord& record, std::size_t& cellEnd) {
  const Bytes region = page.first(end);
  const std::optional<Varint> payloadSize = ReadVarint(region, at);
  if (!payloadSize || payloadSize->value < 2) return false;
  const std::optional<Varint> rowId = ReadVarint(region, at + payloadSize->length);
  if (!rowId || rowId->value < 1) return false;
  const std::size_t payloadAt = at + payloadSize->length + rowId->length;
  const auto size = static_cast<std::uint64_t>(payloadSize->value);
  const std::uint64_t local = LocalPayloadSize(size, header_.usableSize);
  Bytes payload;
  if (local == size) {
    if (payloadAt + size > end) return false;
    payload = region.subspan(payloadAt, static_cast<std::size_t>(size));
    cellEnd = payloadAt + static_cast<std::size_t>(size);
  } else {
    if (payloadAt + local + 4 > end) return false;
    const Bytes localPart = region.subspan(payloadAt, static_cast<std::size_t>(local));
    if (!GatherOverflow(localPart, BigEndian32(region, payloadAt + static_cast<std::size_t>(local)), size)) return false;
    payload = payload_;
    cellEnd = payloadAt + static_cast<std::size_t>(local) + 4;
  }
  if (!ReadRecord(payload, record.values)) return false;
  record.rowId = rowId->value;
  record.offset = at;
  record.rebuilt = false;
  return true;
}

void RecordCarver::FitTables(CarvedRecord& record) const {
  record.tables.clear();
  // A record of NULLs alone (zeroed bytes read as one) says nothing.
  if (StoredValues(record.values) == 0) return;
  for (std::size_t table = 0; table < tables_.size(); ++table) {
    if (FitsTable(tables_[table], record.values, header_.encoding)) record.tables.push_back(static_cast<int>(table));
  }
}

std::optional<std::size_t> RecordCarver::FittingCellEnd(Bytes page, std::size_t at, std::size_t end) {
  CarvedRecord cell;
  std::size_t cellEnd = 0;
  if (!ReadCell(page, at, end, cell, cellEnd)) return std::nullopt;
  FitTables(cell);
  if (cell.tables.empty()) return std::nullopt;
  return cellEnd;
}

void RecordCarver::CarveRegion(Bytes page, std::size_t from, std::size_t to, const Found& found, bool ofAnyTable,
                               bool unlinkedFreeblocks) {
  CarvedRecord record;
  record.inFreeSpace = true;
  for (std::size_t at = from; at + 3 <= to;) {
    std::size_t cellEnd = 0;
    // A cell begins with a payload length of 2 or more: never a zero byte.
    if (page[at] != 0 && ReadCell(page, at, to, record, cellEnd)) {
      FitTables(record);
      if (!record.tables.empty() || (ofAnyTable && MayBeOfAnotherTable(record.values, header_.encoding))) {
        found(record);
        at = cellEnd;
        continue;
      }
    }
    // What looks like the header of a freeblock that is no longer linked (a
    // page emptied of its last cell forgets its freeblocks): the next
    // freeblock's offset, after this one or 0, and a size within the region.
    if (unlinkedFreeblocks && owner_ >= 0 && at + 4 <= to) {
      const std::size_t next = BigEndian16(page, at);
      const std::size_t size = BigEndian16(page, at + 2);
      // A next freeblock must look like one too. A block may reach past the
      // region: the cells written since over its end took that part.
      const bool linked = next == 0 || (next >= at + size && next + 4 <= page.size() && BigEndian16(page, next + 2) >= 4);
      if (size >= 6 && at + size <= page.size() && linked &&
          Rebuild(page, at, std::min(at + size, to), record, cellEnd)) {
        found(record);
        at = cellEnd;
        continue;
      }
    }
    ++at;
  }
}

bool RecordCarver::RebuildFor(int table, Bytes page, std::size_t at, std::size_t end, int headerAt,
                              std::vector<Reading>& readings, bool nested) {
  const TableSchema& schema = tables_[static_cast<std::size_t>(table)];
  const std::size_t columns = schema.columns.size();
  if (columns == 0) return false;
  const Bytes region = page.first(end);
  // Where the visible serial types begin, and the first of them.
  std::size_t typesAt = at + 4;
  std::size_t firstVisible = headerAt == 2 ? 1 : 0;
  std::optional<Varint> headerSize;
  if (headerAt >= 4) {
    headerSize = ReadVarint(region, at + static_cast<std::size_t>(headerAt));
    if (!headerSize) return false;
    typesAt = at + static_cast<std::size_t>(headerAt) + headerSize->length;
  }
  // The visible serial types are read twice, once here for their sizes and
  // once for the values of a reading that holds: most places are no record,
  // and this way they cost no allocation.
  std::int64_t visibleFirstType = 0;
  std::uint64_t known = 0;
  std::size_t next = typesAt;
  for (std::size_t column = firstVisible; column < columns; ++column) {
    const std::optional<Varint> type = ReadVarint(region, next);
    if (!type) return false;
    const std::optional<std::uint64_t> size = SerialTypeSize(type->value);
    if (!size) return false;
    if (column == 0) visibleFirstType = type->value;
    known += *size;
    next += type->length;
  }
  const std::size_t bodyAt = next;
  if (headerAt >= 4) {
    // The visible header length must be the header read.
    if (static_cast<std::uint64_t>(headerSize->value) != bodyAt - (at + static_cast<std::size_t>(headerAt))) return false;
  } else if (bodyAt - (at + static_cast<std::size_t>(headerAt)) >= 128) {
    return false;  // a lost length of one byte holds less
  }
  // The first serial type as read, NULL for a row-id column, or each one
  // its size may have had.
  static constexpr std::int64_t kNull[] = {0};
  const std::int64_t visibleFirst[] = {visibleFirstType};
  const std::span<const std::int64_t> firstTypes =
      firstVisible == 0 ? std::span<const std::int64_t>(visibleFirst)
      : schema.rowIdColumn == 0 ? std::span<const std::int64_t>(kNull)
                                : std::span<const std::int64_t>(LostFirstTypes(schema.affinities[0]));

  bool any = false;
  for (const std::int64_t first : firstTypes) {
    const std::uint64_t firstSize = firstVisible == 1 && first != kUnknownValue ? *SerialTypeSize(first) : 0;
    const std::uint64_t body = known + firstSize;
    if (bodyAt + body > end) continue;
    const std::size_t recordEnd = bodyAt + static_cast<std::size_t>(body);
    const std::uint64_t payload = recordEnd - (at + static_cast<std::size_t>(headerAt));
    const std::size_t rowIdLength = static_cast<std::size_t>(headerAt) - VarintLength(payload);
    if (rowIdLength < 1 || rowIdLength > 9 || payload > header_.usableSize - 35) continue;
    // A lost size is only borne out by what follows it, which the caller
    // looks at. Within a chain, only a number's few sizes are followed
    // further, and only by the schema of the page's own table; a text's many
    // sizes must end the freeblock: the search never branches widely.
    const bool sizeGuessed = firstVisible == 1 && schema.rowIdColumn != 0;
    const bool followed = !nested || (owner_ >= 0 && schema.affinities[0] != Affinity::kText);
    if (sizeGuessed && !followed && recordEnd != end) continue;
    CarvedRecord reading;
    reading.values.reserve(columns);
    std::size_t value = bodyAt;
    std::size_t type = typesAt;
    for (std::size_t column = 0; column < columns; ++column) {
      std::int64_t serialType = first;
      if (column >= firstVisible) {
        const Varint visible = *ReadVarint(region, type);  // read above
        type += visible.length;
        if (column > 0) serialType = visible.value;
      }
      const std::size_t size =
          serialType == kUnknownValue ? 0 : static_cast<std::size_t>(*SerialTypeSize(serialType));
      reading.values.push_back({serialType, region.subspan(value, size)});
      value += size;
    }
    // A rebuilt record must keep two values at least: zeroed free space
    // behind a freeblock header reads as a record of NULLs.
    if (StoredValues(reading.values) < 2 || !FitsTable(schema, reading.values, header_.encoding)) continue;
    reading.tables = {table};
    readings.push_back({std::move(reading), recordEnd, sizeGuessed});
    any = true;
  }
  return any;
}

void RecordCarver::Readings(Bytes page, std::size_t at, std::size_t end, std::vector<Reading>& readings,
                            bool nested) {
  if (!MayBeFreeblockHeader(page, at)) return;
  // The readings where more of the header is seen come first: a whole
  // header, then one that lost its length, then one that lost its first
  // serial type too.
  for (const auto& [from, to] : {std::pair{4, 11}, std::pair{3, 3}, std::pair{2, 2}}) {
    for (int headerAt = from; headerAt <= to; ++headerAt) {
      if (budget_ == 0) return;
      --budget_;
      if (owner_ >= 0) {
        RebuildFor(owner_, page, at, end, headerAt, readings, nested);
        continue;
      }
      for (std::size_t table = 0; table < tables_.size(); ++table) {
        RebuildFor(static_cast<int>(table), page, at, end, headerAt, readings, nested);
      }
    }
    if (!readings.empty()) return;
  }
}

bool RecordCarver::ChainsToEnd(Bytes page, std::size_t from, std::size_t end) {
  const auto known = [this, end](std::size_t at) -> std::optional<bool> {
    if (at == end) return true;
    if (at + 4 > end) return false;
    const auto found = chains_.find(static_cast<std::uint64_t>(at) << 32 | end);
    if (found != chains_.end()) return found->second;
    return std::nullopt;
  };
  if (const std::optional<bool> chains = known(from)) return *chains;

  // The places still being worked out, each after the one below it: a place
  // chains when a record read there ends where another chain begins. Kept
  // here rather than on the call stack, whose depth the file would set.
  struct Place {
    std::size_t at;
    std::vector<std::size_t> ends;  // of the records read there
    std::size_t tried = 0;
    bool rebuilt = false;  // the ends of rebuilt records are among them
  };
  std::vector<Place> places;
  const auto begin = [&](std::size_t at) {
    Place place{at, {}};
    if (const std::optional<std::size_t> cellEnd = FittingCellEnd(page, at, end)) place.ends.push_back(*cellEnd);
    places.push_back(std::move(place));
  };
  const auto finish = [&](bool chains) {
    chains_[static_cast<std::uint64_t>(places.back().at) << 32 | end] = chains;
    places.pop_back();
  };
  begin(from);
  std::vector<Reading> readings;
  while (!places.empty()) {
    Place& place = places.back();
    // The whole cell first; the records rebuilt there only if it does not
    // chain.
    if (place.tried == place.ends.size() && !place.rebuilt) {
      place.rebuilt = true;
      readings.clear();
      Readings(page, place.at, end, readings, true);
      for (const Reading& reading : readings) place.ends.push_back(reading.end);
    }
    if (place.tried == place.ends.size()) {
      // A record cut short by a cell written over the end of its freeblock
      // (a freeblock gives a new cell its last bytes): the freeblock header
      // that took its first bytes, of a block that reached past that end
      // (it held the whole record), is all there is to bear out the record
      // before it.
      finish(MayBeFreeblockHeader(page, place.at) && place.at + BigEndian16(page, place.at + 2) > end);
      continue;
    }
    // Every record ends past its place, so the places only grow and none
    // comes back; an end that did not would be passed over, never looped on.
    const std::size_t next = place.ends[place.tried];
    const std::optional<bool> chains = next > place.at ? known(next) : false;
    if (!chains) {
      begin(next);
    } else if (*chains) {
      finish(true);
    } else {
      ++place.tried;
    }
  }
  return *known(from);
}

bool RecordCarver::Rebuild(Bytes page, std::size_t at, std::size_t end, CarvedRecord& record, std::size_t& recordEnd) {
  std::vector<Reading> readings;
  Readings(page, at, end, readings);
  // A guessed size holds only where what follows bears it out.
  std::erase_if(readings, [&](const Reading& reading) { return reading.sizeGuessed && !ChainsToEnd(page, reading.end, end); });
  // Where several are borne out, those followed by the freeblock's end or by
  // a whole cell (payload length and row id as SQLite wrote them) come
  // before those followed by a rebuilt record only, which a wrong size may
  // also reach: a neighbour's first bytes taken for a freeblock header.
  if (readings.size() > 1) {
    std::vector<Reading> followedByCell;
    for (Reading& reading : readings) {
      const std::optional<std::size_t> cellEnd =
          reading.end == end ? std::nullopt : FittingCellEnd(page, reading.end, end);
      if (reading.end == end || (cellEnd && ChainsToEnd(page, *cellEnd, end))) {
        followedByCell.push_back(std::move(reading));
      }
    }
    if (!followedByCell.empty()) readings = std::move(followedByCell);
  }
  if (readings.empty()) return false;
  // One reading, perhaps fitting several tables alike.
  CarvedRecord& first = readings[0].record;
  for (std::size_t i = 1; i < readings.size(); ++i) {
    if (!SameValues(readings[i].record, first) || readings[i].end != readings[0].end) return false;
    first.tables.push_back(readings[i].record.tables.front());
  }
  std::sort(first.tables.begin(), first.tables.end());
  first.tables.erase(std::unique(first.tables.begin(), first.tables.end()), first.tables.end());
  recordEnd = readings[0].end;
  record = std::move(first);
  record.rowId.reset();
  record.offset = at;
  record.rebuilt = true;
  record.inFreeSpace = true;
  return true;
}

void RecordCarver::CarveFreeblock(Bytes page, std::size_t at, std::size_t end, const Found& found) {
  // The freeblock's first record lost its first bytes to the freeblock
  // header; records freed after it and merged into the block lost theirs
  // to their own, those freed before it kept them.
  CarvedRecord record;
  while (at + 4 <= end) {
    std::size_t recordEnd = 0;
    if (Rebuild(page, at, end, record, recordEnd)) {
      found(record);
    } else if (ReadCell(page, at, end, record, recordEnd)) {
      FitTables(record);
      if (record.tables.empty()) break;
      record.inFreeSpace = true;
      found(record);
    } else {
      break;
    }
    at = recordEnd;
  }
  // Whatever the chain could not read: whole cells only.
  CarveRegion(page, std::min(at + 4, end), end, found);
}

void RecordCarver::Carve(Bytes page, std::size_t headerAt, bool live, int owner, const Found& found) {
  owner_ = owner >= 0 && static_cast<std::size_t>(owner) < tables_.size() ? owner : -1;
  budget_ = kReadingsPerByte * page.size();
  const std::size_t usable = std::min<std::size_t>(page.size(), header_.usableSize);
  page = page.first(usable);
  // Emptied only when used: clearing a map touches all its buckets.
  if (!chains_.empty()) chains_.clear();
  // Counted once the page is done, whichever way it ends.
  struct CountInPart {
    RecordCarver& carver;
    ~CountInPart() {
      if (carver.budget_ == 0) ++carver.pagesInPart_;
    }
  } countInPart{*this};
  const std::optional<PageHeader> header = ReadPageHeader(page, headerAt);
  if (!header) {
    // A freed page that is no b-tree page now (a freelist trunk page, an
    // overflow page, a page of zeros) may still hold cells of a page it was.
    if (!live) {
      freeBytes_ += usable - headerAt;
      CarveRegion(page, headerAt, usable, found, true, true);
    }
    return;
  }
  if (header->type != kTableLeafPage) return;  // index and interior cells hold no table records
  const std::size_t cellsEnd = header->cellPointers + 2 * static_cast<std::size_t>(header->cellCount);

  if (!live) {
    CarvedRecord record;
    for (std::uint32_t cell = 0; cell < header->cellCount; ++cell) {
      const std::size_t at = BigEndian16(page, header->cellPointers + 2 * cell);
      std::size_t cellEnd = 0;
      if (at < cellsEnd || at >= usable || !ReadCell(page, at, usable, record, cellEnd)) continue;
      FitTables(record);
      record.inFreeSpace = false;
      // A cell of a freed page that fits no table: a table since dropped.
      if (!record.tables.empty() || MayBeOfAnotherTable(record.values, header_.encoding)) found(record);
    }
  }

  // The freeblocks, each after the last: SQLite keeps them in order.
  std::size_t block = header->firstFreeblock;
  for (std::size_t previous = 0; block != 0 && block > previous && block >= cellsEnd && block + 4 <= usable;) {
    const std::size_t size = BigEndian16(page, block + 2);
    if (size < 4 || block + size > usable) break;
    freeBytes_ += size;
    CarveFreeblock(page, block, block + size, found);
    previous = block;
    block = BigEndian16(page, block);
  }

  if (cellsEnd < header->contentStart && header->contentStart <= usable) {
    freeBytes_ += header->contentStart - cellsEnd;
    CarveRegion(page, cellsEnd, header->contentStart, found, !live, true);
  }
}
