#include "table_export/table_export.h"

#include <vector>

#include "console/console.h"
#include "console/progress_count.h"
#include "console/task_console.h"
#include "evidence/evidence_database.h"
#include "evidence/table_probes.h"
#include "output/csv_format.h"
#include "output/output_file.h"
#include "output/output_names.h"
#include "timestamps/timestamp_decoding.h"

namespace {

using TableShapes = std::map<std::string, TableShape, std::less<>>;

std::string RowQuery(sqlite3* db, const TableShapes& shapes, std::string_view table) {
  std::string sql = "SELECT * FROM " + QuoteIdentifier(table);
  // A table declared WITHOUT ROWID comes in primary-key order instead.
  auto shape = shapes.find(table);
  const bool hasRowIds = shape == shapes.end() || shape->second.hasRowIds;
  sql += hasRowIds ? " ORDER BY ROWID" : PrimaryKeyOrder(db, table);
  return sql;
}

// What one run of the export shares across its databases and tables.
struct ExportRun {
  Console& console;
  const CaseSettings& settings;
  const BrowserProfile& profile;
  bool decodeTimestamps;
  OutputNames names;
};

// A step that fails in the middle of a table (a damaged page, an I/O error)
// would otherwise leave a shortened file that looks finished.
void ReportReadFailure(Console& console, sqlite3* db, std::string_view what) {
  console.WriteLine("  Could not read all of " + std::string(what) + ": " + ConsoleText(sqlite3_errmsg(db)));
}

// A table or table list that SQLite cannot read is said so, with SQLite's
// reason, under the line that names it; the export goes on with the next.
void ReportUnprepared(Console& console, sqlite3* db) {
  console.WriteLine("  Could not prepare statement.");
  console.WriteLine("  " + ConsoleText(sqlite3_errmsg(db)));
}

void WriteHeader(ExportRun& run, TimestampCatalogue catalogue, TaskFile& file, sqlite3_stmt* rows,
                 std::string_view table, std::vector<bool>& isTimestamp) {
  for (int column = 0; column < sqlite3_column_count(rows); ++column) {
    const char* name = sqlite3_column_name(rows, column);
    std::string_view columnName = name != nullptr ? name : "";
    isTimestamp[static_cast<std::size_t>(column)] =
        run.decodeTimestamps && IsTimestampColumn(catalogue, table, columnName);
    AppendCsvCell(file.out(), columnName);
  }
  file.EndLine();
}

// Writes one table to its file. A table whose rows cannot be listed gets no
// file, so that an earlier file of its name stays as it was.
void ExportTable(ExportRun& run, const ProfileDatabase& database, const TableShapes& shapes, std::string_view table) {
  Console& console = run.console;
  sqlite3* db = database.db.get();
  const std::string& databaseFile = database.file;
  console.WriteLine("  Processing " + databaseFile + " > " + ConsoleText(table));
  const ReadingNote reading(databaseFile + " > " + std::string(table));

  Statement rows = PrepareStatement(db, RowQuery(db, shapes, table));
  if (!rows) {
    ReportUnprepared(console, db);
    return;
  }
  const std::string_view nameParts[] = {run.settings.caseReference, " - ", run.settings.caseName, " - ",
                                        databaseFile, " ", table};
  const ClaimedName claimed = run.names.Claim(nameParts, ".csv");
  TaskFile file(console, claimed.name, CreateMessage::kNameThenReason);

  // One flag per column, however many columns the table has.
  std::vector<bool> isTimestamp(static_cast<std::size_t>(sqlite3_column_count(rows.get())), false);
  bool headerWritten = false;
  std::string decoded;  // one buffer for every date of the table
  ProgressCount progress(console, [db, table] { return CountRows(db, table); });
  int step;
  while ((step = sqlite3_step(rows.get())) == SQLITE_ROW) {
    // Written with the first row, so that a table without rows leaves an
    // empty file.
    if (!headerWritten) WriteHeader(run, database.timestampColumns, file, rows.get(), table, isTimestamp);
    headerWritten = true;
    for (std::size_t column = 0; column < isTimestamp.size(); ++column) {
      std::optional<std::string_view> text = ColumnText(rows.get(), static_cast<int>(column));
      if (text && isTimestamp[column]) {
        text = StoredTimestampText(run.profile.clock, database.laterFile, *text, run.settings, decoded);
      }
      AppendCsvCell(file.out(), text.value_or(""));
    }
    file.EndLine();
    progress.CountRow();
  }
  // The rows read so far are published: the console says the table is
  // incomplete.
  if (step != SQLITE_DONE) ReportReadFailure(console, db, databaseFile + " > " + ConsoleText(table));
  file.Publish();
  if (claimed.renamed) console.WriteLine("  Written as " + claimed.name);
}

// Writes every table of one database. A database whose tables cannot be
// listed (locked, no database at all) is said so, and the export goes on.
void ExportDatabase(ExportRun& run, const ProfileDatabase& database) {
  sqlite3* db = database.db.get();
  Statement tables = PrepareStatement(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name");
  if (!tables) {
    ReportUnprepared(run.console, db);
    return;
  }
  const TableShapes shapes = ProbeTables(db);
  int step;
  while ((step = sqlite3_step(tables.get())) == SQLITE_ROW) {
    const std::string table(ColumnText(tables.get(), 0).value_or(""));
    ExportTable(run, database, shapes, table);
  }
  if (step != SQLITE_DONE) ReportReadFailure(run.console, db, "the table list of " + database.file);
}

}  // namespace

void ExportBrowserTables(Console& console, const CaseSettings& settings, const BrowserProfile& profile,
                         bool decodeTimestamps) {
  console.PrintSectionBreak();
  console.PrintSectionBreak();
  ExportRun run{console, settings, profile, decodeTimestamps, OutputNames()};
  ForEachProfileDatabase(console, profile, [&run](const ProfileDatabase& database) { ExportDatabase(run, database); });
  console.DiscardPendingInput();
  console.WriteLine();
  console.WaitForEnter();
}
