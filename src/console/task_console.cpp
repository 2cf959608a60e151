#include "console/task_console.h"

#include "base/system_error.h"
#include "console/console.h"

EvidenceDatabase ProbeEvidenceDatabase(Console& console, const std::string& fileName) {
  EvidenceDatabase db = OpenEvidenceDatabase(fileName);
  if (!db.copyFailure().empty()) {
    console.WriteLine("Database " + fileName + " found.");
    console.WriteLine("  Could not read " + fileName + " from a private copy: " + db.copyFailure());
    return db;
  }
  console.WriteLine("Database " + fileName + (db ? " found." : " not found."));
  return db;
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
