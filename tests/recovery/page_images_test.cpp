// The recovery's reading of the SQLite format, on byte images built by hand
// ("Database File Format" 1.3-1.6, 2.1, 4): a table of images and what must
// come out of each. A plausible fault in a reader (a bound off by one, a
// chain stopped early, a checksum not compared, a varint's width miscounted)
// changes what comes out of one of them.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "recovery/cell_reader.h"
#include "support/peak_memory.h"
#include "support/record_bytes.h"
#include "recovery/page_sources.h"
#include "recovery/record_carver.h"
#include "recovery/table_schemas.h"

namespace {

using Image = std::string;

std::string Big(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i));
  return out;
}

void Put(Image& image, std::size_t at, const std::string& bytes) { image.replace(at, bytes.size(), bytes); }

// A value as a record stores it: its serial type and bytes.
struct Value {
  std::int64_t type;
  std::string bytes;
};
Value Null() { return {0, ""}; }
Value Int(std::int64_t v) {
  if (v == 0) return {8, ""};
  if (v == 1) return {9, ""};
  if (v >= -128 && v < 128) return {1, Big(static_cast<std::uint64_t>(v), 1)};
  if (v >= -32768 && v < 32768) return {2, Big(static_cast<std::uint64_t>(v), 2)};
  return {4, Big(static_cast<std::uint64_t>(v), 4)};
}
Value Text(const std::string& text) { return {static_cast<std::int64_t>(13 + 2 * text.size()), text}; }

std::string Record(const std::vector<Value>& values) {
  std::string types;
  std::string body;
  for (const Value& value : values) {
    types += Varint(static_cast<std::uint64_t>(value.type));
    body += value.bytes;
  }
  std::string header = Varint(1 + types.size()) + types;
  if (header.size() != 1 + types.size()) header = Varint(2 + types.size()) + types;  // a two-byte length
  return header + body;
}

// A table leaf cell whose payload stands whole on its page.
std::string Cell(std::int64_t rowId, const std::string& record) {
  return Varint(record.size()) + Varint(static_cast<std::uint64_t>(rowId)) + record;
}

// A b-tree page of the given type and size: its cells at the given offsets
// with pointers to them (pointers: those of them the page still lists),
// optionally a first freeblock.
Image BTreePage(std::uint8_t type, std::size_t size, const std::vector<std::pair<std::size_t, std::string>>& cells,
                std::size_t pointers, std::size_t firstFreeblock = 0) {
  Image page(size, '\0');
  page[0] = static_cast<char>(type);
  Put(page, 1, Big(firstFreeblock, 2));
  Put(page, 3, Big(pointers, 2));
  const std::size_t headerSize = type == 2 || type == 5 ? 12 : 8;
  std::size_t lowest = size;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    Put(page, cells[i].first, cells[i].second);
    lowest = std::min(lowest, cells[i].first);
    if (i < pointers) Put(page, headerSize + 2 * i, Big(cells[i].first, 2));
  }
  Put(page, 5, Big(lowest == 65536 ? 0 : lowest, 2));
  return page;
}

Image LeafPage(std::size_t size, const std::vector<std::pair<std::size_t, std::string>>& cells,
               std::size_t pointers, std::size_t firstFreeblock = 0) {
  return BTreePage(13, size, cells, pointers, firstFreeblock);
}

TableSchema Table(const std::string& name, std::vector<Affinity> affinities, int rowId,
                  std::vector<bool> notNull = {}) {
  TableSchema table;
  table.name = name;
  for (std::size_t i = 0; i < affinities.size(); ++i) table.columns.push_back("c" + std::to_string(i));
  table.affinities = std::move(affinities);
  table.notNull = notNull.empty() ? std::vector<bool>(table.columns.size(), false) : std::move(notNull);
  table.rowIdColumn = rowId;
  table.rootPage = 2;
  return table;
}

// The visits of a history: a row id, a page, a time, a transition; and its
// pages: a row id, a URL, a title, a count.
const TableSchema kVisits = Table("visits", {Affinity::kInteger, Affinity::kInteger, Affinity::kInteger, Affinity::kInteger}, 0);
const TableSchema kPages = Table("pages", {Affinity::kInteger, Affinity::kText, Affinity::kText, Affinity::kInteger}, 0);

std::string Render(const CarvedRecord& record) {
  std::string text = record.rebuilt ? "rebuilt" : "whole " + std::to_string(record.rowId.value_or(0));
  for (const RecordValue& value : record.values) {
    text += "|";
    if (value.serialType == kUnknownValue) {
      text += "?";
    } else if (IsTextType(value.serialType)) {
      text.append(reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size());
    } else if (IsIntegerType(value.serialType)) {
      text += std::to_string(IntegerOf(value));
    } else {
      text += "null";
    }
  }
  return text;
}

DatabaseHeader HeaderOf(std::uint32_t pageSize) {
  DatabaseHeader header;
  header.pageSize = pageSize;
  header.usableSize = pageSize;
  return header;
}

// What the carver finds on one page image; overflow pages by number.
std::vector<std::string> CarvePage(const Image& page, bool live, int owner, const std::vector<TableSchema>& tables,
                                   const std::map<std::uint32_t, Image>& overflow = {}) {
  RecordCarver carver(tables, HeaderOf(static_cast<std::uint32_t>(page.size())),
                      [&overflow](std::uint32_t n, std::vector<std::uint8_t>& out) {
                        const auto found = overflow.find(n);
                        if (found == overflow.end()) return false;
                        out.assign(found->second.begin(), found->second.end());
                        return true;
                      });
  std::vector<std::string> found;
  const std::vector<std::uint8_t> bytes(page.begin(), page.end());
  carver.Carve(bytes, 0, live, owner, [&found](const CarvedRecord& record) { found.push_back(Render(record)); });
  return found;
}

// Cells a freed page still lists, their payload lengths one, two and three
// bytes long: each read whole, row id and all.
TEST(PageImages, WholeCellsOfEveryPayloadLengthWidth) {
  const std::string shortTitle = "Harbour Street";
  const std::string longTitle(300, 'h');     // a payload of two varint bytes
  const std::string hugeTitle(20000, 'H');   // of three
  const Image page = LeafPage(65536,
                              {{60000, Cell(7, Record({Null(), Text("http://a.example/"), Text(shortTitle), Int(3)}))},
                               {40000, Cell(300, Record({Null(), Text("http://b.example/"), Text(longTitle), Int(200)}))},
                               {1000, Cell(70000, Record({Null(), Text("http://c.example/"), Text(hugeTitle), Int(70000)}))}},
                              3);
  EXPECT_EQ(CarvePage(page, false, -1, {kVisits, kPages}),
            (std::vector<std::string>{"whole 7|null|http://a.example/|" + shortTitle + "|3",
                                      "whole 300|null|http://b.example/|" + longTitle + "|200",
                                      "whole 70000|null|http://c.example/|" + hugeTitle + "|70000"}));
}

// A cell freed into a freeblock lost its first 4 bytes to the freeblock's
// header: with a payload length of one byte, also its header's length and
// first serial type (NULL, the row id); of two bytes, its header's length;
// of three, nothing of its record. Each is read back by the schema of the
// page's table, its row id lost.
TEST(PageImages, RecordsUnderAFreeblockHeaderOfEveryPayloadLengthWidth) {
  struct Case {
    std::string title;
    std::int64_t rowId;
  };
  for (const Case& c : {Case{"short", 9}, Case{std::string(200, 't'), 9}, Case{std::string(20000, 'T'), 9},
                        Case{std::string(200, 'u'), 5000}}) {
    const std::string cell = Cell(c.rowId, Record({Null(), Text("http://gone.example/"), Text(c.title), Int(42)}));
    const std::size_t at = 30000;
    Image page = LeafPage(65536, {{50000, Cell(1, Record({Null(), Text("http://live.example/"), Text("x"), Int(1)}))},
                                  {at, cell}},
                          1, at);
    // The freeblock's header, over the cell's first 4 bytes: no next
    // block, its size the cell's.
    Put(page, at, Big(0, 2) + Big(cell.size(), 2));
    EXPECT_EQ(CarvePage(page, true, 1, {kVisits, kPages}),
              (std::vector<std::string>{"rebuilt|null|http://gone.example/|" + c.title + "|42"}))
        << c.title.size() << " " << c.rowId;
  }
}

// A freeblock list that leads outside the page, or a block that reaches
// past it: what lies beyond the page (here a record's bytes) is never read,
// nor counted as free space.
TEST(PageImages, FreeblocksOutsideThePageAreNotRead) {
  const std::string beyond = Cell(3, Record({Null(), Text("http://beyond.example/"), Text("past the end"), Int(5)}));
  for (const auto& [first, size] : {std::pair{1020, 64}, std::pair{1000, 200}, std::pair{1023, 8}}) {
    Image page = LeafPage(1024, {}, 0, static_cast<std::size_t>(first));
    page.replace(static_cast<std::size_t>(first), 1024 - static_cast<std::size_t>(first),
                 (Big(0, 2) + Big(static_cast<std::size_t>(size), 2) + std::string(1024, '\0')).substr(0, 1024 - static_cast<std::size_t>(first)));
    // The page is the first 1024 bytes of a larger buffer, whose rest holds a
    // record a reader past the end would find.
    std::vector<std::uint8_t> buffer(page.begin(), page.end());
    buffer.insert(buffer.end(), beyond.begin(), beyond.end());
    buffer.resize(buffer.size() + 4096, 0);
    const std::vector<TableSchema> tables = {kVisits, kPages};
    RecordCarver carver(tables, HeaderOf(1024), [](std::uint32_t, std::vector<std::uint8_t>&) { return false; });
    std::vector<std::string> found;
    carver.Carve(std::span<const std::uint8_t>(buffer).first(1024), 0, true, 1,
                 [&found](const CarvedRecord& record) { found.push_back(Render(record)); });
    EXPECT_EQ(found, std::vector<std::string>{}) << first << " " << size;
    // The gap between the pointers and the end of the page, alone.
    EXPECT_EQ(carver.freeBytes(), 1016u) << "a block outside the page taken for free space: " << first << " " << size;
    // The page alone in memory: a read past its end is one past what was
    // allocated, which the sanitizers' build of the tests stops at.
    const std::vector<std::uint8_t> alone(page.begin(), page.end());
    carver.Carve(alone, 0, true, 1, [&found](const CarvedRecord& record) { found.push_back(Render(record)); });
    EXPECT_EQ(found, std::vector<std::string>{}) << first << " " << size;
  }
}

// A cell whose payload spills to one, two or three overflow pages: the
// chain is followed to its end, each page once; a chain that leaves the
// file, or comes back on itself, gives no record.
TEST(PageImages, OverflowChainsAreFollowedToTheirEnd) {
  constexpr std::uint32_t kSize = 1024;
  for (const std::size_t pages : {1, 2, 3}) {
    for (const bool broken : {false, true}) {
      // A title that fills the local part and the given overflow pages.
      const std::string title(1000 + (pages - 1) * 1020, static_cast<char>('a' + pages));
      const std::string record = Record({Null(), Text("http://long.example/"), Text(title), Int(8)});
      const std::uint64_t local = LocalPayloadSize(record.size(), kSize);
      ASSERT_LT(local, record.size());
      std::map<std::uint32_t, Image> overflow;
      std::size_t taken = local;
      for (std::uint32_t n = 0; taken < record.size(); ++n) {
        const bool last = taken + (kSize - 4) >= record.size();
        // A broken chain's first link leads back to its first page.
        const std::uint32_t next = last ? 0 : broken ? 10 : 10 + n + 1;
        Image page(kSize, '\0');
        Put(page, 0, Big(next, 4));
        Put(page, 4, record.substr(taken, kSize - 4));
        overflow[10 + n] = page;
        taken += kSize - 4;
      }
      ASSERT_EQ(overflow.size(), pages);
      if (broken && pages == 1) overflow.erase(10);  // a chain that leaves the file
      const std::string cell = Varint(record.size()) + Varint(4) + record.substr(0, local) + Big(10, 4);
      const Image page = LeafPage(kSize, {{kSize - cell.size(), cell}}, 1);
      const std::vector<std::string> found = CarvePage(page, false, -1, {kVisits, kPages}, overflow);
      if (broken) {
        EXPECT_EQ(found, std::vector<std::string>{}) << pages;
      } else {
        EXPECT_EQ(found, std::vector<std::string>{"whole 4|null|http://long.example/|" + title + "|8"}) << pages;
      }
    }
  }
}

// A cell that claims a payload larger than any record a browser keeps is
// passed over, its chain never gathered: a claim costs no memory.
TEST(PageImages, APayloadTooLargeIsNotGathered) {
  const std::string record = Record({Null(), Text("http://long.example/"), Text(std::string(900, 'x')), Int(8)});
  const std::size_t local = LocalPayloadSize(kLargestPayload + 1, 1024);
  const std::string cell = Varint(kLargestPayload + 1) + Varint(4) + record.substr(0, local) + Big(10, 4);
  const Image page = LeafPage(1024, {{1024 - cell.size(), cell}}, 1);
  const std::vector<TableSchema> tables = {kVisits, kPages};
  int reads = 0;
  RecordCarver carver(tables, HeaderOf(1024), [&reads](std::uint32_t, std::vector<std::uint8_t>& out) {
    ++reads;
    out.assign(1024, 0);
    return true;
  });
  const std::vector<std::uint8_t> bytes(page.begin(), page.end());
  carver.Carve(bytes, 0, false, -1, [](const CarvedRecord&) { FAIL() << "a record given"; });
  EXPECT_EQ(reads, 0);
  EXPECT_EQ(carver.passedOver()[static_cast<std::size_t>(PassedOver::kTooLarge)], 1u);
}

// NOT NULL decides between two tables of one shape: a record with NULL
// where one forbids it is the other's.
TEST(PageImages, NotNullDecidesWhichTableARecordFits) {
  const TableSchema strict =
      Table("strict", {Affinity::kInteger, Affinity::kText, Affinity::kInteger}, 0, {false, true, false});
  const TableSchema loose = Table("loose", {Affinity::kInteger, Affinity::kText, Affinity::kInteger}, 0);
  const std::vector<TableSchema> tables = {strict, loose};
  const std::string withNull = Record({Null(), Null(), Int(77)});
  std::vector<RecordValue> values;
  ASSERT_TRUE(CellReader::SplitRecord(std::span(reinterpret_cast<const std::uint8_t*>(withNull.data()), withNull.size()),
                                      values));
  EXPECT_FALSE(FitsTable(strict, values, TextEncoding::kUtf8));
  EXPECT_TRUE(FitsTable(loose, values, TextEncoding::kUtf8));
}

// The records of index b-tree pages: a WITHOUT ROWID table's rows (an icon
// of a page: its key, the page and the icon, then an expiry) and an index's
// entries (a URL and the row id of its page). Each kind of page gives only
// its own kind of record; an interior cell's left child comes before its
// payload length; an index keeps less of a payload on its page than a table
// leaf, so an entry spills sooner; a freed interior cell, whose child the
// freeblock header took, is found in the free space of a live page.
TEST(PageImages, IndexPagesGiveRowsOfWithoutRowidTablesAndIndexEntries) {
  TableSchema icons = Table("icons_to_pages", {Affinity::kInteger, Affinity::kInteger, Affinity::kInteger}, -1,
                            {true, true, true});
  icons.kind = BTreeKind::kWithoutRowid;
  icons.keyColumns = 2;
  TableSchema byUrl = Table("urls_by_url", {Affinity::kText, Affinity::kInteger}, -1, {false, true});
  byUrl.kind = BTreeKind::kIndex;
  byUrl.keyColumns = 1;
  const std::vector<TableSchema> tables = {kPages, icons, byUrl};
  const std::string icon = Record({Int(12), Int(3), Int(1700000000)});
  const std::string entry = Record({Text("http://gone.example/page"), Int(40)});
  const auto leafCell = [](const std::string& record) { return Varint(record.size()) + record; };
  const auto interiorCell = [](std::uint32_t child, const std::string& record) {
    return Big(child, 4) + Varint(record.size()) + record;
  };

  // Cells a freed leaf page lists.
  EXPECT_EQ(CarvePage(BTreePage(10, 1024, {{900, leafCell(icon)}, {800, leafCell(entry)}}, 2), false, -1, tables),
            (std::vector<std::string>{"whole 0|12|3|1700000000", "whole 0|http://gone.example/page|40"}));
  // Cells of a freed interior page: after their left child, never page 0.
  EXPECT_EQ(CarvePage(BTreePage(2, 1024, {{900, interiorCell(7, icon)}, {800, interiorCell(0, entry)}}, 2), false, -1,
                      tables),
            (std::vector<std::string>{"whole 0|12|3|1700000000"}));
  // A table leaf page's cell of the same bytes is no index record, and an
  // index page's cell that fits only a table no table record.
  EXPECT_EQ(CarvePage(LeafPage(1024, {{900, Varint(icon.size()) + Varint(5) + icon}}, 1), false, -1, tables),
            std::vector<std::string>{});
  const std::string page = Record({Null(), Text("http://a.example/"), Text("A"), Int(2)});
  EXPECT_EQ(CarvePage(BTreePage(10, 1024, {{900, leafCell(page)}}, 1), false, -1, tables), std::vector<std::string>{});

  // An entry of 500 bytes: whole on a table leaf of 1 KiB, on an index page
  // spilled after its first bytes.
  const std::string longUrl = "http://long.example/" + std::string(470, 'q');
  const std::string longEntry = Record({Text(longUrl), Int(41)});
  const std::uint64_t local = IndexLocalPayloadSize(longEntry.size(), 1024);
  ASSERT_LT(local, longEntry.size());
  ASSERT_EQ(LocalPayloadSize(longEntry.size(), 1024), longEntry.size());
  Image overflow(1024, '\0');
  Put(overflow, 4, longEntry.substr(local));
  const std::string spilled = Varint(longEntry.size()) + longEntry.substr(0, local) + Big(10, 4);
  EXPECT_EQ(CarvePage(BTreePage(10, 1024, {{1024 - spilled.size(), spilled}}, 1), false, -1, tables, {{10, overflow}}),
            (std::vector<std::string>{"whole 0|" + longUrl + "|41"}));

  // A live interior page, one cell freed into a freeblock.
  const std::string freed = interiorCell(9, entry);
  Image live = BTreePage(2, 1024, {{900, interiorCell(7, icon)}, {700, freed}}, 1, 700);
  Put(live, 700, Big(0, 2) + Big(freed.size(), 2));
  EXPECT_EQ(CarvePage(live, true, 2, tables), (std::vector<std::string>{"whole 0|http://gone.example/page|40"}));
}

// A database, a WAL and a journal, all in memory.
struct Files {
  Image database;
  Image wal;
  Image journal;
};

SourceFile InMemory(const std::string& name, const Image& bytes) {
  return {name, bytes.size(), [&bytes](std::uint64_t offset, std::span<std::uint8_t> out) {
            ReadResult result;
            if (offset >= bytes.size()) return result;
            result.got = std::min<std::size_t>(out.size(), bytes.size() - offset);
            std::memcpy(out.data(), bytes.data() + offset, result.got);
            return result;
          }};
}

// A database of 1024-byte pages: page 1 (the header and an empty schema
// leaf), then the given pages.
Image Database(const std::vector<Image>& pages) {
  Image first(1024, '\0');
  Put(first, 0, std::string("SQLite format 3") + '\0');
  Put(first, 16, Big(1024, 2));
  Put(first, 28, Big(1 + pages.size(), 4));
  Put(first, 56, Big(1, 4));
  first[100] = 13;
  Put(first, 105, Big(1024, 2));
  Image database = first;
  for (const Image& page : pages) database += page;
  return database;
}

// A WAL of the frames given (page number, commit size, page), its salts
// and checksums SQLite's; a frame's salts or checksum then spoiled where
// asked.
struct Frame {
  std::uint32_t page;
  std::uint32_t commit;
  Image image;
  bool badSalt = false;
  bool badChecksum = false;
};

Image Wal(const std::vector<Frame>& frames) {
  Image wal = Big(0x377f0683, 4) + Big(3007000, 4) + Big(1024, 4) + Big(0, 4) + Big(0x5a17, 4) + Big(0x5a18, 4);
  WalChecksum sum;
  sum.Add(std::span(reinterpret_cast<const std::uint8_t*>(wal.data()), 24), true);
  wal += Big(sum.first, 4) + Big(sum.second, 4);
  for (const Frame& frame : frames) {
    Image header = Big(frame.page, 4) + Big(frame.commit, 4) + Big(frame.badSalt ? 0x9999 : 0x5a17, 4) + Big(0x5a18, 4);
    sum.Add(std::span(reinterpret_cast<const std::uint8_t*>(header.data()), 8), true);
    sum.Add(std::span(reinterpret_cast<const std::uint8_t*>(frame.image.data()), frame.image.size()), true);
    header += Big(sum.first + (frame.badChecksum ? 1 : 0), 4) + Big(sum.second, 4);
    wal += header + frame.image;
  }
  return wal;
}

// Every record of every image the sources give: "<place>: <record>", the
// live images marked.
std::vector<std::string> SearchFiles(const Files& files) {
  PageSources sources;
  EXPECT_TRUE(sources.Open(InMemory("db", files.database), InMemory("db-wal", files.wal),
                           InMemory("db-journal", files.journal)));
  const std::vector<TableSchema> tables = {kVisits};
  RecordCarver carver(tables, sources.header(), [&sources](std::uint32_t n, std::vector<std::uint8_t>& out) {
    return sources.ReadOverflowPage(n, out);
  });
  std::vector<std::string> found;
  sources.ForEachImage([&](const PageImage& image) {
    carver.Carve(image.page, BTreeHeaderOffset(image.pageNumber), image.live, image.pageNumber == 2 ? 0 : -1,
                 [&](const CarvedRecord& record) {
                   found.push_back(*image.file + " " + image.place + (image.live ? " (live)" : "") + ": " +
                                   Render(record));
                 });
  });
  return found;
}

std::string Visit(std::int64_t id) { return Cell(id, Record({Null(), Int(100 + id), Int(1228580112), Int(1)})); }

// The WAL: its last commit frame gives the page as the database now has
// it; the frames before it and after it are older or newer images, searched
// whole; a frame whose salt or checksum does not hold is no image at all.
TEST(PageImages, WalFramesByTheirCommitSaltsAndChecksums) {
  const Image both = LeafPage(1024, {{900, Visit(1)}, {800, Visit(2)}}, 2);
  const Image first = LeafPage(1024, {{900, Visit(1)}}, 1);
  const Image third = LeafPage(1024, {{900, Visit(3)}}, 1);
  struct Case {
    const char* name;
    std::vector<Frame> frames;
    std::vector<std::string> found;
  };
  // Every record of an image no longer the database's: the live row too,
  // which the task tells apart later.
  const std::string older = "db page 2, older than its WAL frame: whole 1|null|101|1228580112|1";
  const Case cases[] = {
      {"a commit frame that is a table leaf, after an older image",
       {{2, 0, both}, {2, 2, first}},
       {older, "db-wal frame 1 (page 2): whole 1|null|101|1228580112|1",
        "db-wal frame 1 (page 2): whole 2|null|102|1228580112|1"}},
      {"a frame after the last commit",
       {{2, 2, first}, {2, 0, both}},
       {older, "db-wal frame 2 (page 2): whole 1|null|101|1228580112|1",
        "db-wal frame 2 (page 2): whole 2|null|102|1228580112|1"}},
      {"a frame with another salt, after the commit",
       {{2, 2, first}, {2, 0, third, true}},
       {older}},
      {"a frame whose checksum does not hold, before the commit: the chain ends there",
       {{2, 0, both, false, true}, {2, 2, first}},
       {}},
      {"a committed frame of a page the database cannot have, whatever its commit claims",
       {{0xfffffff0, 0xfffffff0, both}, {2, 2, first}},
       {older}},
  };
  for (const Case& c : cases) {
    Files files{Database({LeafPage(1024, {{900, Visit(1)}}, 1)}), Wal(c.frames), {}};
    std::vector<std::string> found = SearchFiles(files);
    EXPECT_EQ(found, c.found) << c.name;
    // Nothing kept by page number for a page the files cannot hold.
    EXPECT_LT(PeakMemoryKiB(), 1024 * 1024) << c.name << ": KiB at the most";
  }
}

// A journal's page records: searched where their checksum (the header's
// nonce and the page's bytes) and their page number hold.
TEST(PageImages, JournalRecordsByTheirChecksumAndPageNumber) {
  const Image before = LeafPage(1024, {{900, Visit(1)}, {800, Visit(2)}}, 2);
  const std::uint32_t nonce = 0x0badcafe;
  const auto record = [&](std::uint32_t page, std::uint32_t checksum) {
    return Big(page, 4) + before + Big(checksum, 4);
  };
  const std::uint32_t good = JournalChecksum(nonce, std::span(reinterpret_cast<const std::uint8_t*>(before.data()), before.size()));
  Image header = std::string("\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8) + Big(1, 4) + Big(nonce, 4) + Big(2, 4) +
                 Big(512, 4) + Big(1024, 4);
  header.resize(512, '\0');
  struct Case {
    const char* name;
    Image records;
    std::vector<std::string> found;
  };
  const std::vector<std::string> both = {"db-journal page 2: whole 1|null|101|1228580112|1",
                                         "db-journal page 2: whole 2|null|102|1228580112|1"};
  for (const Case& c : {Case{"its checksum holds", record(2, good), both}, Case{"it does not", record(2, good + 1), {}},
                        Case{"a page beyond the database it was of", record(3, good), {}}}) {
    Files files{Database({LeafPage(1024, {{900, Visit(1)}}, 1)}), {}, header + c.records};
    EXPECT_EQ(SearchFiles(files), c.found) << c.name;
  }
}

}  // namespace
