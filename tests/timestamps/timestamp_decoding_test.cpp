#include "timestamps/timestamp_decoding.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

DateStyle Settings(float offsetMinutes, bool english = true) {
  DateStyle settings;
  settings.englishDateFormat = english;
  settings.utcOffsetMinutes = offsetMinutes;
  return settings;
}

struct Example {
  bool chrome;
  const char* text;
  float offset;
  const char* english;
  const char* american;
};

// The worked examples that examiners check the tool against.
const Example kWorkedExamples[] = {
    {false, "1228580112345678", 0, "06/12/2008 16:15:12", "12/06/2008 16:15:12"},
    {false, "1228580112345678", 60, "06/12/2008 17:15:12", "12/06/2008 17:15:12"},
    {false, "1228580112345678", -90, "06/12/2008 14:45:12", "12/06/2008 14:45:12"},
    {false, "1228580112345678", 330, "06/12/2008 21:45:12", "12/06/2008 21:45:12"},
    {false, "1228580112999999", 0, "06/12/2008 16:15:12", "12/06/2008 16:15:12"},
    {false, "1228580112345678", 0.5, "06/12/2008 16:15:42", "12/06/2008 16:15:42"},
    {true, "12873053712345678", 0, "06/12/2008 16:15:12", "12/06/2008 16:15:12"},
    {true, "12873053712345678", -90, "06/12/2008 14:45:12", "12/06/2008 14:45:12"},
    {true, "1228580112", 0, "06/12/2008 16:15:12", "12/06/2008 16:15:12"},
    {true, "0", 0, "01/01/1970 00:00:00", "01/01/1970 00:00:00"},
    {true, "0", -300, "31/12/1969 19:00:00", "12/31/1969 19:00:00"},
};

TEST(TimestampDecoding, WorkedExamplesInBothDateFormats) {
  for (const Example& example : kWorkedExamples) {
    for (bool english : {true, false}) {
      DateStyle settings = Settings(example.offset, english);
      std::string got = example.chrome ? DecodeChromeTime(example.text, settings)
                                       : DecodePRtime(example.text, settings);
      EXPECT_EQ(got, english ? example.english : example.american)
          << example.text << " at offset " << example.offset;
    }
  }
}

TEST(TimestampDecoding, PRtimeOfAnyLengthButSixteenComesBackUnchanged) {
  const DateStyle settings = Settings(0);
  for (const char* text : {"", "0", "122858011234567", "12285801123456789", "1228580112345678 "}) {
    EXPECT_EQ(DecodePRtime(text, settings), text);
  }
}

TEST(TimestampDecoding, PRtimeRangeOfTheSixteenDigitForm) {
  const DateStyle settings = Settings(0);
  EXPECT_EQ(DecodePRtime("1000000000000000", settings), "09/09/2001 01:46:40");
  EXPECT_EQ(DecodePRtime("9999999999999999", settings), "20/11/2286 17:46:39");
}

TEST(TimestampDecoding, MicrosecondsNeverCarryIntoTheSeconds) {
  const DateStyle settings = Settings(0);
  EXPECT_EQ(DecodePRtime("1228580112999999", settings), DecodePRtime("1228580112000000", settings));
}

TEST(TimestampDecoding, LeadingBlankOfASixteenCharacterPRtimeIsSkipped) {
  EXPECT_EQ(DecodePRtime(" 228580112345678", Settings(0)), "30/03/1977 14:28:32");
}

TEST(TimestampDecoding, FractionalOffsetsTruncateTowardZero) {
  // -0.01 minutes is -0.6 s: the sum truncates to one second earlier.
  EXPECT_EQ(DecodePRtime("1228580112345678", Settings(-0.01f)), "06/12/2008 16:15:11");
  // 60.1 in single precision is 60.0999984..., 3605.99... seconds.
  EXPECT_EQ(DecodePRtime("1228580112345678", Settings(60.1f)), "06/12/2008 17:15:17");
}

TEST(TimestampDecoding, ChromeTenDigitsAreSecondsAndSeventeenAreMicrosecondsSince1601) {
  const DateStyle settings = Settings(0);
  EXPECT_EQ(DecodeChromeTime("1228580112", settings), DecodeChromeTime("12873053712345678", settings));
  // A short value is decoded, not passed through.
  EXPECT_EQ(DecodeChromeTime("86400", settings), "02/01/1970 00:00:00");
}

TEST(TimestampDecoding, DayFirstAndMonthFirstDifferOnlyInTheFirstTwoFields) {
  EXPECT_EQ(DecodePRtime("1204329600000000", Settings(0, true)), "01/03/2008 00:00:00");
  EXPECT_EQ(DecodePRtime("1204329600000000", Settings(0, false)), "03/01/2008 00:00:00");
}

TEST(TimestampDecoding, NumberPartThatDoesNotParseComesBackUnchanged) {
  const DateStyle settings = Settings(0);
  for (const char* text : {"abcdefghij123456", "-         123456", "+x12345678123456", "                "}) {
    EXPECT_EQ(DecodePRtime(text, settings), text);
  }
  EXPECT_EQ(DecodeChromeTime("", settings), "");
  EXPECT_EQ(DecodeChromeTime("abc", settings), "abc");
  EXPECT_EQ(DecodeChromeTime("x2873053712345678", settings), "x2873053712345678");
}

TEST(TimestampDecoding, NumberPartReadsLikeAStreamExtraction) {
  const DateStyle settings = Settings(0);
  // Digits up to the first non-digit; the rest of the number part is ignored.
  EXPECT_EQ(DecodePRtime("1228580112abcdef", settings), "06/12/2008 16:15:12");
  EXPECT_EQ(DecodePRtime("+228580112345678", settings), "30/03/1977 14:28:32");
  EXPECT_EQ(DecodePRtime("86400xxxxx123456", settings), "02/01/1970 00:00:00");
  EXPECT_EQ(DecodeChromeTime("\t86400", settings), "02/01/1970 00:00:00");
}

TEST(TimestampDecoding, NumbersBeyondSixtyFourBitsComeBackUnchanged) {
  const DateStyle settings = Settings(0);
  const char* huge = "99999999999999999999999999";  // 26 digits: 20 before the microseconds
  EXPECT_EQ(DecodeChromeTime(huge, settings), huge);
  EXPECT_EQ(DecodeChromeTime("-99999999999999999999123456", settings), "-99999999999999999999123456");
}

TEST(TimestampDecoding, TimesThatCannotBeWrittenAsADateComeBackUnchanged) {
  const DateStyle settings = Settings(0);
  // Seconds since 1970 far beyond the year 9999, or before the year 1.
  EXPECT_EQ(DecodeChromeTime("999999999999999", settings), "999999999999999");
  EXPECT_EQ(DecodeChromeTime("-99999999999999", settings), "-99999999999999");
  EXPECT_EQ(DecodeChromeTime("-9223372036854775808000000", settings), "-9223372036854775808000000");
  EXPECT_EQ(DecodeChromeTime("253402300800", settings), "253402300800");  // 10000-01-01
  EXPECT_EQ(DecodeChromeTime("253402300799", settings), "31/12/9999 23:59:59");
}

TEST(TimestampDecoding, TimesBefore1970AreWrittenOnTheCalendar) {
  EXPECT_EQ(DecodePRtime("-000000001000000", Settings(0)), "31/12/1969 23:59:59");
  EXPECT_EQ(DecodePRtime("-999999999000000", Settings(0)), "24/04/1938 22:13:21");
  // A Chrome text of exactly 16 characters names a moment before 1970.
  EXPECT_EQ(DecodeChromeTime("1000000000000000", Settings(0)), "09/09/1632 01:46:40");
}

TEST(TimestampDecoding, HugeOrNonFiniteOffsetsNeverReachAnOverflow) {
  for (float offset : {3.0e38f, -3.0e38f, std::numeric_limits<float>::infinity(),
                       std::numeric_limits<float>::quiet_NaN()}) {
    const DateStyle settings = Settings(offset);
    EXPECT_EQ(DecodePRtime("1228580112345678", settings), "1228580112345678");
    EXPECT_EQ(DecodeChromeTime("0", settings), "0");
    EXPECT_FALSE(ApplyUtcOffset(0, settings).has_value());
  }
}

TEST(TimestampDecoding, YearsBeforeOneThousandAreWrittenWithoutFill) {
  const DateStyle settings = Settings(0);
  // 0999-12-31 23:59:59 UTC; the year is a plain decimal number.
  EXPECT_EQ(FormatDateTime(-30610224001, settings), "31/12/999 23:59:59");
  EXPECT_EQ(FormatDateTime(-62135596800, settings), "01/01/1 00:00:00");
  EXPECT_FALSE(FormatDateTime(-62135596801, settings).has_value());
}

TEST(TimestampDecoding, ApplyUtcOffsetAddsMinutesAsSeconds) {
  EXPECT_EQ(ApplyUtcOffset(1000, Settings(0.5f)), 1030);
  EXPECT_EQ(ApplyUtcOffset(1000, Settings(-90)), 1000 - 5400);
  EXPECT_EQ(ApplyUtcOffset(0, Settings(-0.01f)), 0);  // -0.6 truncates toward zero
}

// Values decoded one after another, as an export decodes a column: the date
// part of one day must never stand for another's, whether the next value
// crosses midnight or the settings change between two values (menu R).
TEST(TimestampDecoding, ConsecutiveValuesAcrossMidnightAndSettingChanges) {
  struct Step {
    const char* text;
    float offset;
    bool english;
    const char* expected;
  };
  const Step steps[] = {
      {"1228607999000000", 0, true, "06/12/2008 23:59:59"},
      {"1228608000000000", 0, true, "07/12/2008 00:00:00"},   // the next second, the next day
      {"1228607999000000", 0, true, "06/12/2008 23:59:59"},   // and back
      {"1228607999000000", 1, true, "07/12/2008 00:00:59"},   // an offset moves it over midnight
      {"1228607999000000", 1, false, "12/07/2008 00:00:59"},  // same day, the other format
      {"1228608000000000", -1, false, "12/06/2008 23:59:00"},
      {"0000000000000000", 0, false, "01/01/1970 00:00:00"},
      {"-000000001000000", 0, true, "31/12/1969 23:59:59"},  // one second before 1970
  };
  for (const Step& step : steps) {
    EXPECT_EQ(DecodePRtime(step.text, Settings(step.offset, step.english)), step.expected) << step.text;
  }
}

}  // namespace
