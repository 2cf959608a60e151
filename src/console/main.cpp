#include <unistd.h>

#include <csignal>
#include <iostream>

#include "console/application.h"
#include "console/console.h"

int main() {
  // A closed or broken standard output must not kill the tool in the middle
  // of writing an output file; failed console writes are simply lost.
  std::signal(SIGPIPE, SIG_IGN);
  Console console(STDIN_FILENO, std::cout);
  return RunScrivlet(console);
}
