#include <gtest/gtest.h>

#include "profiles/timestamp_columns.h"

namespace {

TEST(TimestampColumns, PairsMatchExactlyAndOnlyInTheirOwnCatalogue) {
  EXPECT_TRUE(IsTimestampColumn(FirefoxTimestampColumns, "moz_historyvisits", "visit_date"));
  EXPECT_FALSE(IsTimestampColumn(FirefoxTimestampColumns, "moz_historyvisits", "Visit_Date"));
  EXPECT_FALSE(IsTimestampColumn(FirefoxTimestampColumns, "moz_annos", "lastModified"));
  EXPECT_TRUE(IsTimestampColumn(FirefoxTimestampColumns, "moz_items_annos", "lastModified"));
  EXPECT_FALSE(IsTimestampColumn(FirefoxTimestampColumns, "MOZ_COOKIES", "lastAccessed"));
  EXPECT_FALSE(IsTimestampColumn(FirefoxTimestampColumns, "moz_cookies_x", "lastAccessed"));
  EXPECT_FALSE(IsTimestampColumn(FirefoxTimestampColumns, "moz_cookies", "lastAccessedAt"));
  EXPECT_TRUE(IsTimestampColumn(ChromeTimestampColumns, "downloads", "start_time"));
  EXPECT_FALSE(IsTimestampColumn(ChromeTimestampColumns, "moz_cookies", "lastAccessed"));
  EXPECT_FALSE(IsTimestampColumn(FirefoxTimestampColumns, "cookies", "creation_utc"));
  EXPECT_TRUE(IsTimestampColumn(ChromeTimestampColumns, "cookies", "creation_utc"));
  EXPECT_FALSE(IsTimestampColumn(ChromeTimestampColumns, "cookies", "last_access_utc"));
  EXPECT_FALSE(IsTimestampColumn(ChromeTimestampColumns, "", ""));
  EXPECT_EQ(FirefoxTimestampColumns.size(), 10u);
  EXPECT_EQ(ChromeTimestampColumns.size(), 12u);
}

}  // namespace
