#include "usage_reports/usage_csv.h"

#include <string>

#include "console/console.h"
#include "console/progress_count.h"
#include "table_export/csv_format.h"
#include "table_export/output_file.h"
#include "table_export/output_names.h"
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

void AppendVisitLine(std::string& line, const JoinedVisit& visit, const CaseSettings& settings) {
  if (visit.visitDate) AppendQuotedField(line, DecodePRtime(*visit.visitDate, settings));
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

// Writes the report; false when a statement could not be prepared, which
// ends the task without its count and pause.
bool WriteReport(Console& console, const CaseSettings& settings, sqlite3* db, std::int64_t& rows) {
  const std::string fileName = CaseFileName(settings, "Internet Usage.csv");
  std::optional<OutputFile> file = OutputFile::Create(fileName);
  if (!file) EndProgramWithMessage(console, "Error creating output file: " + fileName);

  file->Append("Visit Date,URL,Title,Visit Count,Typed,Hidden,Frecency,From Visit,Visit Type,Session");
  if (!file->EndLine()) EndProgramAfterWriteFailure(console, *file);

  std::optional<VisitJoin> join = VisitJoin::Start(db);
  if (!join) return false;
  ProgressCount progress(console, [db] { return CountRows(db, "moz_historyvisits"); });
  JoinedVisit visit;
  VisitJoin::Step step;
  while ((step = join->Next(visit)) == VisitJoin::Step::kVisit) {
    AppendVisitLine(file->line(), visit, settings);
    if (!file->EndLine()) EndProgramAfterWriteFailure(console, *file);
    ++rows;
    progress.CountRow();
  }
  if (step == VisitJoin::Step::kUnprepared) return false;
  if (step == VisitJoin::Step::kReadFailure) ReportVisitReadFailure(console, join->ReadFailure());
  if (!file->Close()) EndProgramAfterWriteFailure(console, *file);
  return true;
}

}  // namespace

void ExportUsageCsv(Console& console, const CaseSettings& settings) {
  PrintReportIntroduction(console);
  std::int64_t rows = 0;
  if (EvidenceDatabase db = OpenPlacesForReport(console)) {
    if (!WriteReport(console, settings, db.get(), rows)) {
      ReportUnpreparedStatement(console);
      return;
    }
  }
  PrintRowsExported(console, rows, 1);
}
