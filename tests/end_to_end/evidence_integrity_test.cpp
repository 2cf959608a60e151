// The evidence folder after every task: no input file changed by a single
// byte, nothing added but the task's own outputs, and the rows of a WAL or a
// hot journal read from a private copy.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "support/fixture_database.h"
#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

using Snapshot = std::map<std::string, std::string>;  // file name to bytes

Snapshot TakeSnapshot(const std::filesystem::path& folder) {
  Snapshot files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadFileBytes(entry.path());
  }
  return files;
}

bool IsOutputName(const std::string& name) {
  return name.starts_with("2008-117 - Harbour Street - ") || name.starts_with("favicon_");
}

void CopyInto(const std::filesystem::path& from, const std::filesystem::path& folder) {
  std::filesystem::copy_file(from, folder / from.filename());
}

// Copies into folder a places.sqlite with its hot journal, as a browser that
// crashed in the middle of a transaction leaves them: the change, already
// spilled to the database file, rolled back by the journal. moz_places holds
// one committed row; the uncommitted change also filled the table filler.
void CopyWithHotJournal(const std::filesystem::path& staging, const std::filesystem::path& folder) {
  OpenConnection writer(staging / "places.sqlite");
  writer.Run("PRAGMA journal_mode=DELETE; PRAGMA cache_size=5;"
             "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url);"
             "INSERT INTO moz_places (url) VALUES ('http://committed.example/');"
             "CREATE TABLE filler (b);");
  writer.Run("BEGIN; UPDATE moz_places SET url = 'uncommitted';"
             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
             "INSERT INTO filler SELECT randomblob(1000) FROM n;");
  ASSERT_TRUE(std::filesystem::exists(staging / "places.sqlite-journal"));
  for (const char* name : {"places.sqlite", "places.sqlite-journal"}) CopyInto(staging / name, folder);
  writer.Run("ROLLBACK;");
}

// Copies into folder a WAL-mode database with its -wal and -shm, as taken
// while the browser still ran: table holds the row 'old', checkpointed, and
// the row 'newest', in the -wal only.
void CopyWithNewestRowInWal(const std::filesystem::path& staging, const std::filesystem::path& folder,
                            const std::string& file, const std::string& table) {
  OpenConnection writer(staging / file);
  writer.Run("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
             "CREATE TABLE " + table + " (name); INSERT INTO " + table + " VALUES ('old');"
             "PRAGMA wal_checkpoint(TRUNCATE);"
             "INSERT INTO " + table + " VALUES ('newest');");
  for (const char* suffix : {"", "-wal", "-shm"}) CopyInto(staging / (file + suffix), folder);
}

TEST(EvidenceIntegrity, NoTaskChangesOrAddsAnyFileButItsOutputs) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/firefox-esr", folder.path());
  CopyTestDataFolder("real-profiles/chromium", folder.path());
  CreateBrowserDatabase(folder / "downloads.sqlite", "firefox3/downloads.sql");
  CreateBrowserDatabase(folder / "Archived History", "chrome/archived_history.sql");
  TempFolder temporary;
  for (const char* answers : {"A\n\n", "B\n\n", "C\n\n", "D\ny\n\n", "F\n\n", "G\n\n", "I\n\n", "J\n\n"}) {
    const Snapshot before = TakeSnapshot(folder.path());
    SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + answers + "X\n", {.temporaryFolder = temporary.path()});
    EXPECT_EQ(run.exitStatus, 0) << answers;
    const Snapshot after = TakeSnapshot(folder.path());
    for (const auto& [name, bytes] : before) {
      if (IsOutputName(name)) continue;
      ASSERT_TRUE(after.contains(name)) << name << " vanished in task " << answers;
      EXPECT_TRUE(after.at(name) == bytes) << name << " changed in task " << answers;
    }
    for (const auto& [name, bytes] : after) {
      EXPECT_TRUE(before.contains(name) || IsOutputName(name)) << name << " was added by task " << answers;
    }
    EXPECT_TRUE(std::filesystem::is_empty(temporary.path())) << "a private copy was left behind";
  }
}

TEST(EvidenceIntegrity, RowsThatStandOnlyInTheWalAreExported) {
  TempFolder staging;
  TempFolder folder;
  CopyWithNewestRowInWal(staging.path(), folder.path(), "Cookies", "cookies");
  const Snapshot before = TakeSnapshot(folder.path());
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "F\n\nX\n");
  EXPECT_EQ(run.transcript.find("Could not"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(folder / "2008-117 - Harbour Street - Cookies cookies.csv"),
            "\"name\",\r\n\"old\",\r\n\"newest\",\r\n");
  Snapshot after = TakeSnapshot(folder.path());
  after.erase("2008-117 - Harbour Street - Cookies cookies.csv");
  EXPECT_TRUE(after == before) << "the database, its -wal or its -shm changed";
}

TEST(EvidenceIntegrity, DatabaseWithAHotJournalIsReadInItsCommittedState) {
  TempFolder staging;
  TempFolder folder;
  CopyWithHotJournal(staging.path(), folder.path());
  const Snapshot before = TakeSnapshot(folder.path());
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "A\n\nX\n");
  EXPECT_EQ(run.transcript.find("Could not"), std::string::npos) << run.transcript;
  EXPECT_EQ(ReadFileBytes(folder / "2008-117 - Harbour Street - places.sqlite moz_places.csv"),
            "\"id\",\"url\",\r\n\"1\",\"http://committed.example/\",\r\n");
  EXPECT_EQ(ReadFileBytes(folder / "2008-117 - Harbour Street - places.sqlite filler.csv"), "");
  Snapshot after = TakeSnapshot(folder.path());
  for (const auto& [name, bytes] : before) EXPECT_TRUE(after[name] == bytes) << name << " changed";
}

TEST(EvidenceIntegrity, DatabaseThatCannotBeCopiedIsSaidSoWithTheRealReasonAndLeftAlone) {
  TempFolder staging;
  TempFolder folder;
  {
    OpenConnection writer(staging / "Cookies");
    writer.Run("PRAGMA journal_mode=WAL; CREATE TABLE cookies (name); INSERT INTO cookies VALUES ('a');");
    for (const char* name : {"Cookies", "Cookies-wal"}) CopyInto(staging / name, folder.path());
  }
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  ExecuteSql(folder / "places.sqlite", "PRAGMA journal_mode=WAL;");
  WriteFileBytes(staging / "a file", "");
  struct Case {
    std::filesystem::path temporaryFolder;
    std::string reason;
  };
  for (const Case& c : {Case{staging / "no such folder", "No such file or directory"},
                        Case{staging / "a file", "Not a directory"}}) {
    const Snapshot before = TakeSnapshot(folder.path());
    SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "F\n\nC\n\nX\n",
                        {.output = StandardOutput::kFile, .temporaryFolder = c.temporaryFolder.string()});
    EXPECT_EQ(run.exitStatus, 0);
    const std::string shown = RunsUnderWine() ? WindowsPath(c.temporaryFolder) : c.temporaryFolder.string();
    const std::string why = " from a private copy: cannot make one in the temporary folder " + shown + ": " +
                            SystemReason(c.reason, "Path not found.") + "\n";
    EXPECT_NE(run.transcript.find("Database Cookies found.\n  Could not read Cookies" + why), std::string::npos)
        << run.transcript;
    // No count of rows that were never read.
    EXPECT_NE(run.transcript.find("Database places.sqlite found.\n  Could not read places.sqlite" + why +
                                  "\nPress enter to continue"),
              std::string::npos)
        << run.transcript;
    EXPECT_TRUE(TakeSnapshot(folder.path()) == before) << "a file was changed or added";
  }
}

// A WAL database and a hot-journal database read whole: write-protected
// evidence read by an ordinary user, and evidence reached through links to
// another folder (a mounted image), whose sidecars lie beside the files the
// links lead to.
TEST(EvidenceIntegrity, EvidenceIsReadWithItsSidecarsWhateverItsModesAndLinks) {
  for (const bool linked : {false, true}) {
    // File modes and users are POSIX's.
    if (!linked && RunsUnderWine()) continue;
    TempFolder staging;
    TempFolder image;
    TempFolder folder;
    TempFolder temporary;
    const std::filesystem::path& evidence = linked ? image.path() : folder.path();
    CopyWithHotJournal(staging.path(), evidence);
    CopyWithNewestRowInWal(staging.path(), evidence, "cookies.sqlite", "moz_cookies");
    SkvOptions options;
    if (linked) {
      for (const char* name : {"places.sqlite", "cookies.sqlite"}) {
        std::filesystem::create_symlink(image / name, folder / name);
      }
    } else {
      for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms(0444));
      }
      std::filesystem::permissions(folder.path(), std::filesystem::perms(0777));
      std::filesystem::permissions(temporary.path(), std::filesystem::perms(0777));
      options = AsUnprivilegedUser();
    }
    options.temporaryFolder = temporary.path();
    const Snapshot before = TakeSnapshot(evidence);
    SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "A\n\nX\n", options);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.transcript.find("Could not"), std::string::npos) << run.transcript;
    EXPECT_EQ(ReadFileBytes(folder / "2008-117 - Harbour Street - places.sqlite moz_places.csv"),
              "\"id\",\"url\",\r\n\"1\",\"http://committed.example/\",\r\n")
        << linked;
    EXPECT_EQ(ReadFileBytes(folder / "2008-117 - Harbour Street - places.sqlite filler.csv"), "");
    EXPECT_EQ(ReadFileBytes(folder / "2008-117 - Harbour Street - cookies.sqlite moz_cookies.csv"),
              "\"name\",\r\n\"old\",\r\n\"newest\",\r\n")
        << linked;
    const Snapshot after = TakeSnapshot(evidence);
    for (const auto& [name, bytes] : before) EXPECT_TRUE(after.at(name) == bytes) << name << " changed";
    EXPECT_TRUE(std::filesystem::is_empty(temporary.path())) << "a private copy was left behind";
  }
}

// On a file system that updates the access time at every read (strictatime),
// no task changes the access time of any evidence file: the recovery, which
// reads the files itself, neither.
TEST(EvidenceIntegrity, NoTaskChangesTheAccessTimeOfTheEvidence) {
  // Wine reads every file through a Unix descriptor opened without
  // O_NOATIME, and keeps no access time of its own for SetFileTime's request
  // to hold: what skv.exe asks of Windows cannot be seen here.
  SKIP_UNDER_WINE("Wine cannot keep an access time");
  const MountedTmpfs mountPoint(MS_STRICTATIME, "size=64m");
  if (!mountPoint.mounted()) GTEST_SKIP() << "no strictatime tmpfs can be mounted here: " << mountPoint.error();
  const std::filesystem::path folder = mountPoint / "evidence";
  std::filesystem::create_directory(folder);
  CopyTestDataFolder("real-profiles/firefox-esr", folder);
  CopyTestDataFolder("real-profiles/chromium", folder);
  CopyWithNewestRowInWal(mountPoint.path(), folder, "downloads.sqlite", "moz_downloads");
  auto accessTimes = [&folder] {
    std::map<std::string, std::pair<long, long>> times;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      struct stat status {};
      ::lstat(entry.path().c_str(), &status);
      if (!IsOutputName(entry.path().filename().string())) {
        times[entry.path().filename().string()] = {status.st_atim.tv_sec, status.st_atim.tv_nsec};
      }
    }
    return times;
  };
  // Past the clock tick of the copies, so that a read would show.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto before = accessTimes();
  for (const char* answers : {"A\n\n", "C\n\n", "D\ny\n\n", "F\n\n", "I\n\n", "J\n\n"}) {
    SkvRun run = RunSkv(folder, StandardSettingsInput() + answers + "X\n");
    EXPECT_EQ(run.exitStatus, 0) << answers;
    EXPECT_EQ(run.transcript.find("access time"), std::string::npos) << run.transcript;
    EXPECT_EQ(accessTimes(), before) << "task " << answers;
  }
}

// A browser still running holds its lock and has a change under way: the
// private copy is read through the lock, in its committed state.
TEST(EvidenceIntegrity, LockedDatabaseIsReadInItsCommittedStateWithoutWaiting) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "cookies.sqlite", "firefox3/cookies.sql",
                        "INSERT INTO moz_cookies (id, name) VALUES (1, 'committed');");
  OpenConnection browser(folder / "cookies.sqlite");
  browser.Run("BEGIN EXCLUSIVE; UPDATE moz_cookies SET name = 'uncommitted';");
  const Snapshot before = TakeSnapshot(folder.path());
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "A\n\nX\n");
  Snapshot after = TakeSnapshot(folder.path());
  browser.Run("COMMIT;");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript.find("Could not"), std::string::npos) << run.transcript;
  EXPECT_EQ(ReadFileBytes(folder / "2008-117 - Harbour Street - cookies.sqlite moz_cookies.csv"),
            "\"id\",\"name\",\"value\",\"host\",\"path\",\"expiry\",\"lastAccessed\",\"isSecure\",\"isHttpOnly\",\r\n"
            "\"1\",\"committed\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\r\n");
  for (const auto& [name, bytes] : before) EXPECT_TRUE(after[name] == bytes) << name << " changed";
}

// Waits up to 30 s until the run has come to its count-th pause.
bool AwaitPause(const StartedSkv& skv, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string shown = skv.TranscriptSoFar();
    std::size_t pauses = 0;
    for (std::size_t at = 0; (at = shown.find("Press enter to continue", at)) != std::string::npos; ++at) ++pauses;
    if (pauses >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// The private copy lives no longer than the reading: a task waiting at its
// pause keeps no copy of the evidence in the temporary folder.
TEST(EvidenceIntegrity, NoCopyOfTheEvidenceWaitsWithThePause) {
  TempFolder folder;
  TempFolder temporary;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_places VALUES (1, 'http://a.example/', 'A', '.', 1, 0, 0, NULL, 5);"
                        "INSERT INTO moz_historyvisits VALUES (1, 0, 1, 1228580112000000, 1, 1);");
  SkvOptions options;
  options.temporaryFolder = temporary.path();
  options.inputHeldOpen = true;
  StartedSkv skv(folder.path(), StandardSettingsInput() + "C\n", options);
  const char* const tasks[] = {"C", "D\ny", "A"};
  for (std::size_t task = 0; task < std::size(tasks); ++task) {
    ASSERT_TRUE(AwaitPause(skv, task + 1)) << skv.TranscriptSoFar();
    EXPECT_TRUE(std::filesystem::is_empty(temporary.path())) << "a copy waits with the pause of " << tasks[task];
    if (task + 1 < std::size(tasks)) skv.SendInput("\n" + std::string(tasks[task + 1]) + "\n");
  }
  skv.SendInput("\nX\n");
  EXPECT_EQ(skv.Wait().exitStatus, 0);
}

}  // namespace
