// Arbitrary bytes as the content of the evidence databases, run through every
// export and report task in a private folder: A, B, F, G, C, and D with
// favicons. Whatever the bytes, no task may crash, hang or overflow.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "console/console.h"
#include "table_export/browser_profiles.h"
#include "table_export/table_export.h"
#include "usage_reports/usage_csv.h"
#include "usage_reports/usage_html.h"

namespace {

std::filesystem::path gFolder;

void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(gFolder / name, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Runs one task with the given console answers; a task that ends the program
// (a file it could not write) is a legitimate end here.
template <typename Task>
void RunTask(const std::string& answers, Task task) {
  WriteFile(".answers", answers + std::string(8, '\n'));
  std::FILE* input = std::fopen((gFolder / ".answers").c_str(), "rb");
  if (input == nullptr) std::abort();
  std::ostringstream output;
  Console console(::fileno(input), output);
  CaseSettings settings;
  settings.caseReference = "R";
  settings.caseName = "N";
  try {
    task(console, settings);
  } catch (const ProgramEnd&) {
  }
  std::fclose(input);
}

void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(gFolder, ignored);
}

}  // namespace

// The tasks read and write their current folder: a private one for the run.
// Paths given to the fuzzer must therefore be absolute.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (std::filesystem::temp_directory_path() / "skv-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr || ::chdir(pattern.c_str()) != 0) std::abort();
  gFolder = pattern;
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const auto& entry : std::filesystem::directory_iterator(gFolder)) std::filesystem::remove(entry.path());
  WriteFile("places.sqlite", bytes);
  WriteFile("History", bytes);

  RunTask("", [](Console& c, const CaseSettings& s) { ExportBrowserTables(c, s, FirefoxProfile, false); });
  RunTask("", [](Console& c, const CaseSettings& s) { ExportBrowserTables(c, s, FirefoxProfile, true); });
  RunTask("", [](Console& c, const CaseSettings& s) { ExportBrowserTables(c, s, ChromeProfile, false); });
  RunTask("", [](Console& c, const CaseSettings& s) { ExportBrowserTables(c, s, ChromeProfile, true); });
  RunTask("", [](Console& c, const CaseSettings& s) { ExportUsageCsv(c, s); });
  RunTask("y\n", [](Console& c, const CaseSettings& s) { ExportUsageHtml(c, s); });
  return 0;
}
