// The evidence layer on Windows: see evidence/evidence_system.h.

#include <sqlite3.h>

#include <random>
#include <type_traits>

#include "base/leftover_files.h"
#include "base/system.h"
#include "base/system_error.h"
#include "base/windows_system.h"
#include "evidence/evidence_system.h"

namespace {

// Every program may read, write, rename and delete a file of the evidence
// while the tool reads it: a running browser is never blocked by it.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The lock file of a private copy's folder (a folder takes no byte-range
// lock).
constexpr const char* kLockFile = "run.lock";

// SQLite opens the private copy through CreateFileW without sharing
// deletion; shared, a copy can be removed by the console event handler while
// SQLite still holds it. Its handles are tracked, for the handler to close
// first (base/windows_system.h).
decltype(&::CreateFileW) gSqliteCreateFile = nullptr;
decltype(&::CloseHandle) gSqliteCloseHandle = nullptr;

HANDLE WINAPI CreateFileSharingDeletion(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                        DWORD disposition, DWORD flags, HANDLE templateFile) {
  const HANDLE handle =
      gSqliteCreateFile(name, access, share | FILE_SHARE_DELETE, security, disposition, flags, templateFile);
  if (handle != INVALID_HANDLE_VALUE) KeepTrackOf(handle);
  return handle;
}

BOOL WINAPI CloseTrackedHandle(HANDLE handle) {
  LoseTrackOf(handle);
  return gSqliteCloseHandle(handle);
}

bool Replace(sqlite3_vfs* vfs, const char* name, auto& original, auto replacement) {
  original = reinterpret_cast<std::remove_reference_t<decltype(original)>>(vfs->xGetSystemCall(vfs, name));
  return original != nullptr &&
         vfs->xSetSystemCall(vfs, name, reinterpret_cast<sqlite3_syscall_ptr>(replacement)) == SQLITE_OK;
}

void ShareDeletionOfSqliteFiles() {
  static const bool done = [] {
    sqlite3_initialize();
    sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    if (vfs == nullptr || vfs->xGetSystemCall == nullptr) return false;
    return Replace(vfs, "CloseHandle", gSqliteCloseHandle, CloseTrackedHandle) &&
           Replace(vfs, "CreateFileW", gSqliteCreateFile, CreateFileSharingDeletion);
  }();
  (void)done;
}

bool IsNotThere(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

OpenedEvidence OpenEvidence(const std::string& path, EvidenceRole role) {
  ShareDeletionOfSqliteFiles();
  const std::wstring wide = SystemPath(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return IsNotThere(error) ? OpenedEvidence() : OpenedEvidence::Unreadable(static_cast<int>(error));
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return OpenedEvidence::Unreadable(0, "it is a folder, not a file");
  // Allowed to write the file's times, the handle can ask the file system to
  // leave its access time as it is; a user who may not (read-only media, a
  // file of another user) reads it without.
  HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    handle =
        ::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  } else if (handle != INVALID_HANDLE_VALUE) {
    FILETIME keep{0xFFFFFFFF, 0xFFFFFFFF};
    ::SetFileTime(handle, nullptr, &keep, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A link that leads nowhere, for a sidecar, is no sidecar.
    if (role == EvidenceRole::kSidecar && IsNotThere(error)) return OpenedEvidence();
    return OpenedEvidence::Unreadable(static_cast<int>(error));
  }
  const DWORD type = ::GetFileType(handle);
  if (type != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    return OpenedEvidence::Unreadable(0, type == FILE_TYPE_PIPE ? "it is a pipe, not a file"
                                                                : "it is a device, not a file");
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle, &size)) {
    const int error = LastError();
    ::CloseHandle(handle);
    return OpenedEvidence::Unreadable(error);
  }
  OpenedEvidence opened;
  opened.state = OpenedEvidence::State::kOpen;
  opened.size = static_cast<std::uint64_t>(size.QuadPart);
  opened.isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // The file's own path, where its sidecars are: a link's target, and under
  // Wine the file a Unix link leads to, which Wine shows as no link.
  if (role == EvidenceRole::kDatabase) {
    const std::wstring own = HandlePath(handle);
    opened.resolved = own.empty() ? path : Narrow(own);
  }
  opened.fd = FileDescriptor(DescriptorOf(handle, true));
  if (opened.fd.get() < 0) return OpenedEvidence::Unreadable(InputOutputError());
  return opened;
}

CopyFolder MakeCopyFolder(const std::string& base, std::string_view prefix) {
  CopyFolder folder;
  static std::mt19937 names(std::random_device{}());
  std::string path;
  for (;;) {
    path = base + "\\" + std::string(prefix) + std::to_string(CurrentProcessId()) + "-" +
           std::to_string(names() % 1000000000u);
    if (::CreateDirectoryW(SystemPath(path).c_str(), nullptr)) break;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      folder.error = LastError();
      return folder;
    }
  }
  // The run's lock, on a file of the folder, taken at once: another run's
  // sweep removes only folders whose lock no run holds. One that took the
  // folder before this run could has removed it, or is removing it: another
  // is made.
  const HANDLE lock = ::CreateFileW(SystemPath(path + "\\" + kLockFile).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    kShareAll, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (lock == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    ::RemoveDirectoryW(SystemPath(path).c_str());
    if (!IsNotThere(error)) folder.error = static_cast<int>(error);
    return folder;
  }
  FileDescriptor fd(DescriptorOf(lock, false));
  if (fd.get() < 0 || !TakeRunLockOnNew(fd.get())) {
    fd = FileDescriptor(-1);
    RemoveFileNow((path + "\\" + kLockFile).c_str());
    RemoveFolderNow(path.c_str());
    return folder;
  }
  folder.path = std::move(path);
  folder.lock = std::move(fd);
  folder.lockFile = kLockFile;
  return folder;
}

int CreateCopyFile(const std::string& path, int& error) {
  return DescriptorOfNew(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
                         error);
}

std::uint64_t CopyInSystem(int, int, std::uint64_t from, std::uint64_t) { return from; }

DataRun NextDataRun(int, std::uint64_t position, std::uint64_t size) { return {position, size}; }

int SetFileLength(int fd, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFileInformationByHandle(HandleOf(fd), FileEndOfFileInfo, &end, sizeof end) ? 0 : LastError();
}

int RemoveUnlockedCopyFolders(const std::string& base, std::string_view prefix,
                              std::span<const std::string> fileNames) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW(SystemPath(base + "\\" + std::string(prefix) + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    const std::string name = Narrow(found.cFileName);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || !IsNamedLikeLeftover(name, prefix)) continue;
    const std::string path = base + "\\" + name;
    // The folder itself, never one a link leads to.
    const HANDLE folder = OpenItself(path, DELETE, true);
    if (folder == INVALID_HANDLE_VALUE) continue;
    const HANDLE lock = OpenItself(path + "\\" + kLockFile, GENERIC_READ | GENERIC_WRITE | DELETE, false);
    FileDescriptor held(lock != INVALID_HANDLE_VALUE ? DescriptorOf(lock, false) : -1);
    // A folder whose lock a run holds is that run's, whatever process ids
    // say: it stays. One without its lock file was left half made.
    if (held.get() < 0 ? ::GetFileAttributesW(SystemPath(path + "\\" + kLockFile).c_str()) != INVALID_FILE_ATTRIBUTES
                       : !TakeRunLock(held.get())) {
      ::CloseHandle(folder);
      continue;
    }
    for (const std::string& file : fileNames) {
      const HANDLE handle = OpenItself(path + "\\" + file, DELETE, false);
      if (handle == INVALID_HANDLE_VALUE) continue;
      RemoveThrough(handle);
      ::CloseHandle(handle);
    }
    if (held.get() >= 0) RemoveThrough(HandleOf(held.get()));
    held = FileDescriptor(-1);
    // A folder that holds anything else is not one of ours: it stays.
    if (RemoveThrough(folder)) ++removed;
    ::CloseHandle(folder);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return removed;
}
