#include "recovery/sqlite_format.h"

#include <cstring>

namespace {

constexpr char kDatabaseMagic[16] = "SQLite format 3";  // and its terminating zero
constexpr std::uint8_t kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
constexpr std::uint32_t kWalMagicLittle = 0x377f0682;
constexpr std::uint32_t kWalMagicBig = 0x377f0683;

// The journal samples a page's bytes this far apart for its checksum.
constexpr std::size_t kJournalChecksumStride = 200;

std::uint32_t LittleEndian32(Bytes bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The two salts and two checksums that end the WAL's header and each
// frame's header, at the same offsets from each other.
void ReadSaltsAndChecksums(Bytes bytes, std::size_t at, std::uint32_t (&salts)[2], std::uint32_t (&checksums)[2]) {
  salts[0] = BigEndian32(bytes, at);
  salts[1] = BigEndian32(bytes, at + 4);
  checksums[0] = BigEndian32(bytes, at + 8);
  checksums[1] = BigEndian32(bytes, at + 12);
}

bool IsPowerOfTwoBetween(std::uint32_t value, std::uint32_t least, std::uint32_t most) {
  return value >= least && value <= most && (value & (value - 1)) == 0;
}

// The bytes of a payload that stand on the page, where the page keeps at
// most `most` of one: all of a payload up to it, else the least a page keeps
// plus what fills the last overflow page, unless that passes the most.
std::uint64_t LocalPart(std::uint64_t payload, std::uint32_t usableSize, std::uint64_t most) {
  if (payload <= most) return payload;
  const std::uint64_t least = (static_cast<std::uint64_t>(usableSize - 12) * 32 / 255) - 23;
  const std::uint64_t local = least + (payload - least) % (usableSize - kOverflowLinkSize);
  return local <= most ? local : least;
}

}  // namespace

std::uint32_t BigEndian16(Bytes bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) << 8 | bytes[at + 1];
}

std::uint32_t BigEndian32(Bytes bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

std::optional<Varint> ReadVarint(Bytes bytes, std::size_t at) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 9; ++i) {
    if (at + i >= bytes.size()) return std::nullopt;
    const std::uint8_t byte = bytes[at + i];
    if (i == 8) return Varint{static_cast<std::int64_t>(value << 8 | byte), 9};
    value = value << 7 | (byte & 0x7f);
    if ((byte & 0x80) == 0) return Varint{static_cast<std::int64_t>(value), i + 1};
  }
  return std::nullopt;
}

std::size_t VarintLength(std::uint64_t value) {
  std::size_t length = 1;
  for (; length < 9 && value >= (std::uint64_t{1} << (7 * length)); ++length) {
  }
  return length;
}

std::optional<DatabaseHeader> ReadDatabaseHeader(Bytes first100) {
  if (first100.size() < kDatabaseHeaderSize ||
      std::memcmp(first100.data(), kDatabaseMagic, sizeof kDatabaseMagic) != 0) {
    return std::nullopt;
  }
  DatabaseHeader header;
  const std::uint32_t size = BigEndian16(first100, 16);
  header.pageSize = size == 1 ? 65536 : size;
  if (!IsPowerOfTwoBetween(header.pageSize, 512, 65536)) return std::nullopt;
  const std::uint32_t reserved = first100[20];
  if (header.pageSize - reserved < 480) return std::nullopt;
  header.usableSize = header.pageSize - reserved;
  header.firstFreelistTrunk = BigEndian32(first100, 32);
  header.freelistPages = BigEndian32(first100, 36);
  header.schemaCookie = BigEndian32(first100, 40);
  const std::uint32_t encoding = BigEndian32(first100, 56);
  if (encoding == 2 || encoding == 3) header.encoding = static_cast<TextEncoding>(encoding);
  return header;
}

std::optional<PageHeader> ReadPageHeader(Bytes page, std::size_t at) {
  if (at + 8 > page.size()) return std::nullopt;
  PageHeader header;
  header.type = page[at];
  const bool interior = header.type == kTableInteriorPage || header.type == kIndexInteriorPage;
  if (!interior && header.type != kTableLeafPage && header.type != kIndexLeafPage) return std::nullopt;
  header.firstFreeblock = BigEndian16(page, at + 1);
  header.cellCount = BigEndian16(page, at + 3);
  const std::uint32_t start = BigEndian16(page, at + 5);
  header.contentStart = start == 0 ? 65536 : start;
  header.fragmentedBytes = page[at + 7];
  header.cellPointers = at + (interior ? 12 : 8);
  if (header.cellPointersEnd() > page.size()) return std::nullopt;
  return header;
}

bool IsConsistent(const PageHeader& header, std::size_t usableSize) {
  return header.contentStart >= header.cellPointersEnd() && header.contentStart <= usableSize &&
         (header.firstFreeblock == 0 || header.firstFreeblock >= header.contentStart) &&
         header.fragmentedBytes <= kMostFragmentedBytes;
}

FreeblockHeader ReadFreeblockHeader(Bytes page, std::size_t at) {
  return {BigEndian16(page, at), BigEndian16(page, at + 2)};
}

bool MayBeFreeblockHeader(Bytes page, std::size_t at) {
  if (at + kFreeblockHeaderSize > page.size()) return false;
  const FreeblockHeader block = ReadFreeblockHeader(page, at);
  return block.size >= kFreeblockHeaderSize && at + block.size <= page.size() &&
         (block.next == 0 || (block.next >= at + block.size && block.next + kFreeblockHeaderSize <= page.size()));
}

std::uint64_t LocalPayloadSize(std::uint64_t payload, std::uint32_t usableSize) {
  return LocalPart(payload, usableSize, MaxLocalPayload(usableSize));
}

std::uint64_t IndexLocalPayloadSize(std::uint64_t payload, std::uint32_t usableSize) {
  return LocalPart(payload, usableSize, (static_cast<std::uint64_t>(usableSize - 12) * 64 / 255) - 23);
}

std::optional<WalHeader> ReadWalHeader(Bytes first32) {
  if (first32.size() < kWalHeaderSize) return std::nullopt;
  const std::uint32_t magic = BigEndian32(first32, 0);
  if (magic != kWalMagicLittle && magic != kWalMagicBig) return std::nullopt;
  WalHeader header;
  header.bigEndian = magic == kWalMagicBig;
  header.pageSize = BigEndian32(first32, 8);
  ReadSaltsAndChecksums(first32, 16, header.salts, header.checksums);
  return header;
}

WalFrameHeader ReadWalFrameHeader(Bytes first24) {
  WalFrameHeader frame;
  frame.pageNumber = BigEndian32(first24, 0);
  frame.commitSize = BigEndian32(first24, 4);
  ReadSaltsAndChecksums(first24, 8, frame.salts, frame.checksums);
  return frame;
}

void WalChecksum::Add(Bytes bytes, bool bigEndian) {
  for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
    first += (bigEndian ? BigEndian32(bytes, at) : LittleEndian32(bytes, at)) + second;
    second += (bigEndian ? BigEndian32(bytes, at + 4) : LittleEndian32(bytes, at + 4)) + first;
  }
}

std::optional<JournalHeader> ReadJournalHeader(Bytes first28) {
  if (first28.size() < kJournalHeaderSize || std::memcmp(first28.data(), kJournalMagic, sizeof kJournalMagic) != 0) {
    return std::nullopt;
  }
  JournalHeader header;
  header.nonce = BigEndian32(first28, 12);
  header.initialPages = BigEndian32(first28, 16);
  header.sectorSize = BigEndian32(first28, 20);
  header.pageSize = BigEndian32(first28, 24);
  if (!IsPowerOfTwoBetween(header.sectorSize, 512, 65536)) header.sectorSize = 512;
  return header;
}

std::uint32_t JournalChecksum(std::uint32_t nonce, Bytes page) {
  std::uint32_t sum = nonce;
  for (std::size_t at = page.size() - kJournalChecksumStride; at > 0 && at < page.size(); at -= kJournalChecksumStride) {
    sum += page[at];
  }
  return sum;
}
