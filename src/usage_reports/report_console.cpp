#include "usage_reports/report_console.h"

#include <string>

#include "console/console.h"

void PrintReportIntroduction(Console& console, const UsageReport& report) {
  console.PrintSectionBreak();
  console.WriteLine("This report combines the inforamtion within the following tables");
  console.WriteLine();
  console.WriteLine(std::string(report.database) + " -> " + std::string(report.visitsTable));
  console.WriteLine(std::string(report.database) + " -> " + std::string(report.pagesTable));
  console.WriteLine();
}

namespace {

// "<reference> - <name> - <report name>" with the extension.
ClaimedName ClaimReportName(const CaseSettings& settings, const UsageReport& usage, std::string_view extension) {
  const std::string_view parts[] = {settings.caseReference, " - ", settings.caseName, " - ", usage.name};
  return OutputNames().Claim(parts, extension);
}

}  // namespace

void RunReport(Console& console, const CaseSettings& settings, const UsageReport& usage,
               std::string_view extension, CreateMessage createMessage, int emptyLinesAfter,
               const ReportWriter& write) {
  EvidenceDatabase db = ProbeEvidenceDatabase(console, std::string(usage.database));
  if (db.found() == EvidenceDatabase::Found::kUnreadable) {
    console.DiscardPendingInput();
    console.WriteLine();
    console.WaitForEnter();
    return;
  }
  ReportTally tally;
  ClaimedName report;
  if (db) {
    console.WriteLine();
    console.Write("Processing...");
    report = ClaimReportName(settings, usage, extension);
    const ReadingNote reading{std::string(usage.database)};
    TaskFile file(console, report.name, createMessage);
    if (const std::optional<UnpreparedStatement> failure = write(db.get(), file, tally)) {
      ReportUnpreparedStatement(console, failure->reason);
      return;
    }
    file.Publish();
    db.Close();
  }
  console.DiscardPendingInput();
  console.WriteLine();
  console.WriteLine();
  console.WriteLine(std::to_string(tally.rows) + " rows exported");
  if (report.renamed) console.WriteLine("Written as " + report.name);
  for (const std::string& note : tally.notes) console.WriteLine(note);
  for (int i = 0; i < emptyLinesAfter; ++i) console.WriteLine();
  console.WaitForEnter();
}
