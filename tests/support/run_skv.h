#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>

// Sanitizer builds use several times the memory of a plain one, so memory
// bounds are checked on plain builds only.
#ifdef SKV_SANITIZED
inline constexpr bool kMemoryIsMeasured = false;
#else
inline constexpr bool kMemoryIsMeasured = true;
#endif

// The Windows build of skv under test instead of the Linux one, when the
// environment names it (SKV_WINDOWS_EXE, the path of skv.exe), run under
// Wine; nothing otherwise. `make test-windows` runs the end-to-end tests so.
const char* WindowsBuildUnderTest();
inline bool RunsUnderWine() { return WindowsBuildUnderTest() != nullptr; }

// The path of a Linux file or folder as a program under Wine names it.
std::string WindowsPath(const std::filesystem::path& path);

// A command line for Wine's command shell that runs command with %TMP% and
// %TEMP% set to folder: Wine takes them from its own registry, not from the
// environment.
std::string WithWindowsTemporaryFolder(const std::filesystem::path& folder, const std::string& command);

// A test, or the part of one, that is about POSIX itself (file modes and
// users, signals, FIFOs, the kernel's limits, flock) skips when skv.exe is
// under test.
#define SKIP_UNDER_WINE(why) \
  if (RunsUnderWine()) GTEST_SKIP() << (why)

// An output name as the build under test writes it: with Windows' own name
// rules under Wine (< > : " | ? * become "_").
std::string SystemName(std::string name);

// The system's words for an error, as the build under test gives them: the
// POSIX text, or Wine's text of the Windows error.
std::string SystemReason(const std::string& posix, const std::string& windows);

// The built skv binary run as an examiner runs it: in the given folder, with
// the given bytes as its standard input (a file, as when a script is piped).
struct SkvRun {
  int exitStatus = -1;     // the exit status, or -signal when a signal ended it (-9 after two minutes)
  std::string transcript;  // everything written to standard output
  std::string errors;      // everything written to standard error
  long peakMemoryKiB = 0;  // the largest resident set the process had
};

// How the run's standard output is given to it.
enum class StandardOutput {
  kFile,        // a file, read back into the transcript
  kClosed,      // no standard output at all
  kBrokenPipe,  // a pipe whose reading end is already closed
};

struct SkvOptions {
  StandardOutput output = StandardOutput::kFile;
  std::string temporaryFolder;  // TMPDIR for the run, when not empty
  // Run as the user nobody when the tests run as root, as an examiner's
  // normal account runs: file modes then bind it. Folders and files it must
  // reach need modes that let it.
  bool unprivileged = false;
  // A limit on the size of every file the run writes (RLIMIT_FSIZE), in
  // bytes; 0 for none.
  long fileSizeLimit = 0;
  // A limit on the stack of the run (RLIMIT_STACK), in bytes; 0 for the
  // system's.
  long stackSizeLimit = 0;
  // Standard input through a pipe that stays open after the given bytes, so
  // that the run waits at its next read until the test sends more
  // (StartedSkv::SendInput) or ends the input.
  bool inputHeldOpen = false;
};

// The options of a run as nobody, and of a run whose files may not grow
// beyond the given size.
inline SkvOptions AsUnprivilegedUser() {
  SkvOptions options;
  options.unprivileged = true;
  return options;
}
inline SkvOptions WithFileSizeLimit(long bytes) {
  SkvOptions options;
  options.fileSizeLimit = bytes;
  return options;
}

SkvRun RunSkv(const std::filesystem::path& folder, const std::string& input, const SkvOptions& options = {});

class TempFolder;

// skv started as RunSkv starts it and left running, for a test that acts on
// it meanwhile, such as sending it a signal.
class StartedSkv {
 public:
  StartedSkv(const std::filesystem::path& folder, const std::string& input, const SkvOptions& options = {});
  ~StartedSkv();
  StartedSkv(const StartedSkv&) = delete;
  StartedSkv& operator=(const StartedSkv&) = delete;

  pid_t pid() const { return child_; }
  // What the run has written to standard output so far.
  std::string TranscriptSoFar() const;
  // Waits up to 30 s for the transcript to hold text; false if it never did.
  bool AwaitTranscript(const std::string& text) const;
  // With inputHeldOpen: more input, and the end of it.
  void SendInput(const std::string& bytes);
  void CloseInput();
  // Waits for the run to end.
  SkvRun Wait();

 private:
  std::unique_ptr<TempFolder> streams_;
  // For a run as nobody: a copy of the binary in a folder every user can
  // enter, since the build folder may sit below one only its owner can.
  std::unique_ptr<TempFolder> binaryFolder_;
  pid_t child_ = -1;
  int input_ = -1;  // the pipe's writing end, with inputHeldOpen
};

// The banner and the empty line after it, the first thing every run writes.
std::string StartTranscript();
// The menu as the loop writes it before each prompt, prompt included.
std::string MenuTranscript();
// skv run with the standard settings, then the given answers (each with its
// line end), then X; nothing may be written to standard error.
SkvRun RunAnswers(const std::filesystem::path& folder, const std::string& answers);

// The case settings answers most tests type: English dates, offset 0,
// reference "2008-117", name "Harbour Street", investigator "J Examiner".
std::string StandardSettingsInput();
// What the console shows for StandardSettingsInput (prompts and breaks).
std::string StandardSettingsTranscript();
// Banner, standard settings and the first menu: what a run shows before the
// first menu letter.
std::string OpeningTranscript();
// What the menu loop writes after a task: the section break and the menu.
std::string BackToMenuTranscript();
