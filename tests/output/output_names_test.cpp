#include "output/output_names.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "output/csv_format.h"
#include "support/temp_folder.h"
#include "support/test_system.h"

namespace {

std::string Cell(std::string_view value) {
  StringSink line;
  AppendCsvCell(line, value);
  return line.text;
}

TEST(CsvFormat, QuotesAreDoubledAndEveryOtherByteKept) {
  EXPECT_EQ(Cell(""), "\"\",");
  EXPECT_EQ(Cell("plain"), "\"plain\",");
  EXPECT_EQ(Cell("\""), "\"\"\"\",");
  EXPECT_EQ(Cell("a \"b\" c"), "\"a \"\"b\"\" c\",");
  EXPECT_EQ(Cell("comma, lf\n crlf\r\n"), "\"comma, lf\n crlf\r\n\",");
  EXPECT_EQ(Cell(std::string_view("zero\0byte", 9)), std::string("\"zero\0byte\",", 12));
}

// The name of a table's file, as the table export builds it.
std::string TableName(std::string_view reference, std::string_view name, std::string_view table, unsigned copy = 1) {
  const std::string_view parts[] = {reference, " - ", name, " - ", "History", " ", table};
  return BuildFileName(parts, ".csv", copy);
}

TEST(OutputNames, EveryPartIsMadeSafeAlike) {
  struct Case {
    std::string reference, name, table, expected;
    std::string onWindows = {};  // where Windows' own rules make it another
  };
  const Case cases[] = {
      {"2008-117", "Harbour Street", "urls", "2008-117 - Harbour Street - History urls.csv"},
      {"", "", "t", " -  - History t.csv"},
      // Separators and control bytes, from the examiner or from the evidence.
      {"2008/117", "..", "../x\\y/z", "2008_117 - .. - History .._x_y_z.csv"},
      {"../escaped", "/abs", "t", ".._escaped - _abs - History t.csv"},
      {std::string("N\0", 2), "line\nfeed", "tab\tdel\x7F", "N_ - line_feed - History tab_del_.csv"},
      // Quotes, blanks and bytes beyond ASCII are kept; Windows forbids
      // quotes, and a colon would write into a stream of the file "2008".
      {"\"q\"", "caf\xC3\xA9", "a b", "\"q\" - caf\xC3\xA9 - History a b.csv", "_q_ - caf\xC3\xA9 - History a b.csv"},
      {"2008:117", "<a>|b?*", "t", "2008:117 - <a>|b?* - History t.csv", "2008_117 - _a__b__ - History t.csv"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TableName(c.reference, c.name, c.table),
              kBuiltForWindows && !c.onWindows.empty() ? c.onWindows : c.expected);
  }
}

// A device's name, a dot or a blank at the end: names Windows would take
// for something else, or change.
TEST(OutputNames, WholeNamesKeepTheSystemsRules) {
  struct Case {
    std::string name, extension, expected, onWindows;
  };
  const Case cases[] = {
      {"CON", "", "CON", "CON_"},
      {"con", ".csv", "con.csv", "con_.csv"},
      {"Nul ", ".html", "Nul .html", "Nul_ .html"},
      {"LPT9", ".png", "LPT9.png", "LPT9_.png"},
      {"COM10", ".png", "COM10.png", "COM10.png"},
      {"CONSOLE", ".csv", "CONSOLE.csv", "CONSOLE.csv"},
      {"report.", "", "report.", "report_"},
      {"report ", "", "report ", "report_"},
  };
  for (const Case& c : cases) {
    const std::string_view parts[] = {c.name};
    EXPECT_EQ(BuildFileName(parts, c.extension), kBuiltForWindows ? c.onWindows : c.expected) << c.name;
  }
}

TEST(OutputNames, LongNamesAreShortenedLongestPartFirstAtACharacterBoundary) {
  // 16 bytes of fixed parts leave 235 for the table before ".csv".
  EXPECT_EQ(TableName("R", "N", std::string(235, 't')), "R - N - History " + std::string(235, 't') + ".csv");
  EXPECT_EQ(TableName("R", "N", std::string(300, 't')), "R - N - History " + std::string(235, 't') + ".csv");
  // "é" is two bytes: the one that would be cut in half is left out whole.
  std::string accents;
  for (int i = 0; i < 150; ++i) accents += "\xC3\xA9";
  EXPECT_EQ(TableName("R", "N", accents), "R - N - History " + accents.substr(0, 234) + ".csv");

  // Long case texts give way before a short table name, which stays whole.
  const std::string reference(120, 'r');
  const std::string name(120, 'n');
  const std::string shortened = TableName(reference, name, "goog_black_enchash");
  EXPECT_EQ(shortened, std::string(109, 'r') + " - " + std::string(109, 'n') + " - History goog_black_enchash.csv");
  EXPECT_NE(shortened, TableName(reference, name, "goog_black_url"));

  // A copy number always fits too.
  const std::string copy = TableName(std::string(300, 'r'), "", "t", 12);
  EXPECT_EQ(copy.size(), 255u);
  EXPECT_TRUE(copy.ends_with(" - History t (12).csv")) << copy;
}

TEST(OutputNames, NamesTakenInTheRunOrByAFolderGetACopyNumber) {
  TempFolder folder;
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  std::filesystem::create_directory("R - N - History d.csv");
  OutputNames names;
  auto claim = [&](std::string_view table) {
    const std::string_view parts[] = {"R", " - ", "N", " - ", "History", " ", table};
    const ClaimedName claimed = names.Claim(parts, ".csv");
    return claimed.name + (claimed.renamed ? " renamed" : "");
  };
  EXPECT_EQ(claim("a/b"), "R - N - History a_b.csv");
  EXPECT_EQ(claim("a\\b"), "R - N - History a_b (2).csv renamed");
  EXPECT_EQ(claim("a_b"), "R - N - History a_b (3).csv renamed");
  EXPECT_EQ(claim("a_b (2)"), "R - N - History a_b (2) (2).csv renamed");
  // One file on a file system that ignores case.
  EXPECT_EQ(claim("A_B"), "R - N - History A_B (4).csv renamed");
  EXPECT_EQ(claim("d"), "R - N - History d (2).csv renamed");
  // A regular file of the name is replaced, not avoided: a task run again
  // rewrites its own earlier files.
  WriteFileBytes("R - N - History f.csv", "earlier run");
  EXPECT_EQ(claim("f"), "R - N - History f.csv");
  std::filesystem::current_path(here);
}

}  // namespace
