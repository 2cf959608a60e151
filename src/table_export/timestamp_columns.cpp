#include "table_export/timestamp_columns.h"

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

}  // namespace

const TimestampCatalogue FirefoxTimestampColumns{kFirefox};
const TimestampCatalogue ChromeTimestampColumns{kChrome};

bool IsTimestampColumn(TimestampCatalogue catalogue, std::string_view table, std::string_view column) {
  return std::any_of(catalogue.begin(), catalogue.end(), [&](const TimestampColumn& entry) {
    return entry.table == table && entry.column == column;
  });
}
