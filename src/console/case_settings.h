#pragma once

// The examiner's case details and decoding preferences for one run. Asked at
// start-up and again on request; held in memory only, never stored.

#include <string>

class Console;

struct CaseSettings {
  // true: day before month (English); false: month before day (American).
  bool englishDateFormat = true;
  // Offset from UTC, in minutes, applied to every decoded timestamp. Single
  // precision on purpose: the examples that examiners rely on (60.1 minutes
  // adding 3605 seconds) come from that precision.
  float utcOffsetMinutes = 0.0f;
  std::string caseReference;
  std::string caseName;
  std::string investigator;
};

// Asks all five settings in order and replaces them in settings. An offset
// answer that is no number keeps the previous offset; every other answer is
// taken as typed, an empty one included.
void AskCaseSettings(Console& console, CaseSettings& settings);
