#pragma once

// Records whose first bytes a freeblock header took, read back by a table's
// schema.
//
// When SQLite frees a cell it links its space into the page's freeblock
// list, writing the 4-byte freeblock header ("Database File Format" 1.6;
// sqlite_format.h) over the cell's first bytes: the payload length, the row
// id and, when those take fewer than 4 bytes, the record header's first
// bytes (its length, and perhaps the first serial type). Space freed next to
// the unallocated gap joins the gap, its cells left whole.
//
// A record is rebuilt only where its first 4 bytes may be such a header
// (MayBeFreeblockHeader). Its header is read after the freeblock header
// where it is whole; where its length was lost, the schema's column count
// gives it; where the first serial type was lost too, it is NULL for a
// row-id column, and otherwise each size the column's affinity allows is
// tried, and a size is kept only if what follows bears it out: records,
// whole or rebuilt, following one another exactly to the end of the
// freeblock (freed neighbours merge into one freeblock), or to a record cut
// short where a newer cell took the freeblock's end (SQLite gives a new cell
// the last bytes of a freeblock), whose own stale header is of a block that
// reached past that end. Where two sizes are borne out, one followed by the
// block's end or a whole cell comes before one followed only by a rebuilt
// record (a wrong size can land on a neighbour's first bytes and read them
// as a header); where readings still differ, the record is read two ways
// and none is given. The row id of a rebuilt record is lost.
//
// The search for a chain is iterative (an explicit stack of places, each
// worked out once per block end), never recursive: a page of thousands of
// freed records costs no deeper stack. A page may take a fixed number of
// readings a byte; past it, the rest of the page is searched in part and the
// caller is told: a page of hostile bytes costs time in proportion to its
// size.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "recovery/sqlite_format.h"
#include "recovery/table_schemas.h"

struct RebuiltRecord {
  std::vector<RecordValue> values;  // bytes of the page
  std::vector<int> tables;          // the indexes of the tables it fits alike
  std::size_t end = 0;              // where it ends in the page
  std::size_t headerLengthBytes = 0;  // of its record header's length, where that was read; else 0
  bool firstTypeSeen = true;          // else its first serial type was lost, and assumed
};

class RecordRebuilder {
 public:
  // Where the whole cell at page[at] that fits a table ends, by end; nothing
  // when there is none there.
  using WholeCellEnd = std::function<std::optional<std::size_t>(std::size_t at, std::size_t end)>;

  RecordRebuilder(const std::vector<TableSchema>& tables, const DatabaseHeader& header);

  // Begins a page. owner: the table whose b-tree holds it, -1 when none is
  // known, when every table's schema is tried.
  void StartPage(Bytes page, int owner, WholeCellEnd wholeCellEnd);

  enum class Outcome { kRebuilt, kNone, kReadTwoWays };
  // The record whose first bytes a freeblock header took at page[at], in a
  // block ending at end.
  Outcome Rebuild(std::size_t at, std::size_t end, RebuiltRecord& record);

  // Whether the page's share of readings ran out: searched in part.
  bool budgetSpent() const { return budget_ == 0; }

 private:
  // One reading of a rebuilt record, and whether its end rests on a guessed
  // size of its first value, which only what follows can bear out.
  struct Reading {
    RebuiltRecord record;
    bool sizeGuessed = false;
  };
  // nested: a reading asked for by the chain search, whose guessed size
  // must end the block itself unless it is a number's, so that the search
  // never branches widely.
  void Readings(std::size_t at, std::size_t end, std::vector<Reading>& readings, bool nested);
  void ReadingsFor(int table, std::size_t at, std::size_t end, int headerAt, std::vector<Reading>& readings,
                   bool nested);
  // Whether records, whole or rebuilt, follow one another from `from` to the
  // block's end, or to a record cut short there.
  bool ChainsToEnd(std::size_t from, std::size_t end);

  const std::vector<TableSchema>& tables_;
  std::vector<std::size_t> rowTables_;  // the tables with row ids: whose records a table page holds
  DatabaseHeader header_;
  Bytes page_;
  int owner_ = -1;
  std::size_t ownerTable_ = 0;  // owner_, for the span of tables to try
  WholeCellEnd wholeCellEnd_;
  std::size_t budget_ = 0;
  // What the chain search has settled on the page at hand, by place and
  // block end (ChainKey).
  std::unordered_map<std::uint64_t, bool> chains_;
  // Kept from call to call, so that a page's many readings allocate once.
  std::vector<Reading> readings_;        // of Rebuild
  std::vector<Reading> chainReadings_;   // of the chain search
  struct Place {
    std::size_t at;
    std::vector<std::size_t> ends;  // of the records read there
    std::size_t tried = 0;
    bool rebuiltRead = false;  // the ends of rebuilt records are among them
  };
  std::vector<Place> open_;  // the chain search's places being worked out
};
