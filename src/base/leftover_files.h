#pragma once

// Files of the program's own that must not outlive it: an output not yet
// complete, a private copy of evidence. Each is registered for as long as it
// exists; if a signal ends the program, RemoveLeftovers removes whatever is
// registered at that moment. Nothing else here removes anything: the owner
// of a file removes it, or publishes it, on every ordinary path.
//
// The registry is a fixed table of paths, so that RemoveLeftovers needs no
// memory and no lock and may run inside a signal handler. An entry is marked
// in use only after its path is complete, and unmarked before it is reused,
// so a handler that interrupts a registration never sees a path half
// written. A file is registered before it is created and released after it
// is published or removed: a signal in between removes a name that is not
// there, which does no harm. The program keeps only a handful of such files
// at a time (an output, an image, the files of two private copies); the
// table has room for many more.

#include <csignal>
#include <string_view>

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

// Holds the terminating signals off for its lifetime, and delivers any that
// came meanwhile when it ends: for a step whose name can only be registered
// once the step is done (a folder that mkdtemp names).
class TerminatingSignalsHeld {
 public:
  TerminatingSignalsHeld();
  ~TerminatingSignalsHeld();
  TerminatingSignalsHeld(const TerminatingSignalsHeld&) = delete;
  TerminatingSignalsHeld& operator=(const TerminatingSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// One registered path. Files are removed before folders, so a folder whose
// files are registered too is empty by the time its turn comes.
class Leftover {
 public:
  enum class Kind { kFile, kFolder };

  Leftover() = default;
  // Registers path (absolute, or relative to the current folder, which the
  // program never changes). A path longer than PATH_MAX, or one more than
  // the table holds, stays unregistered.
  Leftover(std::string_view path, Kind kind);
  ~Leftover() { Release(); }
  Leftover(Leftover&& other) noexcept : slot_(other.slot_) { other.slot_ = -1; }
  Leftover& operator=(Leftover&& other) noexcept;

  // Unregisters the path, which the owner has removed or published.
  void Release();

 private:
  int slot_ = -1;
};

// Removes every registered file, then every registered folder. Safe inside
// a signal handler: it only calls unlink and rmdir.
void RemoveLeftovers() noexcept;

// Whether name is prefix, a process id, "-" and more, as the names of the
// program's temporary files and folders are.
bool IsNamedLikeLeftover(std::string_view name, std::string_view prefix);

// The lock by which a run tells its own temporary files and folders from
// those a killed run left (SIGKILL, a power cut): it takes the lock on each
// as it makes it, on the descriptor it keeps open for as long as it uses
// it, and the kernel lets go of the lock however the run ends. Another run
// removes a leftover only where it can take the lock itself. A process id
// cannot tell it: a run in another pid namespace, sharing the temporary
// folder from a container, is no process this one can see.
//
// Takes the lock on the open file or folder, without waiting: true when
// taken, false when another run holds it or the file system keeps no locks
// (then nothing can be told, and nothing is removed).
bool TakeRunLock(int fd);

// Takes the lock on a file or folder the run has just made: false when
// another run's sweep took it before the run could (the sweep holds its
// lock, or has removed its name), so that another must be made. Where the
// file system keeps no locks, the run goes on without one.
bool TakeRunLockOnNew(int fd);
