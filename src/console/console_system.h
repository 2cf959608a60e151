#pragma once

// The console layer's side of the operating system (see base/system.h): the
// standard streams, and how the program ends when the user or the system
// ends it. Implemented in console_system_posix.cpp and
// console_system_windows.cpp.

#include <cstddef>
#include <string_view>

// The descriptors of standard input and output.
int StandardInput();
int StandardOutput();

// Readies the standard streams before anything is read or written. On POSIX:
// a closed standard stream gets /dev/null, so that its number is not given
// to the next file opened (console text would go into an evidence report),
// and a closed or broken standard output loses console text instead of
// killing the program. On Windows: the streams carry bytes as they are, in
// UTF-8 (no line ends rewritten: a transcript is byte for byte the same as
// on POSIX), and a console shows and reads UTF-8.
void PrepareStandardStreams();

// Whether fd is a terminal: a console window on Windows (not the NUL
// device, which the C runtime also calls a terminal).
bool IsTerminal(int fd);

// Reads what input there is, up to size bytes, waiting for some: the bytes
// read, 0 at the end of input, -1 when the read failed. A console on
// Windows gives its typed text as UTF-8, each line ending in "\n" alone.
long ReadInput(int fd, char* buffer, std::size_t size);

// Drops what the user has typed ahead on the terminal fd and the program has
// not read yet.
void DiscardTypedAhead(int fd);

// Writes bytes to standard output at once, past every buffer. Safe inside a
// signal handler.
void WriteToStandardOutputNow(std::string_view bytes) noexcept;

// How the program ends when the user or the system ends it. On POSIX every
// signal whose default action ends a process and that can be caught (an
// interrupt, a quit, a termination request, a closed terminal, the user's
// signals, a timer, a CPU limit) removes every file the program has not
// finished (outputs not yet published, private copies of evidence), ends a
// progress line left on the terminal, and ends the process with exit status
// 128 + the signal's number; a fault of the program (a bad memory access, an
// abort) removes them too, then ends the process by the same signal with its
// default action. A file-size limit set on the process makes a write fail
// with its reason, reported like any lost write, instead of killing it. On
// Windows every console event does the same (Ctrl+C, Ctrl+Break, the console
// window closed, the user logging off, the system shutting down), the
// process ending with status 0xC000013A, as a Windows program that Ctrl+C
// ends does. Files already published stay.
void EndOnTerminatingSignals();
