// Runs a program on a console of its own, its standard input and output
// files, and sends the console an event (Ctrl+C, Ctrl+Break, the window
// closed) once its output holds a text: what an examiner does at a console
// window, for the tests of skv.exe under Wine, which gives a program started
// from a pipe no console. Writes the program's exit status, in hexadecimal,
// to standard output.
//
//   console_event EVENT TEXT INPUT OUTPUT PROGRAM
//
// EVENT is "c", "break" or "close".

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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 6) return 2;
  const std::wstring event = argv[1];
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, argv[2], -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, argv[2], -1, text.data(), length, nullptr, nullptr);
  text.resize(text.size() - 1);

  ::FreeConsole();
  if (!::AllocConsole()) return 3;
  ::SetConsoleCtrlHandler(Ignore, TRUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable(argv[3], GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = Inheritable(argv[4], GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = startup.hStdOutput;
  std::wstring command = std::wstring(L"\"") + argv[5] + L"\"";
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(argv[5], command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    return 4;
  }
  for (int waited = 0; !Holds(argv[4], text); waited += 10) {
    if (waited > 60000 || ::WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0) return 5;
  }
  if (event == L"close") {
    ::FreeConsole();
  } else {
    ::GenerateConsoleCtrlEvent(event == L"c" ? CTRL_C_EVENT : CTRL_BREAK_EVENT, 0);
  }
  if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) return 6;
  DWORD status = 0;
  ::GetExitCodeProcess(process.hProcess, &status);
  std::printf("%lX\n", static_cast<unsigned long>(status));
  return 0;
}
