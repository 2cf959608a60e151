#pragma once

// Cutting UTF-8 text without splitting a character: file names shortened to
// fit the file system, long page texts broken into pieces.

#include <cstddef>
#include <string_view>

// A byte that continues a UTF-8 character rather than beginning one.
constexpr bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Where a cut of text at byte `at` falls when it may not split a character:
// `at` itself, or up to three bytes earlier, where the character that `at`
// falls inside begins, but never before `floor`. Stray continuation bytes
// with no character to keep whole are cut where they fall. A cut at or past
// the end is the end.
constexpr std::size_t Utf8CutPoint(std::string_view text, std::size_t at, std::size_t floor = 0) {
  if (at >= text.size()) return text.size();
  // A UTF-8 character is at most four bytes: a cut moves back at most three.
  for (std::size_t back = 0; back <= 3 && at - back > floor; ++back) {
    if (!IsUtf8Continuation(text[at - back])) return at - back;
  }
  return at;
}
