#pragma once

// Menu tasks I and J: the deleted records that a browser's databases still
// hold, written to CSV.
//
// For each database of the profile, as profiles/browser_profiles.h finds
// it, the evidence files (the database, its "-wal" and "-journal") are read
// byte by byte through the descriptors the evidence layer opened, never
// through SQLite, which would roll the journal back or apply the WAL and
// lose the older page images; SQLite, on the private copy, gives only the
// schema and the live rows. Where SQLite cannot read the schema, the console
// says so with SQLite's reason, and the schema table's own pages give it
// (schema_table.h). Every place a deleted record may stand is searched
// (page_sources.h), records are found (record_carver.h) and attributed to
// the table whose schema they fit (table_schemas.h).
//
// A record that is a live row of any table it fits is not written
// (live_rows.h); an older image of a live row with other values is written
// as an earlier version of it; the same record found in several places is
// written once, at its first place in file order; a record rebuilt from the
// same bytes as one found whole elsewhere is written once, whole. Records
// are kept in a scratch file (output/scratch_file.h) until the live rows
// are read, so that memory grows with the records found, never with the
// live rows.
//
// Each table with records gets "<reference> - <name> - <database> <table>
// (recovered).csv": the table's columns in schema order, cells as the
// decoded table export writes them, then "Found in" (the file and the
// place), "Offset" (the byte offset of the record's cell in that file) and
// "Certainty". Records that fit no table, or several alike, go to
// "<reference> - <name> - <database> (unattributed) (recovered).csv" with
// columns "Column 1" to "Column n". A value that cannot be recovered is an
// empty cell, and so is a row id that was overwritten. The certainty says
// what could not be checked: a journal page whose checksum could not be, a
// page whose structure does not hold, a table told by the shape of its
// columns alone in a database that lost a dropped table's statement.
//
// The console gives, for each database, the records written a table, the
// candidates passed over and why, the structures passed over and the reads
// that failed, and what was searched.

#include "console/case_settings.h"
#include "profiles/browser_profiles.h"

class Console;

void RecoverDeletedRecords(Console& console, const CaseSettings& settings, const BrowserProfile& profile);
