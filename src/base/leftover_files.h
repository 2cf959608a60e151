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
//
// On Windows the handler of console events runs on a thread of its own; it
// stops the program's thread before it reads the table, so that it too
// never sees a registration half done.

#include <cstddef>
#include <string_view>

// The longest path the registry holds, in bytes.
inline constexpr std::size_t kLongestLeftoverPath = 4096;

// One registered path. Files are removed before folders, so a folder whose
// files are registered too is empty by the time its turn comes.
class Leftover {
 public:
  enum class Kind { kFile, kFolder };

  Leftover() = default;
  // Registers path (absolute, or relative to the current folder, which the
  // program never changes). A path longer than kLongestLeftoverPath, or one
  // more than the table holds, stays unregistered.
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
// a signal handler: it only calls RemoveFileNow and RemoveFolderNow.
void RemoveLeftovers() noexcept;

// Whether name is prefix, a process id, "-" and more, as the names of the
// program's temporary files and folders are.
bool IsNamedLikeLeftover(std::string_view name, std::string_view prefix);

// The lock by which a run tells its own temporary files and folders from
// those a killed run left (SIGKILL, a power cut, a process ended from the
// task manager): it takes the lock on each as it makes it, on the descriptor
// it keeps open for as long as it uses it, and the system lets go of the
// lock however the run ends. Another run removes a leftover only where it
// can take the lock itself. A process id cannot tell it: a run in another
// pid namespace, sharing the temporary folder from a container, is no
// process this one can see.
//
// TakeRunLock (base/system.h) takes the lock on the open file or folder,
// without waiting: true when taken, false when another run holds it or the
// file system keeps no locks (then nothing can be told, and nothing is
// removed). TakeRunLockOnNew takes it on a file or folder the run has just
// made: false when another run's sweep took it before the run could (the
// sweep holds its lock, or has removed its name), so that another must be
// made; where the file system keeps no locks, the run goes on without one.
// On POSIX the lock is flock's; on Windows a byte-range lock (LockFileEx)
// far past the end of the file, where no read or write of the file reaches.
