#pragma once

// The fixed description of each browser whose databases the table export
// and the recovery read: its file names in the order they are tried, its
// timestamp catalogues and the clock its stored timestamps count in; and
// the one way a task finds and opens those databases.

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "base/browser_clock.h"
#include "evidence/evidence_database.h"
#include "profiles/timestamp_columns.h"

class Console;

// A database file that later versions of the browser keep. It is read only
// where it is in the folder, so that a folder holding the first versions'
// files alone gets the same transcript as ever. A name may hold a folder
// ("Network/Cookies"): the console shows it so, a file name made from it has
// "_" for the "/". A later file is read even where a file of the first list
// holds the same database before it moved (a profile copied before and after
// the move holds both, each with rows of its own).
struct LaterDatabaseFile {
  const char* name;
};

struct BrowserProfile {
  // The files of the first versions (Firefox 3, Chrome of 2009), each
  // reported found or not found.
  std::span<const char* const> databaseFiles;
  TimestampCatalogue timestampColumns;
  std::span<const LaterDatabaseFile> laterDatabaseFiles;
  // The timestamp columns of the later files: a catalogue of its own, so
  // that the first files' decoded exports stay as they were.
  TimestampCatalogue laterTimestampColumns;
  BrowserClock clock;
};

extern const BrowserProfile FirefoxProfile;
extern const BrowserProfile ChromeProfile;

// A database of a profile, found in the folder and opened.
struct ProfileDatabase {
  const std::string& file;  // the name the console shows
  EvidenceDatabase& db;
  TimestampCatalogue timestampColumns;  // of this file
  bool laterFile = false;               // one of the laterDatabaseFiles
};

// Looks for each database file of the profile in the current folder, in
// order, and calls read with each one that opens: every file of the first
// list with its "Database <name> found." or "... not found." line, then
// each later file that is there ("found." and what the probe says), a later
// file that is not there writing nothing. The database is closed when read
// returns.
void ForEachProfileDatabase(Console& console, const BrowserProfile& profile,
                            const std::function<void(const ProfileDatabase&)>& read);
