#include "table_export/table_export.h"

#include <vector>

#include "base/system_error.h"
#include "console/console.h"
#include "console/progress_count.h"
#include "console/task_console.h"
#include "evidence/evidence_database.h"
#include "evidence/table_probes.h"
#include "output/csv_format.h"
#include "output/output_file.h"
#include "output/output_names.h"

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

void EndLineOrEndProgram(Console& console, OutputFile& file) {
  if (!file.EndLine()) EndProgramAfterWriteFailure(console, file.failure());
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

// Publishes a table's file, and says so when a name of its own had to be
// found for it.
void PublishTable(ExportRun& run, OutputFile& file, const ClaimedName& claimed) {
  if (!file.Publish()) EndProgramAfterWriteFailure(run.console, file.failure());
  if (claimed.renamed) run.console.WriteLine("  Written as " + claimed.name);
}

// Writes one table; false when its row query could not be prepared, which
// ends the export. The file is published as it stands then: empty.
bool ExportTable(ExportRun& run, sqlite3* db, const TableShapes& shapes, const std::string& databaseFile,
                 std::string_view table) {
  Console& console = run.console;
  console.WriteLine("  Processing " + databaseFile + " > " + ConsoleText(table));
  const ReadingNote reading(databaseFile + " > " + std::string(table));

  const std::string_view nameParts[] = {run.settings.caseReference, " - ", run.settings.caseName, " - ",
                                        databaseFile, " ", table};
  const ClaimedName claimed = run.names.Claim(nameParts, ".csv");
  OutputFile file(claimed.name);
  if (file.failed()) {
    EndProgramWithMessage(console,
                          "Error creating output file " + claimed.name + ":" + SystemErrorText(file.failure().error));
  }

  Statement rows = PrepareStatement(db, RowQuery(db, shapes, table));
  if (!rows) {
    PublishTable(run, file, claimed);
    return false;
  }
  const int columnCount = sqlite3_column_count(rows.get());

  // One flag per column, however many columns the table has.
  std::vector<bool> isTimestamp(static_cast<std::size_t>(columnCount), false);
  bool headerWritten = false;
  std::string decoded;  // one buffer for every date of the table
  ProgressCount progress(console, [db, table] { return CountRows(db, table); });
  int step;
  while ((step = sqlite3_step(rows.get())) == SQLITE_ROW) {
    std::string& line = file.pending();
    if (!headerWritten) {
      // Written with the first row, so that a table without rows leaves an
      // empty file.
      for (int column = 0; column < columnCount; ++column) {
        const char* name = sqlite3_column_name(rows.get(), column);
        std::string_view columnName = name != nullptr ? name : "";
        isTimestamp[static_cast<std::size_t>(column)] =
            run.decodeTimestamps && IsTimestampColumn(run.profile.timestampColumns, table, columnName);
        AppendCsvCell(line, columnName);
      }
      EndLineOrEndProgram(console, file);
      headerWritten = true;
    }
    for (int column = 0; column < columnCount; ++column) {
      std::optional<std::string_view> text = ColumnText(rows.get(), column);
      if (!text) {
        AppendCsvCell(line, "");
      } else if (isTimestamp[static_cast<std::size_t>(column)]) {
        run.profile.decodeTimestamp(decoded, *text, run.settings);
        AppendCsvCell(line, decoded);
      } else {
        AppendCsvCell(line, *text);
      }
    }
    EndLineOrEndProgram(console, file);
    progress.CountRow();
  }
  // The rows read so far are published: the console says the table is
  // incomplete.
  if (step != SQLITE_DONE) ReportReadFailure(console, db, databaseFile + " > " + ConsoleText(table));
  PublishTable(run, file, claimed);
  return true;
}

// Writes every table of one database; false when the export must end.
bool ExportDatabase(ExportRun& run, const std::string& databaseFile) {
  EvidenceDatabase db = ProbeEvidenceDatabase(run.console, databaseFile);
  if (!db) return true;

  Statement tables = PrepareStatement(db.get(), "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name");
  if (!tables) return false;
  const TableShapes shapes = ProbeTables(db.get());
  int step;
  while ((step = sqlite3_step(tables.get())) == SQLITE_ROW) {
    const std::string table(ColumnText(tables.get(), 0).value_or(""));
    if (!ExportTable(run, db.get(), shapes, databaseFile, table)) return false;
  }
  if (step != SQLITE_DONE) ReportReadFailure(run.console, db.get(), "the table list of " + databaseFile);
  return true;
}

}  // namespace

void ExportBrowserTables(Console& console, const CaseSettings& settings, const BrowserProfile& profile,
                         bool decodeTimestamps) {
  console.PrintSectionBreak();
  console.PrintSectionBreak();
  ExportRun run{console, settings, profile, decodeTimestamps, OutputNames()};
  for (const char* databaseFile : profile.databaseFiles) {
    if (!ExportDatabase(run, databaseFile)) {
      ReportUnpreparedStatement(console);
      return;
    }
  }
  console.DiscardPendingInput();
  console.WriteLine();
  console.WaitForEnter();
}
