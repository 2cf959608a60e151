#include "usage_reports/report_console.h"

#include <string>

#include "console/console.h"

void PrintReportIntroduction(Console& console) {
  console.PrintSectionBreak();
  console.WriteLine("This report combines the inforamtion within the following tables");
  console.WriteLine();
  console.WriteLine("places.sqlite -> moz_historyvisits");
  console.WriteLine("places.sqlite -> moz_places");
  console.WriteLine();
}

namespace {

// "<reference> - <name> - Internet Usage" with the extension.
ClaimedName ClaimReportName(const CaseSettings& settings, std::string_view extension) {
  const std::string_view parts[] = {settings.caseReference, " - ", settings.caseName, " - ", "Internet Usage"};
  return OutputNames().Claim(parts, extension);
}

}  // namespace

void RunReport(Console& console, const CaseSettings& settings, std::string_view extension,
               CreateMessage createMessage, int emptyLinesAfter, const ReportWriter& write) {
  EvidenceDatabase db = ProbeEvidenceDatabase(console, std::string(kPlacesDatabase));
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
    report = ClaimReportName(settings, extension);
    const ReadingNote reading{std::string(kPlacesDatabase)};
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
