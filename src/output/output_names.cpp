#include "output/output_names.h"

#include <algorithm>
#include <numeric>

#include "base/utf8.h"
#include "output/output_system.h"

namespace {

bool IsUnsafeInName(char byte) {
  const auto c = static_cast<unsigned char>(byte);
  return c == '/' || c == '\\' || c < 0x20 || c == 0x7F || IsForbiddenInName(byte);
}

std::string CopySuffix(unsigned copy) { return copy < 2 ? std::string() : " (" + std::to_string(copy) + ")"; }

// The largest length L such that every part cut to at most L bytes leaves
// the name within room: the longest parts give way first.
std::size_t LongestPartThatFits(std::span<const std::string_view> parts, std::size_t room) {
  auto lengthWithLimit = [&](std::size_t limit) {
    return std::accumulate(parts.begin(), parts.end(), std::size_t{0},
                           [&](std::size_t sum, std::string_view part) { return sum + std::min(part.size(), limit); });
  };
  std::size_t low = 0;  // always fits: the fixed suffix and extension leave room
  std::size_t high = 0;
  for (std::string_view part : parts) high = std::max(high, part.size());
  while (low < high) {
    const std::size_t middle = low + (high - low + 1) / 2;
    if (lengthWithLimit(middle) <= room) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return low;
}

std::string FoldAsciiCase(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

}  // namespace

std::string BuildFileName(std::span<const std::string_view> parts, std::string_view extension, unsigned copy) {
  const std::string suffix = CopySuffix(copy);
  const std::size_t room = kLongestFileName - suffix.size() - extension.size();
  const std::size_t limit = LongestPartThatFits(parts, room);
  std::string name;
  for (std::string_view part : parts) {
    const std::string_view kept = part.substr(0, part.size() > limit ? Utf8CutPoint(part, limit) : part.size());
    for (char c : kept) name += IsUnsafeInName(c) ? '_' : c;
  }
  name += suffix;
  for (char c : extension) name += IsUnsafeInName(c) ? '_' : c;
  return WithSystemNameRules(std::move(name));
}

bool OutputNames::IsTaken(const std::string& name) const {
  return (remember_ && taken_.contains(FoldAsciiCase(name))) || HoldsOtherThanFile(name);
}

ClaimedName OutputNames::Claim(std::span<const std::string_view> parts, std::string_view extension) {
  ClaimedName claimed;
  for (unsigned copy = 1;; ++copy) {
    claimed.name = BuildFileName(parts, extension, copy);
    if (!IsTaken(claimed.name)) {
      claimed.renamed = copy > 1;
      break;
    }
  }
  if (remember_) taken_.insert(FoldAsciiCase(claimed.name));
  return claimed;
}
