#pragma once

// The lines of the usage reports as CSV: the heading and the line of one
// visit with its page, of Firefox (task C) and of Chrome (task K), for every
// report that lists visits so, the recovered ones included.
//
// The date, URL, title and transition are quoted fields (empty, without
// quotes, for NULL); the numbers and Yes/No flags are bare; a value that is
// not there is an empty cell. The date is decoded in the case's date style
// and UTC offset.

#include <string>
#include <string_view>

#include "console/case_settings.h"
#include "output/output_file.h"
#include "usage_reports/chrome_visit_join.h"
#include "usage_reports/visit_join.h"

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
