#pragma once

// Where the format writers (CSV cells, HTML text) put their bytes: an output
// file, which writes them out in blocks as they come, or a text in memory.

#include <concepts>
#include <string>
#include <string_view>

template <typename T>
concept TextSink = requires(T& sink, std::string_view bytes) { sink.Append(bytes); };

// A text in memory, for a value built before it is written and for tests.
struct StringSink {
  std::string text;
  void Append(std::string_view bytes) { text.append(bytes); }
};
