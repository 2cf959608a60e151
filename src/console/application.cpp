#include "console/application.h"

#include <functional>
#include <string>

#include "base/leftover_files.h"
#include "console/case_settings.h"
#include "console/console.h"
#include "console/help_screen.h"
#include "console/program_identity.h"
#include "console/task_console.h"
#include "evidence/private_copy.h"
#include "output/output_file.h"
#include "recovery/recovery_task.h"
#include "table_export/table_export.h"
#include "timestamps/prtime_decoder.h"
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

void PrintMenu(Console& console) {
  static const char* const kMenu[] = {
      "",
      "Select the task you wish to perform:",
      "",
      "A - Extract RAW data from Firefox 3 SQLite databases to CSV.",
      "B - Extract data from Firefox 3 SQLite databases to CSV",
      "    and decode dates and times.",
      "C - Create Firefox CSV Internet History Usage Report.",
      "D - Create Firefox HTML Internet History Usage Report.",
      "E - Decode PRtime.",
      "",
      "**EXPERIMENTAL**",
      "F - Extract RAW data from Google Chrome SQLite databases to CSV.",
      "G - Extract data from Google Chrome SQLite databases to CSV",
      "    and decode dates and times.",
      "I - Recover deleted records from Firefox 3 SQLite databases to CSV.",
      "J - Recover deleted records from Google Chrome SQLite databases to CSV.",
      "",
      "R - Reset settings (case name etc.)",
      "H - Help",
      "X - Exit",
      "",
  };
  for (const char* line : kMenu) console.WriteLine(line);
  console.Write(": ");
}

struct MenuRow {
  char upper;
  char lower;
  std::function<void()> action;  // empty for the exit row
};

void RunMenu(Console& console, CaseSettings& settings) {
  const MenuRow rows[] = {
      {'A', 'a', [&] { ExportBrowserTables(console, settings, FirefoxProfile, false); }},
      {'B', 'b', [&] { ExportBrowserTables(console, settings, FirefoxProfile, true); }},
      {'C', 'c', [&] { ExportUsageCsv(console, settings); }},
      {'D', 'd', [&] { ExportUsageHtml(console, settings); }},
      {'E', 'e', [&] { RunPRtimeDecoder(console, settings); }},
      {'F', 'f', [&] { ExportBrowserTables(console, settings, ChromeProfile, false); }},
      {'G', 'g', [&] { ExportBrowserTables(console, settings, ChromeProfile, true); }},
      {'I', 'i', [&] { RecoverDeletedRecords(console, settings, FirefoxProfile); }},
      {'J', 'j', [&] { RecoverDeletedRecords(console, settings, ChromeProfile); }},
      {'R', 'r', [&] { AskCaseSettings(console, settings); }},
      {'H', 'h', [&] { ShowHelp(console); }},
      {'X', 'x', nullptr},
  };
  std::string choice;
  for (;;) {
    PrintMenu(console);
    console.ReadAnswer(choice);
    // The choice is compared whole and case-sensitively: " a", "a " and "ab"
    // match no row.
    for (const MenuRow& row : rows) {
      if (choice.size() != 1 || (choice[0] != row.upper && choice[0] != row.lower)) continue;
      if (!row.action) return;
      row.action();
      break;
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
