#pragma once

// The parts of the SQLite file format that the recovery reads itself, each
// named once here, from the SQLite documentation "Database File Format"
// (section numbers below are of that page), and nothing else of it:
// - 1.3 the database header: page size at 16 (2 bytes, 1 meaning 65536),
//   reserved bytes per page at 20, the change counter at 24, the page count
//   at 28 (valid when the number at 92 equals the change counter), the first
//   freelist trunk page at 32, the freelist page count at 36, the schema
//   cookie at 40 (one more for every change of the schema), the text
//   encoding at 56 (1 UTF-8, 2 UTF-16le, 3 UTF-16be); integers big-endian.
// - 1.5 freelist trunk pages: the next trunk page (4 bytes), a count of leaf
//   page numbers (4 bytes), the leaf page numbers.
// - 1.6 b-tree pages: a header of 8 bytes (leaves) or 12 (interior pages),
//   after the database header on page 1: the page type (2, 5, 10, 13), the
//   first freeblock, the cell count, the start of the cell content area (0
//   meaning 65536), the fragmented free bytes (at most 60), the right-most
//   child; then the cell pointer array. A freeblock begins with the offset
//   of the next freeblock (0 for none; freeblocks are kept in order) and its
//   own size, 2 bytes each. A table leaf cell is the payload length
//   (varint), the row id (varint), the payload's local part, and, when the
//   payload spills, the first overflow page (4 bytes); the local part is the
//   whole payload when it is at most U-35 bytes, else M or K as 1.6 gives
//   them (U the usable page size). A table interior cell is its left child
//   (4 bytes) and a row id.
// - 1.6 overflow pages: the next overflow page (4 bytes), then payload.
// - 2.1 records: a header of its own length (varint) and one serial type
//   (varint) per column, then the values: 0 NULL; 1-6 big-endian integers of
//   1, 2, 3, 4, 6, 8 bytes; 7 a big-endian IEEE 754 double; 8 and 9 the
//   integers 0 and 1; 10 and 11 reserved; N >= 12 even a BLOB of (N-12)/2
//   bytes; N >= 13 odd a text of (N-13)/2 bytes. A varint is 1 to 9 bytes,
//   7 bits a byte high bits first, the ninth byte giving all 8 bits.
// - 4.1-4.3 the write-ahead log: a 32-byte header (magic 0x377f0682 or
//   0x377f0683, version, page size, checkpoint sequence, two salts, two
//   checksums), then frames of a 24-byte header (page number, database size
//   in pages after a commit or 0, the two salts, two checksums) and one page.
//   A frame is valid when its salts are the header's and its checksums are
//   the running checksum over the header's first 24 bytes and every frame
//   so far (a frame's first 8 bytes and its page), in 32-bit words of the
//   byte order the magic gives.
// - 1.4 the rollback journal: an 8-byte magic d9 d5 05 f9 20 a1 63 d7, the
//   record count, a checksum nonce, the initial database size in pages, the
//   sector size and the page size (4 bytes each), padded to a sector; then
//   records of a page number (4 bytes), the page, and a checksum (4 bytes):
//   the nonce plus the page's bytes at offsets N-200, N-400, ... above 0.
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
// The bytes SQLite writes a value in: a varint is always written in as few
// bytes as its value needs.
std::size_t VarintLength(std::uint64_t value);

// 1.3 The database header.
inline constexpr std::size_t kDatabaseHeaderSize = 100;

enum class TextEncoding { kUtf8 = 1, kUtf16le = 2, kUtf16be = 3 };

struct DatabaseHeader {
  std::uint32_t pageSize = 0;
  std::uint32_t usableSize = 0;
  std::uint32_t firstFreelistTrunk = 0;
  std::uint32_t freelistPages = 0;
  std::uint32_t schemaCookie = 0;
  TextEncoding encoding = TextEncoding::kUtf8;
};
// The header of the first 100 bytes of a database; nothing when the magic
// or the page size is not SQLite's.
std::optional<DatabaseHeader> ReadDatabaseHeader(Bytes first100);

// Where a page's b-tree header begins: after the database header on page 1.
constexpr std::size_t BTreeHeaderOffset(std::uint32_t pageNumber) {
  return pageNumber == 1 ? kDatabaseHeaderSize : 0;
}

// 1.6 B-tree pages.
inline constexpr std::uint8_t kTableLeafPage = 13;
inline constexpr std::uint8_t kTableInteriorPage = 5;
inline constexpr std::uint8_t kIndexLeafPage = 10;
inline constexpr std::uint8_t kIndexInteriorPage = 2;
// The right-most child's place in an interior page's header.
inline constexpr std::size_t kRightMostChildAt = 8;
// The most fragmented free bytes a page may have.
inline constexpr std::uint32_t kMostFragmentedBytes = 60;

struct PageHeader {
  std::uint8_t type = 0;
  std::uint32_t firstFreeblock = 0;
  std::uint32_t cellCount = 0;
  std::uint32_t contentStart = 0;
  std::uint32_t fragmentedBytes = 0;
  std::size_t cellPointers = 0;  // offset of the cell pointer array
  // Where the cell pointer array ends.
  std::size_t cellPointersEnd() const { return cellPointers + 2 * static_cast<std::size_t>(cellCount); }
};
// The b-tree page header at offset at (BTreeHeaderOffset); nothing when the
// type is none of the four or the cell pointer array does not fit.
std::optional<PageHeader> ReadPageHeader(Bytes page, std::size_t at);
// Whether a header's other fields are as SQLite keeps them: the content area
// after the cell pointers and within the page, a first freeblock in it, the
// fragmented bytes within their limit.
bool IsConsistent(const PageHeader& header, std::size_t usableSize);

// A freeblock's header: the next freeblock's offset and this one's size.
inline constexpr std::size_t kFreeblockHeaderSize = 4;
struct FreeblockHeader {
  std::size_t next = 0;
  std::size_t size = 0;
};
FreeblockHeader ReadFreeblockHeader(Bytes page, std::size_t at);
// Whether the 4 bytes at page[at] may be a freeblock header as SQLite wrote
// it, then or since: a size of 4 or more that ends within the page, and the
// next freeblock 0 or one after this block.
bool MayBeFreeblockHeader(Bytes page, std::size_t at);

// The largest payload a table leaf cell keeps whole on its page.
constexpr std::uint64_t MaxLocalPayload(std::uint32_t usableSize) { return usableSize - 35; }
// How many bytes of a table leaf cell's payload stand on the page.
std::uint64_t LocalPayloadSize(std::uint64_t payload, std::uint32_t usableSize);
// How many bytes of an index cell's payload (leaf or interior) stand on the
// page: an index keeps less of a payload on its page than a table leaf.
std::uint64_t IndexLocalPayloadSize(std::uint64_t payload, std::uint32_t usableSize);
// The left child's page number that begins an interior cell.
inline constexpr std::size_t kChildPointerSize = 4;
// The link to the next overflow page that begins each overflow page, and
// follows a spilling cell's local part.
inline constexpr std::size_t kOverflowLinkSize = 4;

// 2.1 Serial types: the classes of a stored value.
constexpr bool IsNullType(std::int64_t type) { return type == 0; }
constexpr bool IsIntegerType(std::int64_t type) { return (type >= 1 && type <= 6) || type == 8 || type == 9; }
constexpr bool IsRealType(std::int64_t type) { return type == 7; }
constexpr bool IsNumericType(std::int64_t type) { return type >= 0 && type <= 9; }
constexpr bool IsTextType(std::int64_t type) { return type >= 13 && type % 2 == 1; }
constexpr bool IsBlobType(std::int64_t type) { return type >= 12 && type % 2 == 0; }
// The largest value any record on a page of at most 64 KiB, with its
// overflow, can be said to hold: SQLite's own limit on a string or BLOB.
inline constexpr std::uint64_t kLargestValue = 1000000000;
// The bytes of a value of the serial type; nothing for the reserved 10, 11
// and for types beyond what any page could hold.
constexpr std::optional<std::uint64_t> SerialTypeSize(std::int64_t type) {
  constexpr std::uint8_t kFixed[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
  if (type < 0 || type == 10 || type == 11) return std::nullopt;
  if (type < 10) return kFixed[type];
  const std::uint64_t size = static_cast<std::uint64_t>(type - 12) / 2;
  if (size > kLargestValue) return std::nullopt;
  return size;
}

// 4 The write-ahead log.
inline constexpr std::size_t kWalHeaderSize = 32;
inline constexpr std::size_t kWalFrameHeaderSize = 24;

struct WalHeader {
  bool bigEndian = false;
  std::uint32_t pageSize = 0;
  std::uint32_t salts[2] = {};
  std::uint32_t checksums[2] = {};
};
// The header of a WAL's first 32 bytes; nothing when the magic is not one
// of SQLite's two.
std::optional<WalHeader> ReadWalHeader(Bytes first32);
// The part of the header its checksum covers.
inline constexpr std::size_t kWalHeaderChecksummed = 24;

struct WalFrameHeader {
  std::uint32_t pageNumber = 0;
  std::uint32_t commitSize = 0;  // the database's size in pages after a commit, else 0
  std::uint32_t salts[2] = {};
  std::uint32_t checksums[2] = {};
};
WalFrameHeader ReadWalFrameHeader(Bytes first24);
// The part of a frame's header its checksum covers.
inline constexpr std::size_t kWalFrameChecksummed = 8;

// The WAL's running checksum: two sums over 32-bit words, each adding the
// other, from where the previous frame left them.
struct WalChecksum {
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  void Add(Bytes bytes, bool bigEndian);
  bool Matches(const std::uint32_t (&stored)[2]) const { return first == stored[0] && second == stored[1]; }
};

// 1.4 The rollback journal.
inline constexpr std::size_t kJournalHeaderSize = 28;
struct JournalHeader {
  std::uint32_t nonce = 0;
  std::uint32_t initialPages = 0;  // the database's size before the transaction
  std::uint32_t sectorSize = 0;
  std::uint32_t pageSize = 0;
};
// The header of a journal's first 28 bytes; nothing when the magic is not
// SQLite's.
std::optional<JournalHeader> ReadJournalHeader(Bytes first28);
// The page number before a journal record's page, and the checksum after it.
inline constexpr std::size_t kJournalPageNumberSize = 4;
inline constexpr std::size_t kJournalChecksumSize = 4;
// The checksum of a journal record's page.
std::uint32_t JournalChecksum(std::uint32_t nonce, Bytes page);
