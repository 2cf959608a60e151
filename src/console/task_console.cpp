#include "console/task_console.h"

#include "base/system_error.h"
#include "console/console.h"

EvidenceDatabase ProbeEvidenceDatabase(Console& console, const std::string& fileName) {
  EvidenceDatabase db = EvidenceDatabase::Open(fileName);
  if (db.found() == EvidenceDatabase::Found::kMissing) {
    console.WriteLine("Database " + fileName + " not found.");
    return db;
  }
  console.WriteLine("Database " + fileName + " found.");
  if (db.found() == EvidenceDatabase::Found::kUnreadable) {
    console.WriteLine("  Could not read " + fileName + (db.copyFailed() ? " from a private copy: " : ": ") + db.reason());
  }
  return db;
}

std::string ConsoleText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      shown += c;
    } else {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0xF];
    }
  }
  return shown;
}

void ReportUnpreparedStatement(Console& console) {
  console.WriteLine();
  console.Write("Could not prepare statement.");
}

void EndProgramWithMessage(Console& console, const std::string& message) {
  console.WriteLine(message);
  console.WriteLine();
  throw ProgramEnd{1};
}

void EndProgramAfterWriteFailure(Console& console, const OutputFailure& failure) {
  EndProgramWithMessage(console, "Error writing output file " + failure.fileName + ":" + SystemErrorText(failure.error));
}
