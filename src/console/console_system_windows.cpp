// The console layer on Windows: see console/console_system.h.

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "base/leftover_files.h"
#include "base/windows_system.h"
#include "console/console.h"
#include "console/console_system.h"

namespace {

// How a Windows program that Ctrl+C ends exits.
constexpr UINT kEndedByConsoleEvent = 0xC000013A;

// The program's thread, which the console event handler stops before it
// removes the leftovers: it runs on a thread of its own.
HANDLE gProgramThread = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  // The program's thread stopped where it holds no registration half made.
  for (;;) {
    while (TerminationIsHeld()) ::Sleep(1);
    if (gProgramThread == nullptr || ::SuspendThread(gProgramThread) == static_cast<DWORD>(-1)) break;
    if (!TerminationIsHeld()) break;
    ::ResumeThread(gProgramThread);
  }
  CloseTrackedHandles();
  RemoveLeftovers();
  Console::EndProgressLineOnSignal();
  // At once: the stopped thread may hold a lock that an orderly exit needs.
  ::TerminateProcess(::GetCurrentProcess(), kEndedByConsoleEvent);
  return TRUE;
}

// A fault of the program: its leftovers go, then the system reports the
// fault as it would have.
LONG WINAPI OnFault(EXCEPTION_POINTERS*) {
  RemoveLeftovers();
  Console::EndProgressLineOnSignal();
  return EXCEPTION_CONTINUE_SEARCH;
}

// A console's typed UTF-16, as UTF-8 lines that end in "\n" alone; a line
// that begins with Ctrl+Z ends the input, as in every console program.
std::string gTyped;

long ReadConsoleText(HANDLE console, char* buffer, std::size_t size) {
  while (gTyped.empty()) {
    wchar_t wide[1024];
    DWORD got = 0;
    if (!::ReadConsoleW(console, wide, static_cast<DWORD>(std::size(wide)), &got, nullptr)) return -1;
    if (got == 0 || wide[0] == 0x1A) return 0;
    // A character of two halves whose second half is still to come.
    DWORD whole = got;
    if (wide[got - 1] >= 0xD800 && wide[got - 1] <= 0xDBFF && got > 1) --whole;
    for (const char c : Narrow({wide, whole})) {
      if (c != '\r') gTyped += c;
    }
    if (whole < got) {
      wchar_t pair[2] = {wide[got - 1], 0};
      DWORD second = 0;
      if (::ReadConsoleW(console, pair + 1, 1, &second, nullptr) && second == 1) gTyped += Narrow({pair, 2});
    }
  }
  const std::size_t taken = std::min(size, gTyped.size());
  gTyped.copy(buffer, taken);
  gTyped.erase(0, taken);
  return static_cast<long>(taken);
}

}  // namespace

int StandardInput() { return 0; }
int StandardOutput() { return 1; }

void PrepareStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::_get_osfhandle(fd) < 0) {
      // No stream: the number is taken by the null device, so that no file
      // opened later is given it.
      const int null = ::_open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
      if (null >= 0 && null != fd) {
        ::_dup2(null, fd);
        ::_close(null);
      }
    }
    ::_setmode(fd, _O_BINARY);
  }
  ::SetConsoleCP(CP_UTF8);
  ::SetConsoleOutputCP(CP_UTF8);
}

bool IsTerminal(int fd) {
  DWORD mode = 0;
  return ::GetConsoleMode(HandleOf(fd), &mode) != 0;
}

long ReadInput(int fd, char* buffer, std::size_t size) {
  const HANDLE input = HandleOf(fd);
  if (IsTerminal(fd)) return ReadConsoleText(input, buffer, size);
  DWORD got = 0;
  if (::ReadFile(input, buffer, static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)), &got, nullptr)) {
    return static_cast<long>(got);
  }
  // The writer of a pipe has closed it: the end of input.
  return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

void DiscardTypedAhead(int fd) {
  gTyped.clear();
  ::FlushConsoleInputBuffer(HandleOf(fd));
}

void WriteToStandardOutputNow(std::string_view bytes) noexcept {
  DWORD put = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
}

void EndOnTerminatingSignals() {
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &gProgramThread,
                    THREAD_SUSPEND_RESUME, FALSE, 0);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  ::SetUnhandledExceptionFilter(OnFault);
}
