#include "console/task_console.h"

#include <new>

#include "console/console.h"

EvidenceDatabase ProbeEvidenceDatabase(Console& console, const std::string& fileName, MissingLine missing) {
  EvidenceDatabase db = EvidenceDatabase::Open(fileName);
  if (db.found() == EvidenceDatabase::Found::kMissing) {
    if (missing == MissingLine::kWrite) console.WriteLine("Database " + fileName + " not found.");
    return db;
  }
  console.WriteLine("Database " + fileName + " found.");
  if (db.found() == EvidenceDatabase::Found::kUnreadable) ReportUnreadable(console, fileName, *db.failure());
  if (db.readInPlace()) {
    console.WriteLine("  Read where it stands, so its access time may change: no private copy could be made in "
                      "the temporary folder " + ConsoleText(db.failure()->name) + ": " + db.failure()->Why());
  }
  return db;
}

void ReportUnreadable(Console& console, const std::string& fileName, const Failure& failure) {
  console.WriteLine(UnreadableLine(fileName, failure));
}

std::string UnreadableLine(const std::string& fileName, const Failure& failure) {
  std::string line = "  Could not read " + fileName;
  if (failure.step == Failure::Step::kCopy) {
    line += " from a private copy: ";
    if (!failure.name.empty()) line += "cannot make one in the temporary folder " + failure.name + ": ";
  } else if (failure.name != fileName) {
    line += ": its " + std::string(SidecarKind(failure.name)) + " " + failure.name + " cannot be read: ";
  } else {
    line += ": ";
  }
  return ConsoleText(line + failure.Why());
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

void ReportUnpreparedStatement(Console& console, sqlite3* db) {
  ReportUnpreparedStatement(console, sqlite3_errmsg(db));
}

void ReportUnpreparedStatement(Console& console, std::string_view reason) {
  console.WriteLine();
  console.WriteLine("Could not prepare statement.");
  console.Write(ConsoleText(reason));
}

void EndProgramWithMessage(Console& console, const std::string& message) {
  console.WriteLine(message);
  console.WriteLine();
  throw ProgramEnd{1};
}

void EndProgramAfterWriteFailure(Console& console, const Failure& failure) {
  EndProgramWithMessage(console, "Error writing output file " + failure.name + ":" + failure.Why());
}

TaskFile::TaskFile(Console& console, std::string name, CreateMessage message)
    : console_(console), file_(std::move(name)) {
  if (!file_.failure()) return;
  const std::string& created = file_.name();
  switch (message) {
    case CreateMessage::kNameThenReason:
      EndProgramWithMessage(console_, "Error creating output file " + created + ":" + file_.failure()->Why());
    case CreateMessage::kAfterColonBlank:
      EndProgramWithMessage(console_, "Error creating output file: " + created);
    case CreateMessage::kAfterColon:
      EndProgramWithMessage(console_, "Error creating output file:" + created);
  }
}

void TaskFile::Publish() {
  if (!file_.Publish()) EndProgramAfterWriteFailure(console_, *file_.failure());
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
