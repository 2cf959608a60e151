#pragma once

// The lines of the usage reports as CSV: a visit with its page as the
// reports give it, the heading, and the line of one visit, of Firefox (task
// C) and of Chrome (task K). What another task that lists visits so (the
// recovery's report of the visits it found) shares with the usage reports:
// their visit joins fill these, and it fills them too.
//
// The date, URL, title and transition are quoted fields (empty, without
// quotes, for NULL); the numbers and Yes/No flags are bare; a value that is
// not there is an empty cell. The date is decoded in the case's date style
// and UTC offset.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "console/case_settings.h"
#include "output/output_file.h"

// A Firefox visit with its page, as task C lists it.
struct JoinedVisit {
  // From moz_historyvisits.
  std::optional<std::string_view> visitDate;  // a PRtime, as SQLite's text of it
  std::int64_t fromVisit = 0;
  std::int64_t visitType = 0;
  std::int64_t session = 0;
  // From moz_places.
  std::optional<std::string_view> url;
  std::optional<std::string_view> title;
  std::int64_t visitCount = 0;
  std::int64_t hidden = 0;
  std::int64_t typed = 0;
  std::int64_t faviconId = 0;
  std::int64_t frecency = 0;
};

// A Chrome visit with its page, as task K lists it.
struct ChromeVisit {
  // From visits; nothing where the column is not there.
  std::optional<std::string_view> visitTime;  // Chrome time, as SQLite's text of it
  std::optional<std::int64_t> fromVisit;
  std::optional<std::int64_t> transition;
  std::optional<std::int64_t> visitDuration;  // microseconds
  // From urls; nothing where the column is not there.
  std::optional<std::string_view> url;
  std::optional<std::string_view> title;
  std::optional<std::int64_t> visitCount;
  std::optional<std::int64_t> typedCount;
  std::optional<std::int64_t> hidden;
  std::optional<std::int64_t> faviconId;  // History's own favicons table (Chrome of 2009)
};

inline constexpr std::string_view kFirefoxUsageHeading =
    "Visit Date,URL,Title,Visit Count,Typed,Hidden,Frecency,From Visit,Visit Type,Session";
inline constexpr std::string_view kChromeUsageHeading =
    "Visit Date,URL,Title,Visit Count,Typed Count,Hidden,Transition,From Visit,Visit Duration";

// scratch: the buffer dates are decoded into, one for a whole report.
// withVisit false: the visit's own cells are empty (a page alone).
void AppendFirefoxUsageLine(OutputFile& line, const JoinedVisit& visit, const CaseSettings& settings,
                            std::string& scratch, bool withVisit = true);
// The cells of the visit that are absent are empty.
void AppendChromeUsageLine(OutputFile& line, const ChromeVisit& visit, const CaseSettings& settings,
                           std::string& scratch);
