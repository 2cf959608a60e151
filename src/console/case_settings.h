#pragma once

// The examiner's case details and decoding preferences for one run. Asked at
// start-up and again on request; held in memory only, never stored.

#include <string>

#include "base/date_style.h"

class Console;

// The date format and UTC offset (englishDateFormat, utcOffsetMinutes) are
// the DateStyle that every decoded date is written in.
struct CaseSettings : DateStyle {
  std::string caseReference;
  std::string caseName;
  std::string investigator;
};

// Asks all five settings in order and replaces them in settings. An offset
// answer that is no number keeps the previous offset; every other answer is
// taken as typed, an empty one included.
void AskCaseSettings(Console& console, CaseSettings& settings);
