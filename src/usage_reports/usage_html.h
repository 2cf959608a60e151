#pragma once

// Menu task D: the "Internet Usage" report of places.sqlite as one HTML 4.01
// page, "<reference> - <name> - Internet Usage.html": a head with the case
// details, the 20 most visited hosts, and one row per visit, oldest first,
// with the page's favicon when the examiner asks for favicons.
//
// The page is UTF-8 with CR LF line ends; every text from the evidence or
// the case settings is escaped for HTML.

#include "console/case_settings.h"

class Console;
class TaskFile;

void ExportUsageHtml(Console& console, const CaseSettings& settings);

// Menu task L: the same page of Chrome's History (and of every browser built
// on Chromium), "<reference> - <name> - Chrome Internet Usage.html": the 20
// hosts with the most visits, their names taken from the pages' URLs, and
// one row per visit with its transition in words (chrome_usage_csv.h) in
// the last column; the favicons, on request, from Favicons or, for Chrome of
// 2009, from History itself (favicon_extraction.h).
void ExportChromeUsageHtml(Console& console, const CaseSettings& settings);

// The page from its doctype to the investigator line.
void WriteReportHead(TaskFile& page, const CaseSettings& settings);
// The closing mark-up, the visit table's end included; the last bytes of the
// page, with no line end.
void WriteReportFoot(TaskFile& page);
