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

// The signals that end the program with its leftovers removed: an
// interrupt (Ctrl-C), a termination request, a closed terminal.
inline constexpr int kTerminatingSignals[] = {SIGINT, SIGTERM, SIGHUP};

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
