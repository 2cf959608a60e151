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

namespace {

// "<reference> - <name> - Internet Usage" with the extension.
ClaimedName ClaimReportName(const CaseSettings& settings, std::string_view extension) {
  const std::string_view parts[] = {settings.caseReference, " - ", settings.caseName, " - ", "Internet Usage"};
  return OutputNames().Claim(parts, extension);
}

// The new name of a report, on a line of its own, when it has one.
void ReportRenaming(Console& console, const ClaimedName& report) {
  if (report.renamed) console.WriteLine("Written as " + report.name);
}

}  // namespace

void RunReport(Console& console, const CaseSettings& settings, std::string_view extension, int emptyLinesAfter,
               const ReportWriter& write) {
  EvidenceDatabase db = ProbeEvidenceDatabase(console, std::string(kPlacesDatabase));
  if (db.found() == EvidenceDatabase::Found::kUnreadable) {
    console.DiscardPendingInput();
    console.WriteLine();
    console.WaitForEnter();
    return;
  }
  std::int64_t rows = 0;
  ClaimedName report;
  if (db) {
    console.WriteLine();
    console.Write("Processing...");
    report = ClaimReportName(settings, extension);
    const ReadingNote reading{std::string(kPlacesDatabase)};
    const bool written = write(db.get(), report, rows);
    db.Close();
    if (!written) {
      if (report.renamed) {
        console.WriteLine();
        console.Write("Written as " + report.name);
      }
      ReportUnpreparedStatement(console);
      return;
    }
  }
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
