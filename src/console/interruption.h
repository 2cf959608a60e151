#pragma once

// How a signal ends the program. An interrupt (Ctrl-C), a termination
// request or a closed terminal removes every file the program has not
// finished (outputs not yet published, private copies of evidence), ends a
// progress line left on the terminal, and ends the process with exit status
// 128 + the signal's number. Files already published stay.
//
// A file-size limit set on the process makes a write fail with its reason,
// reported like any lost write, instead of killing the process.

void EndOnTerminatingSignals();
