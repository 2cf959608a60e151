#include "recovery/sqlite_format.h"

#include <cstring>

namespace {

constexpr char kDatabaseMagic[16] = "SQLite format 3";  // and its terminating zero

// The largest value any record on a page of at most 64 KiB, with its
// overflow, can be said to hold: SQLite's own limit on a string or BLOB.
constexpr std::uint64_t kLargestValue = 1000000000;

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

std::optional<DatabaseHeader> ReadDatabaseHeader(Bytes first100) {
  if (first100.size() < 100 || std::memcmp(first100.data(), kDatabaseMagic, sizeof kDatabaseMagic) != 0) {
    return std::nullopt;
  }
  DatabaseHeader header;
  const std::uint32_t size = BigEndian16(first100, 16);
  header.pageSize = size == 1 ? 65536 : size;
  // A power of two from 512 to 65536.
  if (header.pageSize < 512 || header.pageSize > 65536 || (header.pageSize & (header.pageSize - 1)) != 0) {
    return std::nullopt;
  }
  const std::uint32_t reserved = first100[20];
  if (header.pageSize - reserved < 480) return std::nullopt;
  header.usableSize = header.pageSize - reserved;
  header.firstFreelistTrunk = BigEndian32(first100, 32);
  header.freelistPages = BigEndian32(first100, 36);
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
  header.cellPointers = at + (interior ? 12 : 8);
  if (header.cellPointers + 2 * static_cast<std::size_t>(header.cellCount) > page.size()) return std::nullopt;
  return header;
}

std::optional<std::uint64_t> SerialTypeSize(std::int64_t type) {
  static constexpr std::uint64_t kFixed[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
  if (type < 0 || type == 10 || type == 11) return std::nullopt;
  if (type < 10) return kFixed[type];
  const std::uint64_t size = static_cast<std::uint64_t>(type - 12) / 2;
  if (size > kLargestValue) return std::nullopt;
  return size;
}

std::uint64_t LocalPayloadSize(std::uint64_t payload, std::uint32_t usableSize) {
  const std::uint64_t most = usableSize - 35;
  if (payload <= most) return payload;
  const std::uint64_t least = (static_cast<std::uint64_t>(usableSize - 12) * 32 / 255) - 23;
  const std::uint64_t local = least + (payload - least) % (usableSize - 4);
  return local <= most ? local : least;
}
