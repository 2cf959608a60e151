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

EvidenceDatabase OpenPlacesForReport(Console& console) {
  EvidenceDatabase db = ProbeEvidenceDatabase(console, std::string(kPlacesDatabase));
  if (db) {
    console.WriteLine();
    console.Write("Processing...");
  }
  return db;
}

void PrintRowsExported(Console& console, std::int64_t rows, int emptyLinesAfter) {
  console.DiscardPendingInput();
  console.WriteLine();
  console.WriteLine();
  console.WriteLine(std::to_string(rows) + " rows exported");
  for (int i = 0; i < emptyLinesAfter; ++i) console.WriteLine();
  console.WaitForEnter();
}

void ReportVisitReadFailure(Console& console, const char* sqliteText) {
  console.WriteLine();
  console.Write(std::string("Could not read all of places.sqlite: ") + sqliteText);
}
