#include "evidence/named_columns.h"

#include <algorithm>

#include "evidence/sqlite_handles.h"

namespace {

int FindByName(sqlite3_stmt* statement, std::string_view wanted) {
  const int count = sqlite3_column_count(statement);
  for (int index = 0; index < count; ++index) {
    const char* name = sqlite3_column_name(statement, index);
    if (name != nullptr && wanted == name) return index;
  }
  return -1;
}

}  // namespace

void ResolveColumns(sqlite3_stmt* statement, std::span<const std::string_view> schema, std::span<int> indexes) {
  const int count = sqlite3_column_count(statement);
  for (std::size_t position = 0; position < schema.size(); ++position) {
    int index = FindByName(statement, schema[position]);
    if (index < 0 && static_cast<int>(position) < count) {
      const char* there = sqlite3_column_name(statement, static_cast<int>(position));
      const bool isAnotherColumn =
          there != nullptr && std::find(schema.begin(), schema.end(), std::string_view(there)) != schema.end();
      if (!isAnotherColumn) index = static_cast<int>(position);
    }
    indexes[position] = index;
  }
}

void ResolveColumnsByName(sqlite3_stmt* statement, std::span<const std::string_view> names, std::span<int> indexes) {
  for (std::size_t position = 0; position < names.size(); ++position) {
    indexes[position] = FindByName(statement, names[position]);
  }
}

std::optional<std::string_view> TextAt(sqlite3_stmt* statement, int index) {
  if (index < 0) return std::nullopt;
  return ColumnText(statement, index);
}

std::int64_t IntAt(sqlite3_stmt* statement, int index) {
  return index < 0 ? 0 : sqlite3_column_int64(statement, index);
}

std::string_view BlobAt(sqlite3_stmt* statement, int index) {
  if (index < 0) return {};
  // The bytes are asked for after the pointer, as SQLite requires.
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, index));
  if (bytes == nullptr) return {};
  return {bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement, index))};
}
