#pragma once

// The console of one run: every prompt, answer, progress line and message of
// the tool passes through here.
//
// Output goes to one stream, flushed at every line end and before every read.
// Input is read from a file descriptor through a buffer of our own, so that
// "pending input" has a precise meaning: on a terminal it is everything typed
// ahead (our buffer and the terminal's queue); on a pipe or a file it is the
// unread rest of the current line only, so that a script of one answer per
// line drives the program.
//
// The end of standard input ends the program at once, as if the user had
// chosen to exit: every read then throws ProgramEnd{0}. Nothing here ever
// loops on a closed input.

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Thrown to end the whole program with the given exit status. main() catches
// it, so every RAII owner on the way (statements, connections, files) is
// released before the process ends.
struct ProgramEnd {
  int exitStatus;
};

class Console {
 public:
  // outputIsTerminal: whether progress may be shown in place (see ShowProgress).
  Console(int inputFd, std::ostream& output, bool outputIsTerminal = false);

  bool outputIsTerminal() const { return outputIsTerminal_; }

  // Writes text without a line end and flushes: prompts, and the parts of a
  // line that ends later.
  void Write(std::string_view text);
  // Writes text and a line end, and flushes.
  void WriteLine(std::string_view text = {});

  // Three line breaks, each flushed: what sets one screen apart from the next.
  void PrintSectionBreak();
  // Reads one whole line, without its line break, into answer; then drops
  // pending input. A last line without a line break counts as a line.
  void ReadAnswer(std::string& answer);
  // The same, without dropping what was typed ahead.
  void ReadLine(std::string& line);
  // Reads one number by the rules of the "%f" input conversion: white space,
  // line breaks included, is skipped; then an optional sign, digits with an
  // optional point and fraction, an optional exponent. Returns nothing when
  // the input there is no number, or not a finite single-precision one; what
  // was looked at stays pending, for DiscardPendingInput to drop.
  std::optional<float> ReadNumber();
  // Drops input received but not yet read (see the head of this file). Never
  // waits for input.
  void DiscardPendingInput();
  // "Press enter to continue", then one line read and ignored.
  void WaitForEnter();

  // On a terminal, shows text at the cursor in place of the progress shown
  // before; elsewhere does nothing. The next Write or WriteLine erases it
  // first, so the finished screen holds only the console's own lines.
  void ShowProgress(std::string_view text);

  // Ends the line of a progress text left on the terminal by a console that
  // a signal interrupted. Safe inside a signal handler.
  static void EndProgressLineOnSignal() noexcept;

 private:
  // The next byte of input without taking it; throws ProgramEnd{0} at the end.
  char Peek();
  void Take() { ++next_; }
  bool Fill();
  void DropRestOfLineIfDue();

  // Erases the progress text, if any, with backspaces and blanks.
  void ErasePending();

  int inputFd_;
  bool inputIsTerminal_;
  bool outputIsTerminal_;
  std::size_t progressLength_ = 0;
  std::ostream& output_;
  std::vector<char> buffer_;
  std::size_t next_ = 0;
  std::size_t end_ = 0;
  bool inputEnded_ = false;
  // Set when the current line has been read only in part: its rest is
  // dropped before the next read.
  bool restOfLineIsDue_ = false;
  // True while a line has been begun but its line break not yet taken.
  bool insideLine_ = false;
};
