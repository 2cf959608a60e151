#pragma once

// What the two usage reports share: their console lines, from the probe of
// places.sqlite to the pause, and the naming of their file.

#include <cstdint>
#include <functional>
#include <string_view>

#include "console/case_settings.h"
#include "evidence/evidence_database.h"
#include "output/output_names.h"

class Console;

inline constexpr std::string_view kPlacesDatabase = "places.sqlite";

// The section break and the lines naming the tables the report combines.
void PrintReportIntroduction(Console& console);

// Writes a report file of places.sqlite, named by name; adds one to rows for
// each visit written. False when a statement could not be prepared, which
// ends the report where it stands.
using ReportWriter = std::function<bool(sqlite3* db, const ClaimedName& name, std::int64_t& rows)>;

// The part of a report from the probe of places.sqlite to the pause:
// - not found: the probe line, no file, and "0 rows exported";
// - there but unreadable: the probe lines saying why, no file, no count of
//   rows that were never read, an empty line and the pause;
// - found: an empty line and "Processing...", the report written under
//   "<reference> - <name> - Internet Usage" with the extension (or the first
//   free numbered form, named on the console, when a folder or other
//   non-file holds that name), then the count line between its empty lines
//   and the pause; or, when a statement could not be prepared,
//   "Could not prepare statement." with no count and no pause.
void RunReport(Console& console, const CaseSettings& settings, std::string_view extension, int emptyLinesAfter,
               const ReportWriter& write);

// A read that failed in the middle of the report: said on the line after
// "Processing...", so that a shortened report never looks finished.
void ReportVisitReadFailure(Console& console, const char* sqliteText);
