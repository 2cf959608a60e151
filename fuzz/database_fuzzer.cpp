// The fuzzer's bytes made into an evidence folder of valid, odd or damaged
// SQLite databases (evidence_builder.h), and every reading task run on it:
// A, B, F, G, C, K, L and D with favicons. Beyond "no crash, no hang, no leak",
// each task must leave:
// - every file it says it wrote, and nothing else: one CSV file per table
//   it processed, the report it counted rows into, the images its page
//   shows; each read whole by a strict reader (output_checks.h);
// - the evidence as it was, byte for byte, nothing written outside its
//   folder, no private copy left in the temporary folder;
// - the program running: a task that ends it (an output it could not
//   create or write) is a finding, as every name must fit the folder.
//
// The folders live on tmpfs (/dev/shm) and are made once per process; a run
// only empties them.

#include <dirent.h>
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "console/console.h"
#include "evidence_builder.h"
#include "output_checks.h"
#include "profiles/browser_profiles.h"
#include "table_export/table_export.h"
#include "usage_reports/chrome_usage_csv.h"
#include "usage_reports/usage_csv.h"
#include "usage_reports/usage_html.h"

namespace {

namespace fs = std::filesystem;

fs::path gRoot;       // the process's own folder, which holds the three below
fs::path gFolder;     // the evidence folder, the current folder of the tasks
fs::path gTemporary;  // $TMPDIR: where private copies are made
fs::path gScratch;    // where the builder makes WAL databases

using Files = std::map<std::string, std::string>;  // name to bytes

[[noreturn]] void Finding(const std::string& what, const std::string& transcript) {
  std::fprintf(stderr, "FINDING: %s\n--- transcript (last 2000 bytes) ---\n%s\n", what.c_str(),
               transcript.substr(transcript.size() > 2000 ? transcript.size() - 2000 : 0).c_str());
  std::abort();
}

// The names in a folder, by readdir: lighter than a directory iterator in a
// loop that runs a thousand times a second.
std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}


// Removes every file of the evidence folder but those kept: what a task
// wrote, so that the next task's outputs stand alone.
void RemoveFilesBut(const Files& kept) {
  for (const std::string& name : Names(gFolder)) {
    if (!kept.contains(name)) ::unlink((gFolder / name).c_str());
  }
}

// The answers of every task, in a file read from its start by each: "y"
// for the favicon question of D, then empty lines for the pauses (the other
// tasks take the "y" for their pause, which ignores what it reads).
int gAnswers = -1;

// Runs one task on a console of its own.
template <typename Task>
std::string RunTask(const CaseSettings& settings, Task task) {
  if (::lseek(gAnswers, 0, SEEK_SET) != 0) std::abort();
  std::ostringstream output;
  Console console(gAnswers, output);
  try {
    task(console, settings);
  } catch (const ProgramEnd& end) {
    Finding("the task ended the program with status " + std::to_string(end.exitStatus), output.str());
  }
  return output.str();
}

// The count of "<n> rows exported", or -1 when the report ended without one.
long RowsExported(const std::string& transcript) {
  const std::size_t at = transcript.rfind(" rows exported\n");
  if (at == std::string::npos) return -1;
  const std::size_t start = transcript.rfind('\n', at) + 1;
  return std::stol(transcript.substr(start, at - start));
}

// The name of an output not yet published: ".skv-<process>-<number>.part".
bool IsTemporaryOutput(const std::string& name) {
  if (!name.starts_with(".skv-") || !name.ends_with(".part")) return false;
  const std::string middle = name.substr(5, name.size() - 10);
  const std::size_t dash = middle.find('-');
  auto digits = [](const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  };
  return dash != std::string::npos && digits(middle.substr(0, dash)) && digits(middle.substr(dash + 1));
}

// The files the task left beside the evidence, after checking that the
// evidence is all there and nothing was left around it. Whether the
// evidence kept every byte is checked once all the tasks have run.
Files Outputs(const Files& evidence, const std::string& transcript) {
  Files outputs;
  std::size_t evidenceFound = 0;
  for (const std::string& name : Names(gFolder)) {
    if (evidence.contains(name)) {
      ++evidenceFound;
    } else {
      outputs[name] = ReadAll((gFolder / name).string());
    }
  }
  if (evidenceFound != evidence.size()) Finding("a file of the evidence went missing", transcript);
  for (const auto& [name, bytes] : outputs) {
    if (IsTemporaryOutput(name)) Finding("a temporary output was left: " + name, transcript);
  }
  return outputs;
}

// The tables processed whose rows could be listed: each has a file. One
// whose statement could not be prepared is said so on the next line.
std::size_t TablesListed(const std::string& transcript) {
  std::size_t listed = 0;
  const std::string processing = "\n  Processing ";
  for (std::size_t at = transcript.find(processing); at != std::string::npos;
       at = transcript.find(processing, at + processing.size())) {
    const std::size_t next = transcript.find('\n', at + 1);
    if (next == std::string::npos || transcript.compare(next, 32, "\n  Could not prepare statement.\n") != 0) ++listed;
  }
  return listed;
}

void CheckTableExport(const Files& evidence, const std::string& transcript) {
  const Files outputs = Outputs(evidence, transcript);
  if (outputs.size() != TablesListed(transcript)) {
    Finding(std::to_string(outputs.size()) + " files for the tables processed", transcript);
  }
  for (const auto& [name, bytes] : outputs) {
    const auto counts = CsvFieldCounts(bytes);
    if (!counts) Finding("a table file that no CSV reader takes: " + name, transcript);
    for (std::size_t count : *counts) {
      if (count != counts->front()) Finding("records of different lengths in " + name, transcript);
    }
  }
}

// fields: how many each record of the report has.
void CheckUsageCsv(const Files& evidence, const std::string& transcript, std::size_t fields) {
  const Files outputs = Outputs(evidence, transcript);
  const long rows = RowsExported(transcript);
  if (outputs.empty()) {
    if (rows > 0) Finding("rows exported but no report", transcript);
    return;
  }
  if (outputs.size() != 1) Finding("more than the report was written", transcript);
  const auto counts = CsvFieldCounts(outputs.begin()->second);
  if (!counts || counts->empty()) Finding("a report that no CSV reader takes", transcript);
  for (std::size_t count : *counts) {
    if (count != fields) Finding("a report record of " + std::to_string(count) + " fields", transcript);
  }
  if (rows >= 0 && static_cast<long>(counts->size()) != rows + 1) {
    Finding(std::to_string(counts->size()) + " records for " + std::to_string(rows) + " rows exported", transcript);
  }
}

void CheckUsageHtml(const Files& evidence, const std::string& transcript) {
  Files outputs = Outputs(evidence, transcript);
  const long rows = RowsExported(transcript);
  std::string page;
  for (auto entry = outputs.begin(); entry != outputs.end(); ++entry) {
    if (entry->first.ends_with(".html")) {
      page = entry->second;
      outputs.erase(entry);
      break;
    }
  }
  if (page.empty()) {
    if (rows > 0 || !outputs.empty()) Finding("no page, yet rows or images", transcript);
    return;
  }
  std::vector<std::string> images;
  if (auto problem = HtmlProblem(page, rows >= 0, rows, images)) Finding("the page: " + *problem, transcript);
  for (const std::string& image : images) {
    if (!outputs.contains(image)) Finding("the page shows an image not written: " + image, transcript);
  }
  if (outputs.size() != std::set<std::string>(images.begin(), images.end()).size()) {
    Finding("images written that the page does not show", transcript);
  }
}

}  // namespace

// SQLite frees and allocates much in every run. A quarantine of 16 MB still
// holds all that one run frees, so a use after free within a run is caught,
// while the default of 256 MB makes every allocation touch fresh pages and
// the harness several times slower.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

// The folders are made once per process, on tmpfs where there is one.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "skv-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  gRoot = pattern;
  gFolder = gRoot / "evidence";
  gTemporary = gRoot / "tmp";
  gScratch = gRoot / "scratch";
  for (const fs::path& folder : {gFolder, gTemporary, gScratch}) fs::create_directory(folder);
  ::setenv("TMPDIR", gTemporary.c_str(), 1);
  // SQLite's own file layer stays the default: its lock-free one would be
  // faster here, but it cannot read a database in WAL mode.
  // Nor does it need SQLite's count of the memory it holds, which takes a
  // lock on every allocation.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  if (::chdir(gFolder.c_str()) != 0) std::abort();
  const std::string answers = (gRoot / "answers").string();
  gAnswers = ::open(answers.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  const std::string text = "y\n" + std::string(8, '\n');
  if (gAnswers < 0 || ::write(gAnswers, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(gRoot, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  RemoveFilesBut({});
  CaseSettings settings;
  settings.englishDateFormat = data.ConsumeBool();
  settings.utcOffsetMinutes = data.ConsumeFloatingPoint<float>();
  settings.caseReference = FuzzedCaseText(data);
  settings.caseName = FuzzedCaseText(data);
  settings.investigator = FuzzedCaseText(data);
  Files evidence;
  for (GeneratedEvidenceFile& file : BuildEvidence(data, gScratch.string())) {
    std::ofstream(gFolder / file.name, std::ios::binary) << file.bytes;
    evidence[file.name] = std::move(file.bytes);
  }

  auto exportTables = [&](const BrowserProfile& profile, bool decode) {
    const std::string transcript = RunTask(settings, [&](Console& console, const CaseSettings& s) {
      ExportBrowserTables(console, s, profile, decode);
    });
    CheckTableExport(evidence, transcript);
    RemoveFilesBut(evidence);
  };
  exportTables(FirefoxProfile, false);
  exportTables(FirefoxProfile, true);
  exportTables(ChromeProfile, false);
  exportTables(ChromeProfile, true);

  const std::string csv = RunTask(settings, ExportUsageCsv);
  CheckUsageCsv(evidence, csv, 10);
  RemoveFilesBut(evidence);
  const std::string chromeCsv = RunTask(settings, ExportChromeUsageCsv);
  CheckUsageCsv(evidence, chromeCsv, 9);
  RemoveFilesBut(evidence);
  const std::string chromeHtml = RunTask(settings, ExportChromeUsageHtml);
  CheckUsageHtml(evidence, chromeHtml);
  RemoveFilesBut(evidence);
  const std::string html = RunTask(settings, ExportUsageHtml);
  CheckUsageHtml(evidence, html);

  for (const auto& [name, bytes] : evidence) {
    if (ReadAll((gFolder / name).string()) != bytes) Finding("the evidence " + name + " changed", html);
  }
  if (!Names(gTemporary).empty()) Finding("a private copy was left behind", html);
  const std::vector<std::string> around = Names(gRoot);
  if (std::set<std::string>(around.begin(), around.end()) != std::set<std::string>{"answers", "evidence", "scratch", "tmp"}) {
    Finding("a file was written outside the folder", html);
  }
  return 0;
}
