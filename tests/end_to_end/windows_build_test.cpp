// What only the Windows build shows: skv.exe under Wine, with a second
// Windows program (tests/windows/windows_helper.cpp) that holds files as a
// browser or a live run holds them, or sends a console event. Skipped
// unless SKV_WINDOWS_EXE names skv.exe (`make test-windows`).

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/fixture_database.h"
#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

const std::string kFile = "2008-117 - Harbour Street - ";

std::string Helper() {
  return (std::filesystem::path(WindowsBuildUnderTest()).parent_path() / "tests" / "windows_helper.exe").string();
}

// Runs the helper under Wine in folder, with the temporary folder given:
// what it writes, once it is done or, with holding, once it says "ready"
// (it then runs until Release).
class HelperRun {
 public:
  HelperRun(const std::filesystem::path& folder, const std::filesystem::path& temporary,
            const std::vector<std::string>& arguments) {
    int input[2];
    int output[2];
    if (::pipe(input) != 0 || ::pipe(output) != 0) throw std::runtime_error("pipe failed");
    child_ = ::fork();
    if (child_ == 0) {
      ::dup2(input[0], 0);
      ::dup2(output[1], 1);
      ::close(input[1]);
      ::close(output[0]);
      if (::chdir(folder.c_str()) != 0) ::_exit(127);
      std::string command = WithWindowsTemporaryFolder(temporary, WindowsPath(Helper()));
      // None of the arguments holds a blank.
      for (const std::string& argument : arguments) command += " " + argument;
      ::execlp("wine", "wine", "cmd", "/c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    output_ = output[0];
  }
  ~HelperRun() { Release(); }

  // What the helper writes up to its first line end.
  std::string FirstLine() {
    std::string line;
    char c = 0;
    while (::read(output_, &c, 1) == 1 && c != '\n') {
      if (c != '\r') line += c;
    }
    return line;
  }

  void Release() {
    if (child_ <= 0) return;
    ::close(input_);
    ::close(output_);
    ::waitpid(child_, nullptr, 0);
    child_ = -1;
  }

 private:
  pid_t child_ = -1;
  int input_ = -1;
  int output_ = -1;
};

TEST(WindowsBuild, CaseTextsWithCharactersWindowsForbidsNameFilesOfTheirOwn) {
  if (!RunsUnderWine()) GTEST_SKIP() << "no skv.exe under test";
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  // A colon would write into a stream of a file named "2008"; a trailing dot
  // or blank of a case text is followed by the rest of the name.
  SkvRun run = RunSkv(folder.path(), "E\n0\n2008:117\nA|B? \"C\"* <D>.\nJ Examiner\nC\n\nX\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(FileNames(folder.path()),
            (std::set<std::string>{"places.sqlite", "2008_117 - A_B_ _C__ _D_. - Internet Usage.csv"}));
}

TEST(WindowsBuild, AFileHeldWithoutSharingIsSaidSoAndNotWaitedFor) {
  if (!RunsUnderWine()) GTEST_SKIP() << "no skv.exe under test";
  TempFolder folder;
  TempFolder temporary;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  CreateBrowserDatabase(folder / "cookies.sqlite", "firefox3/cookies.sql");
  HelperRun browser(folder.path(), temporary.path(), {"hold", "places.sqlite"});
  ASSERT_EQ(browser.FirstLine(), "ready");
  const auto start = std::chrono::steady_clock::now();
  SkvRun run = RunAnswers(folder.path(), "A\n\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_NE(run.transcript.find("Database cookies.sqlite found.\n  Processing cookies.sqlite > moz_cookies\n"),
            std::string::npos)
      << run.transcript;
  EXPECT_NE(run.transcript.find("Database places.sqlite found.\n  Could not read places.sqlite: Sharing violation.\n"),
            std::string::npos)
      << run.transcript;
}

TEST(WindowsBuild, CtrlCDuringATaskLeavesNeitherAPartialOutputNorACopyOfTheEvidence) {
  if (!RunsUnderWine()) GTEST_SKIP() << "no skv.exe under test";
  TempFolder folder;
  TempFolder temporary;
  TempFolder streams;
  CreateHistoryToInterrupt(folder / "places.sqlite");
  const std::set<std::string> evidence = FileNames(folder.path());
  WriteFileBytes(streams / "input", StandardSettingsInput() + "D\nn\n\nX\n");
  HelperRun console(folder.path(), temporary.path(),
                    {"event", "c", "Processing...", WindowsPath(streams / "input"), WindowsPath(streams / "output"),
                     WindowsPath(WindowsBuildUnderTest())});
  // As a Windows program that Ctrl+C ends.
  EXPECT_EQ(console.FirstLine(), "C000013A") << ReadFileBytes(streams / "output");
  console.Release();
  EXPECT_EQ(FileNames(folder.path()), evidence) << "an output was left, whole or in part";
  EXPECT_TRUE(std::filesystem::is_empty(temporary.path())) << "a copy of the evidence was left behind";
}

TEST(WindowsBuild, WhatKilledRunsLeftIsRemovedAtTheNextStartAndNothingElse) {
  if (!RunsUnderWine()) GTEST_SKIP() << "no skv.exe under test";
  TempFolder folder;
  TempFolder temporary;
  // Two runs' leftovers, as a killed run leaves them: the private copy's
  // folder with its lock file, and an unfinished output.
  for (const std::string run : {"901", "902"}) {
    const std::filesystem::path copy = temporary / ("skv-" + run + "-1234");
    std::filesystem::create_directory(copy);
    for (const char* name : {"run.lock", "evidence.db", "evidence.db-wal"}) WriteFileBytes(copy / name, "x");
    WriteFileBytes(folder / (".skv-" + run + "-7.part"), "Visit Date,URL");
  }
  // Named like leftovers, but a folder that holds what a copy never holds,
  // and a link to the evidence; and a name of another's.
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  const std::string places = ReadFileBytes(folder / "places.sqlite");
  std::filesystem::create_directory(temporary / "skv-903-zzzz");
  WriteFileBytes(temporary / "skv-903-zzzz" / "notes.txt", "");
  std::filesystem::create_symlink("places.sqlite", folder / ".skv-903-8.part");
  WriteFileBytes(folder / ".skv-notes.part", "");
  {
    // Run 902 still runs: it holds the locks of its copy and its output.
    HelperRun live(folder.path(), temporary.path(),
                   {"lock", WindowsPath(temporary / "skv-902-1234" / "run.lock"), ".skv-902-7.part"});
    ASSERT_EQ(live.FirstLine(), "ready");
    SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "X\n", {.temporaryFolder = temporary.path()});
    EXPECT_EQ(run.transcript, StartTranscript() + "Removed 2 leftovers of earlier runs that were killed.\n\n" +
                                  StandardSettingsTranscript() + MenuTranscript());
    EXPECT_EQ(FileNames(temporary.path()), (std::set<std::string>{"skv-902-1234", "skv-903-zzzz"}));
    EXPECT_EQ(FileNames(folder.path()),
              (std::set<std::string>{"places.sqlite", ".skv-902-7.part", ".skv-903-8.part", ".skv-notes.part"}));
  }
  // Once that run has ended too, its leftovers go; the evidence stays whole.
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "X\n", {.temporaryFolder = temporary.path()});
  EXPECT_NE(run.transcript.find("\nRemoved 2 leftovers of earlier runs that were killed.\n"), std::string::npos);
  EXPECT_EQ(FileNames(temporary.path()), std::set<std::string>{"skv-903-zzzz"});
  EXPECT_EQ(FileNames(folder.path()), (std::set<std::string>{"places.sqlite", ".skv-903-8.part", ".skv-notes.part"}));
  EXPECT_TRUE(ReadFileBytes(folder / "places.sqlite") == places) << "the evidence was removed through a link";
}

}  // namespace
