#include "app/application.h"

#include <string>

#include "app/help_screen.h"
#include "base/leftover_files.h"
#include "console/case_settings.h"
#include "console/console.h"
#include "console/program_identity.h"
#include "console/task_console.h"
#include "evidence/private_copy.h"
#include "output/output_file.h"
#include "recovery/recovery_task.h"
#include "table_export/table_export.h"
#include "timestamps/prtime_decoder.h"
#include "usage_reports/chrome_usage_csv.h"
#include "usage_reports/usage_csv.h"
#include "usage_reports/usage_html.h"

namespace {

void PrintBanner(Console& console) {
  using namespace ProgramIdentity;
  console.WriteLine(std::string(productName) + " (" + executableName + ") " + version + " by " +
                    authorName + " <" + emailAddress + ">");
  console.WriteLine(webAddress);
  console.WriteLine();
}

// What earlier runs, killed where they could not clean up, left behind
// (private copies of evidence, unfinished outputs): said on one line when
// there was anything.
void ReportLeftoversRemoved(Console& console, int count) {
  if (count == 0) return;
  console.WriteLine(count == 1 ? "Removed 1 leftover of an earlier run that was killed."
                               : "Removed " + std::to_string(count) + " leftovers of earlier runs that were killed.");
  console.WriteLine();
}

// One line of the menu: the letter that starts its task, typed in either
// case (none for a line of text alone), the text, and the task (none for the
// row that exits).
struct MenuRow {
  char letter;
  std::string_view text;
  void (*task)(Console&, CaseSettings&);
};

constexpr MenuRow kMenu[] = {
    {0, "", nullptr},
    {0, "Select the task you wish to perform:", nullptr},
    {0, "", nullptr},
    {'A', "A - Extract RAW data from Firefox 3 SQLite databases to CSV.",
     [](Console& console, CaseSettings& settings) { ExportBrowserTables(console, settings, FirefoxProfile, false); }},
    {'B', "B - Extract data from Firefox 3 SQLite databases to CSV\n    and decode dates and times.",
     [](Console& console, CaseSettings& settings) { ExportBrowserTables(console, settings, FirefoxProfile, true); }},
    {'C', "C - Create Firefox CSV Internet History Usage Report.",
     [](Console& console, CaseSettings& settings) { ExportUsageCsv(console, settings); }},
    {'D', "D - Create Firefox HTML Internet History Usage Report.",
     [](Console& console, CaseSettings& settings) { ExportUsageHtml(console, settings); }},
    {'E', "E - Decode PRtime.",
     [](Console& console, CaseSettings& settings) { RunPRtimeDecoder(console, settings); }},
    {0, "", nullptr},
    {0, "**EXPERIMENTAL**", nullptr},
    {'F', "F - Extract RAW data from Google Chrome SQLite databases to CSV.",
     [](Console& console, CaseSettings& settings) { ExportBrowserTables(console, settings, ChromeProfile, false); }},
    {'G', "G - Extract data from Google Chrome SQLite databases to CSV\n    and decode dates and times.",
     [](Console& console, CaseSettings& settings) { ExportBrowserTables(console, settings, ChromeProfile, true); }},
    {'I', "I - Recover deleted records from Firefox 3 SQLite databases to CSV.",
     [](Console& console, CaseSettings& settings) { RecoverDeletedRecords(console, settings, FirefoxProfile); }},
    {'J', "J - Recover deleted records from Google Chrome SQLite databases to CSV.",
     [](Console& console, CaseSettings& settings) { RecoverDeletedRecords(console, settings, ChromeProfile); }},
    {'K', "K - Create Chrome CSV Internet History Usage Report.",
     [](Console& console, CaseSettings& settings) { ExportChromeUsageCsv(console, settings); }},
    {'L', "L - Create Chrome HTML Internet History Usage Report.",
     [](Console& console, CaseSettings& settings) { ExportChromeUsageHtml(console, settings); }},
    {0, "", nullptr},
    {'R', "R - Reset settings (case name etc.)", AskCaseSettings},
    {'H', "H - Help", [](Console& console, CaseSettings&) { ShowHelp(console); }},
    {'X', "X - Exit", nullptr},
    {0, "", nullptr},
};

// The row a choice starts: the choice is compared whole, its letter in
// either case; " a", "a " and "ab" start none.
const MenuRow* ChosenRow(const std::string& choice) {
  if (choice.size() != 1) return nullptr;
  for (const MenuRow& row : kMenu) {
    if (row.letter != 0 && (choice[0] == row.letter || choice[0] == row.letter - 'A' + 'a')) return &row;
  }
  return nullptr;
}

void RunMenu(Console& console, CaseSettings& settings) {
  std::string choice;
  for (;;) {
    for (const MenuRow& row : kMenu) console.WriteLine(row.text);
    console.Write(": ");
    console.ReadAnswer(choice);
    if (const MenuRow* row = ChosenRow(choice)) {
      if (row->task == nullptr) return;
      row->task(console, settings);
    }
    console.PrintSectionBreak();
  }
}

}  // namespace

int RunScrivlet(Console& console) {
  try {
    CaseSettings settings;
    PrintBanner(console);
    ReportLeftoversRemoved(console, RemovePrivateCopiesOfEndedRuns() + RemoveUnfinishedOutputsOfEndedRuns());
    AskCaseSettings(console, settings);
    RunMenu(console, settings);
    return 0;
  } catch (const ProgramEnd& end) {
    return end.exitStatus;
  } catch (...) {
    // Every owner on the way out has removed its files by now; the registry
    // is emptied too, in case an owner could not.
    RemoveLeftovers();
    return ReportEscapedException(console, std::current_exception());
  }
}
