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

std::string DecodeSeconds(std::string_view original, std::optional<std::int64_t> seconds,
                          const CaseSettings& settings) {
  if (!seconds) return std::string(original);
  std::optional<std::int64_t> shifted = ApplyUtcOffset(*seconds, settings);
  if (!shifted) return std::string(original);
  std::optional<std::string> date = FormatDateTime(*shifted, settings);
  return date ? std::move(*date) : std::string(original);
}

}  // namespace

std::optional<std::int64_t> ApplyUtcOffset(std::int64_t secondsSince1970, const CaseSettings& settings) {
  double sum = static_cast<double>(settings.utcOffsetMinutes) * 60.0 + static_cast<double>(secondsSince1970);
  return TruncateToInt64(sum);
}

std::optional<std::string> FormatDateTime(std::int64_t shiftedTime, const CaseSettings& settings) {
  using namespace std::chrono;
  static const std::int64_t kFirst = sys_days{year{1} / January / 1}.time_since_epoch().count() * kSecondsPerDay;
  static const std::int64_t kPastLast = sys_days{year{10000} / January / 1}.time_since_epoch().count() * kSecondsPerDay;
  if (shiftedTime < kFirst || shiftedTime >= kPastLast) return std::nullopt;

  const sys_seconds moment{seconds{shiftedTime}};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{moment - day};

  std::string out;
  out.reserve(19);
  const unsigned dayOfMonth = static_cast<unsigned>(date.day());
  const unsigned month = static_cast<unsigned>(date.month());
  PutTwoDigits(out, settings.englishDateFormat ? dayOfMonth : month);
  out += '/';
  PutTwoDigits(out, settings.englishDateFormat ? month : dayOfMonth);
  out += '/';
  out += std::to_string(static_cast<int>(date.year()));
  out += ' ';
  PutTwoDigits(out, static_cast<unsigned>(time.hours().count()));
  out += ':';
  PutTwoDigits(out, static_cast<unsigned>(time.minutes().count()));
  out += ':';
  PutTwoDigits(out, static_cast<unsigned>(time.seconds().count()));
  return out;
}

std::string DecodePRtime(std::string_view text, const CaseSettings& settings) {
  if (text.size() != kPRtimeLength) return std::string(text);
  // The last six characters are the microseconds: they take no part.
  return DecodeSeconds(text, ReadLeadingInteger(text.substr(0, kPRtimeSecondDigits)), settings);
}

std::string DecodeChromeTime(std::string_view text, const CaseSettings& settings) {
  if (text.size() < kPRtimeLength) {
    // A short value is seconds since 1970 already.
    return DecodeSeconds(text, ReadLeadingInteger(text), settings);
  }
  std::optional<std::int64_t> since1601 = ReadLeadingInteger(text.substr(0, text.size() - kMicrosecondDigits));
  std::optional<std::int64_t> since1970;
  if (since1601) since1970 = TruncateToInt64(static_cast<double>(*since1601) - kSecondsFrom1601To1970);
  return DecodeSeconds(text, since1970, settings);
}
