#pragma once

// Records found in one page image: the cells of a page that is no longer
// the database's own (an older image, a freed page), and the records left
// in the free space of any table leaf page: its freeblocks, and the gap
// between its cell pointers and its cells. Index pages, leaf and interior,
// hold records too: rows of WITHOUT ROWID tables and entries of indexes,
// read the same way where a pointer leads, and in the freeblocks of an
// interior index page, whose cells keep their records whole when freed (a
// freed leaf cell's first bytes are not rebuilt).
//
// The page's own structure is read first ("Database File Format" 1.6;
// sqlite_format.h): its header, its cell pointers, its freeblock list, each
// offset and size checked against the page. A cell is read where a pointer
// or the freeblock list puts one (a place the page gives); elsewhere, in a
// gap, a freed page whose header is gone or the rest of a freeblock, every
// offset is tried (a place searched). Each offset of a page is read as a
// cell at most once, however many pointers lead to it (cell_reader.h reads
// the cell; record_rebuilder.h rebuilds a record whose first bytes a
// freeblock header took).
//
// A record is taken only when it fits a table (table_schemas.h), or, in a
// cell of a page no longer the database's, may be one of a table that is
// gone; and when its checks hold enough bits to tell it from chance
// (record_evidence.h): 16 at a place the page gives, 10 for a run a
// freeblock gives, 30 for a run searched for, where every offset and every
// table is a try of its own (a page of 4 KiB searched against 16 tables is
// 2^16 tries; 200 MB of random bytes, 2^32). The bits counted are fewer
// than random bytes must pass, which fail most checks before those counted:
// docs/recovery.md has the measure. Every candidate passed over is counted
// with its reason.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "recovery/cell_reader.h"
#include "recovery/record_evidence.h"
#include "recovery/record_rebuilder.h"
#include "recovery/sqlite_format.h"
#include "recovery/table_schemas.h"

struct CarvedRecord {
  std::vector<RecordValue> values;
  std::optional<std::int64_t> rowId;  // nothing when it was overwritten, or of an index b-tree
  std::size_t offset = 0;             // of the cell in the page
  bool rebuilt = false;               // its first bytes overwritten
  bool inFreeSpace = false;           // else a cell of a page image no longer the database's
  bool pageDamaged = false;           // the page's header or freeblock list does not hold
  std::vector<int> tables;            // the indexes of the tables it fits
};

// Why a candidate cell was passed over.
enum class PassedOver {
  kPointerOutsidePage,
  kPointerRepeated,
  kNotACell,
  kNotARecord,
  kOverflowBroken,
  kOverflowTaken,
  kTooLarge,
  kFitsNoTable,
  kTooFewChecks,
  kReadTwoWays,
  // Counted by the task, after the carver gave the record.
  kSeveralTables,
  kSeveralIndexes,
  kLiveRow,
  kFoundBefore,
  kReadWholeElsewhere,
};
inline constexpr std::size_t kPassedOverReasons = 15;
using PassedOverCounts = std::array<std::uint64_t, kPassedOverReasons>;

// The words of a reason, for the console: "3 pointing outside their page".
const char* PassedOverWords(PassedOver reason);

class RecordCarver {
 public:
  using Found = std::function<void(const CarvedRecord&)>;

  // Whether a record's values say more than its serial types can: the
  // schema table's record of a table, whose statement the tool's own reader
  // reads and whose name is the table's, is no chance reading wherever it is
  // found (its texts in UTF-16 hold no bits of their own).
  using Vouch = std::function<bool(const std::vector<RecordValue>& values)>;

  RecordCarver(const std::vector<TableSchema>& tables, const DatabaseHeader& header, CellReader::PageReader readPage,
               Vouch vouch = nullptr);

  // Finds the records of one page image. live: the page as the database
  // now has it, whose cells are live rows; else every cell of it is a
  // candidate. headerAt: BTreeHeaderOffset of its page. owner: the table
  // whose b-tree holds the page, -1 when none is known; a record whose first
  // bytes were overwritten is then rebuilt by that table's schema alone. A
  // table page's records fit only tables with row ids, an index page's only
  // the b-trees of index pages (table_schemas.h).
  void Carve(Bytes page, std::size_t headerAt, bool live, int owner, const Found& found);

  // The bytes of free space looked at so far.
  std::uint64_t freeBytes() const { return freeBytes_; }
  // The pages whose free space held more possible readings than a page's
  // share of work allows (hostile or tangled bytes): searched in part.
  std::uint64_t pagesSearchedInPart() const { return pagesInPart_; }
  const PassedOverCounts& passedOver() const { return passedOver_; }

 private:
  // Where a cell is read: at a cell pointer, at a place the freeblock list
  // gives, or at every offset of a region. Only a pointer promises a cell:
  // there every candidate passed over is counted; elsewhere only records
  // read and refused.
  enum class Place { kPointer, kFreeblock, kSearched };
  // What is known of a page's offsets, read as whole cells: each is read at
  // most once a page. Stamped with the page, so that nothing is cleared.
  struct OffsetMemo {
    enum class State : std::uint8_t {
      kUntried,
      kNoRecord,     // no cell, no record, or one that cannot be read
      kFitsNoTable,  // a record of no table of the schema
      kFits,         // a record that fits a table
      kRefused,      // a record too short to tell from chance
    };
    std::uint32_t page = 0;     // the stamp of the page this is of
    std::uint32_t cellEnd = 0;  // where the cell there ends, once read
    State state = State::kUntried;
    bool emitted = false;  // given as a record
    bool pointed = false;  // a cell pointer led here
  };

  // A record read and not yet given: its values (the bytes of the page, or
  // of storage for a spilling one), and what its reading checked.
  struct Candidate {
    CarvedRecord record;
    std::vector<std::uint8_t> storage;
    double bits = 0;
    std::size_t end = 0;
    std::uint64_t settleKey = 0;  // of a spilling cell (cell_reader.h)
  };

  OffsetMemo& MemoAt(std::size_t at);
  // Where the whole cell at page[at] that fits a table ends, by end.
  std::optional<std::size_t> WholeCellEnd(std::size_t at, std::size_t end);
  void FitTables(CarvedRecord& record) const;
  bool FitsAnyTable(const std::vector<RecordValue>& values) const;
  double Bits(const std::vector<int>& tables, const std::vector<RecordValue>& values, const ReadingChecks& checks) const;
  // The whole cell at page[at], ending by end, when it is a record that
  // fits a table (ofAnyTable: or may be one of a table that is gone). The
  // reason of a cell passed over is counted where a pointer led.
  bool ReadWholeCell(std::size_t at, std::size_t end, Place place, bool ofAnyTable, bool inFreeSpace,
                     Candidate& candidate);
  // The record whose first bytes a freeblock header took at page[at].
  bool ReadRebuilt(std::size_t at, std::size_t blockEnd, Place place, Candidate& candidate);
  // A record searched for at page[at]: a whole cell, or one under a stale
  // freeblock header.
  bool ReadAt(std::size_t at, std::size_t to, bool ofAnyTable, bool staleHeaders, Candidate& candidate);
  // Records read back to back from page[at] while they hold fewer bits
  // than needed: given, and every record that follows them back to back,
  // when they hold enough; else the first is refused. Where the run ends,
  // at when nothing was given.
  struct RunOf {
    bool inFreeblock = false;   // else searched for
    bool ofAnyTable = false;    // searched for: cells of tables that are gone too
    bool staleHeaders = false;  // searched for: records under stale freeblock headers too
  };
  std::size_t TakeRun(std::size_t at, std::size_t to, const RunOf& run, const Found& found);
  // The next record of a run, at page[at].
  bool ReadInRun(std::size_t at, std::size_t to, const RunOf& run, Candidate& candidate);
  void Give(Candidate& candidate, const Found& found);
  void Refuse(Candidate& candidate);
  // Every offset of page[from, to) tried as a whole cell (ofAnyTable: also
  // one of a table that is gone) and, with staleHeaders on a page whose
  // table is known, as the start of a record under a freeblock header no
  // list links any more.
  void SearchRegion(std::size_t from, std::size_t to, bool ofAnyTable, bool staleHeaders, const Found& found);
  // The records of one freeblock: its first under the freeblock's header,
  // those after it each where the one before ends.
  void CarveFreeblock(std::size_t at, std::size_t end, const Found& found);
  // The cells of a freeblock of an interior index page: each after the 4
  // bytes of its child's page number that a freeblock header took.
  void CarveInteriorFreeblock(std::size_t at, std::size_t end, const Found& found);
  void Count(PassedOver reason) { ++passedOver_[static_cast<std::size_t>(reason)]; }

  // The bits of a candidate's reading, a vouched one's included.
  double VouchedBits(double bits, const std::vector<RecordValue>& values) const;

  const std::vector<TableSchema>& tables_;
  // The tables whose records a table page holds [0], and an index page [1].
  std::array<std::vector<std::size_t>, 2> tablesOfPages_;
  DatabaseHeader header_;
  Vouch vouch_;
  CellReader cells_;
  RecordRebuilder rebuilder_;
  // The page at hand.
  Bytes page_;
  bool indexPage_ = false;
  CellReader::Kind cellKind_ = CellReader::Kind::kTableLeaf;
  int owner_ = -1;  // a table page's table, whose schema rebuilds records
  bool pageDamaged_ = false;
  std::uint32_t pageStamp_ = 0;
  std::vector<OffsetMemo> memo_;  // by offset
  CellReader::Cell cell_;
  std::vector<Candidate> run_;  // the records of a run searched for
  std::uint64_t freeBytes_ = 0;
  std::uint64_t pagesInPart_ = 0;
  PassedOverCounts passedOver_{};
};
