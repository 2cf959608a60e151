#include "usage_reports/chrome_usage_csv.h"

#include <string>

#include "console/console.h"
#include "output/csv_format.h"
#include "timestamps/timestamp_decoding.h"
#include "usage_reports/chrome_visit_join.h"
#include "usage_reports/page_transitions.h"
#include "usage_reports/report_console.h"

namespace {

// The report's last line is followed by one empty line before the pause,
// as the Firefox report's.
constexpr int kEmptyLinesAfterCount = 1;

void AppendNumber(OutputFile& line, const std::optional<std::int64_t>& value) {
  line.Append(",");
  if (value) line.Append(std::to_string(*value));
}

void AppendFlag(OutputFile& line, const std::optional<std::int64_t>& value) {
  line.Append(",");
  if (value) line.Append(*value != 0 ? "Yes" : "No");
}

// Microseconds as seconds, exactly: "12.5", "0", "-3.000001".
std::string Seconds(std::int64_t microseconds) {
  const bool negative = microseconds < 0;
  const auto magnitude =
      negative ? 0 - static_cast<std::uint64_t>(microseconds) : static_cast<std::uint64_t>(microseconds);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 1000000);
  std::string fraction = std::to_string(magnitude % 1000000);
  fraction.insert(0, 6 - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) text += "." + fraction;
  return text;
}

// scratch: the buffer dates and transitions are written into, one for the
// whole report.
void AppendVisitLine(OutputFile& line, const ChromeVisit& visit, const CaseSettings& settings, std::string& scratch) {
  if (visit.visitTime) {
    DecodeChromeTimeInto(scratch, *visit.visitTime, settings);
    AppendQuotedField(line, scratch);
  }
  line.Append(",");
  if (visit.url) AppendQuotedField(line, *visit.url);
  line.Append(",");
  if (visit.title) AppendQuotedField(line, *visit.title);
  AppendNumber(line, visit.visitCount);
  AppendNumber(line, visit.typedCount);
  AppendFlag(line, visit.hidden);
  line.Append(",");
  if (visit.transition) {
    scratch.clear();
    AppendTransitionText(scratch, *visit.transition);
    AppendQuotedField(line, scratch);
  }
  AppendNumber(line, visit.fromVisit);
  line.Append(",");
  if (visit.visitDuration) line.Append(Seconds(*visit.visitDuration));
}

std::optional<UnpreparedStatement> WriteReport(Console& console, const CaseSettings& settings, sqlite3* db,
                                               TaskFile& file, ReportTally& tally) {
  file.Append("Visit Date,URL,Title,Visit Count,Typed Count,Hidden,Transition,From Visit,Visit Duration");
  file.EndLine();
  std::optional<ChromeVisitJoin> join = ChromeVisitJoin::Start(db);
  if (!join) return LastUnprepared(db);
  std::string scratch;
  return ForEachVisit(console, db, kChromeUsage, *join, tally, [&](const ChromeVisit& visit) {
    AppendVisitLine(file.out(), visit, settings, scratch);
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
