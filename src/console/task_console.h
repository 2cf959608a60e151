#pragma once

// The console conventions that every export and report task follows: the
// probe lines of a database, the end of a task whose statement could not be
// prepared, and the end of the program when an output file is lost. The
// layers below the tasks hand back what happened; these turn it into the
// console's words and the exit.

#include <string>
#include <string_view>

#include "evidence/evidence_database.h"
#include "output/output_file.h"

class Console;

// Opens the database and writes "Database <name> found." or
// "Database <name> not found." on a line of its own. A database that is
// there but cannot be read (not a file, not readable, or not copied where it
// must be) is reported as found, with a line saying it could not be read and
// why: "  Could not read <name>: <reason>", or "... from a private copy: ...".
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
