#include "usage_reports/usage_csv.h"

#include <string>

#include "console/console.h"
#include "output/csv_format.h"
#include "timestamps/timestamp_decoding.h"
#include "usage_reports/report_console.h"
#include "usage_reports/visit_join.h"

namespace {

// The report's last line is followed by one empty line before the pause.
constexpr int kEmptyLinesAfterCount = 1;

void AppendOptionalField(OutputFile& line, const std::optional<std::string_view>& value) {
  if (value) AppendQuotedField(line, *value);
}

void AppendNumber(OutputFile& line, std::int64_t value) {
  line.Append(",");
  line.Append(std::to_string(value));
}

void AppendFlag(OutputFile& line, std::int64_t value) { line.Append(value != 0 ? ",Yes" : ",No"); }

// decoded: the buffer the date is decoded into, one for the whole report.
void AppendVisitLine(OutputFile& line, const JoinedVisit& visit, const CaseSettings& settings, std::string& decoded) {
  if (visit.visitDate) {
    DecodePRtimeInto(decoded, *visit.visitDate, settings);
    AppendQuotedField(line, decoded);
  }
  line.Append(",");
  AppendOptionalField(line, visit.url);
  line.Append(",");
  AppendOptionalField(line, visit.title);
  AppendNumber(line, visit.visitCount);
  AppendFlag(line, visit.typed);
  AppendFlag(line, visit.hidden);
  AppendNumber(line, visit.frecency);
  AppendNumber(line, visit.fromVisit);
  AppendNumber(line, visit.visitType);
  AppendNumber(line, visit.session);
}

// Writes the report; the failure when a statement could not be prepared.
std::optional<UnpreparedStatement> WriteReport(Console& console, const CaseSettings& settings, sqlite3* db,
                                               TaskFile& file, ReportTally& tally) {
  file.Append("Visit Date,URL,Title,Visit Count,Typed,Hidden,Frecency,From Visit,Visit Type,Session");
  file.EndLine();
  std::optional<VisitJoin> join = VisitJoin::Start(db);
  if (!join) return LastUnprepared(db);
  std::string decoded;
  return ForEachVisit(console, db, kFirefoxUsage, *join, tally, [&](const JoinedVisit& visit) {
    AppendVisitLine(file.out(), visit, settings, decoded);
    file.EndLine();
  });
}

}  // namespace

void ExportUsageCsv(Console& console, const CaseSettings& settings) {
  PrintReportIntroduction(console, kFirefoxUsage);
  RunReport(console, settings, kFirefoxUsage, ".csv", CreateMessage::kAfterColonBlank, kEmptyLinesAfterCount,
            [&](sqlite3* db, TaskFile& file, ReportTally& tally) { return WriteReport(console, settings, db, file, tally); });
}
