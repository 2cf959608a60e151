// Every output is one complete file inside the evidence folder: never
// written through a link, never placed outside by a case text, never lost to
// another table's name, never left in part when the program is interrupted.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "support/fixture_database.h"
#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

const std::string kFile = "2008-117 - Harbour Street - ";

TEST(PublishedOutputs, LinksAtOutputNamesAreReplacedAndWhatTheyPointToIsKept) {
  TempFolder parent;
  const std::filesystem::path folder = parent / "evidence";
  std::filesystem::create_directory(folder);
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_favicons VALUES (1, 'f', X'89504E47', 'image/png', 0);"
                        "INSERT INTO moz_places VALUES (1, 'http://a.example/', 'A', '.', 1, 0, 0, 1, 0);"
                        "INSERT INTO moz_historyvisits VALUES (1, 0, 1, 1228580112345678, 1, 1);");
  CreateBrowserDatabase(folder / "cookies.sqlite", "firefox3/cookies.sql");
  WriteFileBytes(parent / "outside.txt", "not the tool's");
  const std::string places = ReadFileBytes(folder / "places.sqlite");
  const std::string cookies = ReadFileBytes(folder / "cookies.sqlite");
  // Symbolic and hard links, to the evidence and to a file outside the folder.
  std::filesystem::create_symlink("places.sqlite", folder / (kFile + "cookies.sqlite moz_cookies.csv"));
  std::filesystem::create_hard_link(folder / "cookies.sqlite", folder / (kFile + "places.sqlite moz_places.csv"));
  std::filesystem::create_symlink(parent / "outside.txt", folder / (kFile + "Internet Usage.csv"));
  std::filesystem::create_hard_link(parent / "outside.txt", folder / (kFile + "Internet Usage.html"));
  // Wine will not rename over a Unix link whose file the run has open, as
  // places.sqlite is while its favicons are written; Windows renames the
  // link itself.
  std::filesystem::create_symlink(RunsUnderWine() ? "cookies.sqlite" : "places.sqlite", folder / "favicon_1.png");

  SkvRun run = RunAnswers(folder, "A\n\nC\n\nD\ny\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(ReadFileBytes(folder / "places.sqlite") == places) << "the evidence was written through a link";
  EXPECT_TRUE(ReadFileBytes(folder / "cookies.sqlite") == cookies) << "the evidence was written through a link";
  EXPECT_EQ(ReadFileBytes(parent / "outside.txt"), "not the tool's");
  for (const std::string& name : {kFile + "cookies.sqlite moz_cookies.csv", kFile + "places.sqlite moz_places.csv",
                                  kFile + "Internet Usage.csv", kFile + "Internet Usage.html",
                                  std::string("favicon_1.png")}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(folder / name))) << name;
    EXPECT_EQ(std::filesystem::hard_link_count(folder / name), 1u) << name;
  }
  EXPECT_TRUE(ReadFileBytes(folder / (kFile + "places.sqlite moz_places.csv")).starts_with("\"id\",\"url\","));
  EXPECT_EQ(ReadFileBytes(folder / "favicon_1.png"), "\x89PNG");
}

TEST(PublishedOutputs, CaseTextsKeepEveryTableInAFileOfItsOwnInsideTheFolder) {
  TempFolder parent;
  const std::filesystem::path folder = parent / "evidence";
  std::filesystem::create_directory(folder);
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  const std::size_t tables = 11;
  struct Case {
    std::string reference, name;
  };
  const Case cases[] = {
      {"../x", "n"},
      {"/tmp", "n"},
      {"2008/117", "n"},
      {std::string("places.sqlite\0", 14), std::string("n\0", 2)},  // a NUL typed in the answer
      {"r\r", "n\r"},  // a script written with CR LF line ends
      {std::string(120, 'r'), std::string(120, 'n')},
  };
  for (const Case& c : cases) {
    SkvRun run = RunSkv(folder, "E\n0\n" + c.reference + "\n" + c.name + "\nJ\nA\n\nC\n\nX\n");
    EXPECT_EQ(run.exitStatus, 0) << c.reference;
    EXPECT_EQ(run.transcript.find("Error"), std::string::npos) << run.transcript;
    EXPECT_EQ(FileNames(parent.path()), std::set<std::string>{"evidence"}) << "written outside the folder";
    const std::set<std::string> files = FileNames(folder);
    EXPECT_EQ(files.size(), 1 + tables + 1) << c.reference;
    for (const std::string& name : files) {
      if (name != "places.sqlite") std::filesystem::remove(folder / name);
    }
  }
}

TEST(PublishedOutputs, TablesWhoseNamesCollideEachGetAFileAndTheConsoleSaysWhich) {
  TempFolder folder;
  std::string sql;
  for (const std::string& table : {std::string("a/b"), std::string("a\\b"), std::string("a_b"), std::string(240, 'x') + "1", std::string(240, 'x') + "2"}) {
    sql += "CREATE TABLE \"" + table + "\" (v); INSERT INTO \"" + table + "\" VALUES ('" + table + "');";
  }
  ExecuteSql(folder / "History", sql);
  std::filesystem::create_directory(folder / (kFile + "History d.csv"));
  ExecuteSql(folder / "History", "CREATE TABLE d (v); INSERT INTO d VALUES ('d');");
  SkvRun run = RunAnswers(folder.path(), "F\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  const std::string longName = kFile + "History " + std::string(255 - 36 - 4, 'x');
  const std::string longRenamed = kFile + "History " + std::string(255 - 36 - 8, 'x') + " (2).csv";
  EXPECT_NE(run.transcript.find("  Processing History > a/b\n"
                                "  Processing History > a\\b\n"
                                "  Written as " + kFile + "History a_b (2).csv\n"
                                "  Processing History > a_b\n"
                                "  Written as " + kFile + "History a_b (3).csv\n"
                                "  Processing History > d\n"
                                "  Written as " + kFile + "History d (2).csv\n"),
            std::string::npos)
      << run.transcript;
  EXPECT_NE(run.transcript.find("2\n  Written as " + longRenamed + "\n"), std::string::npos) << run.transcript;
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "History a_b.csv")), "\"v\",\r\n\"a/b\",\r\n");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "History a_b (2).csv")), "\"v\",\r\n\"a\\b\",\r\n");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "History a_b (3).csv")), "\"v\",\r\n\"a_b\",\r\n");
  EXPECT_EQ(ReadFileBytes(folder / (kFile + "History d (2).csv")), "\"v\",\r\n\"d\",\r\n");
  EXPECT_TRUE(ReadFileBytes(folder / (longName + ".csv")).ends_with("1\",\r\n"));
  EXPECT_TRUE(ReadFileBytes(folder / longRenamed).ends_with("2\",\r\n"));
  EXPECT_TRUE(std::filesystem::is_empty(folder / (kFile + "History d.csv"))) << "the folder was touched";

  // The usage report too, when a folder holds its name.
  std::filesystem::create_directory(folder / (kFile + "Internet Usage.csv"));
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  run = RunAnswers(folder.path(), "C\n\n");
  EXPECT_NE(run.transcript.find("\n0 rows exported\nWritten as " + kFile + "Internet Usage (2).csv\n\nPress enter"),
            std::string::npos)
      << run.transcript;
  EXPECT_TRUE(std::filesystem::is_regular_file(folder / (kFile + "Internet Usage (2).csv")));
}

TEST(PublishedOutputs, AnInterruptedTaskLeavesNeitherAPartialOutputNorACopyOfTheEvidence) {
  SKIP_UNDER_WINE("signals are POSIX's; console events are tested apart");
  TempFolder folder;
  CreateHistoryToInterrupt(folder / "places.sqlite");
  const std::set<std::string> evidence = FileNames(folder.path());
  TempFolder temporary;
  SkvOptions options;
  options.temporaryFolder = temporary.path();
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGXCPU}) {
    StartedSkv skv(folder.path(), StandardSettingsInput() + "D\nn\n\nX\n", options);
    ASSERT_TRUE(skv.AwaitTranscript("Processing...")) << "the report never began";
    ::kill(skv.pid(), signal);
    SkvRun run = skv.Wait();
    EXPECT_EQ(run.exitStatus, 128 + signal) << run.transcript;
    EXPECT_EQ(FileNames(folder.path()), evidence) << "an output was left, whole or in part";
    EXPECT_TRUE(std::filesystem::is_empty(temporary.path())) << "a copy of the evidence was left behind";
  }
}

}  // namespace

namespace {

// The id of a process that has ended.
pid_t EndedProcessId() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

// What a run with the given process id leaves when it is killed (SIGKILL, a
// power cut): a private copy in the temporary folder and a named temporary
// output in the evidence folder.
void LeaveLeftoversOf(pid_t pid, const std::filesystem::path& folder, const std::filesystem::path& temporary) {
  const std::filesystem::path copy = temporary / ("skv-" + std::to_string(pid) + "-a1B2c3");
  std::filesystem::create_directory(copy);
  WriteFileBytes(copy / "evidence.db", "SQLite format 3");
  WriteFileBytes(copy / "evidence.db-wal", "wal");
  WriteFileBytes(folder / (".skv-" + std::to_string(pid) + "-7.part"), "Visit Date,URL");
}

}  // namespace

// A process that holds the run's locks on the given files and folders, as
// a live run holds them on its private copy and its unfinished output:
// running until killed.
pid_t HoldLocksOn(const std::vector<std::filesystem::path>& paths) {
  const pid_t child = ::fork();
  if (child == 0) {
    for (const std::filesystem::path& path : paths) {
      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) ::_exit(1);
    }
    ::pause();
    ::_exit(0);
  }
  return child;
}

TEST(PublishedOutputs, WhatKilledRunsLeftIsRemovedAtTheNextStartAndNothingElse) {
  SKIP_UNDER_WINE("flock is POSIX's; Windows' locks are tested apart");
  TempFolder folder;
  TempFolder temporary;
  const pid_t ended = EndedProcessId();
  // A run that still runs, in another pid namespace (a container sharing
  // the temporary folder): its process id names no process here, but it
  // holds the locks of its copy and its output.
  const pid_t elsewhere = EndedProcessId();
  LeaveLeftoversOf(ended, folder.path(), temporary.path());
  LeaveLeftoversOf(elsewhere, folder.path(), temporary.path());
  const std::string liveCopy = "skv-" + std::to_string(elsewhere) + "-a1B2c3";
  const std::string liveOutput = ".skv-" + std::to_string(elsewhere) + "-7.part";
  const pid_t running = HoldLocksOn({temporary / liveCopy, folder / liveOutput});
  ASSERT_GT(running, 0);
  // Named like a leftover, but holding what a copy never holds; and names of
  // others.
  const std::string foreign = "skv-" + std::to_string(ended) + "-zzzzzz";
  std::filesystem::create_directory(temporary / foreign);
  WriteFileBytes(temporary / foreign / "notes.txt", "");
  WriteFileBytes(folder / ".skv-notes.part", "");
  WriteFileBytes(folder / ("skv-" + std::to_string(ended) + "-1.part"), "");

  const auto before = [&] { return std::make_pair(FileNames(folder.path()), FileNames(temporary.path())); }();
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "X\n", {.temporaryFolder = temporary.path()});
  ::kill(running, SIGKILL);
  ::waitpid(running, nullptr, 0);

  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript, StartTranscript() + "Removed 2 leftovers of earlier runs that were killed.\n\n" +
                                StandardSettingsTranscript() + MenuTranscript());
  std::set<std::string> expectedFolder = before.first;
  expectedFolder.erase(".skv-" + std::to_string(ended) + "-7.part");
  std::set<std::string> expectedTemporary = before.second;
  expectedTemporary.erase("skv-" + std::to_string(ended) + "-a1B2c3");
  EXPECT_EQ(FileNames(folder.path()), expectedFolder);
  EXPECT_EQ(FileNames(temporary.path()), expectedTemporary);
  EXPECT_EQ(FileNames(temporary / foreign), std::set<std::string>{"notes.txt"});

  // Once that run has ended too, its leftovers go.
  run = RunSkv(folder.path(), StandardSettingsInput() + "X\n", {.temporaryFolder = temporary.path()});
  EXPECT_NE(run.transcript.find("\nRemoved 2 leftovers of earlier runs that were killed.\n"), std::string::npos);
  EXPECT_EQ(FileNames(folder.path()),
            (std::set<std::string>{".skv-notes.part", "skv-" + std::to_string(ended) + "-1.part"}));
  EXPECT_EQ(FileNames(temporary.path()), std::set<std::string>{foreign});
}
