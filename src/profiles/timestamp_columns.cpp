#include "profiles/timestamp_columns.h"

#include <algorithm>

namespace {

// moz_annos has only dateAdded listed: its lastModified stays as stored.
constexpr TimestampColumn kFirefox[] = {
    {"moz_historyvisits", "visit_date"}, {"moz_cookies", "lastAccessed"},   {"moz_downloads", "startTime"},
    {"moz_downloads", "endTime"},        {"moz_annos", "dateAdded"},        {"moz_bookmarks", "dateAdded"},
    {"moz_bookmarks", "lastModified"},   {"moz_favicons", "expiration"},    {"moz_items_annos", "dateAdded"},
    {"moz_items_annos", "lastModified"},
};

constexpr TimestampColumn kChrome[] = {
    {"cookies", "creation_utc"},   {"cookies", "expires_utc"},     {"urls", "last_visit_time"},
    {"visits", "visit_time"},      {"downloads", "start_time"},    {"starred", "date_added"},
    {"starred", "date_modified"},  {"favicons", "last_updated"},   {"thumbnails", "last_updated"},
    {"ie7_logins", "date_created"}, {"keywords", "date_created"},  {"logins", "date_created"},
};

// credentialstate.sqlite, whose times are PRtime as Firefox 153 writes them.
// favicons.sqlite keeps its expiry times in milliseconds (expire_ms),
// protections.sqlite its days as text, storage-sync-v2.sqlite no time.
constexpr TimestampColumn kLaterFirefox[] = {
    {"identity", "modificationTime"},
};

// Favicons, Shortcuts, Login Data and Login Data For Account, DIPS and
// Network/Cookies, in Chrome time as Chromium 156 writes them. Top Sites and
// Network Action Predictor keep no time; Media History counts seconds
// (last_updated_time_s).
constexpr TimestampColumn kLaterChrome[] = {
    {"favicon_bitmaps", "last_updated"},
    {"favicon_bitmaps", "last_requested"},
    {"omni_box_shortcuts", "last_access_time"},
    {"logins", "date_created"},
    {"logins", "date_last_used"},
    {"logins", "date_password_modified"},
    {"logins", "date_received"},
    {"logins", "date_last_filled"},
    {"insecure_credentials", "create_time"},
    {"password_notes", "date_created"},
    {"stats", "update_time"},
    {"bounces", "first_user_activation_time"},
    {"bounces", "last_user_activation_time"},
    {"bounces", "first_bounce_time"},
    {"bounces", "last_bounce_time"},
    {"bounces", "first_web_authn_assertion_time"},
    {"bounces", "last_web_authn_assertion_time"},
    {"popups", "last_popup_time"},
    {"cookies", "creation_utc"},
    {"cookies", "expires_utc"},
    {"cookies", "last_access_utc"},
    {"cookies", "last_update_utc"},
};

}  // namespace

const TimestampCatalogue FirefoxTimestampColumns{kFirefox};
const TimestampCatalogue ChromeTimestampColumns{kChrome};
const TimestampCatalogue LaterFirefoxTimestampColumns{kLaterFirefox};
const TimestampCatalogue LaterChromeTimestampColumns{kLaterChrome};

bool IsTimestampColumn(TimestampCatalogue catalogue, std::string_view table, std::string_view column) {
  return std::any_of(catalogue.begin(), catalogue.end(), [&](const TimestampColumn& entry) {
    return entry.table == table && entry.column == column;
  });
}
