#pragma once

// The running count of rows that a long task shows on a terminal: after
// "Processing...", or on the line below a table's processing line. It is
// rewritten in place at most four times a second, with a percentage when the
// total is known, and erased by the console's next line. Nothing is shown
// when standard output is not a terminal, or for a task done within the
// first quarter second.

#include <chrono>
#include <cstdint>
#include <functional>

class Console;

class ProgressCount {
 public:
  // total is asked for once, when the count is first shown; 0 or less means
  // unknown.
  ProgressCount(Console& console, std::function<std::int64_t()> total);

  void CountRow() {
    if (enabled_ && (++rows_ & 0x3FF) == 0) ShowIfDue();
  }

 private:
  void ShowIfDue();

  Console& console_;
  bool enabled_;
  std::function<std::int64_t()> totalSource_;
  std::int64_t total_ = -1;  // not asked yet
  std::int64_t rows_ = 0;
  std::chrono::steady_clock::time_point due_;
};
