#include "support/run_skv.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace {

// Longer than any run of the suite takes, sanitizers included.
constexpr int kLongestRunSeconds = 120;

// A copy of the built binary that any user can run, in a new folder that
// any user can enter: the build folder's own path may pass through folders
// closed to others (a checkout in /root, or in a 0700 mktemp folder).
std::string ReachableCopyOfBinary(std::unique_ptr<TempFolder>& folder) {
  namespace fs = std::filesystem;
  folder = std::make_unique<TempFolder>();
  const fs::path copy = *folder / "skv";
  fs::copy_file(SKV_BINARY, copy);
  for (const fs::path& reachable : {folder->path(), copy}) fs::permissions(reachable, fs::perms(0755));
  return copy.string();
}

// Runs skv.exe under Wine, with the temporary folder given where there is
// one: Wine takes %TMP% from its own registry, not from the environment, so a
// command shell sets it for the run.
[[noreturn]] void ExecUnderWine(const std::string& temporaryFolder) {
  const std::string exe = WindowsPath(WindowsBuildUnderTest());
  if (temporaryFolder.empty()) {
    ::execlp("wine", "wine", exe.c_str(), static_cast<char*>(nullptr));
  } else {
    const std::string command = WithWindowsTemporaryFolder(temporaryFolder, exe);
    ::execlp("wine", "wine", "cmd", "/c", command.c_str(), static_cast<char*>(nullptr));
  }
  ::_exit(127);
}

}  // namespace

const char* WindowsBuildUnderTest() {
  const char* exe = std::getenv("SKV_WINDOWS_EXE");
  return exe != nullptr && *exe != '\0' ? exe : nullptr;
}

std::string WindowsPath(const std::filesystem::path& path) {
  std::string windows = "Z:" + std::filesystem::absolute(path).string();
  for (char& c : windows) c = c == '/' ? '\\' : c;
  return windows;
}

std::string WithWindowsTemporaryFolder(const std::filesystem::path& folder, const std::string& command) {
  const std::string windows = WindowsPath(folder);
  return "set TMP=" + windows + "&& set TEMP=" + windows + "&& " + command;
}

std::string SystemName(std::string name) {
  if (!RunsUnderWine()) return name;
  for (char& c : name) c = std::string_view("<>:\"|?*").find(c) != std::string_view::npos ? '_' : c;
  return name;
}

std::string SystemReason(const std::string& posix, const std::string& windows) {
  return RunsUnderWine() ? windows : posix;
}

StartedSkv::StartedSkv(const std::filesystem::path& folder, const std::string& input, const SkvOptions& options)
    : streams_(std::make_unique<TempFolder>()) {
  const TempFolder& streams = *streams_;  // kept apart from the evidence folder
  WriteFileBytes(streams / "stdin", input);
  const std::string in = (streams / "stdin").string();
  const std::string out = (streams / "stdout").string();
  const std::string err = (streams / "stderr").string();

  int brokenPipe[2] = {-1, -1};
  if (options.output == StandardOutput::kBrokenPipe) {
    if (::pipe(brokenPipe) != 0) throw std::runtime_error("pipe failed");
    ::close(brokenPipe[0]);
  }
  const struct passwd* nobody = options.unprivileged && ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
  if (options.unprivileged && ::geteuid() == 0 && nobody == nullptr) throw std::runtime_error("no user nobody");
  const std::string binary = nobody != nullptr ? ReachableCopyOfBinary(binaryFolder_) : SKV_BINARY;
  int heldInput[2] = {-1, -1};
  if (options.inputHeldOpen && ::pipe2(heldInput, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    int inFd = options.inputHeldOpen ? heldInput[0] : ::open(in.c_str(), O_RDONLY);
    int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (inFd < 0 || outFd < 0 || errFd < 0 || ::chdir(folder.c_str()) != 0) ::_exit(127);
    ::dup2(inFd, 0);
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    if (options.output == StandardOutput::kClosed) ::close(1);
    if (options.output == StandardOutput::kBrokenPipe) ::dup2(brokenPipe[1], 1);
    // Wine keeps its server's socket under TMPDIR: a run under Wine is given
    // its temporary folder by the command shell that starts it.
    if (!options.temporaryFolder.empty() && !RunsUnderWine()) ::setenv("TMPDIR", options.temporaryFolder.c_str(), 1);
    for (const auto& [resource, bytes] : {std::pair{RLIMIT_FSIZE, options.fileSizeLimit},
                                          std::pair{RLIMIT_STACK, options.stackSizeLimit}}) {
      const struct rlimit limit {static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
      if (bytes > 0 && ::setrlimit(resource, &limit) != 0) ::_exit(127);
    }
    if (nobody != nullptr &&
        (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)) {
      ::_exit(127);
    }
    if (RunsUnderWine()) ExecUnderWine(options.temporaryFolder);
    ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (brokenPipe[1] >= 0) ::close(brokenPipe[1]);
  child_ = child;
  if (options.inputHeldOpen) {
    ::close(heldInput[0]);
    input_ = heldInput[1];
    SendInput(input);
  }
}

void StartedSkv::SendInput(const std::string& bytes) {
  if (input_ >= 0 && ::write(input_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    throw std::runtime_error("input not sent");
  }
}

void StartedSkv::CloseInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

StartedSkv::~StartedSkv() {
  if (child_ > 0) Wait();
}

SkvRun StartedSkv::Wait() {
  CloseInput();
  int status = 0;
  struct rusage usage {};
  // A run that hangs is killed, so that the test fails instead of waiting.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kLongestRunSeconds);
  while (::wait4(child_, &status, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child_, SIGKILL);
      ::wait4(child_, &status, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  child_ = -1;
  SkvRun run;
  run.peakMemoryKiB = usage.ru_maxrss;
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  run.transcript = ReadFileBytes(*streams_ / "stdout");
  run.errors = ReadFileBytes(*streams_ / "stderr");
  return run;
}

std::string StartedSkv::TranscriptSoFar() const {
  // The child may not have made the file yet.
  return std::filesystem::exists(*streams_ / "stdout") ? ReadFileBytes(*streams_ / "stdout") : "";
}

bool StartedSkv::AwaitTranscript(const std::string& text) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (TranscriptSoFar().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

SkvRun RunSkv(const std::filesystem::path& folder, const std::string& input, const SkvOptions& options) {
  return StartedSkv(folder, input, options).Wait();
}

std::string StartTranscript() {
  return "Scrivlet (skv.exe) 0.8.9 by the Scrivlet project <scrivlet@example.org>\n"
         "https://www.example.org/scrivlet/\n"
         "\n";
}

std::string MenuTranscript() {
  return "\n"
         "Select the task you wish to perform:\n"
         "\n"
         "A - Extract RAW data from Firefox 3 SQLite databases to CSV.\n"
         "B - Extract data from Firefox 3 SQLite databases to CSV\n"
         "    and decode dates and times.\n"
         "C - Create Firefox CSV Internet History Usage Report.\n"
         "D - Create Firefox HTML Internet History Usage Report.\n"
         "E - Decode PRtime.\n"
         "\n"
         "**EXPERIMENTAL**\n"
         "F - Extract RAW data from Google Chrome SQLite databases to CSV.\n"
         "G - Extract data from Google Chrome SQLite databases to CSV\n"
         "    and decode dates and times.\n"
         "I - Recover deleted records from Firefox 3 SQLite databases to CSV.\n"
         "J - Recover deleted records from Google Chrome SQLite databases to CSV.\n"
         "K - Create Chrome CSV Internet History Usage Report.\n"
         "L - Create Chrome HTML Internet History Usage Report.\n"
         "\n"
         "R - Reset settings (case name etc.)\n"
         "H - Help\n"
         "X - Exit\n"
         "\n"
         ": ";
}

std::string StandardSettingsInput() { return "E\n0\n2008-117\nHarbour Street\nJ Examiner\n"; }

std::string StandardSettingsTranscript() {
  return "English or American date format? [E/A] \n"
         "UTC offset in minutes decimal, i.e. 0, 360, -90: \n"
         "Case Reference: \n"
         "Case Name: \n"
         "Investigator: ";
}

std::string OpeningTranscript() { return StartTranscript() + StandardSettingsTranscript() + MenuTranscript(); }

std::string BackToMenuTranscript() { return "\n\n\n" + MenuTranscript(); }

SkvRun RunAnswers(const std::filesystem::path& folder, const std::string& answers) {
  SkvRun run = RunSkv(folder, StandardSettingsInput() + answers + "X\n");
  EXPECT_EQ(run.errors, "") << "nothing may be written to standard error";
  return run;
}
