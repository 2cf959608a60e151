#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "console/application.h"
#include "console/console.h"
#include "console/interruption.h"

namespace {

// A standard stream that the caller closed must not leave its number free:
// the next output file would be given it, and console text would be written
// into the evidence report.
void KeepStandardStreamsTaken() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
}

}  // namespace

int main() {
  KeepStandardStreamsTaken();
  // A closed or broken standard output must not kill the tool in the middle
  // of writing an output file; failed console writes are simply lost.
  std::signal(SIGPIPE, SIG_IGN);
  EndOnTerminatingSignals();
  Console console(STDIN_FILENO, std::cout, ::isatty(STDOUT_FILENO) == 1);
  return RunScrivlet(console);
}
