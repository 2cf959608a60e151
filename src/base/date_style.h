#pragma once

// How decoded dates are written: the two case settings that decide it, and
// all that the timestamp decoding needs to know of a case.

struct DateStyle {
  // true: day before month (English); false: month before day (American).
  bool englishDateFormat = true;
  // Offset from UTC, in minutes, applied to every decoded timestamp. Single
  // precision on purpose: the examples that examiners rely on (60.1 minutes
  // adding 3605 seconds) come from that precision.
  float utcOffsetMinutes = 0.0f;
};
