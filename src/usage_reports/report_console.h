#pragma once

// The console lines that the two usage reports share.

#include <cstdint>
#include <string_view>

#include "table_export/evidence_database.h"

class Console;

// The section break and the lines naming the tables the report combines.
void PrintReportIntroduction(Console& console);

// Opens places.sqlite with its probe line; when found, adds an empty line and
// "Processing..." (no line end), which the report's end completes.
EvidenceDatabase OpenPlacesForReport(Console& console);

// The end of a report on the console: pending input dropped, the count line
// between its empty lines, and the pause.
void PrintRowsExported(Console& console, std::int64_t rows, int emptyLinesAfter);

// A read that failed in the middle of the report: said on the line after
// "Processing...", so that a shortened report never looks finished.
void ReportVisitReadFailure(Console& console, const char* sqliteText);

inline constexpr std::string_view kPlacesDatabase = "places.sqlite";
