#pragma once

// Records found in one page image: the cells of a page that is no longer
// the database's own (an older image, a freed page), and the records left
// in the free space of any table leaf page.
//
// Format facts relied on ("Database File Format", 1.6 and 2.1; see
// sqlite_format.h): a table leaf cell is payload length, row id, payload;
// the payload is a record whose header length and serial types fix its
// exact size, so a cell is recognised by payload length == header + values
// and by the record fitting a table (table_schemas.h). When SQLite frees a
// cell it links its space into the page's freeblock list, writing the 4-byte
// freeblock header over the cell's first bytes: the payload length, the row
// id and, when those take fewer than 4 bytes, the record header's first
// bytes (its length, and perhaps the first serial type). Space freed next to
// the unallocated gap joins the gap, its cells left whole.
//
// Where the cell's first bytes were overwritten, the record is rebuilt from
// a table's schema: its header is read after the freeblock header where it
// is whole, or its lost length (and lost first serial type) is worked out
// from the column count and the visible serial types. A lost first serial
// type is known when the column is the row id (NULL); else each size the
// column's affinity allows is tried, and only one that what follows bears
// out is kept: records, whole or rebuilt, following one another exactly to
// the end of the freeblock (freed neighbours merge into one freeblock), or
// to a record cut short where a newer cell took the freeblock's end (SQLite
// gives a new cell the last bytes of a freeblock). A rebuild that several
// readings allow, giving different values, is not written. The row id of a
// rebuilt record is lost.
//
// A record is rebuilt only where its first 4 bytes may be a freeblock
// header, as SQLite wrote it then: the next freeblock's offset (0, or after
// this block) and a size of 4 or more ending within the page. A freeblock
// that merged with a lower neighbour, or that the gap before the cells took
// back, leaves its header stale over its first record; such headers are
// looked for in that gap too.
//
// Every offset and length from the page is checked against the page; the
// overflow chain of a spilling record is followed through the reader given,
// each page at most once.

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "recovery/sqlite_format.h"
#include "recovery/table_schemas.h"

struct CarvedRecord {
  std::vector<RecordValue> values;
  std::optional<std::int64_t> rowId;  // nothing when it was overwritten
  std::size_t offset = 0;             // of the cell in the page
  bool rebuilt = false;               // its first bytes overwritten
  bool inFreeSpace = false;           // else a cell of a page image no longer the database's
  std::vector<int> tables;            // the indexes of the tables it fits
};

class RecordCarver {
 public:
  // Reads page number n of the database into out (a whole page); false when
  // there is no such page.
  using PageReader = std::function<bool(std::uint32_t n, std::vector<std::uint8_t>& out)>;
  using Found = std::function<void(const CarvedRecord&)>;

  RecordCarver(const std::vector<TableSchema>& tables, const DatabaseHeader& header, PageReader readPage);

  // Finds the records of one page image. live: the page as the database
  // now has it, whose cells are live rows; else every cell of it is a
  // candidate. headerAt: 100 for page 1, else 0. owner: the table whose
  // b-tree holds the page, -1 when none is known; a record whose first
  // bytes were overwritten is then rebuilt by that table's schema alone.
  void Carve(Bytes page, std::size_t headerAt, bool live, int owner, const Found& found);

  // The bytes of free space looked at so far.
  std::uint64_t freeBytes() const { return freeBytes_; }
  // The pages whose free space held more possible readings than a page's
  // share of work allows (hostile or tangled bytes): searched in part.
  std::uint64_t pagesSearchedInPart() const { return pagesInPart_; }

 private:
  // The intact cell at page[at], ending by end; its size in cellEnd.
  bool ReadCell(Bytes page, std::size_t at, std::size_t end, CarvedRecord& record, std::size_t& cellEnd);
  // Splits payload into values; false unless it is one whole record.
  bool ReadRecord(Bytes payload, std::vector<RecordValue>& values) const;
  // The payload of a spilling cell, gathered into payload_.
  bool GatherOverflow(Bytes local, std::uint32_t firstOverflow, std::uint64_t payloadSize);
  void FitTables(CarvedRecord& record) const;
  // Where the intact cell at page[at] that fits a table ends; nothing when
  // there is none.
  std::optional<std::size_t> FittingCellEnd(Bytes page, std::size_t at, std::size_t end);
  // Whole cells in page[from, to). ofAnyTable: also cells that fit no table
  // of the schema, on a page no longer the database's. unlinkedFreeblocks:
  // also the records of freeblocks no list links any more (the gap before
  // the cells, a page emptied of its last cell, a page that is no b-tree
  // page now), on a page whose table is known.
  void CarveRegion(Bytes page, std::size_t from, std::size_t to, const Found& found, bool ofAnyTable = false,
                   bool unlinkedFreeblocks = false);
  // The record whose first 4 bytes a freeblock header took, at page[at], in
  // a freeblock ending at end; where it ends in recordEnd.
  bool Rebuild(Bytes page, std::size_t at, std::size_t end, CarvedRecord& record, std::size_t& recordEnd);
  // One reading of a rebuilt record: its values, where it ends, and whether
  // that end rests on a guessed size of its first value, which only what
  // follows can bear out (ChainsToEnd).
  struct Reading {
    CarvedRecord record;
    std::size_t end = 0;
    bool sizeGuessed = false;
  };
  // nested: a reading asked for by ChainsToEnd, whose guessed size must end
  // the freeblock itself unless it is a number's, so that the search for a
  // chain never branches widely.
  bool RebuildFor(int table, Bytes page, std::size_t at, std::size_t end, int headerAt,
                  std::vector<Reading>& readings, bool nested);
  // Every reading of a rebuilt record at page[at].
  void Readings(Bytes page, std::size_t at, std::size_t end, std::vector<Reading>& readings, bool nested = false);
  // Whether records, whole or rebuilt, follow one another from page[from] to
  // the freeblock's end, or to a record cut short there: what bears out a
  // size the record does not state. Worked out without recursion.
  bool ChainsToEnd(Bytes page, std::size_t from, std::size_t end);
  // The records of one freeblock.
  void CarveFreeblock(Bytes page, std::size_t at, std::size_t end, const Found& found);

  const std::vector<TableSchema>& tables_;
  DatabaseHeader header_;
  PageReader readPage_;
  std::vector<std::uint8_t> payload_;  // a spilling record's payload, gathered
  std::vector<std::uint8_t> overflowPage_;
  std::uint64_t freeBytes_ = 0;
  int owner_ = -1;  // of the page at hand
  // The readings of rebuilt records left for the page at hand: a bound on
  // the work a page of hostile bytes can cause.
  std::size_t budget_ = 0;
  std::uint64_t pagesInPart_ = 0;
  std::unordered_map<std::uint64_t, bool> chains_;  // ChainsToEnd of the page at hand, by offset and end
};
