#include <iostream>

#include "app/application.h"
#include "console/console.h"
#include "console/console_system.h"

int main() {
  PrepareStandardStreams();
  EndOnTerminatingSignals();
  Console console(StandardInput(), std::cout, IsTerminal(StandardOutput()));
  return RunScrivlet(console);
}
