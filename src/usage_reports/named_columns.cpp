#include "usage_reports/named_columns.h"

#include "table_export/evidence_database.h"

int ResolveColumn(sqlite3_stmt* statement, WantedColumn wanted) {
  const int count = sqlite3_column_count(statement);
  for (int index = 0; index < count; ++index) {
    const char* name = sqlite3_column_name(statement, index);
    if (name != nullptr && wanted.name == name) return index;
  }
  return wanted.position < count ? wanted.position : -1;
}

std::optional<std::string_view> TextAt(sqlite3_stmt* statement, int index) {
  if (index < 0) return std::nullopt;
  return ColumnText(statement, index);
}

int IntAt(sqlite3_stmt* statement, int index) { return index < 0 ? 0 : sqlite3_column_int(statement, index); }
