#include "profiles/browser_profiles.h"

#include "console/task_console.h"

namespace {

constexpr const char* kFirefoxFiles[] = {
    "content-prefs.sqlite", "cookies.sqlite", "downloads.sqlite",      "formhistory.sqlite",    "permissions.sqlite",
    "places.sqlite",        "search.sqlite",  "urlclassifier2.sqlite", "urlclassifier3.sqlite", "webappsstore.sqlite",
};

// Chrome's names have no extension, and two hold a blank: used exactly so.
constexpr const char* kChromeFiles[] = {"Archived History", "Cookies", "History", "Thumbnails", "Web Data"};

// Firefox since version 55: the page icons; the tracking protection's
// daily counts; the extensions' synced storage; the sign-in state of
// identity providers.
constexpr LaterDatabaseFile kLaterFirefoxFiles[] = {
    {"favicons.sqlite"}, {"protections.sqlite"}, {"storage-sync-v2.sqlite"}, {"credentialstate.sqlite"}};

// Chrome and the browsers built on Chromium: the same names serve them all.
// Since Chrome 96 the cookies live in the Network folder of the profile.
constexpr LaterDatabaseFile kLaterChromeFiles[] = {
    {"Favicons"},
    {"Top Sites"},
    {"Shortcuts"},
    {"Network Action Predictor"},
    {"Login Data"},
    {"Login Data For Account"},
    {"Media History"},
    {"DIPS"},
    {"Network/Cookies"},
};

}  // namespace

const BrowserProfile FirefoxProfile{kFirefoxFiles, FirefoxTimestampColumns, kLaterFirefoxFiles,
                                    LaterFirefoxTimestampColumns, BrowserClock::kPRtime};
const BrowserProfile ChromeProfile{kChromeFiles, ChromeTimestampColumns, kLaterChromeFiles,
                                   LaterChromeTimestampColumns, BrowserClock::kChromeTime};

void ForEachProfileDatabase(Console& console, const BrowserProfile& profile,
                            const std::function<void(const ProfileDatabase&)>& read) {
  for (const char* name : profile.databaseFiles) {
    const std::string file(name);
    EvidenceDatabase db = ProbeEvidenceDatabase(console, file);
    if (db) read({file, db, profile.timestampColumns});
  }
  for (const LaterDatabaseFile& later : profile.laterDatabaseFiles) {
    const std::string file(later.name);
    EvidenceDatabase db = ProbeEvidenceDatabase(console, file, MissingLine::kNone);
    if (db) read({file, db, profile.laterTimestampColumns, true});
  }
}
