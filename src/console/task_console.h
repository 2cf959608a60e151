#pragma once

// The console conventions that every export and report task follows: the
// probe lines of a database, the report of a statement that could not be
// prepared, the files a task writes and the end of the program when one is
// lost. The layers below the tasks hand back what happened; these turn it
// into the console's words and the exit.

#include <exception>
#include <string>
#include <string_view>

#include "evidence/evidence_database.h"
#include "base/failure.h"
#include "output/output_file.h"

class Console;

// What the running task is reading ("places.sqlite > moz_places"), for the
// message of a task that an exception ends: set for the lifetime of the
// note. A note that an exception passes through stays, so that the top of
// the program can name what was being read when it came.
class ReadingNote {
 public:
  explicit ReadingNote(std::string what);
  ~ReadingNote();
  ReadingNote(const ReadingNote&) = delete;
  ReadingNote& operator=(const ReadingNote&) = delete;

  // The note in force, or the one an exception left; empty when none.
  static const std::string& Current();

 private:
  std::string previous_;
  int exceptions_;
};

// Ends the program with exit status 1 for an exception that escaped a task:
// the message says the task ran out of memory, or failed on an internal
// error, and what it was reading when the note says so. Never throws.
int ReportEscapedException(Console& console, const std::exception_ptr& exception) noexcept;

// Opens the database and writes "Database <name> found." or
// "Database <name> not found." on a line of its own. A database that is
// there but cannot be read is reported as found, with a line saying why
// (ReportUnreadable). A database read where it stands, no private copy being
// possible, is said to be so, with the line "  Read where it stands, so its
// access time may change: <why no copy could be made>".
// A database that is not there gets its "not found." line, except where
// the task looks for it only in case it is there (a file of the browsers'
// later versions): then nothing at all is written for it.
enum class MissingLine { kWrite, kNone };
EvidenceDatabase ProbeEvidenceDatabase(Console& console, const std::string& fileName,
                                       MissingLine missing = MissingLine::kWrite);

// The line of a database that is there but cannot be read:
// "  Could not read <name>: <reason>", naming the sidecar when it is the
// sidecar that cannot be read ("its journal <file> cannot be read: ..."), or
// "  Could not read <name> from a private copy: ..." when the copy failed.
void ReportUnreadable(Console& console, const std::string& fileName, const Failure& failure);
// That line, for a task that writes it later.
std::string UnreadableLine(const std::string& fileName, const Failure& failure);

// A text from the evidence, such as a table name, as the console shows it:
// each control byte (0x00 to 0x1F, 0x7F) written as \xNN, so that no name
// can break a line of the transcript into two or send the terminal an
// escape sequence.
std::string ConsoleText(std::string_view text);

// A statement that cannot be prepared ends the report at once: a line end,
// "Could not prepare statement.", a line end and SQLite's reason, with no
// line end after it. The menu's section break follows.
void ReportUnpreparedStatement(Console& console, sqlite3* db);
// The same with SQLite's reason taken where the statement failed.
void ReportUnpreparedStatement(Console& console, std::string_view reason);

// Ends the program with exit status 1: the task's message, then two line
// ends. Every owner of a file, statement or private copy is released on the
// way out.
[[noreturn]] void EndProgramWithMessage(Console& console, const std::string& message);

// "Error writing output file <name>:<system text>", two line ends, exit
// status 1: a file that lost data must never look like a finished one, and
// it has been removed.
[[noreturn]] void EndProgramAfterWriteFailure(Console& console, const Failure& failure);

// How a task words an output file that cannot be created: each task has
// its own message, and examiners' scripts may look for them.
enum class CreateMessage {
  kNameThenReason,  // "Error creating output file <name>:<system text>" (the table export)
  kAfterColonBlank,  // "Error creating output file: <name>" (the usage report as CSV)
  kAfterColon,       // "Error creating output file:<name>" (the usage report as HTML)
};

// An output file of a task that is written whole or ends the program: the
// one owner of the rule that a lost output ends the run with exit status 1
// after its message, never a file that looks finished. The format writers
// append to out(); a write that fails there is told at the next EndLine or
// Publish. A file not published (the task found it cannot finish it) is
// removed, and an earlier file of its name stays as it was.
class TaskFile {
 public:
  // Creates the file, or ends the program with the task's message.
  TaskFile(Console& console, std::string name, CreateMessage message);

  OutputFile& out() { return file_; }
  void Append(std::string_view bytes) { file_.Append(bytes); }
  // Ends the line; ends the program when any write has failed.
  void EndLine() {
    file_.EndLine();
    if (file_.failure()) EndProgramAfterWriteFailure(console_, *file_.failure());
  }
  // Gives the file its final name, or ends the program.
  void Publish();

 private:
  Console& console_;
  OutputFile file_;
};
