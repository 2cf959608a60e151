// The console layer on POSIX systems (Linux): see console/console_system.h.

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "base/leftover_files.h"
#include "base/posix_signals.h"
#include "console/console.h"
#include "console/console_system.h"

int StandardInput() { return STDIN_FILENO; }
int StandardOutput() { return STDOUT_FILENO; }

void PrepareStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
  std::signal(SIGPIPE, SIG_IGN);
}

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

long ReadInput(int fd, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd, buffer, size);
    if (got < 0 && errno == EINTR) continue;
    return static_cast<long>(got);
  }
}

void DiscardTypedAhead(int fd) { ::tcflush(fd, TCIFLUSH); }

void WriteToStandardOutputNow(std::string_view bytes) noexcept {
  (void)::write(STDOUT_FILENO, bytes.data(), bytes.size());
}

namespace {

void OnTerminatingSignal(int signal) {
  RemoveLeftovers();
  Console::EndProgressLineOnSignal();
  ::_exit(128 + signal);
}

// The handler was reset to the default action as it was entered, and the
// signal is not held during it: raising it again ends the process as the
// fault would have, core dump included.
void OnFaultSignal(int signal) {
  RemoveLeftovers();
  Console::EndProgressLineOnSignal();
  ::raise(signal);
}

// A stack of the handlers' own, for a fault that comes from an exhausted
// stack.
void GiveHandlersAStack() {
  static char stack[64 * 1024];
  stack_t alternate {};
  alternate.ss_sp = stack;
  alternate.ss_size = sizeof stack;
  ::sigaltstack(&alternate, nullptr);
}

}  // namespace

void EndOnTerminatingSignals() {
  GiveHandlersAStack();
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  action.sa_flags = SA_ONSTACK;
  // No second signal interrupts the removal.
  sigemptyset(&action.sa_mask);
  for (int signal : kTerminatingSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kTerminatingSignals) ::sigaction(signal, &action, nullptr);

  struct sigaction fault = action;
  fault.sa_handler = OnFaultSignal;
  fault.sa_flags = SA_ONSTACK | SA_RESETHAND | SA_NODEFER;
  for (int signal : kFaultSignals) ::sigaction(signal, &fault, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
}
