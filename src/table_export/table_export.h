#pragma once

// Menu tasks A, B, F and G: every table of every database of a browser
// profile found in the current folder, written to a CSV file of its own.
//
// The files are tried in the profile's order (ForEachProfileDatabase: the
// first versions' files, then those of later versions that are in the
// folder), each decoded by its own catalogue; the tables of a database in the
// order SQLite sorts their names (byte order), SQLite's own tables included;
// the rows of a table in row id order (primary-key order for a table without
// row ids). Rows are streamed: each line is written out before the next row
// is read, so memory does not grow with a table. In the decoded mode the
// cells of the catalogue's timestamp columns hold date text; the header line
// is the same in both modes. A table without rows leaves a 0-byte file.

#include "console/case_settings.h"
#include "profiles/browser_profiles.h"

class Console;

void ExportBrowserTables(Console& console, const CaseSettings& settings, const BrowserProfile& profile,
                         bool decodeTimestamps);
