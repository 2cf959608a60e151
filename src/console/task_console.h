#pragma once

// The console conventions that every export and report task follows: the
// probe lines of a database, the end of a task whose statement could not be
// prepared, and the end of the program when an output file is lost. The
// layers below the tasks hand back what happened; these turn it into the
// console's words and the exit.

#include <exception>
#include <string>
#include <string_view>

#include "evidence/evidence_database.h"
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
// there but cannot be read (not a file, not readable, or not copied where it
// must be) is reported as found, with a line saying it could not be read and
// why: "  Could not read <name>: <reason>", or "... from a private copy: ...".
// A database read where it stands, no private copy being possible, is said
// to be so, with the line "  Read where it stands, so its access time may
// change: <reason>".
EvidenceDatabase ProbeEvidenceDatabase(Console& console, const std::string& fileName);

// A text from the evidence, such as a table name, as the console shows it:
// each control byte (0x00 to 0x1F, 0x7F) written as \xNN, so that no name
// can break a line of the transcript into two or send the terminal an
// escape sequence.
std::string ConsoleText(std::string_view text);

// A statement that cannot be prepared ends the task at once: a line end, then
// this text with none after it. The menu's section break follows.
void ReportUnpreparedStatement(Console& console);

// Ends the program with exit status 1: the task's message, then two line
// ends. Every owner of a file, statement or private copy is released on the
// way out.
[[noreturn]] void EndProgramWithMessage(Console& console, const std::string& message);

// "Error writing output file <name>:<system text>", two line ends, exit
// status 1: a file that lost data must never look like a finished one, and
// it has been removed.
[[noreturn]] void EndProgramAfterWriteFailure(Console& console, const OutputFailure& failure);
