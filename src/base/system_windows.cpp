// The base layer on Windows: see base/system.h.

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <cwchar>

#include "base/failure.h"
#include "base/leftover_files.h"
#include "base/system.h"
#include "base/system_error.h"
#include "base/windows_system.h"

namespace {

// The lock of a run: one byte far past the end of any file the program
// makes, where no read or write reaches.
constexpr DWORD kLockOffsetHigh = 0x40000000;

// The longest path the "\\?\" form is not needed for: MAX_PATH less room
// for a file name's 8.3 form, which CreateDirectory counts.
constexpr std::size_t kShortPathLimit = MAX_PATH - 12;

std::atomic<int> gHeldDepth{0};

std::atomic<HANDLE> gTracked[64];

// The path the wide API takes for path into out (room wide characters), with
// no memory taken: for the console event handler too. As it is while its
// whole path is short; else the "\\?\" form of the whole path. False when it
// does not fit.
bool ApiPath(const wchar_t* path, wchar_t* out, std::size_t room) {
  const std::size_t length = std::wcslen(path);
  wchar_t full[kLongestLeftoverPath + 8];
  const DWORD fullLength = ::GetFullPathNameW(path, static_cast<DWORD>(std::size(full)), full, nullptr);
  const bool extended = std::wcsncmp(path, L"\\\\?\\", 4) == 0;
  if (extended || fullLength == 0 || fullLength >= std::size(full) || fullLength <= kShortPathLimit) {
    if (length + 1 > room) return false;
    std::wmemcpy(out, path, length + 1);
    return true;
  }
  // A share, \\server\share, becomes \\?\UNC\server\share.
  const bool share = full[0] == L'\\' && full[1] == L'\\';
  const wchar_t* prefix = share ? L"\\\\?\\UNC" : L"\\\\?\\";
  const wchar_t* rest = share ? full + 1 : full;
  const std::size_t prefixLength = std::wcslen(prefix);
  const std::size_t restLength = std::wcslen(rest);
  if (prefixLength + restLength + 1 > room) return false;
  std::wmemcpy(out, prefix, prefixLength);
  std::wmemcpy(out + prefixLength, rest, restLength + 1);
  return true;
}

// The API path of a UTF-8 path, with no memory taken.
bool WidePathNow(const char* path, wchar_t* out, std::size_t room) {
  wchar_t wide[kLongestLeftoverPath + 1];
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, static_cast<int>(kLongestLeftoverPath));
  return length > 0 && ApiPath(wide, out, room);
}

}  // namespace

std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring wide(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), static_cast<int>(narrow.size()), nullptr,
                        nullptr);
  return narrow;
}

std::wstring SystemPath(const std::string& name) {
  const std::wstring wide = Widen(name);
  std::wstring out(kLongestLeftoverPath + 16, L'\0');
  if (wide.size() > kLongestLeftoverPath || !ApiPath(wide.c_str(), out.data(), out.size())) return wide;
  out.resize(std::wcslen(out.c_str()));
  return out;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

int DescriptorOf(HANDLE handle, bool readOnly) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), (readOnly ? _O_RDONLY : _O_RDWR) | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
  } else {
    KeepTrackOf(handle);
  }
  return fd;
}

int DescriptorOfNew(HANDLE handle, int& error) {
  if (handle == INVALID_HANDLE_VALUE) {
    error = LastError();
    return -1;
  }
  const int fd = DescriptorOf(handle, false);
  error = fd < 0 ? InputOutputError() : 0;
  return fd;
}

void KeepTrackOf(HANDLE handle) noexcept {
  for (std::atomic<HANDLE>& slot : gTracked) {
    HANDLE empty = nullptr;
    if (slot.compare_exchange_strong(empty, handle)) return;
  }
}

void LoseTrackOf(HANDLE handle) noexcept {
  for (std::atomic<HANDLE>& slot : gTracked) {
    HANDLE tracked = handle;
    if (slot.compare_exchange_strong(tracked, nullptr)) return;
  }
}

void CloseTrackedHandles() noexcept {
  for (std::atomic<HANDLE>& slot : gTracked) {
    if (const HANDLE handle = slot.exchange(nullptr); handle != nullptr) ::CloseHandle(handle);
  }
}

int LastError() {
  const DWORD error = ::GetLastError();
  return error != 0 ? static_cast<int>(error) : InputOutputError();
}

bool TerminationIsHeld() { return gHeldDepth.load() > 0; }

namespace {

// A path a call wrote into path (length characters, 0 when it failed), in
// the form the user knows: "\\?\C:\..." as "C:\...", "\\?\UNC\server\..." as
// "\\server\...".
std::wstring PlainPath(std::wstring path, DWORD length) {
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\" + path.substr(7);
  if (path.starts_with(L"\\\\?\\")) return path.substr(4);
  return path;
}

std::wstring FullPath(const std::wstring& path) {
  std::wstring full(kLongestLeftoverPath + 16, L'\0');
  return PlainPath(full, ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
}

}  // namespace

std::wstring HandlePath(HANDLE handle) {
  std::wstring path(kLongestLeftoverPath + 16, L'\0');
  return PlainPath(path, ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS));
}

HANDLE OpenItself(const std::string& path, DWORD access, bool folder) {
  const std::wstring wide = SystemPath(path);
  const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
  const HANDLE handle = ::CreateFileW(wide.c_str(), access | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  FILE_BASIC_INFO basic{};
  const std::wstring opened = HandlePath(handle);
  const std::wstring named = FullPath(wide);
  const bool itself =
      ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
      ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder && !opened.empty() &&
      ::CompareStringOrdinal(opened.c_str(), -1, named.c_str(), -1, TRUE) == CSTR_EQUAL;
  if (itself) return handle;
  ::CloseHandle(handle);
  return INVALID_HANDLE_VALUE;
}

bool RemoveThrough(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

std::string SystemErrorText(int error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0,
      nullptr);
  std::string words = length > 0 ? Narrow({text, length}) : "Windows error " + std::to_string(error);
  ::LocalFree(text);
  // The system's text ends its last line.
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ')) words.pop_back();
  return words;
}

std::string Failure::Why() const { return error != 0 ? SystemErrorText(error) : reason; }

std::string TemporaryFolder() {
  wchar_t folder[MAX_PATH + 2];
  const DWORD length = ::GetTempPathW(MAX_PATH + 2, folder);
  if (length == 0 || length > MAX_PATH + 1) return ".";
  std::string path = Narrow({folder, length});
  if (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

const char kFolderSeparator = '\\';

long CurrentProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

void CloseDescriptor(int fd) {
  LoseTrackOf(HandleOf(fd));
  ::_close(fd);
}

ReadResult ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> out) {
  ReadResult result;
  const HANDLE handle = HandleOf(fd);
  while (result.got < out.size()) {
    OVERLAPPED at{};
    const std::uint64_t position = offset + result.got;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(out.size() - result.got, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(handle, out.data() + result.got, wanted, &got, &at)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_HANDLE_EOF) result.error = static_cast<int>(error);
      break;
    }
    if (got == 0) break;
    result.got += got;
  }
  return result;
}

int WriteAt(int fd, std::uint64_t offset, std::string_view bytes) {
  const HANDLE handle = HandleOf(fd);
  for (std::size_t done = 0; done < bytes.size();) {
    OVERLAPPED at{};
    const std::uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD put = 0;
    if (!::WriteFile(handle, bytes.data() + done, wanted, &put, &at)) return LastError();
    if (put == 0) return InputOutputError();
    done += put;
  }
  return 0;
}

int WriteAll(int fd, std::string_view bytes) {
  const HANDLE handle = HandleOf(fd);
  while (!bytes.empty()) {
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD put = 0;
    if (!::WriteFile(handle, bytes.data(), wanted, &put, nullptr)) return LastError();
    if (put == 0) return InputOutputError();
    bytes.remove_prefix(put);
  }
  return 0;
}

int InputOutputError() { return ERROR_WRITE_FAULT; }

bool TakeRunLock(int fd) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return ::LockFileEx(HandleOf(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

bool TakeRunLockOnNew(int fd) {
  if (!TakeRunLock(fd)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return false;
  }
  // A file another run's sweep has already marked for deletion.
  FILE_STANDARD_INFO info{};
  return !::GetFileInformationByHandleEx(HandleOf(fd), FileStandardInfo, &info, sizeof info) || !info.DeletePending;
}

void RemoveFileNow(const char* path) noexcept {
  wchar_t wide[kLongestLeftoverPath + 40];
  if (WidePathNow(path, wide, std::size(wide))) ::DeleteFileW(wide);
}

void RemoveFolderNow(const char* path) noexcept {
  wchar_t wide[kLongestLeftoverPath + 40];
  if (WidePathNow(path, wide, std::size(wide))) ::RemoveDirectoryW(wide);
}

TerminationHeld::TerminationHeld() { ++gHeldDepth; }

TerminationHeld::~TerminationHeld() { --gHeldDepth; }
