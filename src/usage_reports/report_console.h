#pragma once

// What the usage reports of every browser share: their console lines, from
// the probe of the history database to the pause, the naming of their file,
// and the loop over the browser's visit join.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/case_settings.h"
#include "console/console.h"
#include "console/progress_count.h"
#include "console/task_console.h"
#include "evidence/table_probes.h"
#include "output/output_names.h"
#include "usage_reports/visit_join.h"

// A browser's usage report: the history database it reads, the tables of
// visits and pages it joins, and the name its file takes after the case's
// reference and name.
struct UsageReport {
  std::string_view database;
  std::string_view visitsTable;
  std::string_view pagesTable;
  std::string_view name;
};
inline constexpr UsageReport kFirefoxUsage{"places.sqlite", "moz_historyvisits", "moz_places", "Internet Usage"};
inline constexpr UsageReport kChromeUsage{"History", "visits", "urls", "Chrome Internet Usage"};

// The section break and the lines naming the tables the report combines.
void PrintReportIntroduction(Console& console, const UsageReport& report);

// What a report writer tells the task: how many visits it wrote, and the
// lines to show after the count (images renamed or not written).
struct ReportTally {
  std::int64_t rows = 0;
  std::vector<std::string> notes;
};

// Why a statement of a report could not be prepared: SQLite's text, taken at
// the failure itself, before a later statement could replace it.
struct UnpreparedStatement {
  std::string reason;
};
// SQLite's reason for the statement of db that just failed to prepare.
inline UnpreparedStatement LastUnprepared(sqlite3* db) { return {sqlite3_errmsg(db)}; }

// Writes a report of the history database into file. The failure when a statement
// could not be prepared: the report is then not published.
using ReportWriter =
    std::function<std::optional<UnpreparedStatement>(sqlite3* db, TaskFile& file, ReportTally& tally)>;

// The part of a report from the probe of its database to the pause:
// - not found: the probe line, no file, and "0 rows exported";
// - there but unreadable: the probe lines saying why, no file, no count of
//   rows that were never read, an empty line and the pause;
// - found: an empty line and "Processing...", the report written under
//   "<reference> - <name> - <report name>" with the extension (or the first
//   free numbered form, named on the console, when a folder or other
//   non-file holds that name), the private copy of the database removed,
//   then the count line between its empty lines, the tally's notes, the
//   given number of empty lines and the pause; or, when a statement could
//   not be prepared, no file (an earlier report of that name stays as it
//   was), "Could not prepare statement." and SQLite's reason, no count and no
//   pause.
void RunReport(Console& console, const CaseSettings& settings, const UsageReport& report,
               std::string_view extension, CreateMessage createMessage, int emptyLinesAfter,
               const ReportWriter& write);

// Gives write every visit of the join, oldest first, counting each in the
// tally and on the progress line. The failure when the page lookup could not
// be prepared; a read that fails part-way ends the visits there and is said
// on the line after "Processing...", so that a shortened report never looks
// finished.
template <typename Join, typename WriteVisit>
std::optional<UnpreparedStatement> ForEachVisit(Console& console, sqlite3* db, const UsageReport& report, Join& join,
                                                ReportTally& tally, WriteVisit write) {
  ProgressCount progress(console, [db, &report] { return CountRows(db, report.visitsTable); });
  typename Join::Visit visit;
  VisitStep step;
  while ((step = join.Next(visit)) == VisitStep::kVisit) {
    write(visit);
    ++tally.rows;
    progress.CountRow();
  }
  if (step == VisitStep::kReadFailure) {
    console.WriteLine();
    console.Write("Could not read all of " + std::string(report.database) + ": " + ConsoleText(join.ReadFailure()));
  }
  if (step == VisitStep::kUnprepared) return UnpreparedStatement{join.UnpreparedReason()};
  return std::nullopt;
}
