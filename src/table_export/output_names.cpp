#include "table_export/output_names.h"

namespace {

constexpr std::size_t kLongestFileName = 255;  // NAME_MAX of Linux file systems

bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

std::string CaseFileName(const CaseSettings& settings, std::string_view rest) {
  std::string name = settings.caseReference;
  name += " - ";
  name += settings.caseName;
  name += " - ";
  name += rest;
  return name;
}

std::string TableFileName(const CaseSettings& settings, std::string_view databaseFile, std::string_view table) {
  const std::string head = CaseFileName(settings, databaseFile) + " ";
  const std::string_view extension = ".csv";

  std::size_t keep = table.size();
  const std::size_t room = head.size() + extension.size() < kLongestFileName
                               ? kLongestFileName - head.size() - extension.size()
                               : 0;
  if (keep > room) {
    // The case texts are the examiner's, and too long a pair of them fails at
    // creation as it should; only the part from the evidence is shortened.
    keep = room;
    while (keep > 0 && IsUtf8Continuation(table[keep])) --keep;
  }

  std::string name = head;
  for (char c : table.substr(0, keep)) name += (c == '/' || c == '\\') ? '_' : c;
  name += extension;
  return name;
}
