#pragma once

// The output layer's side of the operating system (see base/system.h): how
// an output file is made, named and swept, and what the system forbids in a
// file name. Implemented in output_system_posix.cpp and
// output_system_windows.cpp.

#include <string>
#include <string_view>

// A new file in the current folder that has no name, where the system and
// the file system have them (Linux's O_TMPFILE), with the run's lock on it;
// -1 where they have not.
int CreateUnnamedOutput();

// Gives a file made by CreateUnnamedOutput the name given, which must be
// free; the error number, or 0. The error number that says a name is taken
// is NameTakenError().
int NameUnnamedOutput(int fd, const std::string& name);

// Creates the file name in the current folder, which must not exist yet,
// never through a link, with the run's lock on it (TakeRunLockOnNew); -1
// and the error number when it cannot, NameTakenError() for a name taken
// (by another file, or by another run's sweep that took the new file
// first).
int CreateNamedOutput(const std::string& name, int& error);
int NameTakenError();

// Closes a written file; the error number of the close, or 0.
int CloseOutput(int fd);

// Gives the file from the name to, replacing a regular file or a link of
// that name, never what a link leads to; the error number, or 0. On Windows
// the move goes through to the disk before it returns.
int ReplaceWith(const std::string& from, const std::string& to);

// A folder, a FIFO, a device or a socket of that name in the current
// folder: a name an output never replaces.
bool HoldsOtherThanFile(const std::string& name);

// Whether the system forbids c in a file name, beyond the tool's own rules:
// none on POSIX; on Windows < > : " | ? * (a ":" would name a stream of
// another file).
bool IsForbiddenInName(char c);

// The name made acceptable to the system as a whole, after every byte is:
// unchanged on POSIX; on Windows a name ending in a dot or a blank ends in
// "_", and a device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9), alone
// or before an extension, gets a "_" after it.
std::string WithSystemNameRules(std::string name);

// Removes from the current folder the regular files whose names pass
// isOurs, that this user made and whose lock no run holds. Gives how many.
int RemoveUnlockedOutputs(bool (*isOurs)(std::string_view name));

// A new file in folder with no name that the program reads and writes,
// vanishing when it is closed however the program ends; -1 and the error
// number when it cannot be made.
int CreateScratchFile(const std::string& folder, int& error);
