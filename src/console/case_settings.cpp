#include "console/case_settings.h"

#include "console/console.h"

void AskCaseSettings(Console& console, CaseSettings& settings) {
  std::string answer;
  console.Write("English or American date format? [E/A] ");
  console.ReadAnswer(answer);
  settings.englishDateFormat = !(answer == "A" || answer == "a");
  console.WriteLine();

  console.Write("UTC offset in minutes decimal, i.e. 0, 360, -90: ");
  if (std::optional<float> offset = console.ReadNumber()) {
    settings.utcOffsetMinutes = *offset;
  }
  console.DiscardPendingInput();
  console.WriteLine();

  console.Write("Case Reference: ");
  console.ReadAnswer(settings.caseReference);
  console.WriteLine();

  console.Write("Case Name: ");
  console.ReadAnswer(settings.caseName);
  console.WriteLine();

  console.Write("Investigator: ");
  console.ReadAnswer(settings.investigator);
}
