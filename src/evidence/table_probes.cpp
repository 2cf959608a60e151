#include "evidence/table_probes.h"

#include "evidence/sqlite_handles.h"

std::map<std::string, TableShape, std::less<>> ProbeTables(sqlite3* db) {
  // pragma_table_list came with SQLite 3.37; the build requires it. Every
  // kind of table is asked for: ordinary, virtual, and the shadow tables that
  // hold a virtual table's data, which may be WITHOUT ROWID (FTS5's).
  Statement query =
      PrepareStatement(db, "SELECT name, wr FROM pragma_table_list WHERE schema = 'main' AND type <> 'view'");
  std::map<std::string, TableShape, std::less<>> tables;
  while (query && sqlite3_step(query.get()) == SQLITE_ROW) {
    tables[std::string(ColumnText(query.get(), 0).value_or(""))].hasRowIds = sqlite3_column_int(query.get(), 1) == 0;
  }
  return tables;
}

std::string PrimaryKeyOrder(sqlite3* db, std::string_view table) {
  Statement query = PrepareStatement(db, "SELECT name FROM pragma_table_info(?1) WHERE pk > 0 ORDER BY pk");
  std::string order;
  if (!query || !BindText(query.get(), 1, table)) return order;
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    order += order.empty() ? " ORDER BY " : ", ";
    order += QuoteIdentifier(ColumnText(query.get(), 0).value_or(""));
  }
  return order;
}

std::int64_t CountRows(sqlite3* db, std::string_view table) {
  Statement count = PrepareStatement(db, "SELECT count(*) FROM " + QuoteIdentifier(table));
  return count && sqlite3_step(count.get()) == SQLITE_ROW ? sqlite3_column_int64(count.get(), 0) : 0;
}
