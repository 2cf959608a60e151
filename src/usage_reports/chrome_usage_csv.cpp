#include "usage_reports/chrome_usage_csv.h"

#include <string>

#include "console/console.h"
#include "usage_reports/chrome_visit_join.h"
#include "usage_reports/report_console.h"
#include "usage_reports/usage_lines.h"

namespace {

// The report's last line is followed by one empty line before the pause,
// as the Firefox report's.
constexpr int kEmptyLinesAfterCount = 1;

std::optional<UnpreparedStatement> WriteReport(Console& console, const CaseSettings& settings, sqlite3* db,
                                               TaskFile& file, ReportTally& tally) {
  file.Append(kChromeUsageHeading);
  file.EndLine();
  std::optional<ChromeVisitJoin> join = ChromeVisitJoin::Start(db);
  if (!join) return LastUnprepared(db);
  std::string scratch;
  return ForEachVisit(console, db, kChromeUsage, *join, tally, [&](const ChromeVisit& visit) {
    AppendChromeUsageLine(file.out(), visit, settings, scratch);
    file.EndLine();
  });
}

}  // namespace

void ExportChromeUsageCsv(Console& console, const CaseSettings& settings) {
  PrintReportIntroduction(console, kChromeUsage);
  RunReport(console, settings, kChromeUsage, ".csv", CreateMessage::kAfterColonBlank, kEmptyLinesAfterCount,
            [&](sqlite3* db, TaskFile& file, ReportTally& tally) {
              return WriteReport(console, settings, db, file, tally);
            });
}
