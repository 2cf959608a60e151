// Arbitrary bytes as timestamp texts, under arbitrary offsets and both date
// formats. Every result is the text unchanged or a date text of the form
// dd/mm/y hh:mm:ss; nothing may reach undefined behaviour.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "timestamps/timestamp_decoding.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDateText(const std::string& text) {
  // dd/dd/<1 to 4 digits> dd:dd:dd
  if (text.size() < 15 || text.size() > 19) return false;
  const std::size_t time = text.size() - 9;
  for (std::size_t at : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{4}, time + 1, time + 2,
                         time + 4, time + 5, time + 7, time + 8}) {
    if (!IsDigit(text[at])) return false;
  }
  return text[2] == '/' && text[5] == '/' && text[time] == ' ' && text[time + 3] == ':' && text[time + 6] == ':';
}

void Check(const std::string& input, const std::string& output) {
  if (output != input && !IsDateText(output)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  DateStyle settings;
  std::memcpy(&settings.utcOffsetMinutes, data, sizeof(float));
  settings.englishDateFormat = (data[4] & 1) != 0;
  const std::string text(reinterpret_cast<const char*>(data) + 5, size - 5);
  Check(text, DecodePRtime(text, settings));
  Check(text, DecodeChromeTime(text, settings));
  return 0;
}
