#pragma once

// The POSIX signals by which the program ends, for the POSIX halves of the
// base and console layers only.

#include <csignal>

// The signals whose default action ends the program, and which end it here
// with its leftovers removed and exit status 128 + the signal: an interrupt
// (Ctrl-C), a quit (Ctrl-\), a termination request, a closed terminal, the
// user's signals, the timers, a CPU limit, a power failure.
inline constexpr int kTerminatingSignals[] = {SIGINT,  SIGQUIT,   SIGTERM, SIGHUP,  SIGUSR1, SIGUSR2,
                                              SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGPWR,  SIGIO};
// The signals of a fault in the program itself: its leftovers are removed,
// then the signal's default action ends it, so that a core dump still tells
// what happened.
inline constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
