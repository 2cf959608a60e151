#pragma once

// What the two usage reports share: their console lines, from the probe of
// places.sqlite to the pause, the naming of their file, and the loop over the
// visit join.

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

inline constexpr std::string_view kPlacesDatabase = "places.sqlite";

// The section break and the lines naming the tables the report combines.
void PrintReportIntroduction(Console& console);

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

// Writes a report of places.sqlite into file. The failure when a statement
// could not be prepared: the report is then not published.
using ReportWriter =
    std::function<std::optional<UnpreparedStatement>(sqlite3* db, TaskFile& file, ReportTally& tally)>;

// The part of a report from the probe of places.sqlite to the pause:
// - not found: the probe line, no file, and "0 rows exported";
// - there but unreadable: the probe lines saying why, no file, no count of
//   rows that were never read, an empty line and the pause;
// - found: an empty line and "Processing...", the report written under
//   "<reference> - <name> - Internet Usage" with the extension (or the first
//   free numbered form, named on the console, when a folder or other
//   non-file holds that name), the private copy of places.sqlite removed,
//   then the count line between its empty lines, the tally's notes, the
//   given number of empty lines and the pause; or, when a statement could
//   not be prepared, no file (an earlier report of that name stays as it
//   was), "Could not prepare statement." and SQLite's reason, no count and no
//   pause.
void RunReport(Console& console, const CaseSettings& settings, std::string_view extension,
               CreateMessage createMessage, int emptyLinesAfter, const ReportWriter& write);

// Gives write every visit of the join, oldest first, counting each in the
// tally and on the progress line. The failure when the page lookup could not
// be prepared; a read that fails part-way ends the visits there and is said
// on the line after "Processing...", so that a shortened report never looks
// finished.
template <typename WriteVisit>
std::optional<UnpreparedStatement> ForEachVisit(Console& console, sqlite3* db, VisitJoin& join, ReportTally& tally,
                                                WriteVisit write) {
  ProgressCount progress(console, [db] { return CountRows(db, "moz_historyvisits"); });
  JoinedVisit visit;
  VisitJoin::Step step;
  while ((step = join.Next(visit)) == VisitJoin::Step::kVisit) {
    write(visit);
    ++tally.rows;
    progress.CountRow();
  }
  if (step == VisitJoin::Step::kReadFailure) {
    console.WriteLine();
    console.Write("Could not read all of places.sqlite: " + ConsoleText(join.ReadFailure()));
  }
  if (step == VisitJoin::Step::kUnprepared) return UnpreparedStatement{join.UnpreparedReason()};
  return std::nullopt;
}
