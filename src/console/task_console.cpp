#include "console/task_console.h"

#include <new>

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
    console.WriteLine("  Could not read " + fileName + (db.copyFailed() ? " from a private copy: " : ": ") +
                      ConsoleText(db.reason()));
  }
  if (db.readInPlace()) console.WriteLine("  Read where it stands, so its access time may change: " + ConsoleText(db.reason()));
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

namespace {

std::string& NoteInForce() {
  static std::string note;
  return note;
}

}  // namespace

ReadingNote::ReadingNote(std::string what)
    : previous_(std::move(NoteInForce())), exceptions_(std::uncaught_exceptions()) {
  NoteInForce() = std::move(what);
}

ReadingNote::~ReadingNote() {
  if (std::uncaught_exceptions() == exceptions_) NoteInForce() = std::move(previous_);
}

const std::string& ReadingNote::Current() { return NoteInForce(); }

int ReportEscapedException(Console& console, const std::exception_ptr& exception) noexcept {
  const std::string& note = ReadingNote::Current();
  const std::string where = note.empty() ? "" : " while reading " + ConsoleText(note);
  try {
    std::rethrow_exception(exception);
  } catch (const std::bad_alloc&) {
    console.WriteLine();
    console.WriteLine("The task ran out of memory" + where + ".");
  } catch (const std::exception& error) {
    console.WriteLine();
    console.WriteLine("The task failed on an internal error" + where + ": " + error.what());
  } catch (...) {
    console.WriteLine();
    console.WriteLine("The task failed on an internal error" + where + ".");
  }
  console.WriteLine();
  return 1;
}
