// skv on a terminal: the running count of rows, shown while a long task
// writes, erased when it ends, and never written to a pipe or a file; and
// answers typed ahead, which are dropped rather than taken for the next
// prompt's.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <chrono>

#include "support/fixture_database.h"
#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

// skv started in folder on a new pseudo-terminal, which is its standard
// output and error, and its standard input too unless inputFd is given.
// Returns the terminal's master side; the child is in child.
int StartOnTerminal(const std::filesystem::path& folder, const struct termios* mode, int inputFd, pid_t& child) {
  int master = -1;
  int slave = -1;
  if (::openpty(&master, &slave, nullptr, mode, nullptr) != 0) throw std::runtime_error("openpty failed");
  child = ::fork();
  if (child == 0) {
    ::close(master);
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    ::dup2(inputFd >= 0 ? inputFd : slave, 0);
    ::dup2(slave, 1);
    ::dup2(slave, 2);
    ::execl(SKV_BINARY, SKV_BINARY, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(slave);
  return master;
}

// skv with its answers read from a file and its output on a pseudo-terminal
// that passes the bytes through unchanged.
std::string RunOnTerminal(const std::filesystem::path& folder, const std::string& input) {
  TempFolder streams;
  WriteFileBytes(streams / "stdin", input);
  const int inputFd = ::open((streams / "stdin").c_str(), O_RDONLY);
  struct termios raw {};
  cfmakeraw(&raw);
  pid_t child = -1;
  const int master = StartOnTerminal(folder, &raw, inputFd, child);
  ::close(inputFd);
  std::string output;
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got > 0) {
      output.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once the child has closed the terminal
    }
  }
  ::close(master);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return output;
}

// The transcript with every progress text and its erasure taken out: a run
// of n backspaces, n blanks and n backspaces removes the n bytes before it.
std::string WithoutProgress(const std::string& transcript, std::size_t& erased) {
  std::string out;
  erased = 0;
  for (std::size_t at = 0; at < transcript.size();) {
    std::size_t n = 0;
    while (at + n < transcript.size() && transcript[at + n] == '\b') ++n;
    if (n > 0 && transcript.compare(at + n, n, std::string(n, ' ')) == 0 &&
        transcript.compare(at + 2 * n, n, std::string(n, '\b')) == 0 && out.size() >= n) {
      EXPECT_NE(out.substr(out.size() - n).find(" rows"), std::string::npos) << out.substr(out.size() - n);
      out.resize(out.size() - n);
      at += 3 * n;
      ++erased;
    } else {
      out += transcript[at++];
    }
  }
  return out;
}

TEST(TerminalProgress, ShownWhileLongTasksWriteAndErasedWhenTheyEnd) {
  TempFolder folder;
  CreateBrowserDatabase(
      folder / "places.sqlite", "firefox3/places.sql",
      "INSERT INTO moz_places VALUES (1, 'http://a.example/', 'A', '.', 1, 0, 0, NULL, 0);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 750000) "
      "INSERT INTO moz_historyvisits SELECT i, 0, 1, 1228580112000000 + i, 1, 1 FROM n;");
  // Large enough that each task outlasts the first quarter second, writing
  // in blocks as it does; the decoded export is the slower of the two.
  const std::string input = StandardSettingsInput() + "B\n\nC\n\nX\n";
  const std::string onTerminal = RunOnTerminal(folder.path(), input);
  SkvRun onPipe = RunSkv(folder.path(), input);

  std::size_t erased = 0;
  EXPECT_EQ(WithoutProgress(onTerminal, erased), onPipe.transcript);
  EXPECT_GE(erased, 2u) << "no progress was shown for either task";
  EXPECT_NE(onTerminal.find("Processing... "), std::string::npos);
  EXPECT_NE(onTerminal.find("%)"), std::string::npos) << "the total is known, so a percentage is shown";
  EXPECT_EQ(onPipe.transcript.find('\b'), std::string::npos);
}

// Reads the terminal until text has appeared, for at most ten seconds.
bool AwaitOutput(int master, const std::string& text, std::string& seen) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (seen.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    struct pollfd ready {master, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    char buffer[4096];
    ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got <= 0) return false;
    seen.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

TEST(TerminalInput, AnswersTypedAheadAreDroppedNotTakenForTheNextPrompt) {
  TempFolder folder;
  ExecuteSql(folder / "Cookies", "CREATE TABLE t (v); INSERT INTO t VALUES (1);");
  pid_t child = -1;
  const int master = StartOnTerminal(folder.path(), nullptr, -1, child);  // cooked mode: typed lines
  std::string seen;
  // Each answer is typed once the program has asked for it; what it writes
  // next is looked for in what comes after.
  auto type = [&](const std::string& keys) {
    seen.clear();
    ASSERT_EQ(::write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  };
  EXPECT_TRUE(AwaitOutput(master, "[E/A] ", seen));
  // Two lines at once: the second was typed ahead and is dropped.
  type("E\ntyped ahead\n");
  EXPECT_TRUE(AwaitOutput(master, "-90: ", seen));
  type("0\n");
  EXPECT_TRUE(AwaitOutput(master, "Case Reference: ", seen));
  type("R\n");
  EXPECT_TRUE(AwaitOutput(master, "Case Name: ", seen));
  type("N\n");
  EXPECT_TRUE(AwaitOutput(master, "Investigator: ", seen));
  type("I\n");
  EXPECT_TRUE(AwaitOutput(master, "X - Exit", seen));
  type("F\n");
  EXPECT_TRUE(AwaitOutput(master, "Press enter to continue", seen));
  type("\n");
  EXPECT_TRUE(AwaitOutput(master, "H - Help", seen));
  type("X\n");
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);  // never leave the test waiting on a program that waits
      ::waitpid(child, &status, 0);
      break;
    }
    ::usleep(20000);
  }
  ::close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(std::filesystem::exists(folder / "R - N - Cookies t.csv")) << seen;
}

}  // namespace
