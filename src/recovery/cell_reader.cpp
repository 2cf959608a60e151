#include "recovery/cell_reader.h"

#include <algorithm>

#include "recovery/fingerprint.h"

namespace {

bool IsMinimal(const Varint& varint) {
  return varint.length == VarintLength(static_cast<std::uint64_t>(varint.value));
}

}  // namespace

CellReader::CellReader(const DatabaseHeader& header, PageReader readPage)
    : header_(header), readPage_(std::move(readPage)) {}

bool CellReader::SplitRecord(Bytes payload, std::vector<RecordValue>& values) {
  values.clear();
  const std::optional<Varint> headerSize = ReadVarint(payload, 0);
  if (!headerSize || !IsMinimal(*headerSize) || headerSize->value < 2 ||
      static_cast<std::uint64_t>(headerSize->value) > payload.size()) {
    return false;
  }
  const auto end = static_cast<std::size_t>(headerSize->value);
  const Bytes header = payload.first(end);
  // The serial types read twice: first for their sizes, which must add up
  // to the payload exactly (most places are no record, and cost no more),
  // then for the values.
  const std::uint64_t body = payload.size() - end;
  std::uint64_t sizes = 0;
  for (std::size_t at = headerSize->length; at < end;) {
    const std::optional<Varint> type = ReadVarint(header, at);
    if (!type || !IsMinimal(*type)) return false;
    const std::optional<std::uint64_t> size = SerialTypeSize(type->value);
    if (!size || (sizes += *size) > body) return false;
    at += type->length;
  }
  if (sizes != body || end == headerSize->length) return false;
  std::size_t value = end;
  for (std::size_t at = headerSize->length; at < end;) {
    const Varint type = *ReadVarint(header, at);
    const auto size = static_cast<std::size_t>(*SerialTypeSize(type.value));
    values.push_back({type.value, payload.subspan(value, size)});
    value += size;
    at += type.length;
  }
  return true;
}

CellReader::Outcome CellReader::Gather(Bytes local, std::uint32_t firstOverflow, std::uint64_t payloadSize,
                                       std::uint64_t rowId) {
  payload_.assign(local.begin(), local.end());
  // Most candidates of random bytes name no page at all: only a chain whose
  // first page is there is given a key (its local part's fingerprint) and
  // followed.
  if (firstOverflow == 0 || !readPage_(firstOverflow, overflowPage_)) return Outcome::kOverflowBroken;
  const std::uint64_t key = Fingerprint().Add(local).Add(rowId).Add(payloadSize).Add(firstOverflow).value();
  if (settled_.contains(key)) return Outcome::kSettled;
  const auto owner = static_cast<std::uint32_t>(key | 1);  // never 0
  const std::size_t perPage = header_.usableSize - kOverflowLinkSize;
  ++walk_;
  for (std::uint32_t page = firstOverflow; payload_.size() < payloadSize;) {
    const bool read = payload_.size() == local.size();  // the first page, read above
    if (!read && (page == 0 || !readPage_(page, overflowPage_))) return Outcome::kOverflowBroken;
    if (overflowPage_.size() < header_.usableSize) return Outcome::kOverflowBroken;
    // The page exists: its number is within the files.
    if (page >= owners_.size()) {
      owners_.resize(static_cast<std::size_t>(page) + 1, 0);
      walks_.resize(owners_.size(), 0);
    }
    if (walks_[page] == walk_) return Outcome::kOverflowBroken;  // a chain back on itself
    walks_[page] = walk_;
    if (owners_[page] != 0 && owners_[page] != owner) return Outcome::kOverflowTaken;
    owners_[page] = owner;
    lastKey_ = key;
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(payloadSize - payload_.size(), perPage));
    const auto from = overflowPage_.begin() + static_cast<std::ptrdiff_t>(kOverflowLinkSize);
    payload_.insert(payload_.end(), from, from + static_cast<std::ptrdiff_t>(take));
    page = BigEndian32(overflowPage_, 0);
  }
  return Outcome::kRecord;
}

CellReader::Outcome CellReader::Read(Bytes page, std::size_t at, std::size_t end, Cell& cell, Kind kind) {
  cell.key = 0;
  cell.spilled = false;
  const Bytes region = page.first(std::min(end, page.size()));
  if (kind == Kind::kIndexInterior) {
    // A left child's page number, never 0, before the payload length.
    if (at + kChildPointerSize > region.size() || BigEndian32(region, at) == 0) return Outcome::kNotACell;
    at += kChildPointerSize;
  }
  const std::optional<Varint> payloadSize = ReadVarint(region, at);
  if (!payloadSize || !IsMinimal(*payloadSize) || payloadSize->value < 2) return Outcome::kNotACell;
  std::size_t payloadAt = at + payloadSize->length;
  std::int64_t rowId = 0;
  if (kind == Kind::kTableLeaf) {
    const std::optional<Varint> rowIdVarint = ReadVarint(region, payloadAt);
    if (!rowIdVarint || !IsMinimal(*rowIdVarint) || rowIdVarint->value < 1) return Outcome::kNotACell;
    rowId = rowIdVarint->value;
    payloadAt += rowIdVarint->length;
  }
  const auto size = static_cast<std::uint64_t>(payloadSize->value);
  const std::uint64_t local = kind == Kind::kTableLeaf ? LocalPayloadSize(size, header_.usableSize)
                                                       : IndexLocalPayloadSize(size, header_.usableSize);
  Bytes payload;
  if (local == size) {
    if (payloadAt + size > region.size()) return Outcome::kNotACell;
    payload = region.subspan(payloadAt, static_cast<std::size_t>(size));
    cell.end = payloadAt + static_cast<std::size_t>(size);
  } else {
    if (payloadAt + local + kOverflowLinkSize > region.size()) return Outcome::kNotACell;
    if (size > kLargestPayload) return Outcome::kTooLarge;
    const Bytes localPart = region.subspan(payloadAt, static_cast<std::size_t>(local));
    // The record header must fit its local part, or the bytes are no record:
    // nothing is gathered for them.
    const std::optional<Varint> headerSize = ReadVarint(localPart, 0);
    if (!headerSize || headerSize->value < 2 || static_cast<std::uint64_t>(headerSize->value) > local) {
      return Outcome::kNotARecord;
    }
    const std::uint32_t firstOverflow = BigEndian32(region, payloadAt + static_cast<std::size_t>(local));
    lastKey_ = 0;
    const Outcome gathered = Gather(localPart, firstOverflow, size, static_cast<std::uint64_t>(rowId));
    // A chain that took a page is settled with its cell; one that took none
    // cost one read, and leaves nothing to remember.
    cell.key = lastKey_;
    if (gathered != Outcome::kRecord) return gathered;
    payload = payload_;
    cell.spilled = true;
    cell.end = payloadAt + static_cast<std::size_t>(local) + kOverflowLinkSize;
  }
  if (!SplitRecord(payload, cell.values)) return Outcome::kNotARecord;
  cell.payload = payload;
  cell.rowId = rowId;
  cell.payloadLengthBytes = payloadSize->length;
  cell.headerLengthBytes = ReadVarint(payload, 0)->length;
  return Outcome::kRecord;
}

void CellReader::Settle(std::uint64_t key) {
  if (key != 0) settled_.insert(key);
}
