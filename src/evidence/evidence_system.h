#pragma once

// The evidence layer's side of the operating system (see base/system.h):
// how a file of the evidence is opened without changing it or its times,
// and how the private copy's folder is made, filled, locked and swept.
// Implemented in evidence_system_posix.cpp and evidence_system_windows.cpp.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/file_descriptor.h"

// A file of the evidence as its opening found it.
struct OpenedEvidence {
  enum class State { kOpen, kMissing, kUnreadable };
  State state = State::kMissing;
  FileDescriptor fd{-1};
  std::uint64_t size = 0;
  // Why it is unreadable: the system's error number, or 0 and a reason in
  // words ("it is a folder, not a file").
  int error = 0;
  std::string reason;
  // The name is a link (a symbolic link, a Windows junction or symbolic
  // link), and the path of the file it leads to, every link resolved: SQLite
  // keeps a database's WAL and journal beside the file itself.
  bool isLink = false;
  std::string resolved;

  static OpenedEvidence Unreadable(int error, std::string reason = {}) {
    OpenedEvidence opened;
    opened.state = State::kUnreadable;
    opened.error = error;
    opened.reason = std::move(reason);
    return opened;
  }
};

// Opens a file of the evidence read-only, never waiting for it (a FIFO
// named like a database, a file another program holds) and never updating
// its access time where the system lets this user: on Linux with O_NOATIME
// (the file's owner, or a privileged user); on Windows by asking the file
// system not to update it on this handle, the file shared with every other
// program for reading, writing and deletion, so that a running browser is
// never blocked. Only a regular file opens; a database's name is looked at
// first, so that a link that leads nowhere says so; a sidecar that is not
// there is missing, however its name reads.
enum class EvidenceRole { kDatabase, kSidecar };
OpenedEvidence OpenEvidence(const std::string& path, EvidenceRole role);

// The private copy's folder, made by MakeCopyFolder: its path, and the
// descriptor that holds the run's lock on it (a file in it, lockFile, where
// the system cannot lock a folder; "" where it locks the folder itself).
struct CopyFolder {
  std::string path;
  FileDescriptor lock{-1};
  std::string lockFile;
  int error = 0;  // the system's error number when no folder could be made
};

// Makes a new folder, named prefix, the process id, "-" and more, in base,
// which only this user may enter, and takes the run's lock on it. Gives a
// folder with no path and no error when another run's sweep took the new
// folder first, for the caller to try again.
CopyFolder MakeCopyFolder(const std::string& base, std::string_view prefix);

// Creates a file of the copy, which must not exist yet, writable by SQLite
// and readable by nobody else; -1 and the error number when it cannot.
int CreateCopyFile(const std::string& path, int& error);

// Copies bytes [from, to) of in to the same offsets of out inside the
// system where it can; gives how far it got (from where it cannot at all),
// for the caller to copy the rest through a buffer, which tells a failed
// read from a failed write.
std::uint64_t CopyInSystem(int in, int out, std::uint64_t from, std::uint64_t to);

// The next run of data of a file of size bytes at or after position, as
// [data, hole); data == size when only a hole is left. Where the file system
// cannot tell holes from data, all of it is data.
struct DataRun {
  std::uint64_t data = 0;
  std::uint64_t hole = 0;
};
DataRun NextDataRun(int fd, std::uint64_t position, std::uint64_t size);

// Gives the file its length, holes at the end included; the error number,
// or 0.
int SetFileLength(int fd, std::uint64_t size);

// Removes, from the folders in base named prefix, pid, "-" and more that
// this user made and whose lock no run holds, the given files and then the
// folder, which stays if it holds anything else. Gives how many folders
// were removed.
int RemoveUnlockedCopyFolders(const std::string& base, std::string_view prefix,
                              std::span<const std::string> fileNames);
