// The output layer on Windows: see output/output_system.h.

#include <io.h>

#include <cstring>

#include "base/system.h"
#include "base/windows_system.h"
#include "output/output_system.h"

namespace {

// The names Windows gives to devices, in any case and before any extension:
// "CON.csv" is the console, not a file.
constexpr std::string_view kDeviceNames[] = {
    "CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "COM0", "COM1", "COM2", "COM3", "COM4",
    "COM5", "COM6", "COM7", "COM8", "COM9",   "LPT0",    "LPT1", "LPT2", "LPT3", "LPT4", "LPT5",
    "LPT6", "LPT7", "LPT8", "LPT9",
    // COM and LPT with a superscript one, two or three, in UTF-8.
    "COM\xC2\xB9", "COM\xC2\xB2", "COM\xC2\xB3", "LPT\xC2\xB9", "LPT\xC2\xB2", "LPT\xC2\xB3"};

bool IsDeviceName(std::string_view stem) {
  for (std::string_view device : kDeviceNames) {
    if (stem.size() != device.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < stem.size() && same; ++i) {
      char c = stem[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      same = c == device[i];
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

int CreateUnnamedOutput() { return -1; }

int NameUnnamedOutput(int, const std::string&) { return ERROR_NOT_SUPPORTED; }

int CreateNamedOutput(const std::string& name, int& error) {
  // Never through a link: a new file, and the handle of the name itself
  // should a reparse point stand there.
  const HANDLE handle =
      ::CreateFileW(SystemPath(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD last = ::GetLastError();
    error = last == ERROR_FILE_EXISTS || last == ERROR_ALREADY_EXISTS ? NameTakenError() : LastError();
    return -1;
  }
  FILE_BASIC_INFO basic{};
  if (::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    ::CloseHandle(handle);
    error = ERROR_CANT_ACCESS_FILE;
    return -1;
  }
  const int fd = DescriptorOf(handle, false);
  // The run's lock, taken at once: another run's sweep removes only files
  // no run holds. One that took the file first has removed its name, or is
  // removing it: another name is taken.
  if (fd < 0 || !TakeRunLockOnNew(fd)) {
    if (fd >= 0) CloseDescriptor(fd);
    error = NameTakenError();
    return -1;
  }
  error = 0;
  return fd;
}

int NameTakenError() { return ERROR_FILE_EXISTS; }

int CloseOutput(int fd) {
  LoseTrackOf(HandleOf(fd));
  ::SetLastError(0);
  return ::_close(fd) == 0 ? 0 : LastError();
}

int ReplaceWith(const std::string& from, const std::string& to) {
  return ::MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : LastError();
}

bool HoldsOtherThanFile(const std::string& name) {
  const DWORD attributes = ::GetFileAttributesW(SystemPath(name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsForbiddenInName(char c) { return c != '\0' && std::strchr("<>:\"|?*", c) != nullptr; }

std::string WithSystemNameRules(std::string name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.back() = '_';
  std::size_t stemEnd = name.find('.');
  if (stemEnd == std::string::npos) stemEnd = name.size();
  std::size_t deviceEnd = stemEnd;
  while (deviceEnd > 0 && name[deviceEnd - 1] == ' ') --deviceEnd;
  if (IsDeviceName(std::string_view(name).substr(0, deviceEnd))) name.insert(deviceEnd, "_");
  return name;
}

int RemoveUnlockedOutputs(bool (*isOurs)(std::string_view name)) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW(L"*", &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
    const std::string name = Narrow(found.cFileName);
    if (!isOurs(name)) continue;
    // The file itself, never one a link leads to.
    const HANDLE handle = OpenItself(name, GENERIC_READ | DELETE, false);
    if (handle == INVALID_HANDLE_VALUE) continue;
    const int fd = DescriptorOf(handle, true);
    if (fd < 0) continue;
    // A file whose lock a run holds is that run's output: it stays.
    if (TakeRunLock(fd) && RemoveThrough(HandleOf(fd))) ++removed;
    CloseDescriptor(fd);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return removed;
}

int CreateScratchFile(const std::string& folder, int& error) {
  static unsigned sequence = 0;
  for (;;) {
    const std::string name = folder + "\\skv-scratch-" + std::to_string(CurrentProcessId()) + "-" +
                             std::to_string(++sequence);
    // Deleted by the system when its handle closes, however the program
    // ends.
    const HANDLE handle = ::CreateFileW(SystemPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) continue;
    return DescriptorOfNew(handle, error);
  }
}
