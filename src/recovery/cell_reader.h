#pragma once

// Reading a cell that stands whole: a table leaf cell's payload length, row
// id, payload (gathered from its overflow chain when it spills) and the
// record the payload holds; an index cell's (1.6: a leaf's payload length
// and payload, an interior one's after its left child's page number), whose
// record is a row of a WITHOUT ROWID table or an entry of an index, and
// which keeps less of its payload on its page. The format facts are those of sqlite_format.h (1.6,
// 2.1): a record's header gives the type and so the size of every value, so
// a cell is a record only when payload length == header + values exactly;
// and SQLite writes every varint in as few bytes as its value needs, so a
// longer one is no cell of SQLite's.
//
// Overflow chains are followed through the reader given, each page once a
// chain. A page of one cell's chain is taken by that cell: another cell
// whose chain reaches it is refused (two cells of a database never share an
// overflow page, and a chain that reads another's pages reads another's
// bytes), and so is a cell already settled (read before and written or
// passed over by the caller), so that a chain is gathered once, not once
// per pointer or per copy of its cell: the work stays in proportion to the
// file, whatever its pointers say.

#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

#include "recovery/sqlite_format.h"
#include "recovery/table_schemas.h"

// The largest payload gathered from an overflow chain: more than any
// browser's record holds, and a bound on the memory a chain that claims a
// billion bytes can take.
inline constexpr std::uint64_t kLargestPayload = 8 * 1024 * 1024;

class CellReader {
 public:
  // Reads page number n of the database into out (a whole page); false when
  // there is no such page, or it may not hold overflow.
  using PageReader = std::function<bool(std::uint32_t n, std::vector<std::uint8_t>& out)>;

  enum class Outcome {
    kRecord,
    kNotACell,        // lengths that do not hold: no cell begins there
    kNotARecord,      // a cell whose payload is no record
    kOverflowBroken,  // a chain that ends early, loops or leaves the file
    kTooLarge,        // a payload larger than kLargestPayload
    kOverflowTaken,   // a chain another cell took
    kSettled,         // a spilling cell read and settled before
  };

  // The kinds of cell that hold a record.
  enum class Kind { kTableLeaf, kIndexLeaf, kIndexInterior };

  struct Cell {
    std::int64_t rowId = 0;  // of a table leaf cell; 0 for an index cell
    std::vector<RecordValue> values;  // valid until the next Read
    Bytes payload;                    // the whole payload, the values' bytes among it
    bool spilled = false;             // its payload gathered from overflow pages, the reader's own
    std::size_t end = 0;              // of the cell in the page
    std::uint64_t key = 0;            // of a spilling cell whose chain took pages; else 0
    // The bytes of the varints that a whole cell's size rests on: its
    // payload length, and its record header's length.
    std::size_t payloadLengthBytes = 0;
    std::size_t headerLengthBytes = 0;
  };

  CellReader(const DatabaseHeader& header, PageReader readPage);

  // The cell of that kind at page[at], ending by end.
  Outcome Read(Bytes page, std::size_t at, std::size_t end, Cell& cell, Kind kind = Kind::kTableLeaf);
  // Marks a spilling cell as done with: its copies are not gathered again.
  void Settle(std::uint64_t key);

  // Splits a payload into values; false unless it is one whole record.
  static bool SplitRecord(Bytes payload, std::vector<RecordValue>& values);

 private:
  Outcome Gather(Bytes local, std::uint32_t firstOverflow, std::uint64_t payloadSize, std::uint64_t rowId);

  DatabaseHeader header_;
  PageReader readPage_;
  std::vector<std::uint8_t> payload_;  // a spilling record's payload, gathered
  std::vector<std::uint8_t> overflowPage_;
  // By page number: the low bits of the key of the cell whose chain took
  // the page, 0 for none. Made when the first chain is followed.
  std::vector<std::uint32_t> owners_;
  // By page number: the last walk that read the page, to tell a chain that
  // comes back on itself.
  std::vector<std::uint32_t> walks_;
  std::uint32_t walk_ = 0;
  std::uint64_t lastKey_ = 0;  // of the chain the last read walked, when it took a page
  std::unordered_set<std::uint64_t> settled_;
};
