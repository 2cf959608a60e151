#pragma once

// The parts of the SQLite file format that the recovery reads itself, from
// the SQLite documentation "Database File Format" (section numbers below are
// of that page), and nothing else of it:
// - 1.3 the database header: page size at 16 (2 bytes, 1 meaning 65536),
//   reserved bytes per page at 20, page count at 28, first freelist trunk
//   page at 32, freelist page count at 36, text encoding at 56 (1 UTF-8,
//   2 UTF-16le, 3 UTF-16be); integers big-endian.
// - 1.5 freelist trunk pages: the next trunk page (4 bytes), a count of leaf
//   page numbers (4 bytes), the leaf page numbers.
// - 1.6 b-tree pages: a header of 8 bytes (leaves) or 12 (interior pages),
//   at offset 100 on page 1: the page type (2, 5, 10, 13), the first
//   freeblock, the cell count, the start of the cell content area (0 meaning
//   65536), the fragmented free bytes, the right-most child; then the cell
//   pointer array. A freeblock begins with the offset of the next freeblock
//   and its own size, 2 bytes each. A table leaf cell is the payload length
//   (varint), the row id (varint), the payload's local part, and, when the
//   payload spills, the first overflow page (4 bytes); the local part is the
//   whole payload when it is at most U-35 bytes, else M or K as 1.6 gives
//   them (U the usable page size).
// - 1.6 overflow pages: the next overflow page (4 bytes), then payload.
// - 2.1 records: a header of its own length (varint) and one serial type
//   (varint) per column, then the values: 0 NULL; 1-6 big-endian integers of
//   1, 2, 3, 4, 6, 8 bytes; 7 a big-endian IEEE 754 double; 8 and 9 the
//   integers 0 and 1; 10 and 11 reserved; N >= 12 even a BLOB of (N-12)/2
//   bytes; N >= 13 odd a text of (N-13)/2 bytes. A varint is 1 to 9 bytes,
//   7 bits a byte high bits first, the ninth byte giving all 8 bits.
// - 4 the write-ahead log: a 32-byte header (magic 0x377f0682 or 0x377f0683,
//   version, page size, checkpoint sequence, two salts, two checksums), then
//   frames of a 24-byte header (page number, database size in pages after a
//   commit or 0, the two salts, two checksums) and one page.
// - 4.1 / 1.4 the rollback journal: an 8-byte magic d9 d5 05 f9 20 a1 63 d7,
//   the page count, a nonce, the initial database size, the sector size and
//   the page size (4 bytes each), padded to a sector; then records of a page
//   number (4 bytes), the page, a checksum (4 bytes).
//
// Every reader here takes the bytes it may read as a span and checks each
// offset, length and count against it: a value from the file is never used
// before it is known to lie within what holds it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

using Bytes = std::span<const std::uint8_t>;

std::uint32_t BigEndian16(Bytes bytes, std::size_t at);
std::uint32_t BigEndian32(Bytes bytes, std::size_t at);

struct Varint {
  std::int64_t value = 0;
  std::size_t length = 0;
};
// The varint at bytes[at]; nothing when it runs past the end.
std::optional<Varint> ReadVarint(Bytes bytes, std::size_t at);

enum class TextEncoding { kUtf8 = 1, kUtf16le = 2, kUtf16be = 3 };

struct DatabaseHeader {
  std::uint32_t pageSize = 0;
  std::uint32_t usableSize = 0;
  std::uint32_t firstFreelistTrunk = 0;
  std::uint32_t freelistPages = 0;
  TextEncoding encoding = TextEncoding::kUtf8;
};
// The header of the first 100 bytes of a database; nothing when the magic
// or the page size is not SQLite's.
std::optional<DatabaseHeader> ReadDatabaseHeader(Bytes first100);

inline constexpr std::uint8_t kTableLeafPage = 13;
inline constexpr std::uint8_t kTableInteriorPage = 5;
inline constexpr std::uint8_t kIndexLeafPage = 10;
inline constexpr std::uint8_t kIndexInteriorPage = 2;

struct PageHeader {
  std::uint8_t type = 0;
  std::uint32_t firstFreeblock = 0;
  std::uint32_t cellCount = 0;
  std::uint32_t contentStart = 0;
  std::size_t cellPointers = 0;  // offset of the cell pointer array
};
// The b-tree page header at offset at (100 on page 1, else 0); nothing when
// the type is none of the four or the cell pointer array does not fit.
std::optional<PageHeader> ReadPageHeader(Bytes page, std::size_t at);

// The bytes of a value of the serial type; nothing for the reserved 10, 11
// and for types beyond what any page could hold.
std::optional<std::uint64_t> SerialTypeSize(std::int64_t type);

// How many bytes of a table leaf cell's payload stand on the page.
std::uint64_t LocalPayloadSize(std::uint64_t payload, std::uint32_t usableSize);

inline constexpr std::uint32_t kWalMagicLittle = 0x377f0682;
inline constexpr std::uint32_t kWalMagicBig = 0x377f0683;
inline constexpr std::size_t kWalHeaderSize = 32;
inline constexpr std::size_t kWalFrameHeaderSize = 24;

inline constexpr std::uint8_t kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
inline constexpr std::size_t kJournalHeaderSize = 28;
