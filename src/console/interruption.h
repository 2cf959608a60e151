#pragma once

// How a signal ends the program. Every signal whose default action ends a
// process and that can be caught (an interrupt, a quit, a termination
// request, a closed terminal, the user's signals, a timer, a CPU limit)
// removes every file the program has not finished (outputs not yet
// published, private copies of evidence), ends a progress line left on the
// terminal, and ends the process with exit status 128 + the signal's number.
// A fault of the program (a bad memory access, an abort) removes them too,
// then ends the process by the same signal with its default action. Files
// already published stay.
//
// A file-size limit set on the process makes a write fail with its reason,
// reported like any lost write, instead of killing the process.

void EndOnTerminatingSignals();
