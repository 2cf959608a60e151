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

}  // namespace

void EndOnTerminatingSignals() {
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  // No second signal interrupts the removal.
  sigemptyset(&action.sa_mask);
  for (int signal : kTerminatingSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kTerminatingSignals) ::sigaction(signal, &action, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
}
