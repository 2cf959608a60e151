// The console dialogue of whole runs of the built binary: banner, settings,
// menu, help and decoder, compared byte for byte.

#include <gtest/gtest.h>

#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

const std::string kBreak = "\n\n\n";

std::string Session(const std::string& menuAnswers) { return StandardSettingsInput() + menuAnswers; }

std::string Opening() { return OpeningTranscript(); }

SkvRun RunInFreshFolder(const std::string& input) {
  TempFolder folder;
  SkvRun run = RunSkv(folder.path(), input);
  EXPECT_EQ(run.errors, "") << "nothing may be written to standard error";
  return run;
}

TEST(ConsoleSession, StartUpThroughTheFirstMenuThenExit) {
  SkvRun run = RunInFreshFolder(Session("X\n"));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript, Opening());
}

TEST(ConsoleSession, LowerCaseXExitsToo) {
  SkvRun run = RunInFreshFolder(Session("x\n"));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript, Opening());
}

TEST(ConsoleSession, LinesThatMatchNoRowRedrawTheMenu) {
  for (const char* line : {"", "ab", " a", "a ", "Y", "N", "1", "x ", "XX"}) {
    SkvRun run = RunInFreshFolder(Session(std::string(line) + "\nX\n"));
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.transcript, Opening() + kBreak + MenuTranscript()) << "line '" << line << "'";
  }
}

TEST(ConsoleSession, EndOfInputAtTheMenuEndsWithStatusZero) {
  SkvRun run = RunInFreshFolder(Session(""));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript, Opening());
}

TEST(ConsoleSession, EndOfInputDuringTheSettingsEndsAtOnce) {
  SkvRun run = RunInFreshFolder("E\n\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript, StartTranscript() +
                                "English or American date format? [E/A] \n"
                                "UTC offset in minutes decimal, i.e. 0, 360, -90: ");
  EXPECT_EQ(RunInFreshFolder("").transcript, StartTranscript() + "English or American date format? [E/A] ");
}

TEST(ConsoleSession, ResetAsksEverySettingAgainBelowTheMenuPrompt) {
  SkvRun run = RunInFreshFolder(Session("R\nA\n90\nref2\nname2\nwho2\nx\n"));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript, Opening() + StandardSettingsTranscript() + kBreak + MenuTranscript());
}

// The offset answer, then what the decoder shows for 1228580112345678.
struct OffsetCase {
  const char* typed;
  const char* decoded;
};

TEST(ConsoleSession, OffsetAnswersShowInTheDecodedDates) {
  const OffsetCase cases[] = {
      {"360\n", "06/12/2008 22:15:12"},     {"-90\n", "06/12/2008 14:45:12"},
      {"5.5\n", "06/12/2008 16:20:42"},     {"1e2\n", "06/12/2008 17:55:12"},
      {"+30\n", "06/12/2008 16:45:12"},     {"360 abc\n", "06/12/2008 22:15:12"},
      {"1,5\n", "06/12/2008 16:16:12"},     {"letters\n", "06/12/2008 16:15:12"},
      {"\n\n  \n60\n", "06/12/2008 17:15:12"},
  };
  for (const OffsetCase& c : cases) {
    SkvRun run = RunInFreshFolder(std::string("E\n") + c.typed + "r\nn\ni\nE\n1228580112345678\nn\nx\n");
    EXPECT_EQ(run.exitStatus, 0);
    const std::string expected = std::string("1228580112345678 = ") + c.decoded + "\n\nDecode another?";
    EXPECT_NE(run.transcript.find(expected), std::string::npos) << "offset typed as '" << c.typed << "'";
    // Whatever was typed, the prompt is written once and followed by one line break.
    EXPECT_NE(run.transcript.find("-90: \nCase Reference: "), std::string::npos) << c.typed;
  }
}

TEST(ConsoleSession, OffsetThatIsNoNumberKeepsTheValueOfTheEarlierAsking) {
  SkvRun run = RunInFreshFolder("E\n-90\nr\nn\ni\nR\nE\neast\nr\nn\ni\nE\n1228580112345678\nn\nx\n");
  EXPECT_NE(run.transcript.find("1228580112345678 = 06/12/2008 14:45:12"), std::string::npos);
}

TEST(ConsoleSession, DecoderShowsGoodAndBadValuesUntilNOrCapitalN) {
  SkvRun run = RunInFreshFolder(Session("E\n1228580112345678\ny\n\nno\n 22858011234567\nN\ne\n12285801123456789\nn\nX\n"));
  EXPECT_EQ(run.exitStatus, 0);
  const std::string pass = "\n\nPRtime to decode: ";
  const std::string ask = "\n\nDecode another? [Y] : ";
  EXPECT_EQ(run.transcript,
            Opening() + kBreak +                                                      //
                pass + "\n1228580112345678 = 06/12/2008 16:15:12" + ask +             // y
                pass + "\n is not a correctly formated PRtime.\nShould be 16 digit integer." + ask +  // no
                pass + "\n 22858011234567 is not a correctly formated PRtime.\nShould be 16 digit integer." +
                ask +  // N
                kBreak + MenuTranscript() + kBreak +  //
                pass + "\n12285801123456789 is not a correctly formated PRtime.\nShould be 16 digit integer." +
                ask + kBreak + MenuTranscript());
}

TEST(ConsoleSession, DecoderKeepsALeadingBlankInTheEcho) {
  SkvRun run = RunInFreshFolder(Session("E\n 228580112345678\nn\nx\n"));
  EXPECT_NE(run.transcript.find("\n 228580112345678 = 30/03/1977 14:28:32\n"), std::string::npos);
}

TEST(ConsoleSession, DecoderUsesTheAmericanFormatOnceChosen) {
  SkvRun run = RunInFreshFolder("a\n0\nr\nn\ni\nE\n1228580112345678\nn\nx\n");
  EXPECT_NE(run.transcript.find("1228580112345678 = 12/06/2008 16:15:12"), std::string::npos);
}

TEST(ConsoleSession, EndOfInputInTheDecoderEndsWithStatusZero) {
  SkvRun value = RunInFreshFolder(Session("E\n"));
  EXPECT_EQ(value.exitStatus, 0);
  EXPECT_EQ(value.transcript, Opening() + kBreak + "\n\nPRtime to decode: ");
  SkvRun answer = RunInFreshFolder(Session("E\n1228580112345678\n"));
  EXPECT_EQ(answer.exitStatus, 0);
  EXPECT_TRUE(answer.transcript.ends_with("\n\nDecode another? [Y] : "));
}

TEST(ConsoleSession, HelpScreenWithItsBreaksAndPause) {
  SkvRun run = RunInFreshFolder(Session("H\nwhatever is typed\nx\n"));
  EXPECT_EQ(run.exitStatus, 0);
  const std::string& t = run.transcript;
  const std::string opening = Opening() + kBreak +
                              "This application examines the directory from which it was run for the standard\n";
  ASSERT_TRUE(t.starts_with(opening));
  const std::string closing =
      "Where <profile folder> takes the form of ????????.default\n"
      "\n"
      "CHROME\n"
      "\n"
      "Windows XP\n"
      "\n"
      "C:\\Documents and Settings\\<user>\\Local Settings\\Application Data\\Google\\Chrome\\User Data\\Default\\\n"
      "\n"
      "Press enter to continue" +
      kBreak + kBreak + MenuTranscript();
  EXPECT_TRUE(t.ends_with(closing));
  EXPECT_NE(t.find("\nFIREFOX                      CHROME\n\n"
                   "content-prefs.sqlite         Archived History\n"
                   "cookies.sqlite               Cookies\n"
                   "downloads.sqlite             History\n"
                   "formhistory.sqlite           Thumbnails\n"
                   "permissions.sqlite           Web Data\n"
                   "places.sqlite\nsearch.sqlite\nurlclassifier2.sqlite\nwebappsstore.sqlite\n\n"),
            std::string::npos);
  EXPECT_NE(t.find("\nC:\\Users\\<user>\\AppData\\Roaming\\Mozilla\\Firefox\\Profiles\\<profile folder>\\\n\n\n"),
            std::string::npos);
  EXPECT_NE(t.find("scrivlet@example.org.\n\nThis software is offered"), std::string::npos);
}

TEST(ConsoleSession, HelpProseLinesStayUnderEightyCharacters) {
  SkvRun run = RunInFreshFolder(Session("H\n\nx\n"));
  const std::string& t = run.transcript;
  const std::size_t begin = t.find("This application examines");
  const std::size_t end = t.find("STANDARD SQLite DATABASE LOCATIONS");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  std::size_t lines = 0;
  for (std::size_t at = begin; at < end;) {
    std::size_t lineEnd = t.find('\n', at);
    EXPECT_LE(lineEnd - at, 79u) << t.substr(at, lineEnd - at);
    at = lineEnd + 1;
    ++lines;
  }
  EXPECT_EQ(lines, 53u);  // the help text's lines 1 to 53, the recovery and Chrome report paragraphs included
  EXPECT_NE(t.find("or part of one. The\nvisits found are also listed in the Recovered Internet Usage report, oldest\n"),
            std::string::npos);
}

}  // namespace
