#include "recovery/live_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "recovery/fingerprint.h"

namespace {

enum Tag : std::uint64_t { kNull, kInteger, kReal, kText, kBlob };

// A real in the one form: a whole number within 64 bits as that integer.
void AddReal(Fingerprint& fingerprint, double real) {
  if (std::isnan(real)) {
    fingerprint.Add(kNull);
  } else if (real == std::trunc(real) && real >= -9223372036854775808.0 && real < 9223372036854775808.0) {
    fingerprint.Add(kInteger).Add(static_cast<std::uint64_t>(static_cast<std::int64_t>(real)));
  } else {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &real, sizeof bits);
    fingerprint.Add(kReal).Add(bits);
  }
}

void AddBytes(Fingerprint& fingerprint, Tag tag, const void* bytes, std::size_t size) {
  fingerprint.Add(tag).Add(std::span(static_cast<const std::uint8_t*>(bytes), size));
}

void AddRecordValue(Fingerprint& fingerprint, const RecordValue& value, TextEncoding encoding) {
  const std::int64_t type = value.serialType;
  if (IsNullType(type) || type == kUnknownValue) {
    fingerprint.Add(kNull);
  } else if (IsIntegerType(type)) {
    fingerprint.Add(kInteger).Add(static_cast<std::uint64_t>(IntegerOf(value)));
  } else if (IsRealType(type)) {
    const auto bits = static_cast<std::uint64_t>(IntegerOf(value));
    double real = 0;
    std::memcpy(&real, &bits, sizeof real);
    AddReal(fingerprint, real);
  } else if (IsTextType(type)) {
    const std::string utf8 = TextAsUtf8(value, encoding);
    AddBytes(fingerprint, kText, utf8.data(), utf8.size());
  } else {
    AddBytes(fingerprint, kBlob, value.bytes.data(), value.bytes.size());
  }
}

void AddColumn(Fingerprint& fingerprint, sqlite3_stmt* row, int column) {
  switch (sqlite3_column_type(row, column)) {
    case SQLITE_INTEGER: fingerprint.Add(kInteger).Add(static_cast<std::uint64_t>(sqlite3_column_int64(row, column))); break;
    case SQLITE_FLOAT: AddReal(fingerprint, sqlite3_column_double(row, column)); break;
    case SQLITE_TEXT: {
      const unsigned char* text = sqlite3_column_text(row, column);
      AddBytes(fingerprint, kText, text, static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
      break;
    }
    case SQLITE_BLOB:
      AddBytes(fingerprint, kBlob, sqlite3_column_blob(row, column), static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
      break;
    default: fingerprint.Add(kNull); break;
  }
}

// A query of a table's rows, every column as its records keep them: an
// index's entries are its table's rows' indexed columns and row id.
std::string SelectRows(const TableSchema& table) {
  std::string columns;
  for (const std::string& column : table.columns) columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(column);
  return "SELECT " + columns + " FROM " + QuoteIdentifier(TableName(table));
}

// A primary key's fingerprint is told from a whole row's by its tag.
constexpr std::uint64_t kKeyTag = 0x6b6579;

}  // namespace

LiveRows::LiveRows(sqlite3* db, const std::vector<TableSchema>& tables, std::size_t liveTables, TextEncoding encoding)
    : db_(db), tables_(tables), encoding_(encoding), byRowId_(db != nullptr ? liveTables : 0),
      unreadable_(byRowId_.size(), false), lookedFor_(byRowId_.size()), keysLookedFor_(byRowId_.size()) {}

std::uint64_t LiveRows::KeyOf(int table, const std::vector<RecordValue>& values) const {
  Fingerprint fingerprint;
  fingerprint.Add(kKeyTag).Add(static_cast<std::uint64_t>(table));
  const std::size_t keyColumns = std::min(tables_[static_cast<std::size_t>(table)].keyColumns, values.size());
  for (std::size_t column = 0; column < keyColumns; ++column) AddRecordValue(fingerprint, values[column], encoding_);
  return fingerprint.value();
}

std::uint64_t LiveRows::Of(int table, const std::vector<RecordValue>& values, const RecordValue* firstAs) const {
  Fingerprint fingerprint;
  fingerprint.Add(static_cast<std::uint64_t>(table));
  const int rowId = tables_[static_cast<std::size_t>(table)].rowIdColumn;
  for (std::size_t column = 0; column < values.size(); ++column) {
    if (static_cast<int>(column) == rowId) continue;
    const bool lost = column == 0 && values[0].serialType == kUnknownValue && firstAs != nullptr;
    AddRecordValue(fingerprint, lost ? *firstAs : values[column], encoding_);
  }
  return fingerprint.value();
}

std::vector<std::uint64_t> LiveRows::Alternatives(int table, const std::vector<RecordValue>& values) const {
  if (values.empty() || values[0].serialType != kUnknownValue) return {Of(table, values)};
  // The zero-size values: NULL, the integers 0 and 1, an empty text, an
  // empty BLOB.
  static constexpr RecordValue kZeroSize[] = {{0, {}}, {8, {}}, {9, {}}, {13, {}}, {12, {}}};
  std::vector<std::uint64_t> alternatives;
  for (const RecordValue& value : kZeroSize) alternatives.push_back(Of(table, values, &value));
  return alternatives;
}

std::uint64_t LiveRows::OfRow(int table, sqlite3_stmt* row, std::span<const int> at) const {
  Fingerprint fingerprint;
  fingerprint.Add(static_cast<std::uint64_t>(table));
  const TableSchema& schema = tables_[static_cast<std::size_t>(table)];
  for (std::size_t column = 0; column < schema.columns.size(); ++column) {
    if (static_cast<int>(column) == schema.rowIdColumn) continue;
    AddColumn(fingerprint, row, at.empty() ? static_cast<int>(column) : at[column]);
  }
  return fingerprint.value();
}

void LiveRows::TableUnreadable(int table) {
  if (unreadable_[static_cast<std::size_t>(table)]) return;
  unreadable_[static_cast<std::size_t>(table)] = true;
  problems_.push_back("the live rows of " + tables_[static_cast<std::size_t>(table)].name +
                      ", which SQLite could not read (" + sqlite3_errmsg(db_) + "): its records are not compared with them");
}

std::optional<std::uint64_t> LiveRows::RowOf(int table, std::int64_t rowId) {
  if (!IsLiveTable(table) || unreadable_[static_cast<std::size_t>(table)]) return std::nullopt;
  Statement& statement = byRowId_[static_cast<std::size_t>(table)];
  if (!statement) {
    const TableSchema& schema = tables_[static_cast<std::size_t>(table)];
    statement = PrepareStatement(db_, SelectRows(schema) + " WHERE rowid = ?1");
    if (!statement) {
      TableUnreadable(table);
      return std::nullopt;
    }
  }
  sqlite3_reset(statement.get());
  sqlite3_bind_int64(statement.get(), 1, rowId);
  if (sqlite3_step(statement.get()) != SQLITE_ROW) return std::nullopt;
  return OfRow(table, statement.get());
}

void LiveRows::LookFor(int table, std::uint64_t fingerprint) {
  if (IsLiveTable(table)) lookedFor_[static_cast<std::size_t>(table)].push_back(fingerprint);
}

void LiveRows::LookForKey(int table, std::uint64_t fingerprint) {
  if (IsLiveTable(table)) keysLookedFor_[static_cast<std::size_t>(table)].push_back(fingerprint);
}

void LiveRows::ReadTablesLookedIn() {
  // The b-trees looked in, by the table whose rows they keep: a table and
  // its indexes are read in one pass over its rows.
  std::map<std::string, std::vector<std::size_t>> byTable;
  for (std::size_t table = 0; table < lookedFor_.size(); ++table) {
    for (std::vector<std::uint64_t>* wanted : {&lookedFor_[table], &keysLookedFor_[table]}) {
      std::sort(wanted->begin(), wanted->end());
      wanted->erase(std::unique(wanted->begin(), wanted->end()), wanted->end());
    }
    if (!lookedFor_[table].empty() || !keysLookedFor_[table].empty()) {
      byTable[TableName(tables_[table])].push_back(table);
    }
  }
  for (const auto& [name, trees] : byTable) {
    // Every column any of them keeps, once; each b-tree's record columns
    // among them.
    std::vector<std::string> columns;
    std::vector<std::vector<int>> at(trees.size());
    for (std::size_t tree = 0; tree < trees.size(); ++tree) {
      for (const std::string& column : tables_[trees[tree]].columns) {
        const auto found = std::find(columns.begin(), columns.end(), column);
        at[tree].push_back(static_cast<int>(found - columns.begin()));
        if (found == columns.end()) columns.push_back(column);
      }
    }
    std::string select;
    for (const std::string& column : columns) select += (select.empty() ? "" : ", ") + QuoteIdentifier(column);
    Statement rows = PrepareStatement(db_, "SELECT " + select + " FROM " + QuoteIdentifier(name));
    int step = SQLITE_ROW;
    while (rows && (step = sqlite3_step(rows.get())) == SQLITE_ROW) {
      for (std::size_t tree = 0; tree < trees.size(); ++tree) {
        const int table = static_cast<int>(trees[tree]);
        const std::vector<std::uint64_t>& wanted = lookedFor_[trees[tree]];
        const std::vector<std::uint64_t>& keys = keysLookedFor_[trees[tree]];
        const std::uint64_t fingerprint = OfRow(table, rows.get(), at[tree]);
        if (std::binary_search(wanted.begin(), wanted.end(), fingerprint)) live_.push_back(fingerprint);
        if (keys.empty()) continue;
        Fingerprint key;
        key.Add(kKeyTag).Add(static_cast<std::uint64_t>(table));
        for (std::size_t column = 0; column < tables_[trees[tree]].keyColumns; ++column) {
          AddColumn(key, rows.get(), at[tree][column]);
        }
        if (std::binary_search(keys.begin(), keys.end(), key.value())) liveKeys_.push_back(key.value());
      }
    }
    for (const std::size_t table : trees) {
      if (!rows || step != SQLITE_DONE) TableUnreadable(static_cast<int>(table));
      std::vector<std::uint64_t>().swap(lookedFor_[table]);
      std::vector<std::uint64_t>().swap(keysLookedFor_[table]);
    }
  }
  std::sort(live_.begin(), live_.end());
  std::sort(liveKeys_.begin(), liveKeys_.end());
}

bool LiveRows::IsLive(std::uint64_t fingerprint) const {
  return std::binary_search(live_.begin(), live_.end(), fingerprint);
}

bool LiveRows::IsLiveKey(std::uint64_t fingerprint) const {
  return std::binary_search(liveKeys_.begin(), liveKeys_.end(), fingerprint);
}
