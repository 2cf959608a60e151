#include "usage_reports/report_console.h"

#include <string>

#include "console/console.h"
#include "console/task_console.h"

void PrintReportIntroduction(Console& console) {
  console.PrintSectionBreak();
  console.WriteLine("This report combines the inforamtion within the following tables");
  console.WriteLine();
  console.WriteLine("places.sqlite -> moz_historyvisits");
  console.WriteLine("places.sqlite -> moz_places");
  console.WriteLine();
}

EvidenceDatabase OpenPlacesForReport(Console& console) {
  EvidenceDatabase db = ProbeEvidenceDatabase(console, std::string(kPlacesDatabase));
  if (db) {
    console.WriteLine();
    console.Write("Processing...");
  }
  return db;
}

ClaimedName ClaimReportName(const CaseSettings& settings, std::string_view extension) {
  const std::string_view parts[] = {settings.caseReference, " - ", settings.caseName, " - ", "Internet Usage"};
  return OutputNames().Claim(parts, extension);
}

void ReportRenaming(Console& console, const ClaimedName& claimed) {
  if (claimed.renamed) console.WriteLine("Written as " + claimed.name);
}

void PrintReportNotRead(Console& console) {
  console.DiscardPendingInput();
  console.WriteLine();
  console.WaitForEnter();
}

void ReportUnpreparedReport(Console& console, const ClaimedName& report) {
  if (report.renamed) {
    console.WriteLine();
    console.Write("Written as " + report.name);
  }
  ReportUnpreparedStatement(console);
}

void PrintRowsExported(Console& console, std::int64_t rows, const ClaimedName& report, int emptyLinesAfter) {
  console.DiscardPendingInput();
  console.WriteLine();
  console.WriteLine();
  console.WriteLine(std::to_string(rows) + " rows exported");
  ReportRenaming(console, report);
  for (int i = 0; i < emptyLinesAfter; ++i) console.WriteLine();
  console.WaitForEnter();
}

void ReportVisitReadFailure(Console& console, const char* sqliteText) {
  console.WriteLine();
  console.Write(std::string("Could not read all of places.sqlite: ") + sqliteText);
}
