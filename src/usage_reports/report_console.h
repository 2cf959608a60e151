#pragma once

// What the two usage reports share: their console lines and the naming of
// their file.

#include <cstdint>
#include <string_view>

#include "console/case_settings.h"
#include "evidence/evidence_database.h"
#include "output/output_names.h"

class Console;

inline constexpr std::string_view kPlacesDatabase = "places.sqlite";

// The section break and the lines naming the tables the report combines.
void PrintReportIntroduction(Console& console);

// Opens places.sqlite with its probe line; when found, adds an empty line and
// "Processing..." (no line end), which the report's end completes.
EvidenceDatabase OpenPlacesForReport(Console& console);

// "<reference> - <name> - Internet Usage" with the extension, or the first
// free numbered form when a folder or other non-file holds that name.
ClaimedName ClaimReportName(const CaseSettings& settings, std::string_view extension);

// Says under which name the report was written, when it is not the plain
// one: on a line of its own.
void ReportRenaming(Console& console, const ClaimedName& claimed);

// The end of a report whose places.sqlite is there but could not be read
// (the probe lines said why): no count of rows that were never read, an
// empty line and the pause.
void PrintReportNotRead(Console& console);

// The end of a report whose statement could not be prepared: its new name,
// if it has one, then "Could not prepare statement.", with no count and no
// pause.
void ReportUnpreparedReport(Console& console, const ClaimedName& report);

// The end of a report on the console: pending input dropped, the count line
// between its empty lines (with the report's new name under it when it has
// one), and the pause.
void PrintRowsExported(Console& console, std::int64_t rows, const ClaimedName& report, int emptyLinesAfter);

// A read that failed in the middle of the report: said on the line after
// "Processing...", so that a shortened report never looks finished.
void ReportVisitReadFailure(Console& console, const char* sqliteText);
