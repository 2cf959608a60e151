#include "recovery/recovery_task.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <span>

#include "console/console.h"
#include "console/progress_count.h"
#include "console/task_console.h"
#include "evidence/evidence_database.h"
#include "evidence/sqlite_handles.h"
#include "output/csv_format.h"
#include "output/output_names.h"
#include "output/scratch_file.h"
#include "recovery/fingerprint.h"
#include "recovery/fingerprint_set.h"
#include "recovery/live_rows.h"
#include "recovery/page_sources.h"
#include "recovery/record_carver.h"
#include "recovery/recovered_usage.h"
#include "recovery/schema_table.h"
#include "recovery/table_schemas.h"
#include "timestamps/timestamp_decoding.h"

namespace {

constexpr const char* kWholeRecord = "a whole record";
constexpr const char* kRebuiltRecord = "a record whose row id and first bytes were overwritten";
constexpr const char* kDamagedPage = "in a page whose structure does not hold";
constexpr const char* kShapeAssumed = "the table assumed from the shape of its columns";
constexpr const char* kEarlierOfKey = "an earlier version of the live row of its primary key";
// Told apart from the fingerprints of values.
constexpr std::uint64_t kRowTag = 0x726f77;

// The live tables whose records are looked for, at the most: every browser
// keeps fewer than a hundred.
constexpr std::size_t kMostTables = 1000;

// Recovered values as the table export writes SQLite's: a number as SQLite
// renders it, a text or BLOB up to its first zero byte. Reals and UTF-16
// texts go through SQLite's own rendering, in a database of its own in
// memory, so that they read exactly as the export's.
class ValueRenderer {
 public:
  ValueRenderer() {
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(raw);
    if (opened == SQLITE_OK) select_ = PrepareStatement(db_.get(), "SELECT ?1");
    if (!select_) error_ = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(opened);
  }
  // Why SQLite could not render; empty when it can.
  const std::string& error() const { return error_; }

  // Nothing for NULL and for a value that cannot be recovered.
  std::optional<std::string_view> Render(const RecordValue& value, TextEncoding encoding) {
    const std::int64_t type = value.serialType;
    if (IsNullType(type) || type == kUnknownValue) return std::nullopt;
    if (IsIntegerType(type)) {
      text_ = std::to_string(IntegerOf(value));
      return text_;
    }
    if (IsBlobType(type) || (IsTextType(type) && encoding == TextEncoding::kUtf8)) {
      const auto* bytes = reinterpret_cast<const char*>(value.bytes.data());
      return std::string_view(bytes, ::strnlen(bytes, value.bytes.size()));
    }
    if (!select_) return std::nullopt;
    sqlite3_reset(select_.get());
    if (IsRealType(type)) {
      const auto bits = static_cast<std::uint64_t>(IntegerOf(value));
      double real = 0;
      std::memcpy(&real, &bits, sizeof real);
      sqlite3_bind_double(select_.get(), 1, real);
    } else {
      sqlite3_bind_text64(select_.get(), 1, reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size(),
                          SQLITE_TRANSIENT, encoding == TextEncoding::kUtf16le ? SQLITE_UTF16LE : SQLITE_UTF16BE);
    }
    if (sqlite3_step(select_.get()) != SQLITE_ROW) return std::nullopt;
    return ColumnText(select_.get(), 0);
  }

 private:
  DatabaseHandle db_;
  Statement select_;
  std::string error_;
  std::string text_;
};

// A record found and kept, until the live rows are read: where it goes,
// what would make it a copy (of a live row, of a record found whole), and
// its CSV cells.
struct KeptRecord {
  int table = -1;  // -1: the unattributed file
  std::vector<std::uint64_t> liveIf;   // a live row with one of these values makes it a copy
  std::vector<std::uint64_t> wholeIf;  // a whole record of one of these values makes it one
  std::uint64_t earlierIf = 0;         // a live row of this primary key makes it an earlier version
  std::uint32_t cells = 0;
  std::string values;      // its value cells, CSV
  std::string provenance;  // "Found in", "Offset", CSV
  std::string certainty;
  // Of a visit or a page of the history: what the report of recovered
  // usage keeps of it (RecoveredUsage::Encode).
  enum class Usage : std::uint8_t { kNone, kVisit, kPage } usage = Usage::kNone;
  std::string usageEntry;

  void AppendTo(std::string& out) const {
    Put(out, static_cast<std::uint32_t>(table));
    for (const auto* list : {&liveIf, &wholeIf}) {
      Put(out, static_cast<std::uint32_t>(list->size()));
      for (const std::uint64_t fingerprint : *list) Put(out, fingerprint);
    }
    Put(out, earlierIf);
    Put(out, cells);
    for (const std::string* text : {&values, &provenance, &certainty}) PutText(out, *text);
    Put(out, usage);
    if (usage != Usage::kNone) PutText(out, usageEntry);
  }
  bool ReadFrom(ScratchFile& scratch, std::string& buffer) {
    std::uint32_t count = 0;
    if (!Get(scratch, buffer, count)) return false;
    table = static_cast<int>(count);
    for (auto* list : {&liveIf, &wholeIf}) {
      if (!Get(scratch, buffer, count)) return false;
      list->resize(count);
      for (std::uint64_t& fingerprint : *list) {
        if (!Get(scratch, buffer, fingerprint)) return false;
      }
    }
    if (!Get(scratch, buffer, earlierIf) || !Get(scratch, buffer, cells)) return false;
    for (std::string* text : {&values, &provenance, &certainty}) {
      if (!GetText(scratch, buffer, *text)) return false;
    }
    if (!Get(scratch, buffer, usage)) return false;
    usageEntry.clear();
    return usage == Usage::kNone || GetText(scratch, buffer, usageEntry);
  }

 private:
  template <typename T>
  static void Put(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  static void PutText(std::string& out, const std::string& text) {
    Put(out, static_cast<std::uint32_t>(text.size()));
    out += text;
  }
  static bool GetText(ScratchFile& scratch, std::string& buffer, std::string& text) {
    std::uint32_t size = 0;
    return Get(scratch, buffer, size) && scratch.Read(size, text);
  }
  template <typename T>
  static bool Get(ScratchFile& scratch, std::string& buffer, T& value) {
    if (!scratch.Read(sizeof value, buffer)) return false;
    std::memcpy(&value, buffer.data(), sizeof value);
    return true;
  }
};

// The columns of the file of a table's index entries: the indexed columns
// of all its indexes, in the table's order, then what finds the row (the
// row id, or the primary key's columns), then "Index".
struct EntryColumns {
  std::vector<std::string> headings;  // before "Index"
  std::map<int, std::vector<std::size_t>> columnOf;  // by index: the file's column of each record column
};

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
      : console_(console), settings_(settings), profile_(profile), database_(database), names_(names) {}

  // Searches the files and writes what was found; the number of records.
  std::int64_t Run(const EvidenceFiles& files) {
    PageSources sources;
    if (!sources.Open(files)) {
      ReportProblems(sources.searched().problems);
      return 0;
    }
    encoding_ = sources.header().encoding;
    ReadSchema(sources);
    if (!renderer_.error().empty()) {
      console_.WriteLine("  Could not search: SQLite could not open a database in memory: " + renderer_.error());
      return 0;
    }
    ScratchFile kept;
    if (kept.failure()) {
      console_.WriteLine("  Could not search: no room for what is found in " + kept.failure()->name + ": " +
                         kept.failure()->Why());
      return 0;
    }
    std::vector<std::uint32_t> roots;
    for (const TableSchema& table : tables_) roots.push_back(table.rootPage);
    owners_ = sources.PageOwners(roots);
    LiveRows live(schemaBySqlite_ ? database_.db.get() : nullptr, tables_, liveTables_, encoding_);
    RecordCarver carver(tables_, sources.header(), [&sources](std::uint32_t n, std::vector<std::uint8_t>& out) {
      return sources.ReadOverflowPage(n, out);
    });
    ProgressCount progress(console_, [&sources] { return static_cast<std::int64_t>(sources.pageCount()); });
    std::string entry;
    sources.ForEachImage([&](const PageImage& image) {
      // A freed page belongs to no table, unless it was a dropped table's
      // root; any other image is taken to be of the table that holds its
      // page now.
      const int owner = image.freelist ? DroppedTableAt(image.pageNumber) : OwnerOf(image.pageNumber);
      carver.Carve(image.page, BTreeHeaderOffset(image.pageNumber), image.live, owner, [&](const CarvedRecord& record) {
        entry.clear();
        if (Keep(record, image, live, entry)) kept.Append(entry);
      });
      progress.CountRow();
    });
    live.ReadTablesLookedIn();
    std::sort(wholeRecords_.begin(), wholeRecords_.end());
    for (std::size_t reason = 0; reason < passedOver_.size(); ++reason) {
      passedOver_[reason] += carver.passedOver()[reason];
    }
    kept.StartReading();
    if (history_) usage_.emplace(*history_);
    Write(kept, live);
    WriteRecoveredUsage();
    SearchedPlaces searched = sources.searched();
    if (kept.failure()) {
      searched.problems.push_back("what was found, which could not be kept in " + kept.failure()->name + ": " +
                                  kept.failure()->Why());
    }
    if (usage_ && usage_->failure()) {
      searched.problems.push_back("the " + std::string(RecoveredUsage::ReportName(*history_)) +
                                  " report, whose lines could not be kept in " + usage_->failure()->name + ": " +
                                  usage_->failure()->Why());
    }
    if (carver.pagesSearchedInPart() > 0) {
      searched.problems.push_back("the free space of " + std::to_string(carver.pagesSearchedInPart()) +
                                  " pages, searched in part: more possible records than a page can hold");
    }
    searched.problems.insert(searched.problems.end(), live.problems().begin(), live.problems().end());
    if (tablesPassedOver_ > 0) {
      searched.problems.push_back(std::to_string(tablesPassedOver_) + " tables beyond the first " +
                                  std::to_string(kMostTables) + ", whose records are not looked for");
    }
    if (droppedPassedOver_ > 0) {
      searched.problems.push_back(std::to_string(droppedPassedOver_) + " more dropped tables than the " +
                                  std::to_string(kMostDroppedTables) + " whose records are looked for");
    }
    return Finish(searched, carver.freeBytes());
  }

 private:
  // The tables as SQLite reads the schema, or, where it cannot, as the
  // schema table's own pages give them; then those the schema table
  // remembers as dropped.
  void ReadSchema(const PageSources& sources) {
    std::string error;
    std::optional<std::vector<TableSchema>> tables = ReadTableSchemas(database_.db.get(), error);
    std::optional<std::uint32_t> statements = SchemaStatements(database_.db.get());
    schemaBySqlite_ = tables.has_value();
    if (!tables) {
      console_.WriteLine("  SQLite could not read the schema: " + ConsoleText(error));
      console_.WriteLine("  The schema is read from the file's own pages.");
      SchemaFromPages fromPages = ReadSchemaFromPages(sources);
      tables = std::move(fromPages.tables);
      statements = fromPages.statements;
    }
    tables_ = std::move(*tables);
    // Every record is fitted to every table: a schema of more tables than
    // any browser keeps would make the work grow with it.
    if (tables_.size() > kMostTables) {
      tablesPassedOver_ = tables_.size() - kMostTables;
      tables_.resize(kMostTables);
    }
    liveTables_ = tables_.size();
    DroppedTables dropped = FindDroppedTables(sources, tables_);
    for (TableSchema& table : dropped.tables) tables_.push_back(std::move(table));
    droppedPassedOver_ = dropped.passedOver;
    // Every change of the schema adds one to its cookie: a table created
    // and dropped, two. More changes than the statements and the dropped
    // tables found account for may be a table dropped whose statement is
    // gone, whose records fit any table of its shape.
    const std::uint64_t explained = statements.value_or(0) + 2 * (tables_.size() - liveTables_);
    shapeAssumed_ = !statements || sources.header().schemaCookie > explained;
    LayOutIndexEntries();
    FindHistoryTables();
  }

  // The history's tables, where this database is the browser's history.
  void FindHistoryTables() {
    const HistoryBrowser browser = &profile_ == &FirefoxProfile ? HistoryBrowser::kFirefox : HistoryBrowser::kChrome;
    if (database_.file != (browser == HistoryBrowser::kFirefox ? "places.sqlite" : "History")) return;
    history_ = browser;
    for (std::size_t table = 0; table < liveTables_; ++table) {
      if (tables_[table].kind != BTreeKind::kTable) continue;
      if (tables_[table].name == RecoveredUsage::VisitsTable(browser)) visitsTable_ = static_cast<int>(table);
      if (tables_[table].name == RecoveredUsage::PagesTable(browser)) pagesTable_ = static_cast<int>(table);
    }
    // The column of each of the report's fields, -1 where the table lacks it.
    const auto columnsOf = [this](int table, std::span<const std::string_view> names) {
      std::vector<int> columns;
      if (table < 0) return columns;
      const std::vector<std::string>& have = tables_[static_cast<std::size_t>(table)].columns;
      for (const std::string_view name : names) {
        const auto column = std::find(have.begin(), have.end(), name);
        columns.push_back(column == have.end() ? -1 : static_cast<int>(column - have.begin()));
      }
      return columns;
    };
    visitColumns_ = columnsOf(visitsTable_, RecoveredUsage::VisitColumns(browser));
    pageColumns_ = columnsOf(pagesTable_, RecoveredUsage::PageColumns(browser));
  }

  // The report's fields of a record of the history's visits or pages.
  UsageFields UsageFieldsOf(int table, const CarvedRecord& record) {
    const TableSchema& schema = tables_[static_cast<std::size_t>(table)];
    UsageFields fields;
    for (const int column : table == visitsTable_ ? visitColumns_ : pageColumns_) {
      std::optional<std::string>& field = fields.emplace_back();
      if (column < 0) continue;
      if (column == schema.rowIdColumn) {
        if (record.rowId) field = std::to_string(*record.rowId);
      } else if (const std::optional<std::string_view> text =
                     renderer_.Render(record.values[static_cast<std::size_t>(column)], encoding_)) {
        field.emplace(*text);
      }
    }
    return fields;
  }

  void LayOutIndexEntries() {
    indexesOf_.assign(liveTables_, {});
    tableOfIndex_.assign(liveTables_, -1);
    std::map<std::string, int> tableNamed;
    for (std::size_t table = 0; table < liveTables_; ++table) {
      if (tables_[table].kind != BTreeKind::kIndex) tableNamed.emplace(tables_[table].name, static_cast<int>(table));
    }
    for (std::size_t index = 0; index < liveTables_; ++index) {
      const auto table = tableNamed.find(tables_[index].table);
      if (tables_[index].kind != BTreeKind::kIndex || table == tableNamed.end()) continue;
      indexesOf_[static_cast<std::size_t>(table->second)].push_back(static_cast<int>(index));
      tableOfIndex_[index] = table->second;
    }
    for (std::size_t table = 0; table < liveTables_; ++table) {
      if (indexesOf_[table].empty()) continue;
      // The indexed columns by their place in the table; then what finds
      // the row, in the order met.
      std::map<int, std::string> indexed;
      std::vector<std::pair<int, std::string>> finders;
      for (const int index : indexesOf_[table]) {
        const TableSchema& schema = tables_[static_cast<std::size_t>(index)];
        for (std::size_t column = 0; column < schema.columns.size(); ++column) {
          const int of = schema.columnOrder[column];
          if (column < schema.keyColumns) {
            indexed.emplace(of, schema.columns[column]);
          } else if (std::find_if(finders.begin(), finders.end(), [of](const auto& f) { return f.first == of; }) ==
                     finders.end()) {
            finders.emplace_back(of, schema.columns[column]);
          }
        }
      }
      std::erase_if(finders, [&indexed](const auto& finder) { return indexed.contains(finder.first); });
      EntryColumns& layout = entryColumns_[tables_[table].name];
      std::vector<int> order;
      for (const auto& [of, name] : indexed) {
        order.push_back(of);
        layout.headings.push_back(name);
      }
      for (const auto& [of, name] : finders) {
        order.push_back(of);
        layout.headings.push_back(name);
      }
      for (const int index : indexesOf_[table]) {
        std::vector<std::size_t>& columnOf = layout.columnOf[index];
        for (const int of : tables_[static_cast<std::size_t>(index)].columnOrder) {
          columnOf.push_back(static_cast<std::size_t>(std::find(order.begin(), order.end(), of) - order.begin()));
        }
      }
    }
  }

  // A row of a table with row ids, whatever its values: what an entry of
  // one of its indexes points to.
  static std::uint64_t RowFingerprint(int table, std::int64_t rowId) {
    return Fingerprint().Add(kRowTag).Add(static_cast<std::uint64_t>(table)).Add(static_cast<std::uint64_t>(rowId)).value();
  }

  // The row id an index entry points to, where its table has row ids.
  static std::optional<std::int64_t> EntryRowId(const TableSchema& index, const CarvedRecord& record) {
    const auto at = std::find(index.columnOrder.begin(), index.columnOrder.end(), -1);
    if (at == index.columnOrder.end()) return std::nullopt;
    const RecordValue& value = record.values[static_cast<std::size_t>(at - index.columnOrder.begin())];
    if (!IsIntegerType(value.serialType)) return std::nullopt;
    return IntegerOf(value);
  }

  // The dropped table whose root page a freed page was, or -1.
  int DroppedTableAt(std::uint32_t page) const {
    for (std::size_t table = liveTables_; table < tables_.size(); ++table) {
      if (tables_[table].rootPage == page) return static_cast<int>(table);
    }
    return -1;
  }

  // The table whose b-tree holds the page as the database now is, or -1.
  int OwnerOf(std::uint32_t page) const { return page < owners_.size() ? owners_[page] : -1; }

  // The one table a record fits; where it fits several, the one whose
  // b-tree holds the page it was found on; -1 when that does not tell.
  int TableOf(const CarvedRecord& record, const PageImage& image) const {
    if (record.tables.size() == 1) return record.tables.front();
    const int owner = OwnerOf(image.pageNumber);
    return std::find(record.tables.begin(), record.tables.end(), owner) != record.tables.end() ? owner : -1;
  }

  void Count(PassedOver reason) { ++passedOver_[static_cast<std::size_t>(reason)]; }

  // Decides what of a record is known now: a live row by its row id, a
  // record met before. Else gives the record to keep in entry.
  bool Keep(const CarvedRecord& record, const PageImage& image, LiveRows& live, std::string& entry) {
    const int table = TableOf(record, image);
    // A rebuilt record is read by a table's schema: without one table, it
    // is no reading at all.
    if (record.rebuilt && table < 0) {
      Count(PassedOver::kSeveralTables);
      return false;
    }
    // An index page's record fits an index or a WITHOUT ROWID table: read
    // for several alike, it says nothing of one row.
    const bool ofIndexPage = !record.tables.empty() && InIndexPages(tables_[static_cast<std::size_t>(record.tables[0])]);
    if (ofIndexPage && table < 0) {
      Count(PassedOver::kSeveralIndexes);
      return false;
    }
    std::string certainty = record.rebuilt ? kRebuiltRecord : kWholeRecord;
    // A live row of any table the record fits is none to recover.
    for (const int fits : record.tables) {
      if (!record.rowId) break;
      const std::optional<std::uint64_t> row = live.RowOf(fits, *record.rowId);
      if (!row) continue;
      if (*row == live.Of(fits, record.values)) {
        Count(PassedOver::kLiveRow);
        return false;
      }
      if (fits == table) certainty = "an earlier version of live row " + std::to_string(*record.rowId);
    }
    // Met before: the same values in the same table, with the same row id
    // where it has one; a lost first value is a value of its own here.
    Fingerprint sighting;
    sighting.Add(static_cast<std::uint64_t>(table + 1));
    for (const RecordValue& value : record.values) {
      sighting.Add(static_cast<std::uint64_t>(value.serialType)).Add(value.bytes);
    }
    sighting.Add(record.rowId ? 1 : 0).Add(static_cast<std::uint64_t>(record.rowId.value_or(0)));
    if (!seen_.Insert(sighting.value())) {
      Count(PassedOver::kFoundBefore);
      return false;
    }

    KeptRecord kept;
    kept.table = table;
    if (record.rebuilt) {
      // Its row id lost, a rebuilt record is looked for among the rows of
      // every table it fits, and among the records found whole.
      for (const int fits : record.tables) {
        std::vector<std::uint64_t> alternatives = live.Alternatives(fits, record.values);
        for (const std::uint64_t fingerprint : alternatives) {
          live.LookFor(fits, fingerprint);
          kept.liveIf.push_back(fingerprint);
        }
        if (fits == table) kept.wholeIf = std::move(alternatives);
      }
    } else if (ofIndexPage) {
      // Its identity is its values: an index entry's, its row's; a
      // WITHOUT ROWID table's row's, its primary key.
      const std::uint64_t fingerprint = live.Of(table, record.values);
      live.LookFor(table, fingerprint);
      kept.liveIf.push_back(fingerprint);
      const TableSchema& schema = tables_[static_cast<std::size_t>(table)];
      if (schema.kind == BTreeKind::kWithoutRowid) {
        kept.earlierIf = live.KeyOf(table, record.values);
        live.LookForKey(table, kept.earlierIf);
      } else if (const std::optional<std::int64_t> rowId = EntryRowId(schema, record);
                 rowId && tableOfIndex_[static_cast<std::size_t>(table)] >= 0) {
        // An entry says that its row existed: nothing a whole record of the
        // row says already, and of a row still live, an earlier entry.
        const int of = tableOfIndex_[static_cast<std::size_t>(table)];
        kept.wholeIf.push_back(RowFingerprint(of, *rowId));
        if (live.RowOf(of, *rowId)) certainty = "an earlier entry of live row " + std::to_string(*rowId);
      }
    } else if (table >= 0) {
      wholeRecords_.push_back(live.Of(table, record.values));
      if (record.rowId) wholeRecords_.push_back(RowFingerprint(table, *record.rowId));
    }
    if (!image.unchecked.empty()) certainty += "; " + image.unchecked;
    if (record.pageDamaged) certainty += std::string("; ") + kDamagedPage;
    if (shapeAssumed_ && table >= 0 && static_cast<std::size_t>(table) < liveTables_) {
      certainty += std::string("; ") + kShapeAssumed;
    }
    StringSink cells;
    AppendValueCells(cells, table, record);
    kept.cells = static_cast<std::uint32_t>(record.values.size());
    kept.values = std::move(cells.text);
    const std::string foundIn = *image.file + ", " + image.place;
    StringSink provenance;
    AppendCsvCell(provenance, foundIn);
    AppendCsvCell(provenance, std::to_string(image.fileOffset + record.offset));
    kept.provenance = std::move(provenance.text);
    kept.certainty = std::move(certainty);
    if (history_ && table >= 0 && (table == visitsTable_ || table == pagesTable_)) {
      kept.usage = table == visitsTable_ ? KeptRecord::Usage::kVisit : KeptRecord::Usage::kPage;
      kept.usageEntry = RecoveredUsage::Encode(UsageFieldsOf(table, record), foundIn);
    }
    kept.AppendTo(entry);
    return true;
  }

  // Whether a kept record turned out a copy: of a live row, or of a record
  // found whole.
  std::optional<PassedOver> CopyOf(const KeptRecord& kept, const LiveRows& live) const {
    for (const std::uint64_t fingerprint : kept.liveIf) {
      if (live.IsLive(fingerprint)) return PassedOver::kLiveRow;
    }
    for (const std::uint64_t fingerprint : kept.wholeIf) {
      if (std::binary_search(wholeRecords_.begin(), wholeRecords_.end(), fingerprint)) {
        return PassedOver::kReadWholeElsewhere;
      }
    }
    return std::nullopt;
  }

  // Writes the kept records that are no copies, each to its table's file or
  // the unattributed one.
  void Write(ScratchFile& kept, const LiveRows& live) {
    KeptRecord record;
    std::string buffer;
    // The unattributed file's columns: as many as its widest record has.
    std::size_t widest = 0;
    while (record.ReadFrom(kept, buffer)) {
      if (record.table < 0 && !CopyOf(record, live)) widest = std::max<std::size_t>(widest, record.cells);
    }
    kept.StartReading();
    std::unique_ptr<TaskFile> unattributed;
    while (record.ReadFrom(kept, buffer)) {
      if (const std::optional<PassedOver> copy = CopyOf(record, live)) {
        Count(*copy);
        continue;
      }
      if (record.earlierIf != 0 && live.IsLiveKey(record.earlierIf) && record.certainty.starts_with(kWholeRecord)) {
        record.certainty.replace(0, std::string_view(kWholeRecord).size(), kEarlierOfKey);
      }
      if (record.table >= 0) {
        const TableSchema& schema = tables_[static_cast<std::size_t>(record.table)];
        RecoveredFile& file = schema.kind == BTreeKind::kIndex ? EntryFileOf(schema.table) : FileOf(record.table);
        file.file->Append(record.values);
        file.file->Append(record.provenance);
        AppendCsvCell(file.file->out(), record.certainty);
        file.file->EndLine();
        ++file.records;
        if (record.usage == KeptRecord::Usage::kVisit) usage_->AddVisit(record.usageEntry, record.certainty);
        if (record.usage == KeptRecord::Usage::kPage) usage_->AddPage(record.usageEntry, record.certainty);
        continue;
      }
      if (!unattributed) unattributed = UnattributedFile(widest);
      unattributed->Append(record.values);
      for (std::size_t column = record.cells; column < widest; ++column) AppendCsvCell(unattributed->out(), "");
      unattributed->Append(record.provenance);
      AppendCsvCell(unattributed->out(), record.certainty);
      unattributed->EndLine();
      ++unattributedRecords_;
    }
    if (unattributed) unattributed->Publish();
  }

  // A CSV cell for each of the record's values, read by the table's schema
  // (its row id and its timestamp columns), or by none: a table's in schema
  // order; an index's entry in its table's file of entries, with the index.
  void AppendValueCells(StringSink& cells, int table, const CarvedRecord& record) {
    const TableSchema* schema = table >= 0 ? &tables_[static_cast<std::size_t>(table)] : nullptr;
    if (schema != nullptr && schema->kind == BTreeKind::kIndex) {
      const EntryColumns& layout = entryColumns_.at(schema->table);
      const std::vector<std::size_t>& columnOf = layout.columnOf.at(table);
      std::vector<std::string> texts(layout.headings.size());
      for (std::size_t column = 0; column < record.values.size() && column < columnOf.size(); ++column) {
        texts[columnOf[column]] = CellText(schema, record, column).value_or("");
      }
      for (const std::string& text : texts) AppendCsvCell(cells, text);
      AppendCsvCell(cells, schema->name);
      return;
    }
    for (std::size_t column = 0; column < record.values.size(); ++column) {
      const std::size_t at = schema != nullptr && schema->kind == BTreeKind::kWithoutRowid
                                 ? static_cast<std::size_t>(schema->columnOrder[column])
                                 : column;
      AppendCsvCell(cells, CellText(schema, record, at).value_or(""));
    }
  }

  // The text of the record's value in that column.
  std::optional<std::string_view> CellText(const TableSchema* schema, const CarvedRecord& record, std::size_t column) {
    if (schema != nullptr && static_cast<int>(column) == schema->rowIdColumn && record.rowId) {
      rowIdText_ = std::to_string(*record.rowId);
      return rowIdText_;
    }
    std::optional<std::string_view> text = renderer_.Render(record.values[column], encoding_);
    if (text && schema != nullptr &&
        IsTimestampColumn(database_.timestampColumns, TableName(*schema), schema->columns[column])) {
      text = StoredTimestampText(profile_.clock, database_.laterFile, *text, settings_, decoded_);
    }
    return text;
  }

  RecoveredFile& FileOf(int table) {
    RecoveredFile& recovered = files_[table];
    if (recovered.file) return recovered;
    const TableSchema& schema = tables_[static_cast<std::size_t>(table)];
    const std::string_view parts[] = {settings_.caseReference, " - ", settings_.caseName, " - ", database_.file,
                                      " ", schema.name, Dropped(table) ? " (dropped table) (recovered)" : " (recovered)"};
    recovered.name = names_.Claim(parts, ".csv");
    recovered.file = std::make_unique<TaskFile>(console_, recovered.name.name, CreateMessage::kNameThenReason);
    for (std::size_t column = 0; column < schema.columns.size(); ++column) {
      const bool reordered = schema.kind == BTreeKind::kWithoutRowid;
      AppendCsvCell(recovered.file->out(),
                    schema.columns[reordered ? static_cast<std::size_t>(schema.columnOrder[column]) : column]);
    }
    AppendProvenanceHeading(*recovered.file);
    return recovered;
  }

  RecoveredFile& EntryFileOf(const std::string& table) {
    RecoveredFile& recovered = entryFiles_[table];
    if (recovered.file) return recovered;
    const std::string_view parts[] = {settings_.caseReference, " - ", settings_.caseName, " - ", database_.file,
                                      " ", table, " (recovered index entries)"};
    recovered.name = names_.Claim(parts, ".csv");
    recovered.file = std::make_unique<TaskFile>(console_, recovered.name.name, CreateMessage::kNameThenReason);
    for (const std::string& column : entryColumns_.at(table).headings) AppendCsvCell(recovered.file->out(), column);
    AppendCsvCell(recovered.file->out(), "Index");
    AppendProvenanceHeading(*recovered.file);
    return recovered;
  }

  std::unique_ptr<TaskFile> UnattributedFile(std::size_t widest) {
    const std::string_view parts[] = {settings_.caseReference, " - ", settings_.caseName, " - ", database_.file,
                                      " (unattributed) (recovered)"};
    unattributedName_ = names_.Claim(parts, ".csv");
    auto file = std::make_unique<TaskFile>(console_, unattributedName_.name, CreateMessage::kNameThenReason);
    for (std::size_t column = 1; column <= widest; ++column) {
      AppendCsvCell(file->out(), "Column " + std::to_string(column));
    }
    AppendProvenanceHeading(*file);
    return file;
  }

  bool Dropped(int table) const { return static_cast<std::size_t>(table) >= liveTables_; }

  // The report of the visits and pages found, for the history database.
  void WriteRecoveredUsage() {
    if (!usage_) return;
    const std::string_view parts[] = {settings_.caseReference, " - ", settings_.caseName, " - ",
                                      RecoveredUsage::ReportName(*history_)};
    usageName_ = names_.Claim(parts, ".csv");
    TaskFile file(console_, usageName_.name, CreateMessage::kNameThenReason);
    const std::vector<std::string> noColumns;
    const std::vector<std::string>& liveColumns =
        pagesTable_ >= 0 ? tables_[static_cast<std::size_t>(pagesTable_)].columns : noColumns;
    usageLines_ = usage_->Write(file.out(), schemaBySqlite_ ? database_.db.get() : nullptr, liveColumns, settings_);
    // A report that lost part of what was found is not published, nor one
    // of nothing.
    if (usage_->failure() || usageLines_ == 0) return;
    file.Publish();
    usagePublished_ = true;
  }

  static void AppendProvenanceHeading(TaskFile& file) {
    for (const char* heading : {"Found in", "Offset", "Certainty"}) AppendCsvCell(file.out(), heading);
    file.EndLine();
  }

  void ReportProblems(const std::vector<std::string>& problems) {
    for (const std::string& problem : problems) console_.WriteLine("  Passed over: " + problem);
  }

  // "  Passed over 12 cells: 9 copies of live rows, 3 found before".
  void ReportPassedOver() {
    std::uint64_t total = 0;
    std::string reasons;
    for (std::size_t reason = 0; reason < passedOver_.size(); ++reason) {
      if (passedOver_[reason] == 0) continue;
      total += passedOver_[reason];
      reasons += (reasons.empty() ? "" : ", ") + std::to_string(passedOver_[reason]) + " " +
                 PassedOverWords(static_cast<PassedOver>(reason));
    }
    if (total > 0) console_.WriteLine("  Passed over " + std::to_string(total) + (total == 1 ? " cell: " : " cells: ") + reasons);
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
    for (auto& [table, recovered] : entryFiles_) {
      recovered.file->Publish();
      console_.WriteLine("  " + ConsoleText(table) + " index entries: " + std::to_string(recovered.records) + " recovered");
      if (recovered.name.renamed) console_.WriteLine("  Written as " + recovered.name.name);
    }
    if (usagePublished_) {
      console_.WriteLine("  " + std::string(RecoveredUsage::ReportName(*history_)) + ": " + std::to_string(usageLines_) +
                         (usageLines_ == 1 ? " line" : " lines"));
      if (usageName_.renamed) console_.WriteLine("  Written as " + usageName_.name);
    }
    if (unattributedRecords_ > 0) {
      console_.WriteLine("  records that fit no one table: " + std::to_string(unattributedRecords_) + " recovered");
      if (unattributedName_.renamed) console_.WriteLine("  Written as " + unattributedName_.name);
      total += unattributedRecords_;
    }
    ReportPassedOver();
    ReportProblems(searched.problems);
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
  std::size_t liveTables_ = 0;  // the tables after these are dropped ones
  std::size_t droppedPassedOver_ = 0;
  std::size_t tablesPassedOver_ = 0;
  bool schemaBySqlite_ = true;
  bool shapeAssumed_ = false;   // a dropped table's statement may be gone
  std::vector<int> owners_;     // by page number
  TextEncoding encoding_ = TextEncoding::kUtf8;
  ValueRenderer renderer_;
  std::string decoded_;  // a timestamp's date text, made anew for each
  FingerprintSet seen_;
  std::vector<std::uint64_t> wholeRecords_;  // of the records found whole, sorted once all are
  PassedOverCounts passedOver_{};
  std::map<int, RecoveredFile> files_;
  std::map<std::string, RecoveredFile> entryFiles_;  // by table
  std::vector<std::vector<int>> indexesOf_;  // by live table
  std::vector<int> tableOfIndex_;  // by live table: of an index, its table's
  std::map<std::string, EntryColumns> entryColumns_;  // by table
  std::string rowIdText_;
  std::optional<HistoryBrowser> history_;  // where this database is the history
  int visitsTable_ = -1;
  int pagesTable_ = -1;
  std::vector<int> visitColumns_, pageColumns_;  // of the report's fields
  std::optional<RecoveredUsage> usage_;
  ClaimedName usageName_;
  std::int64_t usageLines_ = 0;
  bool usagePublished_ = false;
  ClaimedName unattributedName_;
  std::int64_t unattributedRecords_ = 0;
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
