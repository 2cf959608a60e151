#include "recovery/schema_table.h"

#include <algorithm>
#include <string>

#include "recovery/cell_reader.h"
#include "recovery/create_table.h"
#include "recovery/record_carver.h"

namespace {

TableSchema SchemaTable(TextEncoding encoding) {
  TableSchema master;
  master.name = "sqlite_master";
  master.columns = {"type", "name", "tbl_name", "rootpage", "sql"};
  master.affinities = {Affinity::kText, Affinity::kText, Affinity::kText, Affinity::kInteger, Affinity::kText};
  master.notNull.assign(5, false);
  // A record of use here is a table's: its type "table", a text of 5
  // characters, 10 bytes in UTF-16.
  master.firstColumnTypes = {13 + 2 * (encoding == TextEncoding::kUtf8 ? 5 : 10)};
  master.rootPage = 1;
  return master;
}

// A text value as UTF-8, converted from the database's encoding.
std::string TextOf(const RecordValue& value, TextEncoding encoding) {
  return IsTextType(value.serialType) ? TextAsUtf8(value, encoding) : std::string();
}

// The ordinary table with row ids a schema record names, its root page
// set; nothing for any other record.
std::optional<TableSchema> TableOf(const std::vector<RecordValue>& values, TextEncoding encoding) {
  if (values.size() != 5 || TextOf(values[0], encoding) != "table" || !IsIntegerType(values[3].serialType)) {
    return std::nullopt;
  }
  std::optional<CreatedTable> table = ReadCreateTable(TextOf(values[4], encoding));
  if (!table || table->withoutRowid || table->schema.name != TextOf(values[1], encoding) ||
      table->schema.name.starts_with("sqlite_")) {
    return std::nullopt;
  }
  const std::int64_t root = IntegerOf(values[3]);
  if (root < 1 || root > UINT32_MAX) return std::nullopt;
  table->schema.rootPage = static_cast<std::uint32_t>(root);
  return std::move(table->schema);
}

CellReader::PageReader OverflowReader(const PageSources& sources) {
  return [&sources](std::uint32_t n, std::vector<std::uint8_t>& out) { return sources.ReadOverflowPage(n, out); };
}

}  // namespace

SchemaFromPages ReadSchemaFromPages(const PageSources& sources) {
  SchemaFromPages schema;
  CellReader cells(sources.header(), OverflowReader(sources));
  CellReader::Cell cell;
  std::vector<std::uint8_t> page;
  for (const std::uint32_t leaf : sources.TableLeaves(1)) {
    if (!sources.ReadCurrentPage(leaf, page)) continue;
    const Bytes bytes = Bytes(page).first(std::min<std::size_t>(page.size(), sources.header().usableSize));
    const std::optional<PageHeader> header = ReadPageHeader(bytes, BTreeHeaderOffset(leaf));
    if (!header) continue;
    // Each cell read once, however many pointers lead to it.
    std::vector<bool> read(bytes.size(), false);
    for (std::uint32_t index = 0; index < header->cellCount; ++index) {
      const std::size_t at = BigEndian16(bytes, header->cellPointers + 2 * index);
      if (at < header->cellPointersEnd() || at >= bytes.size() || read[at]) continue;
      read[at] = true;
      const CellReader::Outcome outcome = cells.Read(bytes, at, bytes.size(), cell);
      cells.Settle(cell.key);
      if (outcome != CellReader::Outcome::kRecord) continue;
      if (cell.values.size() == 5 && IsTextType(cell.values[4].serialType)) ++schema.statements;
      if (std::optional<TableSchema> table = TableOf(cell.values, sources.header().encoding)) {
        schema.tables.push_back(std::move(*table));
      }
    }
  }
  std::sort(schema.tables.begin(), schema.tables.end(),
            [](const TableSchema& a, const TableSchema& b) { return a.name < b.name; });
  return schema;
}

DroppedTables FindDroppedTables(const PageSources& sources, const std::vector<TableSchema>& live) {
  DroppedTables found;
  std::vector<TableSchema>& dropped = found.tables;
  const TextEncoding encoding = sources.header().encoding;
  const std::vector<TableSchema> master = {SchemaTable(encoding)};
  RecordCarver carver(master, sources.header(), OverflowReader(sources),
                      [encoding](const std::vector<RecordValue>& values) { return TableOf(values, encoding).has_value(); });
  std::vector<std::uint8_t> page;
  for (const std::uint32_t leaf : sources.TableLeaves(1)) {
    if (!sources.ReadCurrentPage(leaf, page)) continue;
    carver.Carve(page, BTreeHeaderOffset(leaf), true, 0, [&](const CarvedRecord& record) {
      std::optional<TableSchema> table = TableOf(record.values, encoding);
      if (!table) return;
      const auto sameName = [&table](const TableSchema& other) { return other.name == table->name; };
      if (std::any_of(live.begin(), live.end(), sameName) || std::any_of(dropped.begin(), dropped.end(), sameName)) {
        return;
      }
      if (dropped.size() == kMostDroppedTables) {
        ++found.passedOver;
        return;
      }
      dropped.push_back(std::move(*table));
    });
  }
  return found;
}
