#include "console/console.h"

#include <algorithm>
#include <csignal>
#include <cmath>
#include <cstdlib>

#include "console/console_system.h"

namespace {

constexpr std::size_t kInputBufferSize = 4096;

// Whether a progress text stands at the cursor of the terminal: what a
// signal handler needs to know to end its line.
volatile std::sig_atomic_t gProgressOnScreen = 0;

bool IsBlank(int c) {
  // The white space that "%f" skips: the "C" locale's isspace.
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

Console::Console(int inputFd, std::ostream& output, bool outputIsTerminal)
    : inputFd_(inputFd),
      inputIsTerminal_(IsTerminal(inputFd)),
      outputIsTerminal_(outputIsTerminal),
      output_(output),
      buffer_(kInputBufferSize) {}

void Console::Write(std::string_view text) {
  ErasePending();
  output_ << text << std::flush;
}

void Console::WriteLine(std::string_view text) {
  ErasePending();
  output_ << text << '\n' << std::flush;
}

void Console::ShowProgress(std::string_view text) {
  if (!outputIsTerminal_) return;
  ErasePending();
  output_ << text << std::flush;
  progressLength_ = text.size();
  gProgressOnScreen = 1;
}

void Console::EndProgressLineOnSignal() noexcept {
  if (gProgressOnScreen != 0) WriteToStandardOutputNow("\n");
}

void Console::ErasePending() {
  if (progressLength_ == 0) return;
  const std::string back(progressLength_, '\b');
  output_ << back << std::string(progressLength_, ' ') << back;
  progressLength_ = 0;
  gProgressOnScreen = 0;
}

void Console::PrintSectionBreak() {
  for (int i = 0; i < 3; ++i) WriteLine();
}

bool Console::Fill() {
  next_ = 0;
  end_ = 0;
  while (!inputEnded_) {
    const long got = ReadInput(inputFd_, buffer_.data(), buffer_.size());
    if (got > 0) {
      end_ = static_cast<std::size_t>(got);
      return true;
    }
    // A read error is treated like the end of input: there is nothing more to
    // be had from it, and retrying would loop.
    inputEnded_ = true;
  }
  return false;
}

char Console::Peek() {
  if (next_ == end_ && !Fill()) throw ProgramEnd{0};
  return buffer_[next_];
}

void Console::DropRestOfLineIfDue() {
  if (!restOfLineIsDue_) return;
  restOfLineIsDue_ = false;
  while (Peek() != '\n') Take();
  Take();
}

void Console::ReadAnswer(std::string& answer) {
  ReadLine(answer);
  DiscardPendingInput();
}

void Console::ReadLine(std::string& answer) {
  DropRestOfLineIfDue();
  Peek();  // no line at all: the end of input ends the program here
  answer.clear();
  for (;;) {
    if (next_ == end_ && !Fill()) break;  // a last line without its line break
    const char* begin = buffer_.data() + next_;
    const char* stop = buffer_.data() + end_;
    const char* lineBreak = std::find(begin, stop, '\n');
    answer.append(begin, lineBreak);
    next_ = static_cast<std::size_t>(lineBreak - buffer_.data());
    if (lineBreak != stop) {
      Take();
      break;
    }
  }
  insideLine_ = false;
}

std::optional<float> Console::ReadNumber() {
  DropRestOfLineIfDue();
  while (IsBlank(Peek())) Take();
  insideLine_ = true;  // whatever follows the number on its line is pending

  // From here the end of input only ends the number; the next read ends the
  // program.
  auto peek = [this]() -> int {
    if (next_ == end_ && !Fill()) return -1;
    return static_cast<unsigned char>(buffer_[next_]);
  };
  std::string text;
  int c = peek();
  if (c == '+' || c == '-') {
    text += static_cast<char>(c);
    Take();
    c = peek();
  }
  bool hasDigits = false;
  for (; IsDigit(c); c = peek()) {
    text += static_cast<char>(c);
    hasDigits = true;
    Take();
  }
  if (c == '.') {
    text += '.';
    Take();
    for (c = peek(); IsDigit(c); c = peek()) {
      text += static_cast<char>(c);
      hasDigits = true;
      Take();
    }
  }
  if (!hasDigits) return std::nullopt;
  if (c == 'e' || c == 'E') {
    std::string exponent(1, 'e');
    Take();
    c = peek();
    if (c == '+' || c == '-') {
      exponent += static_cast<char>(c);
      Take();
      c = peek();
    }
    bool exponentHasDigits = false;
    for (; IsDigit(c); c = peek()) {
      exponent += static_cast<char>(c);
      exponentHasDigits = true;
      Take();
    }
    // An exponent without digits takes no part in the number; what was looked
    // at belongs to the rest of the line, which is dropped.
    if (exponentHasDigits) text += exponent;
  }
  // strtof is the conversion that "%f" is defined by: it rounds the decimal
  // text once to single precision, gives infinity on overflow (rejected
  // below) and zero on underflow. The text matches the pattern above, so it is
  // read whole; the program never sets a locale, so the point is ".".
  float value = std::strtof(text.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

void Console::DiscardPendingInput() {
  if (inputIsTerminal_) {
    // Everything typed ahead: what we hold, and what the terminal holds.
    next_ = end_;
    DiscardTypedAhead(inputFd_);
    restOfLineIsDue_ = false;
  } else if (insideLine_) {
    // Dropped lazily, by the next read: dropping it now could mean waiting
    // for the rest of a line that has not arrived yet.
    restOfLineIsDue_ = true;
  }
  insideLine_ = false;
}

void Console::WaitForEnter() {
  Write("Press enter to continue");
  std::string ignored;
  ReadAnswer(ignored);
}
