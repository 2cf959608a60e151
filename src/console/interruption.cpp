#include "console/interruption.h"

#include <unistd.h>

#include <csignal>

#include "base/leftover_files.h"
#include "console/console.h"

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
