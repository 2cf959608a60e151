#pragma once

// What failed, as the layers below the tasks hand it back: the step, the file
// it concerns, and the system's reason. The layers never print it and never
// end the program; the task that called them turns it into its console words
// and decides what happens next.

#include <string>

struct Failure {
  enum class Step {
    kRead,    // a file of the evidence could not be opened or read whole
    kCopy,    // the private copy of a database could not be made or opened
    kCreate,  // an output file could not be created
    kWrite,   // a write, the close or the publication of an output failed
  };
  Step step = Step::kRead;
  // The file the step concerns: the evidence database or its sidecar, the
  // temporary folder of a private copy, the final name of an output. Empty
  // when the step names no file of its own.
  std::string name;
  // The system's error number; 0 when reason says why instead.
  int error = 0;
  // Why, in words, when no error number tells it ("it is a FIFO, not a
  // file", SQLite's own text).
  std::string reason;

  // The system's text for error, or reason.
  std::string Why() const;
};
