#include "console/progress_count.h"

#include <string>

#include "console/console.h"

namespace {

constexpr std::chrono::milliseconds kInterval{250};

}  // namespace

ProgressCount::ProgressCount(Console& console, std::function<std::int64_t()> total)
    : console_(console),
      enabled_(console.outputIsTerminal()),
      totalSource_(std::move(total)),
      due_(std::chrono::steady_clock::now() + kInterval) {}

void ProgressCount::ShowIfDue() {
  const auto now = std::chrono::steady_clock::now();
  if (now < due_) return;
  due_ = now + kInterval;
  if (total_ < 0) total_ = totalSource_ ? totalSource_() : 0;
  std::string text = " " + std::to_string(rows_) + " rows";
  if (total_ > 0 && rows_ <= total_) text += " (" + std::to_string(rows_ * 100 / total_) + "%)";
  console_.ShowProgress(text);
}
