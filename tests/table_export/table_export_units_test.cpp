#include <gtest/gtest.h>

#include "table_export/csv_format.h"
#include "table_export/output_names.h"
#include "table_export/timestamp_columns.h"

namespace {

std::string Cell(std::string_view value) {
  std::string line;
  AppendCsvCell(line, value);
  return line;
}

TEST(CsvFormat, QuotesAreDoubledAndEveryOtherByteKept) {
  EXPECT_EQ(Cell(""), "\"\",");
  EXPECT_EQ(Cell("plain"), "\"plain\",");
  EXPECT_EQ(Cell("\""), "\"\"\"\",");
  EXPECT_EQ(Cell("a \"b\" c"), "\"a \"\"b\"\" c\",");
  EXPECT_EQ(Cell("comma, lf\n crlf\r\n"), "\"comma, lf\n crlf\r\n\",");
  EXPECT_EQ(Cell(std::string_view("zero\0byte", 9)), std::string("\"zero\0byte\",", 12));
}

TEST(OutputNames, CaseTextsBeginEveryName) {
  CaseSettings settings;
  settings.caseReference = "2008-117";
  settings.caseName = "Harbour Street";
  EXPECT_EQ(TableFileName(settings, "places.sqlite", "moz_places"),
            "2008-117 - Harbour Street - places.sqlite moz_places.csv");
  EXPECT_EQ(CaseFileName(settings, "Internet Usage.csv"), "2008-117 - Harbour Street - Internet Usage.csv");
  EXPECT_EQ(TableFileName(CaseSettings{}, "Cookies", "t"), " -  - Cookies t.csv");
}

TEST(OutputNames, SlashesFromTheTableNameBecomeUnderscoresButNotFromTheCase) {
  CaseSettings settings;
  settings.caseReference = "a/b";
  EXPECT_EQ(TableFileName(settings, "History", "../x\\y/z"), "a/b -  - History .._x_y_z.csv");
}

TEST(OutputNames, LongTableNamesAreShortenedToFitAtACharacterBoundary) {
  CaseSettings settings;
  settings.caseReference = "R";
  settings.caseName = "N";
  const std::string head = "R - N - History ";  // 16 bytes; 235 left for the table before ".csv"
  EXPECT_EQ(TableFileName(settings, "History", std::string(235, 't')), head + std::string(235, 't') + ".csv");
  EXPECT_EQ(TableFileName(settings, "History", std::string(300, 't')), head + std::string(235, 't') + ".csv");
  // "é" is two bytes: the one that would be cut in half is left out whole.
  std::string accents;
  for (int i = 0; i < 150; ++i) accents += "\xC3\xA9";
  std::string name = TableFileName(settings, "History", accents);
  EXPECT_EQ(name, head + accents.substr(0, 234) + ".csv");
  EXPECT_LE(name.size(), 255u);
}

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
