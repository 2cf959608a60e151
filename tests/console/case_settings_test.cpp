#include "console/case_settings.h"

#include <gtest/gtest.h>

#include "support/scripted_console.h"

namespace {

CaseSettings Ask(const std::string& script, CaseSettings settings = {}) {
  ScriptedConsole scripted(script);
  AskCaseSettings(scripted.console(), settings);
  return settings;
}

TEST(CaseSettings, OnlyAWholeAOrASelectsAmericanDates) {
  EXPECT_FALSE(Ask("A\n0\nr\nn\ni\n").englishDateFormat);
  EXPECT_FALSE(Ask("a\n0\nr\nn\ni\n").englishDateFormat);
  for (const char* answer : {"E", "e", "", "a ", " a", "america", "American"}) {
    EXPECT_TRUE(Ask(std::string(answer) + "\n0\nr\nn\ni\n").englishDateFormat) << answer;
  }
}

TEST(CaseSettings, TextsAreKeptExactlyAsTyped) {
  CaseSettings settings = Ask("E\n0\n  2008/117 \nHarbour \"Street\"\n\n");
  EXPECT_EQ(settings.caseReference, "  2008/117 ");
  EXPECT_EQ(settings.caseName, "Harbour \"Street\"");
  EXPECT_EQ(settings.investigator, "");
}

TEST(CaseSettings, AnOffsetThatIsNoNumberKeepsThePreviousOne) {
  EXPECT_EQ(Ask("E\nabc\nr\nn\ni\n").utcOffsetMinutes, 0.0f);
  CaseSettings earlier;
  earlier.utcOffsetMinutes = 330.0f;
  EXPECT_EQ(Ask("E\nwest\nr\nn\ni\n", earlier).utcOffsetMinutes, 330.0f);
  EXPECT_EQ(Ask("E\n-90\nr\nn\ni\n", earlier).utcOffsetMinutes, -90.0f);
}

TEST(CaseSettings, TheRestOfTheOffsetLineIsDropped) {
  CaseSettings settings = Ask("E\n360 minutes east\nref\nname\nwho\n");
  EXPECT_EQ(settings.utcOffsetMinutes, 360.0f);
  EXPECT_EQ(settings.caseReference, "ref");
  EXPECT_EQ(settings.investigator, "who");
}

TEST(CaseSettings, PromptsAndTheirLineBreaks) {
  ScriptedConsole scripted("A\n\n\n60\nref\nname\nwho\n");
  CaseSettings settings;
  AskCaseSettings(scripted.console(), settings);
  EXPECT_EQ(scripted.output(),
            "English or American date format? [E/A] \n"
            "UTC offset in minutes decimal, i.e. 0, 360, -90: \n"
            "Case Reference: \n"
            "Case Name: \n"
            "Investigator: ");
  EXPECT_EQ(settings.utcOffsetMinutes, 60.0f);
}

}  // namespace
