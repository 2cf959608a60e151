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

namespace {

// A table's columns as declared, in schema order.
struct DeclaredColumns {
  std::vector<std::string> names;
  std::vector<Affinity> affinities;
  std::vector<bool> notNull;
  int rowIdColumn = -1;
};

bool ReadDeclaredColumns(sqlite3_stmt* columns, const std::string& table, DeclaredColumns& declared) {
  sqlite3_reset(columns);
  if (!BindText(columns, 1, table)) return false;
  int keyColumns = 0;
  int integerKey = -1;
  while (sqlite3_step(columns) == SQLITE_ROW) {
    const std::string type(ColumnText(columns, 1).value_or(""));
    if (sqlite3_column_int(columns, 2) > 0) {
      ++keyColumns;
      std::string upper = type;
      std::transform(upper.begin(), upper.end(), upper.begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      // Only the declared type INTEGER makes a key the row id.
      if (upper == "INTEGER") integerKey = static_cast<int>(declared.names.size());
    }
    declared.names.emplace_back(ColumnText(columns, 0).value_or(""));
    declared.affinities.push_back(AffinityOf(type));
    declared.notNull.push_back(sqlite3_column_int(columns, 3) != 0);
  }
  if (keyColumns == 1) declared.rowIdColumn = integerKey;
  return !declared.names.empty();
}

// The columns of an index b-tree's records (PRAGMA index_xinfo: the table's
// column of each, -1 the row id, -2 an expression), as the schema's record
// columns; false for an index of an expression. The row id is an INTEGER
// never NULL, named after the column that is its alias where one is.
bool ReadIndexColumns(sqlite3_stmt* indexColumns, const std::string& index, const DeclaredColumns& declared,
                      TableSchema& schema) {
  sqlite3_reset(indexColumns);
  if (!BindText(indexColumns, 1, index)) return false;
  while (sqlite3_step(indexColumns) == SQLITE_ROW) {
    const int column = sqlite3_column_int(indexColumns, 0);
    const bool key = sqlite3_column_int(indexColumns, 1) != 0;
    if (column < -1 || column >= static_cast<int>(declared.names.size())) return false;
    if (key) ++schema.keyColumns;
    schema.columnOrder.push_back(column);
    if (column == -1) {
      schema.columns.emplace_back(declared.rowIdColumn >= 0
                                      ? declared.names[static_cast<std::size_t>(declared.rowIdColumn)]
                                      : "rowid");
      schema.affinities.push_back(Affinity::kInteger);
      schema.notNull.push_back(true);
      continue;
    }
    const auto at = static_cast<std::size_t>(column);
    schema.columns.push_back(declared.names[at]);
    schema.affinities.push_back(declared.affinities[at]);
    schema.notNull.push_back(declared.notNull[at]);
  }
  return !schema.columns.empty();
}

}  // namespace

std::optional<std::vector<TableSchema>> ReadTableSchemas(sqlite3* db, std::string& error) {
  std::vector<TableSchema> tables;
  Statement list = PrepareStatement(
      db, "SELECT m.name, m.rootpage, l.wr FROM sqlite_master AS m JOIN pragma_table_list AS l ON l.name = m.name "
          "WHERE l.schema = 'main' AND l.type = 'table' AND m.type = 'table' "
          "AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY m.name");
  Statement columns =
      PrepareStatement(db, "SELECT name, type, pk, \"notnull\" FROM pragma_table_info(?1) ORDER BY cid");
  Statement keyIndex = PrepareStatement(db, "SELECT name FROM pragma_index_list(?1) WHERE origin = 'pk'");
  Statement indexColumns = PrepareStatement(db, "SELECT cid, key FROM pragma_index_xinfo(?1) ORDER BY seqno");
  Statement indexes = PrepareStatement(
      db, "SELECT name, tbl_name, rootpage FROM sqlite_master WHERE type = 'index' AND rootpage > 0 ORDER BY name");
  if (!list || !columns || !keyIndex || !indexColumns || !indexes) {
    error = sqlite3_errmsg(db);
    return std::nullopt;
  }
  std::vector<DeclaredColumns> declared;  // by table
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(list.get())) == SQLITE_ROW) {
    TableSchema table;
    table.name = std::string(ColumnText(list.get(), 0).value_or(""));
    table.rootPage = static_cast<std::uint32_t>(sqlite3_column_int64(list.get(), 1));
    DeclaredColumns columnsOf;
    if (!ReadDeclaredColumns(columns.get(), table.name, columnsOf)) continue;
    if (sqlite3_column_int(list.get(), 2) == 0) {
      table.columns = columnsOf.names;
      table.affinities = columnsOf.affinities;
      table.notNull = columnsOf.notNull;
      table.rowIdColumn = columnsOf.rowIdColumn;
    } else {
      // A WITHOUT ROWID table is the index of its primary key, whose
      // records hold every column; its key is never NULL.
      table.kind = BTreeKind::kWithoutRowid;
      sqlite3_reset(keyIndex.get());
      if (!BindText(keyIndex.get(), 1, table.name) || sqlite3_step(keyIndex.get()) != SQLITE_ROW) continue;
      const std::string key(ColumnText(keyIndex.get(), 0).value_or(""));
      if (!ReadIndexColumns(indexColumns.get(), key, columnsOf, table)) continue;
      std::fill_n(table.notNull.begin(), std::min(table.keyColumns, table.notNull.size()), true);
      // Written in schema order: the record's column of each.
      std::vector<int> recordColumnOf(columnsOf.names.size(), -1);
      for (std::size_t at = 0; at < table.columnOrder.size(); ++at) {
        if (table.columnOrder[at] >= 0) recordColumnOf[static_cast<std::size_t>(table.columnOrder[at])] = static_cast<int>(at);
      }
      if (std::count(recordColumnOf.begin(), recordColumnOf.end(), -1) > 0) continue;
      table.columnOrder = std::move(recordColumnOf);
    }
    tables.push_back(std::move(table));
    declared.push_back(std::move(columnsOf));
  }
  const std::size_t tableCount = tables.size();
  if (step == SQLITE_DONE) {
    while ((step = sqlite3_step(indexes.get())) == SQLITE_ROW) {
      TableSchema index;
      index.kind = BTreeKind::kIndex;
      index.name = std::string(ColumnText(indexes.get(), 0).value_or(""));
      index.table = std::string(ColumnText(indexes.get(), 1).value_or(""));
      index.rootPage = static_cast<std::uint32_t>(sqlite3_column_int64(indexes.get(), 2));
      const auto of = std::find_if(tables.begin(), tables.begin() + static_cast<std::ptrdiff_t>(tableCount),
                                   [&index](const TableSchema& table) { return table.name == index.table; });
      if (of == tables.begin() + static_cast<std::ptrdiff_t>(tableCount)) continue;
      const DeclaredColumns& columnsOf = declared[static_cast<std::size_t>(of - tables.begin())];
      if (!ReadIndexColumns(indexColumns.get(), index.name, columnsOf, index)) continue;
      // What finds the row of a WITHOUT ROWID table is its key: never NULL.
      if (of->kind == BTreeKind::kWithoutRowid) {
        std::fill(index.notNull.begin() + static_cast<std::ptrdiff_t>(index.keyColumns), index.notNull.end(), true);
      }
      tables.push_back(std::move(index));
    }
  }
  if (step != SQLITE_DONE) {
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
