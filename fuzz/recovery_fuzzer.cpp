// Arbitrary bytes as a database with its "-wal" and "-journal", searched for
// deleted records as tasks I and J search them: the code of the tool that
// reads the SQLite format itself. Nothing may crash, loop or reach undefined
// behaviour, and every record found must lie within its page. The schema
// table is read from the pages as the task reads it when SQLite cannot, and
// its deleted records for dropped tables, by the tool's own reader of
// CREATE TABLE.
//
// An input is three files: a 4-byte big-endian length and the database's
// bytes, then a 4-byte length and the WAL's (0: no WAL), then the journal's
// (none when empty). They are read from memory, as the evidence layer's
// descriptors would give them. The seeds are databases of the forensic
// corpus and of the tests, with WAL and journal files made through SQLite.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "recovery/page_sources.h"
#include "recovery/record_carver.h"
#include "recovery/schema_table.h"
#include "recovery/table_schemas.h"

namespace {

// Tables of the shapes the corpus and the browsers have: with and without
// an INTEGER PRIMARY KEY, texts, integers, reals, no affinity.
std::vector<TableSchema> Tables() {
  auto table = [](std::string name, std::vector<Affinity> affinities, int rowId) {
    TableSchema schema;
    schema.name = std::move(name);
    for (std::size_t i = 0; i < affinities.size(); ++i) schema.columns.push_back("c" + std::to_string(i));
    schema.affinities = std::move(affinities);
    schema.notNull.assign(schema.columns.size(), false);
    schema.rowIdColumn = rowId;
    schema.rootPage = 2;
    return schema;
  };
  using A = Affinity;
  return {table("places", {A::kInteger, A::kText, A::kText, A::kText, A::kInteger, A::kInteger, A::kInteger,
                           A::kInteger, A::kInteger},
                0),
          table("users", {A::kInteger, A::kText, A::kText, A::kReal, A::kReal}, -1),
          table("pairs", {A::kText, A::kInteger}, -1),
          table("any", {A::kBlob, A::kBlob, A::kNumeric}, -1)};
}

// A file of the input, read from memory.
SourceFile InMemory(const char* name, const std::uint8_t* bytes, std::size_t size) {
  return {name, size, [bytes, size](std::uint64_t offset, std::span<std::uint8_t> out) {
            ReadResult result;
            if (offset >= size) return result;
            result.got = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size - offset));
            std::memcpy(out.data(), bytes + offset, result.got);
            return result;
          }};
}

std::size_t TakeLength(const std::uint8_t*& data, std::size_t& size) {
  if (size < 4) {
    data += size;
    size = 0;
    return 0;
  }
  std::size_t length = static_cast<std::size_t>(data[0]) << 24 | static_cast<std::size_t>(data[1]) << 16 |
                       static_cast<std::size_t>(data[2]) << 8 | data[3];
  data += 4;
  size -= 4;
  return std::min(length, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<TableSchema> liveTables = Tables();
  const std::size_t databaseSize = TakeLength(data, size);
  const std::uint8_t* database = data;
  data += databaseSize;
  size -= databaseSize;
  const std::size_t walSize = TakeLength(data, size);
  const std::uint8_t* wal = data;
  data += walSize;
  size -= walSize;
  PageSources sources;
  if (!sources.Open(InMemory("History", database, databaseSize), InMemory("History-wal", wal, walSize),
                    InMemory("History-journal", data, size))) {
    return 0;
  }
  // The live tables, those the schema table's pages name, then those it
  // remembers as dropped.
  std::vector<TableSchema> tables = liveTables;
  for (TableSchema& table : ReadSchemaFromPages(sources).tables) tables.push_back(std::move(table));
  for (TableSchema& dropped : FindDroppedTables(sources, tables).tables) tables.push_back(std::move(dropped));
  std::vector<std::uint32_t> roots;
  for (const TableSchema& table : tables) roots.push_back(table.rootPage);
  const std::vector<int> owners = sources.PageOwners(roots);
  RecordCarver carver(tables, sources.header(), [&sources](std::uint32_t n, std::vector<std::uint8_t>& out) {
    return sources.ReadOverflowPage(n, out);
  });
  sources.ForEachImage([&](const PageImage& image) {
    const int owner = image.freelist || image.pageNumber >= owners.size() ? -1 : owners[image.pageNumber];
    carver.Carve(image.page, BTreeHeaderOffset(image.pageNumber), image.live, owner, [&](const CarvedRecord& record) {
      if (record.offset >= image.page.size() || record.values.empty()) std::abort();
      for (const RecordValue& value : record.values) {
        // Every value is bytes of the page, or of a gathered overflow payload.
        if (value.bytes.size() > (std::size_t{1} << 30)) std::abort();
      }
      for (const int table : record.tables) {
        if (table < 0 || static_cast<std::size_t>(table) >= tables.size()) std::abort();
      }
    });
  });
  return 0;
}
