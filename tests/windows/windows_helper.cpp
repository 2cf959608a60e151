// What the tests of skv.exe under Wine need of a second Windows program:
//
//   windows_helper event EVENT TEXT INPUT OUTPUT PROGRAM
//     runs PROGRAM on a console of its own, its standard input and output the
//     files INPUT and OUTPUT, and sends the console EVENT ("c" for Ctrl+C,
//     "break" for Ctrl+Break) once the output holds TEXT, as an examiner
//     does at a console window (Wine gives a program started from a pipe no
//     console); then writes the program's exit status, in hexadecimal.
//   windows_helper hold PATH...
//     opens each file without sharing it, as a running browser holds its
//     profile;
//   windows_helper lock PATH...
//     takes a run's lock on each file, as a live run of skv.exe holds it;
//   for both, writes "ready" and keeps them until its input ends.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

BOOL WINAPI Ignore(DWORD) { return TRUE; }

HANDLE Inheritable(const wchar_t* path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return ::CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Holds(const wchar_t* path, const std::string& text) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return bytes.find(text) != std::string::npos;
}

std::string Narrow(const wchar_t* text) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

int SendEvent(const std::wstring& event, const std::string& text, const wchar_t* input, const wchar_t* output,
              const wchar_t* program) {
  ::FreeConsole();
  if (!::AllocConsole()) return 3;
  ::SetConsoleCtrlHandler(Ignore, TRUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable(input, GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = Inheritable(output, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = startup.hStdOutput;
  std::wstring command = std::wstring(L"\"") + program + L"\"";
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    return 4;
  }
  for (int waited = 0; !Holds(output, text); waited += 10) {
    if (waited > 60000 || ::WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0) return 5;
  }
  ::GenerateConsoleCtrlEvent(event == L"c" ? CTRL_C_EVENT : CTRL_BREAK_EVENT, 0);
  if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) return 6;
  DWORD status = 0;
  ::GetExitCodeProcess(process.hProcess, &status);
  std::printf("%lX\n", static_cast<unsigned long>(status));
  return 0;
}

int HoldUntilInputEnds(bool lock, int count, wchar_t** paths) {
  for (int i = 0; i < count; ++i) {
    const DWORD share = lock ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
    const HANDLE file =
        ::CreateFileW(paths[i], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    // The run's lock: one byte at 0x4000000000000000 (base/system_windows.cpp).
    OVERLAPPED at{};
    at.OffsetHigh = 0x40000000;
    if (lock && !::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return 4;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  char ignored[256];
  DWORD got = 0;
  while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), ignored, sizeof ignored, &got, nullptr) && got > 0) {
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring verb = argc > 1 ? argv[1] : L"";
  if (verb == L"event" && argc == 7) return SendEvent(argv[2], Narrow(argv[3]), argv[4], argv[5], argv[6]);
  if (verb == L"hold" || verb == L"lock") return HoldUntilInputEnds(verb == L"lock", argc - 2, argv + 2);
  return 2;
}
