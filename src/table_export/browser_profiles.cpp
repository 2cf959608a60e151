#include "table_export/browser_profiles.h"

#include "timestamps/timestamp_decoding.h"

namespace {

constexpr const char* kFirefoxFiles[] = {
    "content-prefs.sqlite", "cookies.sqlite", "downloads.sqlite",      "formhistory.sqlite",    "permissions.sqlite",
    "places.sqlite",        "search.sqlite",  "urlclassifier2.sqlite", "urlclassifier3.sqlite", "webappsstore.sqlite",
};

// Chrome's names have no extension, and two hold a blank: used exactly so.
constexpr const char* kChromeFiles[] = {"Archived History", "Cookies", "History", "Thumbnails", "Web Data"};

}  // namespace

const BrowserProfile FirefoxProfile{kFirefoxFiles, FirefoxTimestampColumns, DecodePRtimeInto};
const BrowserProfile ChromeProfile{kChromeFiles, ChromeTimestampColumns, DecodeChromeTimeInto};
