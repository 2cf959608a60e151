#include "usage_reports/usage_csv.h"

#include <string>

#include "console/console.h"
#include "usage_reports/report_console.h"
#include "usage_reports/usage_lines.h"
#include "usage_reports/visit_join.h"

namespace {

// The report's last line is followed by one empty line before the pause.
constexpr int kEmptyLinesAfterCount = 1;

// Writes the report; the failure when a statement could not be prepared.
std::optional<UnpreparedStatement> WriteReport(Console& console, const CaseSettings& settings, sqlite3* db,
                                               TaskFile& file, ReportTally& tally) {
  file.Append(kFirefoxUsageHeading);
  file.EndLine();
  std::optional<VisitJoin> join = VisitJoin::Start(db);
  if (!join) return LastUnprepared(db);
  std::string decoded;
  return ForEachVisit(console, db, kFirefoxUsage, *join, tally, [&](const JoinedVisit& visit) {
    AppendFirefoxUsageLine(file.out(), visit, settings, decoded);
    file.EndLine();
  });
}

}  // namespace

void ExportUsageCsv(Console& console, const CaseSettings& settings) {
  PrintReportIntroduction(console, kFirefoxUsage);
  RunReport(console, settings, kFirefoxUsage, ".csv", CreateMessage::kAfterColonBlank, kEmptyLinesAfterCount,
            [&](sqlite3* db, TaskFile& file, ReportTally& tally) { return WriteReport(console, settings, db, file, tally); });
}
