#pragma once

// What the Windows halves of the layers share (only *_windows.cpp files
// include this): UTF-8 and UTF-16 text, the system's path of a name, and
// the handle under a descriptor.

#include <windows.h>

#include <string>
#include <string_view>

// UTF-16 of UTF-8 text, and back; invalid input becomes U+FFFD.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// The UTF-16 path the wide API takes for a UTF-8 name: as it is when short,
// and in the "\\?\" form of its whole path when it would pass the system's
// limit of 260 characters, so that deep folders and long names work.
std::wstring SystemPath(const std::string& name);

// The handle under a descriptor, and a new descriptor over a handle (which
// it then owns; -1, the handle closed, when none could be made).
HANDLE HandleOf(int fd);
int DescriptorOf(HANDLE handle, bool readOnly);

// The handles the program has open on files, which the console event
// handler closes, the program's thread stopped, before it removes the
// leftovers: on file systems that keep a file marked for deletion until its
// last handle closes (Wine's, Windows' older ones), a file still open would
// stay, and its folder with it. A handle more than the table holds is not
// tracked.
void KeepTrackOf(HANDLE handle) noexcept;
void LoseTrackOf(HANDLE handle) noexcept;
void CloseTrackedHandles() noexcept;

// A descriptor over the handle a call that creates a file gave: -1, and the
// error number in error, when it gave none.
int DescriptorOfNew(HANDLE handle, int& error);

// The error number of the last call, never 0: a failure that set none is an
// input or output error.
int LastError();

// The path of what a handle has open, every link resolved, in the form the
// user knows ("C:\...", "\\server\share\..."); empty when the system cannot
// tell.
std::wstring HandlePath(HANDLE handle);

// Opens a file or folder of the given name itself, for removal, and not
// through a link: the handle, or INVALID_HANDLE_VALUE when the name is a
// link, leads elsewhere, or cannot be opened. Windows opens a reparse point
// itself when asked to; Wine opens the file behind a Unix symbolic link
// whatever it is asked, so the handle's own path is compared with the name's.
HANDLE OpenItself(const std::string& path, DWORD access, bool folder);

// Removes, through a handle OpenItself gave (with DELETE access), the file or
// empty folder it opened; true when it is gone once the handle closes.
bool RemoveThrough(HANDLE handle);

// Whether a step that the console event handler must not interrupt is under
// way (TerminationHeld).
bool TerminationIsHeld();
