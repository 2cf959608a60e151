#pragma once

// The clocks in which browsers keep their times: what a timestamp column of
// a browser's database counts, for the decoding that turns it into a date.
enum class BrowserClock {
  kPRtime,      // Firefox: microseconds since 1970-01-01 00:00:00 UTC
  kChromeTime,  // Chrome: microseconds since 1601-01-01 00:00:00 UTC
};
