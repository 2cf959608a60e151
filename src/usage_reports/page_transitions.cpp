#include "usage_reports/page_transitions.h"

#include <string_view>

namespace {

constexpr std::string_view kCoreTypes[] = {
    "Link",     "Typed",       "Auto Bookmark", "Auto Subframe", "Manual Subframe",  "Generated",
    "Auto Toplevel", "Form Submit", "Reload",   "Keyword",       "Keyword Generated",
};

struct Qualifier {
  std::uint32_t bit;
  std::string_view name;
};

// In the order of their bits.
constexpr Qualifier kQualifiers[] = {
    {0x00800000, "Blocked"},        {0x01000000, "Forward Back"},    {0x02000000, "From Address Bar"},
    {0x04000000, "Home Page"},      {0x08000000, "From API"},        {0x10000000, "Chain Start"},
    {0x20000000, "Chain End"},      {0x40000000, "Client Redirect"}, {0x80000000, "Server Redirect"},
};

constexpr std::uint32_t kCoreMask = 0xFF;

}  // namespace

void AppendTransitionText(std::string& out, std::int64_t stored) {
  // Chrome writes the 32 bits as a signed integer: anything beyond them is
  // no transition Chrome made.
  const bool in32Bits = stored >= INT32_MIN && stored <= static_cast<std::int64_t>(UINT32_MAX);
  const auto value = static_cast<std::uint32_t>(stored);
  std::uint32_t named = kCoreMask;
  for (const Qualifier& qualifier : kQualifiers) named |= qualifier.bit;
  const std::uint32_t core = value & kCoreMask;
  if (!in32Bits || core >= std::size(kCoreTypes) || (value & ~named) != 0) {
    out += std::to_string(stored);
    return;
  }
  out += kCoreTypes[core];
  for (const Qualifier& qualifier : kQualifiers) {
    if ((value & qualifier.bit) == 0) continue;
    out += "; ";
    out += qualifier.name;
  }
}
