#pragma once

// Browser timestamps, given as text, turned into date text in the case's date
// format and UTC offset.
//
// Timestamps travel as text: the decimal text that SQLite renders for a
// stored integer, or a line the user typed. A date text is 19 characters,
// dd/mm/yyyy hh:mm:ss (English) or mm/dd/yyyy hh:mm:ss (American), in whole
// seconds, UTC plus the offset, with no zone written. Fractions of a second
// are cut off, never rounded into the seconds.
//
// Nothing here fails loudly: a text that cannot be decoded comes back
// unchanged, which callers take as "not a timestamp" (the decoder reports it,
// the exports write it as it is). That covers a PRtime text that is not
// exactly 16 characters long, a number part that does not parse or does not
// fit in 64 bits, and a shifted time outside the years 1 to 9999. The date
// format and offset are read from the date style at every call.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/browser_clock.h"
#include "base/date_style.h"

// Firefox PRtime: microseconds since 1970-01-01 00:00:00 UTC. Only the
// 16-character form is decoded: its first ten characters are the seconds.
std::string DecodePRtime(std::string_view text, const DateStyle& style);

// Google Chrome time: microseconds since 1601-01-01 00:00:00 UTC for a text
// of 16 characters or more; a shorter text is taken as seconds since 1970.
std::string DecodeChromeTime(std::string_view text, const DateStyle& style);

// The same, written into out in place of what it held, so that a caller
// decoding a column of a million values reuses one buffer.
void DecodePRtimeInto(std::string& out, std::string_view text, const DateStyle& style);
void DecodeChromeTimeInto(std::string& out, std::string_view text, const DateStyle& style);

// The text of a value of a browser's timestamp column: its date text in the
// browser's clock. In a file of the browsers' later versions (laterFile) a
// stored 0 stays as it is: there it means no time at all (never used, never
// requested, a session cookie's expiry), which the first files' rules would
// write as 01/01/1970. buffer holds the text.
std::string_view StoredTimestampText(BrowserClock clock, bool laterFile, std::string_view stored,
                                     const DateStyle& style, std::string& buffer);

// Adds the UTC offset (minutes, single precision widened to double) to whole
// seconds since 1970 and truncates toward zero. Nothing when the sum is not a
// number that fits in 64 bits.
std::optional<std::int64_t> ApplyUtcOffset(std::int64_t secondsSince1970, const DateStyle& style);

// The date text of a shifted time, broken down as UTC on the proleptic
// Gregorian calendar. Nothing outside the years 1 to 9999.
std::optional<std::string> FormatDateTime(std::int64_t shiftedTime, const DateStyle& style);
