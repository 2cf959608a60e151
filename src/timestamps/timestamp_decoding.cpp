#include "timestamps/timestamp_decoding.h"

#include <charconv>
#include <chrono>
#include <cmath>

namespace {

constexpr std::size_t kPRtimeLength = 16;
constexpr std::size_t kMicrosecondDigits = 6;
constexpr std::size_t kPRtimeSecondDigits = kPRtimeLength - kMicrosecondDigits;
constexpr double kSecondsFrom1601To1970 = 11644473600.0;
constexpr std::int64_t kSecondsPerDay = 86400;

// Reads a number part the way a formatted stream extraction does: leading
// white space skipped, one optional sign, then digits up to the first
// character that is no digit. Nothing when there are no digits or the
// number does not fit in 64 bits.
std::optional<std::int64_t> ReadLeadingInteger(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  // Digits are read as unsigned, so that the most negative value still fits.
  std::uint64_t magnitude = 0;
  const char* begin = text.data() + at;
  auto [end, error] = std::from_chars(begin, text.data() + text.size(), magnitude);
  if (error != std::errc() || end == begin) return std::nullopt;
  constexpr auto kMax = static_cast<std::uint64_t>(INT64_MAX);
  if (negative) {
    if (magnitude > kMax + 1) return std::nullopt;
    return static_cast<std::int64_t>(0 - magnitude);
  }
  if (magnitude > kMax) return std::nullopt;
  return static_cast<std::int64_t>(magnitude);
}

// Truncation toward zero of a double, or nothing when the result would not be
// an int64 (converting such a double is undefined behaviour).
std::optional<std::int64_t> TruncateToInt64(double value) {
  // 2^63 is exact in double; every finite double below it and above -2^63-1
  // truncates to an int64.
  constexpr double kLimit = 9223372036854775808.0;
  if (!(value > -kLimit - 1.0 && value < kLimit)) return std::nullopt;  // NaN fails too
  return static_cast<std::int64_t>(value);
}

void PutTwoDigits(std::string& out, unsigned value) {
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

// Appends the date text of a shifted time; false outside the years 1 to
// 9999, when nothing is appended.
//
// Histories hold many times of one day, and the calendar step is the costly
// part of a date: the date part of the last day written is kept, with the
// format it was written in. The offset is already in the shifted time, so a
// change of offset, or the next day, simply misses the cache.
bool AppendDateTime(std::string& out, std::int64_t shiftedTime, const DateStyle& style) {
  using namespace std::chrono;
  static const std::int64_t kFirst = sys_days{year{1} / January / 1}.time_since_epoch().count() * kSecondsPerDay;
  static const std::int64_t kPastLast = sys_days{year{10000} / January / 1}.time_since_epoch().count() * kSecondsPerDay;
  if (shiftedTime < kFirst || shiftedTime >= kPastLast) return false;

  struct DayCache {
    std::int64_t day = INT64_MIN;
    bool englishDateFormat = true;
    std::string datePart;  // "dd/mm/yyyy "
  };
  static DayCache cache;

  // Floor division: a time before 1970 belongs to the day that began before it.
  std::int64_t day = shiftedTime / kSecondsPerDay;
  std::int64_t second = shiftedTime % kSecondsPerDay;
  if (second < 0) {
    second += kSecondsPerDay;
    --day;
  }
  if (day != cache.day || style.englishDateFormat != cache.englishDateFormat) {
    const year_month_day date{sys_days{days{day}}};
    const unsigned dayOfMonth = static_cast<unsigned>(date.day());
    const unsigned month = static_cast<unsigned>(date.month());
    cache.datePart.clear();
    PutTwoDigits(cache.datePart, style.englishDateFormat ? dayOfMonth : month);
    cache.datePart += '/';
    PutTwoDigits(cache.datePart, style.englishDateFormat ? month : dayOfMonth);
    cache.datePart += '/';
    cache.datePart += std::to_string(static_cast<int>(date.year()));
    cache.datePart += ' ';
    cache.day = day;
    cache.englishDateFormat = style.englishDateFormat;
  }
  out += cache.datePart;
  const auto secondOfDay = static_cast<unsigned>(second);
  PutTwoDigits(out, secondOfDay / 3600);
  out += ':';
  PutTwoDigits(out, secondOfDay / 60 % 60);
  out += ':';
  PutTwoDigits(out, secondOfDay % 60);
  return true;
}

// Replaces out with the date text of seconds since 1970, or with the
// original text when there is none.
void DecodeSecondsInto(std::string& out, std::string_view original, std::optional<std::int64_t> seconds,
                       const DateStyle& style) {
  out.clear();
  std::optional<std::int64_t> shifted;
  if (seconds) shifted = ApplyUtcOffset(*seconds, style);
  if (!shifted || !AppendDateTime(out, *shifted, style)) out.assign(original);
}

}  // namespace

std::optional<std::int64_t> ApplyUtcOffset(std::int64_t secondsSince1970, const DateStyle& style) {
  double sum = static_cast<double>(style.utcOffsetMinutes) * 60.0 + static_cast<double>(secondsSince1970);
  return TruncateToInt64(sum);
}

std::optional<std::string> FormatDateTime(std::int64_t shiftedTime, const DateStyle& style) {
  std::string out;
  if (!AppendDateTime(out, shiftedTime, style)) return std::nullopt;
  return out;
}

void DecodePRtimeInto(std::string& out, std::string_view text, const DateStyle& style) {
  if (text.size() != kPRtimeLength) {
    out.assign(text);
    return;
  }
  // The last six characters are the microseconds: they take no part.
  DecodeSecondsInto(out, text, ReadLeadingInteger(text.substr(0, kPRtimeSecondDigits)), style);
}

void DecodeChromeTimeInto(std::string& out, std::string_view text, const DateStyle& style) {
  if (text.size() < kPRtimeLength) {
    // A short value is seconds since 1970 already.
    DecodeSecondsInto(out, text, ReadLeadingInteger(text), style);
    return;
  }
  std::optional<std::int64_t> since1601 = ReadLeadingInteger(text.substr(0, text.size() - kMicrosecondDigits));
  std::optional<std::int64_t> since1970;
  if (since1601) since1970 = TruncateToInt64(static_cast<double>(*since1601) - kSecondsFrom1601To1970);
  DecodeSecondsInto(out, text, since1970, style);
}

std::string DecodePRtime(std::string_view text, const DateStyle& style) {
  std::string out;
  DecodePRtimeInto(out, text, style);
  return out;
}

std::string DecodeChromeTime(std::string_view text, const DateStyle& style) {
  std::string out;
  DecodeChromeTimeInto(out, text, style);
  return out;
}

std::string_view StoredTimestampText(BrowserClock clock, bool laterFile, std::string_view stored,
                                     const DateStyle& style, std::string& buffer) {
  if (laterFile && stored == "0") return stored;
  if (clock == BrowserClock::kPRtime) {
    DecodePRtimeInto(buffer, stored, style);
  } else {
    DecodeChromeTimeInto(buffer, stored, style);
  }
  return buffer;
}
