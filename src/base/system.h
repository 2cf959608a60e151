#pragma once

// The base layer's side of the operating system: everything below the
// tasks that differs between systems goes through here or through the
// layers' own such headers (evidence/evidence_system.h,
// output/output_system.h, console/console_system.h). Each is implemented
// once per system, in system_posix.cpp and system_windows.cpp, and the build
// compiles the one of the system it targets: no code above these files
// asks which system it runs on.
//
// A file is an int descriptor on every system: on Windows one of the C
// runtime's, over a handle the Windows half opened itself, so that the
// descriptor types of the layers' interfaces are the same everywhere.
// Error numbers are the system's own: errno values on POSIX, GetLastError
// values on Windows; SystemErrorText (base/system_error.h) gives the words
// of either.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The system's temporary folder, where the program keeps what must not stay
// in the evidence folder (private copies, scratch files): $TMPDIR, else
// /tmp; on Windows the folder GetTempPath gives (%TMP%, %TEMP%, ...).
std::string TemporaryFolder();

// The folder separator the system's own paths are written with.
extern const char kFolderSeparator;

// The running process's id, as the names of its temporary files carry it.
long CurrentProcessId();

// Closes a descriptor the program opened.
void CloseDescriptor(int fd);

// What one read of a file gave: the bytes read, and the system's error
// number when a read failed (0 when the file simply ended first).
struct ReadResult {
  std::size_t got = 0;
  int error = 0;
};

// Reads out.size() bytes of the file at offset, as many reads as it takes:
// all of them, or fewer when the file ends first or a read fails, which
// the result tells apart.
ReadResult ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> out);

// Writes all of bytes at offset; the system's error number, or 0.
int WriteAt(int fd, std::uint64_t offset, std::string_view bytes);

// Writes all of bytes at the file's position; the system's error number,
// or 0.
int WriteAll(int fd, std::string_view bytes);

// The error number of an input or output error, for a step that failed
// without the system naming a reason.
int InputOutputError();

// The run lock (see base/leftover_files.h): taken on the open file or
// folder without waiting.
bool TakeRunLock(int fd);
bool TakeRunLockOnNew(int fd);

// Removes a file or an empty folder at once; nothing when it cannot. Safe
// where the leftover registry calls them: inside a signal handler on POSIX,
// with the program's only other thread stopped on Windows. path is UTF-8.
void RemoveFileNow(const char* path) noexcept;
void RemoveFolderNow(const char* path) noexcept;

// Holds off, for its lifetime, whatever would end the program and remove
// its leftovers (the terminating signals; Windows' console events), and lets
// it happen when it ends: for a step whose name can only be registered once
// the step is done (a folder that mkdtemp names).
class TerminationHeld {
 public:
  TerminationHeld();
  ~TerminationHeld();
  TerminationHeld(const TerminationHeld&) = delete;
  TerminationHeld& operator=(const TerminationHeld&) = delete;
};
