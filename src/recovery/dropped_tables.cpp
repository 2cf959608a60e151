#include "recovery/dropped_tables.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "evidence/sqlite_handles.h"
#include "recovery/record_carver.h"

namespace {

TableSchema SchemaTable() {
  TableSchema master;
  master.name = "sqlite_master";
  master.columns = {"type", "name", "tbl_name", "rootpage", "sql"};
  master.affinities = {Affinity::kText, Affinity::kText, Affinity::kText, Affinity::kInteger, Affinity::kText};
  master.notNull.assign(5, false);
  master.rootPage = 1;
  return master;
}

std::string TextOf(const RecordValue& value) {
  return value.serialType >= 13 && value.serialType % 2 == 1
             ? std::string(reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size())
             : std::string();
}

bool IsOneCreateTable(sqlite3* db, const std::string& sql) {
  std::string start = sql.substr(0, 12);
  std::transform(start.begin(), start.end(), start.begin(), [](unsigned char c) { return std::toupper(c); });
  if (start != "CREATE TABLE") return false;
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, &tail) != SQLITE_OK) return false;
  const Statement statement(raw);
  for (; tail != nullptr && *tail != '\0'; ++tail) {
    if (!std::isspace(static_cast<unsigned char>(*tail)) && *tail != ';') return false;
  }
  return statement && sqlite3_step(statement.get()) == SQLITE_DONE;
}

}  // namespace

std::vector<TableSchema> FindDroppedTables(const PageSources& sources, const std::vector<TableSchema>& live) {
  std::vector<TableSchema> dropped;
  // The text of a UTF-16 database would need converting: its schema is
  // left as it is.
  if (sources.header().encoding != TextEncoding::kUtf8) return dropped;
  const std::vector<TableSchema> master = {SchemaTable()};
  RecordCarver carver(master, sources.header(),
                      [&sources](std::uint32_t n, std::vector<std::uint8_t>& out) { return sources.ReadOverflowPage(n, out); });
  std::vector<std::uint8_t> page;
  if (!sources.ReadCurrentPage(1, page)) return dropped;

  DatabaseHandle memory;  // opened for the first statement to read
  carver.Carve(page, 100, true, 0, [&](const CarvedRecord& record) {
    if (record.values.size() != 5 || TextOf(record.values[0]) != "table") return;
    const std::string name = TextOf(record.values[1]);
    const auto sameName = [&name](const TableSchema& table) { return table.name == name; };
    if (name.empty() || std::any_of(live.begin(), live.end(), sameName) ||
        std::any_of(dropped.begin(), dropped.end(), sameName)) {
      return;
    }
    if (!memory) {
      sqlite3* raw = nullptr;
      sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
      memory.reset(raw);
    }
    if (!IsOneCreateTable(memory.get(), TextOf(record.values[4]))) return;
    for (TableSchema& table : ReadTableSchemas(memory.get())) {
      if (table.name != name) continue;
      table.rootPage = static_cast<std::uint32_t>(IntegerOf(record.values[3]));
      dropped.push_back(std::move(table));
    }
  });
  return dropped;
}
