#include "console/console.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "console/task_console.h"
#include "support/scripted_console.h"

namespace {

TEST(Console, ReadAnswerTakesOneWholeLineWithoutTrimming) {
  ScriptedConsole scripted(" a b \n\nlast");
  std::string answer = "previous";
  scripted.console().ReadAnswer(answer);
  EXPECT_EQ(answer, " a b ");
  scripted.console().ReadAnswer(answer);
  EXPECT_EQ(answer, "");
  scripted.console().ReadAnswer(answer);  // a last line without its line break
  EXPECT_EQ(answer, "last");
}

TEST(Console, EndOfInputEndsTheProgramWithStatusZero) {
  ScriptedConsole scripted("only\n");
  std::string answer;
  scripted.console().ReadAnswer(answer);
  try {
    scripted.console().ReadAnswer(answer);
    FAIL() << "a read at the end of input returned";
  } catch (const ProgramEnd& end) {
    EXPECT_EQ(end.exitStatus, 0);
  }
}

TEST(Console, LongLinesAreReadWhole) {
  const std::string longLine(10000, 'q');
  ScriptedConsole scripted(longLine + "\nnext\n");
  std::string answer;
  scripted.console().ReadAnswer(answer);
  EXPECT_EQ(answer, longLine);
  scripted.console().ReadAnswer(answer);
  EXPECT_EQ(answer, "next");
}

// Each case: the offset line typed, and the value read (or none).
struct NumberCase {
  const char* typed;
  std::optional<float> expected;
};

TEST(Console, ReadNumberFollowsTheRulesOfPercentF) {
  const NumberCase cases[] = {
      {"360", 360.0f},     {"-90", -90.0f},   {"5.5", 5.5f},    {"1e2", 100.0f},
      {"+30", 30.0f},      {"360 abc", 360.0f}, {"1,5", 1.0f},  {".5", 0.5f},
      {"7.", 7.0f},        {"2E-1", 0.2f},    {"1e", 1.0f},     {"1e+", 1.0f},
      {"  \t 45", 45.0f},  {"abc", std::nullopt}, {"-", std::nullopt}, {".", std::nullopt},
      {"inf", std::nullopt}, {"nan", std::nullopt}, {"1e39", std::nullopt}, {"1e-60", 0.0f},
  };
  for (const NumberCase& c : cases) {
    ScriptedConsole scripted(std::string(c.typed) + "\nnext line\n");
    EXPECT_EQ(scripted.console().ReadNumber(), c.expected) << c.typed;
    scripted.console().DiscardPendingInput();
    std::string answer;
    scripted.console().ReadAnswer(answer);
    EXPECT_EQ(answer, "next line") << "the rest of '" << c.typed << "' was not dropped";
  }
}

TEST(Console, ReadNumberPassesOverEmptyLines) {
  ScriptedConsole scripted("\n\n   \n-12.25 rest\nnext\n");
  EXPECT_EQ(scripted.console().ReadNumber(), -12.25f);
  scripted.console().DiscardPendingInput();
  std::string answer;
  scripted.console().ReadAnswer(answer);
  EXPECT_EQ(answer, "next");
}

TEST(Console, ReadNumberAtTheEndOfInputEndsTheProgram) {
  ScriptedConsole scripted("\n\n");
  EXPECT_THROW(scripted.console().ReadNumber(), ProgramEnd);
}

TEST(Console, NumberAtTheVeryEndOfInputIsStillRead) {
  ScriptedConsole scripted("42");
  EXPECT_EQ(scripted.console().ReadNumber(), 42.0f);
}

TEST(Console, DiscardOnAFileNeverDropsALaterLine) {
  ScriptedConsole scripted("first\nsecond\n");
  std::string answer;
  scripted.console().ReadAnswer(answer);
  scripted.console().DiscardPendingInput();
  scripted.console().DiscardPendingInput();
  scripted.console().ReadAnswer(answer);
  EXPECT_EQ(answer, "second");
}

TEST(Console, SectionBreakAndPause) {
  ScriptedConsole scripted("anything at all\n");
  scripted.console().PrintSectionBreak();
  scripted.console().WaitForEnter();
  EXPECT_EQ(scripted.output(), "\n\n\nPress enter to continue");
}

}  // namespace

namespace {

// An exception that escapes a task ends the program with status 1 and a
// line naming what was being read: the note outlives the unwinding that
// removes the task's files.
TEST(TaskConsole, AnEscapedExceptionIsToldWithWhatWasBeingRead) {
  struct Case {
    std::exception_ptr exception;
    std::string note;
    std::string line;
  };
  const Case cases[] = {
      {std::make_exception_ptr(std::bad_alloc()), "places.sqlite > moz_places",
       "The task ran out of memory while reading places.sqlite > moz_places."},
      {std::make_exception_ptr(std::runtime_error("odd")), "History\n",
       "The task failed on an internal error while reading History\\x0A: odd"},
      {std::make_exception_ptr(std::bad_alloc()), "", "The task ran out of memory."},
  };
  for (const Case& c : cases) {
    ScriptedConsole scripted("");
    int status = 0;
    try {
      const ReadingNote outer("an earlier table");
      const ReadingNote reading(c.note);
      std::rethrow_exception(c.exception);
    } catch (...) {
      status = ReportEscapedException(scripted.console(), std::current_exception());
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(scripted.output(), "\n" + c.line + "\n\n") << c.note;
  }
}

}  // namespace
