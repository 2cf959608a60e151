#include "recovery/recovery_task.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_set>

#include "console/console.h"
#include "console/progress_count.h"
#include "console/task_console.h"
#include "evidence/evidence_database.h"
#include "evidence/sqlite_handles.h"
#include "output/csv_format.h"
#include "output/output_names.h"
#include "timestamps/timestamp_decoding.h"
#include "recovery/dropped_tables.h"
#include "recovery/page_sources.h"
#include "recovery/record_carver.h"
#include "recovery/table_schemas.h"

namespace {

constexpr const char* kWholeRecord = "a whole record";
constexpr const char* kRebuiltRecord = "a record whose row id and first bytes were overwritten";

// Binds a recovered value as SQLite would hand it over: NULL, integer,
// real, text in the database's encoding, or BLOB.
void BindValue(sqlite3_stmt* statement, int index, const RecordValue& value, TextEncoding encoding) {
  const std::int64_t type = value.serialType;
  if (type == 0 || type == kUnknownValue) {
    sqlite3_bind_null(statement, index);
  } else if (type == 7) {
    const std::uint64_t bits = static_cast<std::uint64_t>(IntegerOf(value));
    double real = 0;
    static_assert(sizeof real == sizeof bits);
    std::memcpy(&real, &bits, sizeof real);
    sqlite3_bind_double(statement, index, real);
  } else if (type <= 9) {
    sqlite3_bind_int64(statement, index, IntegerOf(value));
  } else if (type % 2 == 1) {
    const unsigned char textEncoding = encoding == TextEncoding::kUtf8      ? SQLITE_UTF8
                                       : encoding == TextEncoding::kUtf16le ? SQLITE_UTF16LE
                                                                            : SQLITE_UTF16BE;
    sqlite3_bind_text64(statement, index, reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size(),
                        SQLITE_TRANSIENT, textEncoding);
  } else {
    sqlite3_bind_blob64(statement, index, value.bytes.data(), value.bytes.size(), SQLITE_TRANSIENT);
  }
}

// Recovered values as the table export writes SQLite's: through SQLite's own
// rendering of a value as text, UTF-16 texts made UTF-8 on the way.
class ValueRenderer {
 public:
  ValueRenderer() {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(raw);
    select_ = PrepareStatement(db_.get(), "SELECT ?1");
  }
  // Nothing for NULL and for a value that cannot be recovered.
  std::optional<std::string_view> Render(const RecordValue& value, TextEncoding encoding) {
    if (value.serialType == 0 || value.serialType == kUnknownValue || !select_) return std::nullopt;
    sqlite3_reset(select_.get());
    BindValue(select_.get(), 1, value, encoding);
    if (sqlite3_step(select_.get()) != SQLITE_ROW) return std::nullopt;
    return ColumnText(select_.get(), 0);
  }

 private:
  DatabaseHandle db_;
  Statement select_;
};

// The statements that tell a recovered record from a live row of its table.
struct LiveRows {
  Statement byRowId;   // whether the row of that id has these values; no row when there is none
  Statement byValues;  // a row with these values
};

// "(?1 OR c0 IS ?2) AND (?3 OR c1 IS ?4) ...": a value that cannot be
// recovered (?odd = 1) matches anything; the row id column is left out.
std::string SameValuesCondition(const TableSchema& table) {
  std::string condition;
  for (std::size_t column = 0; column < table.columns.size(); ++column) {
    if (static_cast<int>(column) == table.rowIdColumn) continue;
    if (!condition.empty()) condition += " AND ";
    condition += "(?" + std::to_string(2 * column + 1) + " OR " + QuoteIdentifier(table.columns[column]) + " IS ?" +
                 std::to_string(2 * column + 2) + ")";
  }
  return condition.empty() ? "1" : condition;
}

LiveRows PrepareLiveRows(sqlite3* db, const TableSchema& table) {
  const std::string condition = SameValuesCondition(table);
  const std::string rowId = "?" + std::to_string(2 * table.columns.size() + 1);
  return {PrepareStatement(db, "SELECT " + condition + " FROM " + QuoteIdentifier(table.name) + " WHERE rowid = " + rowId),
          PrepareStatement(db, "SELECT 1 FROM " + QuoteIdentifier(table.name) + " WHERE " + condition + " LIMIT 1")};
}

void BindValues(sqlite3_stmt* statement, const std::vector<RecordValue>& values, TextEncoding encoding) {
  for (std::size_t column = 0; column < values.size(); ++column) {
    const int index = static_cast<int>(2 * column + 1);
    sqlite3_bind_int(statement, index, values[column].serialType == kUnknownValue ? 1 : 0);
    BindValue(statement, index + 1, values[column], encoding);
  }
}

// The file of one table's recovered records.
struct RecoveredFile {
  std::unique_ptr<TaskFile> file;
  ClaimedName name;
  std::int64_t records = 0;
};

class DatabaseRecovery {
 public:
  DatabaseRecovery(Console& console, const CaseSettings& settings, const BrowserProfile& profile,
                   const ProfileDatabase& database, OutputNames& names)
      : console_(console), settings_(settings), profile_(profile), database_(database),
        names_(names), tables_(ReadTableSchemas(database.db.get())) {
    for (const TableSchema& table : tables_) live_.push_back(PrepareLiveRows(database.db.get(), table));
  }

  // Searches the files and writes what was found; the number of records.
  std::int64_t Run(const EvidenceFiles& files) {
    PageSources sources;
    if (!sources.Open(files)) {
      ReportProblems(sources.searched());
      return 0;
    }
    encoding_ = sources.header().encoding;
    liveTables_ = tables_.size();
    for (TableSchema& table : FindDroppedTables(sources, tables_)) {
      tables_.push_back(std::move(table));
      live_.emplace_back();  // a dropped table has no live rows
    }
    std::vector<std::uint32_t> roots;
    for (const TableSchema& table : tables_) roots.push_back(table.rootPage);
    owners_ = sources.PageOwners(roots);
    RecordCarver carver(tables_, sources.header(),
                        [&sources](std::uint32_t n, std::vector<std::uint8_t>& out) { return sources.ReadOverflowPage(n, out); });
    ProgressCount progress(console_, [&sources] { return static_cast<std::int64_t>(sources.pageCount()); });
    sources.ForEachImage([&](const PageImage& image) {
      // A freed page belongs to no table; any other image is taken to be of
      // the table that holds its page now.
      const int owner = image.freelist ? DroppedTableAt(image.pageNumber)
                        : image.pageNumber >= owners_.size() ? -1 : owners_[image.pageNumber];
      // Page 1 begins with the database header, in the WAL and the journal too.
      carver.Carve(image.page, image.pageNumber == 1 ? 100 : 0, image.live, owner,
                   [&](const CarvedRecord& record) { Take(record, image); });
      progress.CountRow();
    });
    SearchedPlaces searched = sources.searched();
    if (carver.pagesSearchedInPart() > 0) {
      searched.problems.push_back("the free space of " + std::to_string(carver.pagesSearchedInPart()) +
                                  " pages, searched in part: more possible records than a page can hold");
    }
    return Finish(searched, carver.freeBytes());
  }

 private:
  // Keeps a record unless it is a live row or was found before.
  void Take(const CarvedRecord& record, const PageImage& image) {
    std::string certainty = record.rebuilt ? kRebuiltRecord : kWholeRecord;
    const int table = TableOf(record, image);
    // A rebuilt record is read by a table's schema: without one table, it
    // is no reading at all.
    if (record.rebuilt && table < 0) return;
    if (table >= 0) {
      const std::optional<std::string> liveState = CompareWithLive(table, record);
      if (!liveState) return;  // the live row itself
      if (!liveState->empty()) certainty = *liveState;
    }
    if (!FirstSighting(table, record)) return;
    const std::string place = *image.file + ", " + image.place;
    const std::string offset = std::to_string(image.fileOffset + record.offset);
    if (table >= 0) {
      WriteRecord(table, record, place, offset, certainty);
    } else {
      KeepUnattributed(record, place, offset, certainty);
    }
  }

  // The dropped table whose root page a freed page was, or -1.
  int DroppedTableAt(std::uint32_t page) const {
    for (std::size_t table = liveTables_; table < tables_.size(); ++table) {
      if (tables_[table].rootPage == page) return static_cast<int>(table);
    }
    return -1;
  }

  // The one table a record fits; where it fits several, the one whose
  // b-tree holds the page it was found on; -1 when that does not tell.
  int TableOf(const CarvedRecord& record, const PageImage& image) const {
    if (record.tables.size() == 1) return record.tables.front();
    const int owner = image.pageNumber < owners_.size() ? owners_[image.pageNumber] : -1;
    return std::find(record.tables.begin(), record.tables.end(), owner) != record.tables.end() ? owner : -1;
  }

  // Nothing for a live row; "" for a record of no live row; the certainty
  // of an earlier version of a live row.
  std::optional<std::string> CompareWithLive(int table, const CarvedRecord& record) {
    LiveRows& live = live_[static_cast<std::size_t>(table)];
    const TableSchema& schema = tables_[static_cast<std::size_t>(table)];
    if (record.rowId && live.byRowId) {
      sqlite3_stmt* statement = live.byRowId.get();
      sqlite3_reset(statement);
      BindValues(statement, record.values, encoding_);
      sqlite3_bind_int64(statement, static_cast<int>(2 * schema.columns.size() + 1), *record.rowId);
      if (sqlite3_step(statement) == SQLITE_ROW) {
        if (sqlite3_column_int(statement, 0) != 0) return std::nullopt;
        return "an earlier version of live row " + std::to_string(*record.rowId);
      }
      return "";
    }
    if (live.byValues) {
      sqlite3_stmt* statement = live.byValues.get();
      sqlite3_reset(statement);
      BindValues(statement, record.values, encoding_);
      if (sqlite3_step(statement) == SQLITE_ROW) return std::nullopt;
    }
    return "";
  }

  // Whether the record is met for the first time: the same values in the
  // same table, with the same row id where both have one.
  bool FirstSighting(int table, const CarvedRecord& record) {
    std::string key = std::to_string(table) + ":";
    for (const RecordValue& value : record.values) {
      key += std::to_string(value.serialType) + ":";
      key.append(reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size());
    }
    const bool newValues = seenValues_.insert(key).second;
    if (!record.rowId) return newValues;
    return seenRows_.insert(key + "#" + std::to_string(*record.rowId)).second;
  }

  std::vector<std::string> RenderedValues(const TableSchema* schema, const CarvedRecord& record) {
    std::vector<std::string> cells;
    std::string decoded;
    for (std::size_t column = 0; column < record.values.size(); ++column) {
      std::optional<std::string_view> text = renderer_.Render(record.values[column], encoding_);
      if (schema != nullptr && static_cast<int>(column) == schema->rowIdColumn && record.rowId) {
        cells.push_back(std::to_string(*record.rowId));
        continue;
      }
      if (text && schema != nullptr &&
          IsTimestampColumn(database_.timestampColumns, schema->name, schema->columns[column])) {
        text = StoredTimestampText(profile_.clock, database_.laterFile, *text, settings_, decoded);
      }
      cells.emplace_back(text.value_or(""));
    }
    return cells;
  }

  RecoveredFile& FileOf(int table) {
    RecoveredFile& recovered = files_[table];
    if (recovered.file) return recovered;
    const TableSchema& schema = tables_[static_cast<std::size_t>(table)];
    const std::string_view parts[] = {settings_.caseReference, " - ", settings_.caseName, " - ", database_.file,
                                      " ", schema.name, Dropped(table) ? " (dropped table) (recovered)" : " (recovered)"};
    recovered.name = names_.Claim(parts, ".csv");
    recovered.file = std::make_unique<TaskFile>(console_, recovered.name.name, CreateMessage::kNameThenReason);
    for (const std::string& column : schema.columns) AppendCsvCell(recovered.file->out(), column);
    AppendProvenanceHeading(*recovered.file);
    return recovered;
  }

  bool Dropped(int table) const { return static_cast<std::size_t>(table) >= liveTables_; }

  static void AppendProvenanceHeading(TaskFile& file) {
    for (const char* heading : {"Found in", "Offset", "Certainty"}) AppendCsvCell(file.out(), heading);
    file.EndLine();
  }

  void WriteRecord(int table, const CarvedRecord& record, const std::string& place, const std::string& offset,
                   const std::string& certainty) {
    RecoveredFile& recovered = FileOf(table);
    for (const std::string& cell : RenderedValues(&tables_[static_cast<std::size_t>(table)], record)) {
      AppendCsvCell(recovered.file->out(), cell);
    }
    for (const std::string& cell : {place, offset, certainty}) AppendCsvCell(recovered.file->out(), cell);
    recovered.file->EndLine();
    ++recovered.records;
  }

  void KeepUnattributed(const CarvedRecord& record, const std::string& place, const std::string& offset,
                        const std::string& certainty) {
    std::vector<std::string> row = RenderedValues(nullptr, record);
    widest_ = std::max(widest_, row.size());
    row.insert(row.end(), {place, offset, certainty});
    unattributed_.push_back(std::move(row));
  }

  void WriteUnattributed() {
    if (unattributed_.empty()) return;
    const std::string_view parts[] = {settings_.caseReference, " - ", settings_.caseName, " - ", database_.file,
                                      " (unattributed) (recovered)"};
    const ClaimedName name = names_.Claim(parts, ".csv");
    TaskFile file(console_, name.name, CreateMessage::kNameThenReason);
    for (std::size_t column = 1; column <= widest_; ++column) AppendCsvCell(file.out(), "Column " + std::to_string(column));
    AppendProvenanceHeading(file);
    for (const std::vector<std::string>& row : unattributed_) {
      const std::size_t values = row.size() - 3;
      for (std::size_t column = 0; column < widest_; ++column) AppendCsvCell(file.out(), column < values ? row[column] : "");
      for (std::size_t cell = values; cell < row.size(); ++cell) AppendCsvCell(file.out(), row[cell]);
      file.EndLine();
    }
    file.Publish();
    console_.WriteLine("  records that fit no one table: " + std::to_string(unattributed_.size()) + " recovered");
    if (name.renamed) console_.WriteLine("  Written as " + name.name);
  }

  void ReportProblems(const SearchedPlaces& searched) {
    for (const std::string& problem : searched.problems) console_.WriteLine("  Passed over: " + problem);
  }

  std::int64_t Finish(const SearchedPlaces& searched, std::uint64_t freeBytes) {
    std::int64_t total = 0;
    for (auto& [table, recovered] : files_) {
      recovered.file->Publish();
      console_.WriteLine("  " + ConsoleText(tables_[static_cast<std::size_t>(table)].name) +
                         (Dropped(table) ? " (dropped table): " : ": ") + std::to_string(recovered.records) + " recovered");
      if (recovered.name.renamed) console_.WriteLine("  Written as " + recovered.name.name);
      total += recovered.records;
    }
    WriteUnattributed();
    total += static_cast<std::int64_t>(unattributed_.size());
    ReportProblems(searched);
    console_.WriteLine("  Searched " + std::to_string(searched.pages) + " pages (" +
                       std::to_string(searched.freelistPages) + " on the freelist), " + std::to_string(freeBytes) +
                       " bytes of free space, " + std::to_string(searched.walFrames) + " WAL frames, " +
                       std::to_string(searched.journalPages) + " journal pages");
    return total;
  }

  Console& console_;
  const CaseSettings& settings_;
  const BrowserProfile& profile_;
  const ProfileDatabase& database_;
  OutputNames& names_;
  std::vector<TableSchema> tables_;
  std::vector<LiveRows> live_;
  std::vector<int> owners_;  // by page number
  std::size_t liveTables_ = 0;  // the tables after these are dropped ones
  TextEncoding encoding_ = TextEncoding::kUtf8;
  ValueRenderer renderer_;
  std::map<int, RecoveredFile> files_;
  std::unordered_set<std::string> seenValues_;
  std::unordered_set<std::string> seenRows_;
  std::vector<std::vector<std::string>> unattributed_;
  std::size_t widest_ = 0;
};

}  // namespace

void RecoverDeletedRecords(Console& console, const CaseSettings& settings, const BrowserProfile& profile) {
  console.PrintSectionBreak();
  console.PrintSectionBreak();
  OutputNames names;
  std::int64_t total = 0;
  ForEachProfileDatabase(console, profile, [&](const ProfileDatabase& database) {
    const ReadingNote reading(database.file);
    DatabaseRecovery recovery(console, settings, profile, database, names);
    total += recovery.Run(database.db.files());
  });
  console.DiscardPendingInput();
  console.WriteLine();
  console.WriteLine(std::to_string(total) + " records recovered");
  console.WriteLine();
  console.WaitForEnter();
}
