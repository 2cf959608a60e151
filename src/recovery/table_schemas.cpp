#include "recovery/table_schemas.h"

#include <algorithm>
#include <cctype>

#include "evidence/sqlite_handles.h"

namespace {

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

bool IsValidUtf8(Bytes bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::uint8_t lead = bytes[at];
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || at + length > bytes.size()) return false;
    for (std::size_t i = 1; i < length; ++i) {
      if ((bytes[at + i] & 0xC0) != 0x80) return false;
    }
    at += length;
  }
  return true;
}

bool KeptBy(Affinity affinity, std::int64_t type) {
  if (type == 0) return true;  // NULL fits every column
  switch (affinity) {
    case Affinity::kInteger:
    case Affinity::kReal:
    case Affinity::kNumeric:
      return IsNumericType(type);
    case Affinity::kText:
      return IsTextType(type) || IsBlobType(type);  // a BLOB keeps its class
    case Affinity::kBlob:
      return true;
  }
  return false;
}

}  // namespace

Affinity AffinityOf(std::string declaredType) {
  std::transform(declaredType.begin(), declaredType.end(), declaredType.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (Contains(declaredType, "INT")) return Affinity::kInteger;
  if (Contains(declaredType, "CHAR") || Contains(declaredType, "CLOB") || Contains(declaredType, "TEXT")) {
    return Affinity::kText;
  }
  if (declaredType.empty() || Contains(declaredType, "BLOB")) return Affinity::kBlob;
  if (Contains(declaredType, "REAL") || Contains(declaredType, "FLOA") || Contains(declaredType, "DOUB")) {
    return Affinity::kReal;
  }
  return Affinity::kNumeric;
}

std::optional<std::uint32_t> SchemaStatements(sqlite3* db) {
  Statement count = PrepareStatement(db, "SELECT count(*) FROM sqlite_master WHERE sql IS NOT NULL");
  if (!count || sqlite3_step(count.get()) != SQLITE_ROW) return std::nullopt;
  return static_cast<std::uint32_t>(sqlite3_column_int64(count.get(), 0));
}

std::optional<std::vector<TableSchema>> ReadTableSchemas(sqlite3* db, std::string& error) {
  std::vector<TableSchema> tables;
  Statement list = PrepareStatement(
      db, "SELECT m.name, m.rootpage FROM sqlite_master AS m JOIN pragma_table_list AS l ON l.name = m.name "
          "WHERE l.schema = 'main' AND l.type = 'table' AND l.wr = 0 AND m.type = 'table' "
          "AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY m.name");
  Statement columns =
      PrepareStatement(db, "SELECT name, type, pk, \"notnull\" FROM pragma_table_info(?1) ORDER BY cid");
  int step = SQLITE_ROW;
  while (list && columns && (step = sqlite3_step(list.get())) == SQLITE_ROW) {
    TableSchema table;
    table.name = std::string(ColumnText(list.get(), 0).value_or(""));
    table.rootPage = static_cast<std::uint32_t>(sqlite3_column_int64(list.get(), 1));
    sqlite3_reset(columns.get());
    if (!BindText(columns.get(), 1, table.name)) continue;
    int keyColumns = 0;
    int integerKey = -1;
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      const std::string type(ColumnText(columns.get(), 1).value_or(""));
      if (sqlite3_column_int(columns.get(), 2) > 0) {
        ++keyColumns;
        std::string upper = type;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        // Only the declared type INTEGER makes a key the row id.
        if (upper == "INTEGER") integerKey = static_cast<int>(table.columns.size());
      }
      table.columns.emplace_back(ColumnText(columns.get(), 0).value_or(""));
      table.affinities.push_back(AffinityOf(type));
      table.notNull.push_back(sqlite3_column_int(columns.get(), 3) != 0);
    }
    if (keyColumns == 1) table.rowIdColumn = integerKey;
    if (!table.columns.empty()) tables.push_back(std::move(table));
  }
  if (!list || !columns || step != SQLITE_DONE) {
    error = sqlite3_errmsg(db);
    return std::nullopt;
  }
  return tables;
}

std::size_t StoredValues(const std::vector<RecordValue>& values) {
  return static_cast<std::size_t>(std::count_if(values.begin(), values.end(), [](const RecordValue& value) {
    return value.serialType != 0 && value.serialType != kUnknownValue;
  }));
}

bool MayBeOfAnotherTable(const std::vector<RecordValue>& values, TextEncoding encoding) {
  // A run of zero bytes reads as a record of NULLs, which says nothing; no
  // table has more columns than SQLite allows.
  if (StoredValues(values) < 2 || values.size() > kMostColumns) return false;
  TableSchema anything;
  anything.columns.resize(values.size());
  anything.affinities.assign(values.size(), Affinity::kBlob);
  anything.notNull.assign(values.size(), false);
  return FitsTable(anything, values, encoding);
}

bool FitsTable(const TableSchema& table, const std::vector<RecordValue>& values, TextEncoding encoding) {
  if (values.size() != table.columns.size()) return false;
  for (std::size_t column = 0; column < values.size(); ++column) {
    const std::int64_t type = values[column].serialType;
    if (static_cast<int>(column) == table.rowIdColumn) {
      if (type != 0) return false;
      continue;
    }
    if (type == kUnknownValue) continue;
    if (type == 0 && table.notNull[column]) return false;
    if (!KeptBy(table.affinities[column], type)) return false;
    if (IsTextType(type)) {
      if (encoding == TextEncoding::kUtf8 ? !IsValidUtf8(values[column].bytes) : values[column].bytes.size() % 2 != 0) {
        return false;
      }
    }
  }
  return true;
}

std::int64_t IntegerOf(const RecordValue& value) {
  if (value.serialType == 8) return 0;
  if (value.serialType == 9) return 1;
  std::uint64_t bits = 0;
  for (std::uint8_t byte : value.bytes) bits = bits << 8 | byte;
  // Sign-extend from the value's own width.
  const std::size_t width = value.bytes.size() * 8;
  if (width > 0 && width < 64 && (bits >> (width - 1)) != 0) bits |= ~std::uint64_t{0} << width;
  return static_cast<std::int64_t>(bits);
}

std::string TextAsUtf8(const RecordValue& value, TextEncoding encoding) {
  const Bytes bytes = value.bytes;
  if (encoding == TextEncoding::kUtf8) return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const bool big = encoding == TextEncoding::kUtf16be;
  const auto unit = [&](std::size_t at) -> std::uint32_t {
    return big ? (std::uint32_t{bytes[at]} << 8 | bytes[at + 1]) : (std::uint32_t{bytes[at + 1]} << 8 | bytes[at]);
  };
  std::string text;
  for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
    std::uint32_t code = unit(at);
    if (code >= 0xD800 && code <= 0xDBFF && at + 3 < bytes.size() && unit(at + 2) >= 0xDC00 && unit(at + 2) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
      at += 2;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      text += static_cast<char>(code);
    } else if (code < 0x800) {
      text += static_cast<char>(0xC0 | code >> 6);
      text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      text += static_cast<char>(0xE0 | code >> 12);
      text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | code >> 18);
      text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return text;
}
