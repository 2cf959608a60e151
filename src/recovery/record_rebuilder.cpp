#include "recovery/record_rebuilder.h"

#include <algorithm>

namespace {

// Readings of rebuilt records a page may take, for each byte of it: what
// the most tangled pages of the forensic corpus need, and a bound that
// keeps the work of a hostile file in proportion to its size.
constexpr std::size_t kReadingsPerByte = 25;

// The longest record header whose length a single byte held: a header of
// 128 bytes or more takes two, and so a lost length of one byte holds less.
constexpr std::size_t kOneByteHeader = 127;

// The serial types a value of this affinity may have had when only its
// size tells it: each integer size, a double for REAL, a text of each length
// whose type fits one varint byte, and kUnknownValue for the zero-size ones
// (NULL, 0, 1, an empty text), which the size cannot tell apart. None for a
// column without affinity: anything at all, no size tells it.
std::span<const std::int64_t> LostFirstTypes(Affinity affinity) {
  static constexpr std::int64_t kInteger[] = {kUnknownValue, 1, 2, 3, 4, 5, 6};
  static constexpr std::int64_t kReal[] = {kUnknownValue, 1, 2, 3, 4, 5, 7};
  static constexpr std::int64_t kNumeric[] = {kUnknownValue, 1, 2, 3, 4, 5, 6, 7};
  static const std::vector<std::int64_t> kText = [] {
    std::vector<std::int64_t> types = {kUnknownValue};
    for (std::int64_t type = 15; type < 128; type += 2) types.push_back(type);
    return types;
  }();
  switch (affinity) {
    case Affinity::kInteger: return kInteger;
    case Affinity::kReal: return kReal;
    case Affinity::kNumeric: return kNumeric;
    case Affinity::kText: return kText;
    case Affinity::kBlob: return {};
  }
  return {};
}

bool SameValues(const RebuiltRecord& a, const RebuiltRecord& b) {
  return a.end == b.end &&
         std::equal(a.values.begin(), a.values.end(), b.values.begin(), b.values.end(),
                    [](const RecordValue& x, const RecordValue& y) {
                      return x.serialType == y.serialType &&
                             std::equal(x.bytes.begin(), x.bytes.end(), y.bytes.begin(), y.bytes.end());
                    });
}

// The chain search's memo key: a place and the end of its block.
std::uint64_t ChainKey(std::size_t at, std::size_t end) { return static_cast<std::uint64_t>(at) << 32 | end; }

}  // namespace

RecordRebuilder::RecordRebuilder(const std::vector<TableSchema>& tables, const DatabaseHeader& header)
    : tables_(tables), header_(header) {
  for (std::size_t table = 0; table < tables_.size(); ++table) {
    if (!InIndexPages(tables_[table])) rowTables_.push_back(table);
  }
}

void RecordRebuilder::StartPage(Bytes page, int owner, WholeCellEnd wholeCellEnd) {
  page_ = page;
  owner_ = owner >= 0 && static_cast<std::size_t>(owner) < tables_.size() ? owner : -1;
  ownerTable_ = static_cast<std::size_t>(std::max(owner_, 0));
  wholeCellEnd_ = std::move(wholeCellEnd);
  budget_ = kReadingsPerByte * page.size();
  // Emptied only when used: clearing a map touches all its buckets.
  if (!chains_.empty()) chains_.clear();
}

void RecordRebuilder::ReadingsFor(int table, std::size_t at, std::size_t end, int headerAt,
                                  std::vector<Reading>& readings, bool nested) {
  const TableSchema& schema = tables_[static_cast<std::size_t>(table)];
  const std::size_t columns = schema.columns.size();
  if (columns == 0) return;
  const Bytes region = page_.first(end);
  // Where the visible serial types begin, and the first of them: headerAt 2
  // lost the header's length and its first type, 3 its length alone, 4 or
  // more left it whole.
  std::size_t typesAt = at + kFreeblockHeaderSize;
  const std::size_t firstVisible = headerAt == 2 ? 1 : 0;
  std::optional<Varint> headerSize;
  if (headerAt >= 4) {
    headerSize = ReadVarint(region, at + static_cast<std::size_t>(headerAt));
    if (!headerSize) return;
    typesAt = at + static_cast<std::size_t>(headerAt) + headerSize->length;
  }
  // The visible serial types are read twice, once here for their sizes and
  // once for the values of a reading that holds: most places are no record,
  // and this way they cost no allocation.
  std::int64_t visibleFirstType = 0;
  std::uint64_t known = 0;
  std::size_t stored = firstVisible;  // a lost first value may be one
  std::size_t next = typesAt;
  for (std::size_t column = firstVisible; column < columns; ++column) {
    const std::optional<Varint> type = ReadVarint(region, next);
    if (!type) return;
    const std::optional<std::uint64_t> size = SerialTypeSize(type->value);
    if (!size) return;
    if (column == 0) visibleFirstType = type->value;
    if (!IsNullType(type->value)) ++stored;
    known += *size;
    next += type->length;
  }
  // A rebuilt record must keep two values at least: zeroed free space
  // behind a freeblock header reads as a record of NULLs.
  if (stored < 2) return;
  const std::size_t bodyAt = next;
  const std::size_t recordAt = at + static_cast<std::size_t>(headerAt);
  if (headerAt >= 4) {
    if (static_cast<std::uint64_t>(headerSize->value) != bodyAt - recordAt) return;  // the visible length must hold
  } else if (bodyAt - recordAt >= kOneByteHeader + 1) {
    return;
  }
  // The first serial type as read, NULL for a row-id column, or each one
  // its size may have had.
  static constexpr std::int64_t kNull[] = {0};
  const std::int64_t visibleFirst[] = {visibleFirstType};
  const std::span<const std::int64_t> firstTypes =
      firstVisible == 0                  ? std::span<const std::int64_t>(visibleFirst)
      : schema.rowIdColumn == 0          ? std::span<const std::int64_t>(kNull)
      : !schema.firstColumnTypes.empty() ? std::span<const std::int64_t>(schema.firstColumnTypes)
                                         : LostFirstTypes(schema.affinities[0]);
  const bool sizeGuessed = firstVisible == 1 && schema.rowIdColumn != 0;
  for (const std::int64_t first : firstTypes) {
    const std::uint64_t firstSize = firstVisible == 1 && first != kUnknownValue ? *SerialTypeSize(first) : 0;
    const std::uint64_t body = known + firstSize;
    if (bodyAt + body > end) continue;
    const std::size_t recordEnd = bodyAt + static_cast<std::size_t>(body);
    const std::uint64_t payload = recordEnd - recordAt;
    // The payload length and the row id took the header's place: together
    // 4 bytes or more, the row id at least 1.
    const std::size_t rowIdLength = static_cast<std::size_t>(headerAt) - VarintLength(payload);
    if (rowIdLength < 1 || rowIdLength > 9 || payload > MaxLocalPayload(header_.usableSize)) continue;
    // Within a chain, only a number's few sizes are followed further, and
    // only by the schema of the page's own table; a text's many sizes must
    // end the block: the search never branches widely.
    const bool followed = !nested || (owner_ >= 0 && schema.affinities[0] != Affinity::kText);
    if (sizeGuessed && !followed && recordEnd != end) continue;
    Reading reading;
    reading.record.values.reserve(columns);
    std::size_t value = bodyAt;
    std::size_t type = typesAt;
    for (std::size_t column = 0; column < columns; ++column) {
      std::int64_t serialType = first;
      if (column >= firstVisible) {
        const Varint visible = *ReadVarint(region, type);  // read above
        type += visible.length;
        if (column > 0) serialType = visible.value;
      }
      const std::size_t size = serialType == kUnknownValue ? 0 : static_cast<std::size_t>(*SerialTypeSize(serialType));
      reading.record.values.push_back({serialType, region.subspan(value, size)});
      value += size;
    }
    if (StoredValues(reading.record.values) < 2 || !FitsTable(schema, reading.record.values, header_.encoding)) {
      continue;
    }
    reading.record.tables = {table};
    reading.record.end = recordEnd;
    reading.record.headerLengthBytes = headerSize ? headerSize->length : 0;
    reading.record.firstTypeSeen = firstVisible == 0;
    reading.sizeGuessed = sizeGuessed;
    readings.push_back(std::move(reading));
  }
}

void RecordRebuilder::Readings(std::size_t at, std::size_t end, std::vector<Reading>& readings, bool nested) {
  if (!MayBeFreeblockHeader(page_, at)) return;
  // The readings where more of the header is seen come first: a whole
  // header (the payload length and row id took 4 to 11 bytes), then one
  // that lost its length, then one that lost its first serial type too.
  for (const auto& [from, to] : {std::pair{4, 11}, std::pair{3, 3}, std::pair{2, 2}}) {
    for (int headerAt = from; headerAt <= to; ++headerAt) {
      // One reading a table: a schema of many tables spends the page's
      // share sooner, never more of it.
      const std::span<const std::size_t> tables =
          owner_ >= 0 ? std::span<const std::size_t>(&ownerTable_, 1) : std::span<const std::size_t>(rowTables_);
      for (const std::size_t table : tables) {
        if (budget_ == 0) return;
        --budget_;
        ReadingsFor(static_cast<int>(table), at, end, headerAt, readings, nested);
      }
    }
    if (!readings.empty()) return;
  }
}

bool RecordRebuilder::ChainsToEnd(std::size_t from, std::size_t end) {
  // What is settled of a place: it reaches the end, it cannot, or not yet
  // known.
  const auto settled = [this, end](std::size_t at) -> std::optional<bool> {
    if (at == end) return true;
    if (at + kFreeblockHeaderSize > end) return false;
    const auto found = chains_.find(ChainKey(at, end));
    if (found != chains_.end()) return found->second;
    return std::nullopt;
  };
  if (const std::optional<bool> known = settled(from)) return *known;

  // The places still being worked out, each after the one below it: a place
  // chains when a record read there ends where another chain begins. Kept
  // on a stack of their own rather than the call stack, whose depth the
  // file would set.
  std::vector<Place>& open = open_;
  open.clear();
  const auto openPlace = [&](std::size_t at) {
    Place place{at, {}};
    if (const std::optional<std::size_t> cellEnd = wholeCellEnd_(at, end)) place.ends.push_back(*cellEnd);
    open.push_back(std::move(place));
  };
  const auto closePlace = [&](bool chains) {
    chains_[ChainKey(open.back().at, end)] = chains;
    open.pop_back();
  };
  openPlace(from);
  std::vector<Reading>& readings = chainReadings_;
  while (!open.empty()) {
    Place& place = open.back();
    // The whole cell first; the records rebuilt there only if it does not
    // chain.
    if (place.tried == place.ends.size() && !place.rebuiltRead) {
      place.rebuiltRead = true;
      readings.clear();
      Readings(place.at, end, readings, true);
      for (const Reading& reading : readings) place.ends.push_back(reading.record.end);
    }
    if (place.tried == place.ends.size()) {
      // A record cut short by a cell written over the end of its block: the
      // stale freeblock header that took its first bytes, of a block that
      // reached past that end (it held the whole record), is all there is to
      // bear out the record before it.
      closePlace(MayBeFreeblockHeader(page_, place.at) &&
                 place.at + ReadFreeblockHeader(page_, place.at).size > end);
      continue;
    }
    // Every record ends past its place, so the places only grow and none
    // comes back; an end that did not would be passed over, never looped on.
    const std::size_t next = place.ends[place.tried];
    const std::optional<bool> chains = next > place.at ? settled(next) : false;
    if (!chains) {
      openPlace(next);
    } else if (*chains) {
      closePlace(true);
    } else {
      ++place.tried;
    }
  }
  return *settled(from);
}

RecordRebuilder::Outcome RecordRebuilder::Rebuild(std::size_t at, std::size_t end, RebuiltRecord& record) {
  std::vector<Reading>& readings = readings_;
  readings.clear();
  Readings(at, end, readings, false);
  // A guessed size holds only where what follows bears it out.
  std::erase_if(readings, [&](const Reading& reading) {
    return reading.sizeGuessed && !ChainsToEnd(reading.record.end, end);
  });
  // Where several are borne out, those followed by the block's end or by a
  // whole cell come before those followed by a rebuilt record only, which a
  // wrong size may also reach.
  if (readings.size() > 1) {
    std::vector<Reading> followedByCell;
    for (Reading& reading : readings) {
      const std::size_t next = reading.record.end;
      const std::optional<std::size_t> cellEnd = next == end ? std::nullopt : wholeCellEnd_(next, end);
      if (next == end || (cellEnd && ChainsToEnd(*cellEnd, end))) followedByCell.push_back(std::move(reading));
    }
    if (!followedByCell.empty()) readings = std::move(followedByCell);
  }
  if (readings.empty()) return Outcome::kNone;
  // One reading, perhaps fitting several tables alike.
  RebuiltRecord& first = readings[0].record;
  for (std::size_t i = 1; i < readings.size(); ++i) {
    if (!SameValues(readings[i].record, first)) return Outcome::kReadTwoWays;
    first.tables.push_back(readings[i].record.tables.front());
  }
  std::sort(first.tables.begin(), first.tables.end());
  first.tables.erase(std::unique(first.tables.begin(), first.tables.end()), first.tables.end());
  record = std::move(first);
  return Outcome::kRebuilt;
}
