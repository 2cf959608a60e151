#include "usage_reports/usage_csv.h"

#include <string>

#include "console/console.h"
#include "console/progress_count.h"
#include "console/task_console.h"
#include "evidence/table_probes.h"
#include "output/csv_format.h"
#include "output/output_file.h"
#include "timestamps/timestamp_decoding.h"
#include "usage_reports/report_console.h"
#include "usage_reports/visit_join.h"

namespace {

void AppendOptionalField(std::string& line, const std::optional<std::string_view>& value) {
  if (value) AppendQuotedField(line, *value);
}

void AppendNumber(std::string& line, int value) {
  line += ',';
  line += std::to_string(value);
}

void AppendFlag(std::string& line, int value) { line += value != 0 ? ",Yes" : ",No"; }

// decoded: the buffer the date is decoded into, one for the whole report.
void AppendVisitLine(std::string& line, const JoinedVisit& visit, const CaseSettings& settings, std::string& decoded) {
  if (visit.visitDate) {
    DecodePRtimeInto(decoded, *visit.visitDate, settings);
    AppendQuotedField(line, decoded);
  }
  line += ',';
  AppendOptionalField(line, visit.url);
  line += ',';
  AppendOptionalField(line, visit.title);
  AppendNumber(line, visit.visitCount);
  AppendFlag(line, visit.typed);
  AppendFlag(line, visit.hidden);
  AppendNumber(line, visit.frecency);
  AppendNumber(line, visit.fromVisit);
  AppendNumber(line, visit.visitType);
  AppendNumber(line, visit.session);
}

// Publishes the report as it stands.
void PublishReport(Console& console, OutputFile& file) {
  if (!file.Publish()) EndProgramAfterWriteFailure(console, file.failure());
}

// Writes the report; false when a statement could not be prepared, which
// ends the task without its count and pause, the report holding what was
// written before.
bool WriteReport(Console& console, const CaseSettings& settings, sqlite3* db, const ClaimedName& name,
                 std::int64_t& rows) {
  OutputFile file(name.name);
  if (file.failed()) EndProgramWithMessage(console, "Error creating output file: " + name.name);

  file.Append("Visit Date,URL,Title,Visit Count,Typed,Hidden,Frecency,From Visit,Visit Type,Session");
  if (!file.EndLine()) EndProgramAfterWriteFailure(console, file.failure());

  std::optional<VisitJoin> join = VisitJoin::Start(db);
  if (!join) {
    PublishReport(console, file);
    return false;
  }
  ProgressCount progress(console, [db] { return CountRows(db, "moz_historyvisits"); });
  JoinedVisit visit;
  std::string decoded;
  VisitJoin::Step step;
  while ((step = join->Next(visit)) == VisitJoin::Step::kVisit) {
    AppendVisitLine(file.pending(), visit, settings, decoded);
    if (!file.EndLine()) EndProgramAfterWriteFailure(console, file.failure());
    ++rows;
    progress.CountRow();
  }
  if (step == VisitJoin::Step::kReadFailure) ReportVisitReadFailure(console, join->ReadFailure());
  PublishReport(console, file);
  return step != VisitJoin::Step::kUnprepared;
}

}  // namespace

void ExportUsageCsv(Console& console, const CaseSettings& settings) {
  PrintReportIntroduction(console);
  RunReport(console, settings, ".csv", 1, [&](sqlite3* db, const ClaimedName& name, std::int64_t& rows) {
    return WriteReport(console, settings, db, name, rows);
  });
}
