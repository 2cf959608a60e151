// Menu tasks C and D on places databases with the Firefox 3 schema: console
// transcripts, the CSV report, the whole HTML page and the favicon files,
// byte for byte.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <vector>

#include "evidence/sqlite_handles.h"
#include "support/fixture_database.h"
#include "support/report_page.h"
#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

const std::string kCsv = "2008-117 - Harbour Street - Internet Usage.csv";
const std::string kHtml = "2008-117 - Harbour Street - Internet Usage.html";
const std::string kIntroduction =
    "\n\n\nThis report combines the inforamtion within the following tables\n\n"
    "places.sqlite -> moz_historyvisits\n"
    "places.sqlite -> moz_places\n\n";
const std::string kCsvHeader =
    "Visit Date,URL,Title,Visit Count,Typed,Hidden,Frecency,From Visit,Visit Type,Session\r\n";

// Visits of a Firefox 3 history that cover each way a line can look.
const std::string kHistoryRows =
    "INSERT INTO moz_places VALUES (1, 'file:///C:/start.html', 'Start', '.', 3, 0, 1, NULL, 100);"
    "INSERT INTO moz_places VALUES (2, 'file:///C:/untitled.html', NULL, '.', 3, 0, 1, NULL, 100);"
    "INSERT INTO moz_places VALUES (3, 'http://q.example/', 'say \"hi\", twice' || char(10) || 'next', "
    "'elpmaxe.q.', 1, 2, 2, NULL, -1);"
    "INSERT INTO moz_historyvisits VALUES (1, 0, 1, 1228580112345678, 1, 7);"
    "INSERT INTO moz_historyvisits VALUES (2, 0, 2, 1228580113000000, 1, 7);"
    "INSERT INTO moz_historyvisits VALUES (3, 0, 999, 1228580114000000, 1, 7);"         // no such page
    "INSERT INTO moz_historyvisits VALUES (4, 0, NULL, 1228580115000000, 1, 7);"        // no page id
    "INSERT INTO moz_historyvisits VALUES (5, 0, '1 OR 1=1', 1228580116000000, 1, 7);"  // no page either
    "INSERT INTO moz_historyvisits VALUES (6, 3, 3, 1228580117000000, 5, 8);"
    "INSERT INTO moz_historyvisits VALUES (7, 0, 1, NULL, 2, 0);"
    "INSERT INTO moz_historyvisits VALUES (8, 0, 1, 0, 2, 0);";

TEST(UsageCsv, OneLinePerVisitOldestFirst) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", kHistoryRows);
  SkvRun run = RunAnswers(folder.path(), "C\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript, OpeningTranscript() + kIntroduction +
                                "Database places.sqlite found.\n\nProcessing...\n\n8 rows exported\n\n"
                                "Press enter to continue" +
                                BackToMenuTranscript());
  EXPECT_EQ(ReadFileBytes(folder / kCsv),
            kCsvHeader +
                ",\"file:///C:/start.html\",\"Start\",3,Yes,No,100,0,2,0\r\n"
                "\"0\",\"file:///C:/start.html\",\"Start\",3,Yes,No,100,0,2,0\r\n"
                "\"06/12/2008 16:15:12\",\"file:///C:/start.html\",\"Start\",3,Yes,No,100,0,1,7\r\n"
                "\"06/12/2008 16:15:13\",\"file:///C:/untitled.html\",,3,Yes,No,100,0,1,7\r\n"
                "\"06/12/2008 16:15:14\",,,0,No,No,0,0,1,7\r\n"
                "\"06/12/2008 16:15:15\",,,0,No,No,0,0,1,7\r\n"
                "\"06/12/2008 16:15:16\",,,0,No,No,0,0,1,7\r\n"
                "\"06/12/2008 16:15:17\",\"http://q.example/\",\"say \"\"hi\"\", twice\nnext\",1,Yes,Yes,-1,3,5,8\r\n");
}

// The join is one SQL statement where moz_places is keyed by its integer id,
// and a lookup per visit elsewhere: both give the same report, byte for byte.
TEST(UsageCsv, PagesWithoutAnIntegerKeyGiveTheSameReport) {
  const std::string moreRows =
      "INSERT INTO moz_historyvisits VALUES (9, 0, '2', 1228580113000000, 1, 9);"  // a text id, and a tie
      "INSERT INTO moz_historyvisits VALUES (10, 0, 3.0, 1228580113000000, 1, 10);";
  TempFolder keyed;
  CreateBrowserDatabase(keyed / "places.sqlite", "firefox3/places.sql", kHistoryRows + moreRows);
  TempFolder unkeyed;
  ExecuteSql(unkeyed / "places.sqlite",
             "CREATE TABLE moz_places (id INTEGER, url, title, rev_host, visit_count, hidden, typed, favicon_id, "
             "frecency);"
             "CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, from_visit INTEGER, place_id INTEGER, "
             "visit_date INTEGER, visit_type INTEGER, session INTEGER);"
             "CREATE INDEX moz_historyvisits_dateindex ON moz_historyvisits (visit_date);" +
                 kHistoryRows + moreRows);
  RunAnswers(keyed.path(), "C\n\nD\nn\n\n");
  RunAnswers(unkeyed.path(), "C\n\nD\nn\n\n");
  EXPECT_EQ(ReadFileBytes(unkeyed / kCsv), ReadFileBytes(keyed / kCsv));
  EXPECT_EQ(ReadFileBytes(unkeyed / kHtml), ReadFileBytes(keyed / kHtml));
  EXPECT_NE(ReadFileBytes(keyed / kCsv).find("\"06/12/2008 16:15:13\",\"file:///C:/untitled.html\",,3,Yes,No,100,0,1,9"),
            std::string::npos);
}

TEST(UsageCsv, DatesFollowTheCaseFormatAndOffset) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_places VALUES (1, 'u', 't', '.', 1, 0, 0, NULL, 1);"
                        "INSERT INTO moz_historyvisits VALUES (1, 0, 1, 1228580112345678, 1, 1);");
  RunSkv(folder.path(), "A\n-90\n2008-117\nHarbour Street\nJ\nC\n\nX\n");
  EXPECT_EQ(ReadFileBytes(folder / kCsv), kCsvHeader + "\"12/06/2008 14:45:12\",\"u\",\"t\",1,No,No,1,0,1,1\r\n");
}

TEST(UsageCsv, PlacesWithoutVisitsGivesTheHeaderOnly) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  WriteFileBytes(folder / kCsv, "an earlier report, longer than this one will be\r\n");
  SkvRun run = RunAnswers(folder.path(), "c\n\n");
  EXPECT_NE(run.transcript.find("Processing...\n\n0 rows exported\n\nPress enter"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(folder / kCsv), kCsvHeader);
}

TEST(UsageCsv, NoPlacesDatabaseWritesNoFile) {
  TempFolder folder;
  SkvRun run = RunAnswers(folder.path(), "C\n\n");
  EXPECT_EQ(run.transcript, OpeningTranscript() + kIntroduction +
                                "Database places.sqlite not found.\n\n\n0 rows exported\n\n"
                                "Press enter to continue" +
                                BackToMenuTranscript());
  EXPECT_TRUE(FileNames(folder.path()).empty());
}

// A report that cannot be made publishes nothing: the report of an earlier
// run stays as it was. The reason is SQLite's for the statement that failed,
// whatever ran after it.
TEST(UsageCsv, ReportThatCannotBeMadeEndsWithoutCountOrPauseAndKeepsTheEarlierReport) {
  struct Case {
    std::string what;
    std::function<void(const std::filesystem::path&)> make;
    std::string reason;
  };
  const Case cases[] = {
      {"no database", [](const std::filesystem::path& at) { WriteFileBytes(at, std::string(2048, 'z')); },
       "file is not a database"},
      {"visits without pages",
       [](const std::filesystem::path& at) {
         ExecuteSql(at, "CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, place_id INTEGER, visit_date INTEGER);"
                        "INSERT INTO moz_historyvisits VALUES (1, 1, 1228580112000000);");
       },
       "no such table: moz_places"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    c.make(folder / "places.sqlite");
    WriteFileBytes(folder / kCsv, "an earlier report");
    SkvRun run = RunAnswers(folder.path(), "C\n");
    EXPECT_EQ(run.transcript, OpeningTranscript() + kIntroduction +
                                  "Database places.sqlite found.\n\nProcessing...\nCould not prepare statement.\n" +
                                  c.reason + BackToMenuTranscript())
        << c.what;
    EXPECT_EQ(ReadFileBytes(folder / kCsv), "an earlier report") << c.what;
  }
}

TEST(UsageCsv, ReportThatCannotBeCreatedEndsTheProgram) {
  SKIP_UNDER_WINE("file modes and users are POSIX's");
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  std::filesystem::permissions(folder.path(), std::filesystem::perms(0555));
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "C\n\nX\n", AsUnprivilegedUser());
  std::filesystem::permissions(folder.path(), std::filesystem::perms(0755));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.transcript.ends_with("Processing...Error creating output file: " + kCsv + "\n\n")) << run.transcript;
}

TEST(UsageCsv, WriteFailureEndsTheProgramAndLeavesNoFile) {
  SKIP_UNDER_WINE("a file-size limit is POSIX's");
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_places VALUES (1, 'http://a.example/', 'A', '.', 1, 0, 0, NULL, 0);"
                        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                        "INSERT INTO moz_historyvisits SELECT i, 0, 1, 1228580112000000 + i, 1, 1 FROM n;");
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "C\n\nX\n", WithFileSizeLimit(65536));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.transcript.ends_with("Processing...Error writing output file " + kCsv + ":File too large\n\n"))
      << run.transcript;
  EXPECT_EQ(FileNames(folder.path()), std::set<std::string>{"places.sqlite"});
}

// A small history for the HTML page: three hosts in the summary (one of a
// single character), three that take no part, and three visits.
const std::string kPageRows =
    "INSERT INTO moz_favicons VALUES (1, 'http://www.example.com/favicon.ico', X'00010A0D0A00FF', "
    "'image/x-icon', 0);"
    "INSERT INTO moz_places VALUES (1, 'http://www.example.com/', 'Example <home> & \"more\"', "
    "'moc.elpmaxe.www.', 7, 0, 1, 1, 100);"
    "INSERT INTO moz_places VALUES (2, 'http://news.example.org/" +
    std::string(67, 'n') +
    "', '" + std::string(51, 't') +
    "', 'gro.elpmaxe.swen.', 2, 0, 0, 77, 50);"
    "INSERT INTO moz_places VALUES (3, 'file:///C:/a.html', NULL, '.', 9, 0, 0, NULL, 1);"
    "INSERT INTO moz_places VALUES (4, 'x:', NULL, '', 9, 0, 0, NULL, 1);"
    "INSERT INTO moz_places VALUES (5, 'y:', NULL, NULL, 9, 0, 0, NULL, 1);"
    "INSERT INTO moz_places VALUES (6, 'z:', NULL, 'z', 1, 0, 0, NULL, 1);"
    "INSERT INTO moz_historyvisits VALUES (1, 0, 1, 1228580112345678, 1, 1);"
    "INSERT INTO moz_historyvisits VALUES (2, 1, 2, 1228580113000000, 1, 1);"
    "INSERT INTO moz_historyvisits VALUES (3, 2, 999, NULL, 1, 1);";

std::string ExpectedPage(const std::string& faviconCell) {
  const std::string url2 = "http://news.example.org/" + std::string(67, 'n');  // 91 bytes
  return "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\" \"http://www.w3.org/TR/html4/strict.dtd\">\r\n"
         "<HTML lang=\"en\">\r\n"
         "<head>\r\n"
         "  <meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\"/>\r\n"
         "  <title>2008-117 - Harbour &lt;Street&gt; / Internet Usage Report</title>\r\n"
         "</head>\r\n"
         "<body>\r\n"
         "<big style=\"font-weight: bold; color: rgb(153, 153, 153);\"><big><span\r\n"
         " style=\"font-family: Arial;\">Internet Usage Report</span></big></big><br\r\n"
         " style=\"font-family: Arial;\">\r\n"
         "<span style=\"font-family: Arial;\">2008-117 - Harbour &lt;Street&gt;</span><br><br>\r\n"
         "<small><span style=\"font-family: Arial;\">Produced by: J &amp; K</span></small><br><br>\r\n"
         "<font size=\"2\" face=\"Arial\"><strong>20 Most visited hosts</strong></font><br>"
         "<TABLE border=\"0\" cellpadding=\"2\" cellspacing=\"2\">\r\n"
         "<TR style=\"background-color: rgb(150, 150, 150);\">\r\n"
         "  <TD style=\"font-family: Arial; font-weight: bold;\"><font size=\"1\">URL</TD>\r\n"
         "  <TD style=\"font-family: Arial; font-weight: bold;\"><font size=\"1\">Visit Count</TD>\r\n"
         "</TR>\r\n"
         "<TR style=\"background-color: rgb(175, 175, 175);\">\r\n"
         "  <TD style=\"font-family: Arial;\"><font size=\"1\">www.example.com</TD>\r\n"
         "  <TD style=\"font-family: Arial;\" align=\"center\"><font size=\"1\">7</TD>\r\n"
         "</TR>\r\n"
         "<TR style=\"background-color: rgb(175, 175, 175);\">\r\n"
         "  <TD style=\"font-family: Arial;\"><font size=\"1\">news.example.org</TD>\r\n"
         "  <TD style=\"font-family: Arial;\" align=\"center\"><font size=\"1\">2</TD>\r\n"
         "</TR>\r\n"
         "<TR style=\"background-color: rgb(175, 175, 175);\">\r\n"
         "  <TD style=\"font-family: Arial;\"><font size=\"1\"></TD>\r\n"
         "  <TD style=\"font-family: Arial;\" align=\"center\"><font size=\"1\">1</TD>\r\n"
         "</TR>\r\n"
         "</TABLE><BR><BR>\r\n"
         "<TABLE border=\"0\" cellpadding=\"2\" cellspacing=\"2\">\r\n"
         "<TR>\r\n"
         "  <TD></TD>\r\n"
         "  <TD style=\"font-family: Arial; font-weight: bold;\"><font size=\"1\">Visit Date</TD>\r\n"
         "  <TD style=\"font-family: Arial; font-weight: bold;\"><font size=\"1\">URL</TD>\r\n"
         "  <TD style=\"font-family: Arial; font-weight: bold;\"><font size=\"1\">Title</TD>\r\n"
         "  <TD style=\"font-family: Arial; font-weight: bold;\"><font size=\"1\">Typed</TD>\r\n"
         "</TR>\r\n"
         // The visit with no date comes first, and its page is missing.
         "<TR style=\"background-color: rgb(175, 175, 175);\">\r\n"
         "  <TD></TD>  <TD valign=\"top\" style=\"font-family: Arial;\"><font size=\"2\"></font></TD>\r\n"
         "  <TD valign=\"top\" style=\"font-family: Courier New,Courier,monospace;\"><font size=\"2\"></font></TD>\r\n"
         "  <TD valign=\"top\" style=\"font-family: Courier New,Courier,monospace;\"><font size=\"2\"></font></TD>\r\n"
         "  <TD valign=\"top\" style=\"font-family: Arial;\"><font size=\"2\">No</font></TD>\r\n"
         "</TR>\r\n"
         "<TR>\r\n"
         "  <TD>" +
         faviconCell +
         "</TD>  <TD valign=\"top\" style=\"font-family: Arial;\"><font size=\"2\">06/12/2008 16:15:12</font></TD>\r\n"
         "  <TD valign=\"top\" style=\"font-family: Courier New,Courier,monospace;\"><font size=\"2\">"
         "http://www.example.com/</font></TD>\r\n"
         "  <TD valign=\"top\" style=\"font-family: Courier New,Courier,monospace;\"><font size=\"2\">"
         "Example &lt;home&gt; &amp; &quot;more&quot;</font></TD>\r\n"
         "  <TD valign=\"top\" style=\"font-family: Arial;\"><font size=\"2\">Yes</font></TD>\r\n"
         "</TR>\r\n"
         "<TR style=\"background-color: rgb(175, 175, 175);\">\r\n"
         "  <TD></TD>  <TD valign=\"top\" style=\"font-family: Arial;\"><font size=\"2\">06/12/2008 16:15:13</font></TD>\r\n"
         "  <TD valign=\"top\" style=\"font-family: Courier New,Courier,monospace;\"><font size=\"2\">" +
         url2.substr(0, 90) + "<br>" + url2.substr(90) +
         "<br></font></TD>\r\n"
         "  <TD valign=\"top\" style=\"font-family: Courier New,Courier,monospace;\"><font size=\"2\">" +
         std::string(50, 't') + "<br>t<br></font></TD>\r\n"
         "  <TD valign=\"top\" style=\"font-family: Arial;\"><font size=\"2\">No</font></TD>\r\n"
         "</TR>\r\n"
         "</table><br><br><div style=\"text-align: center;\"><small><span style=\"font-family: Arial;\">"
         "Report created by Scrivlet 0.8.9 written by the Scrivlet project</span></small></div></body></html>";
}

SkvRun RunHtml(const TempFolder& folder, const std::string& faviconAnswer) {
  SkvRun run = RunSkv(folder.path(), "E\n0\n2008-117\nHarbour <Street>\nJ & K\nD\n" + faviconAnswer + "\n\nX\n");
  EXPECT_EQ(run.errors, "");
  return run;
}

TEST(UsageHtml, WholePageWithoutFavicons) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", kPageRows);
  for (const char* answer : {"", "N", "yes", " y", "y "}) {
    SkvRun run = RunHtml(folder, answer);
    EXPECT_EQ(ReadFileBytes(folder / SystemName("2008-117 - Harbour <Street> - Internet Usage.html")), ExpectedPage(""))
        << "answer '" << answer << "'";
    EXPECT_EQ(FileNames(folder.path()).size(), 2u) << "no favicon file for answer '" << answer << "'";
  }
}

TEST(UsageHtml, WholePageWithFaviconsAndItsImageFile) {
  for (const char* answer : {"y", "Y"}) {
    TempFolder folder;
    CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", kPageRows);
    RunHtml(folder, answer);
    EXPECT_EQ(ReadFileBytes(folder / SystemName("2008-117 - Harbour <Street> - Internet Usage.html")),
              ExpectedPage("<img src=\"favicon_1.ico\" width=\"16\" height=\"16\">"));
    // The bytes exactly, line feeds and zero bytes included; favicon 77 has
    // no row, so no file.
    EXPECT_EQ(ReadFileBytes(folder / "favicon_1.ico"), std::string("\x00\x01\x0A\x0D\x0A\x00\xFF", 7));
    EXPECT_EQ(FileNames(folder.path()).size(), 3u);
  }
}

TEST(UsageHtml, ConsoleTranscriptWithAndWithoutPlaces) {
  TempFolder folder;
  const std::string question =
      "\n\n\nDo you wish to extract and include favicons? [Y/N] \n\n\n";
  SkvRun missing = RunHtml(folder, "y");
  EXPECT_EQ(missing.transcript, StartTranscript() + StandardSettingsTranscript() + MenuTranscript() +
                                    kIntroduction + question +
                                    "Database places.sqlite not found.\n\n\n0 rows exported\n\n\n"
                                    "Press enter to continue" +
                                    BackToMenuTranscript());
  EXPECT_TRUE(FileNames(folder.path()).empty());

  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", kPageRows);
  SkvRun found = RunHtml(folder, "n");
  EXPECT_TRUE(found.transcript.ends_with(kIntroduction + question +
                                         "Database places.sqlite found.\n\nProcessing...\n\n3 rows exported\n\n\n"
                                         "Press enter to continue" +
                                         BackToMenuTranscript()));
}

TEST(UsageHtml, EmptyHistoryGivesBothTablesWithTheirHeadingsOnly) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  SkvRun run = RunAnswers(folder.path(), "D\n\n\n");
  EXPECT_NE(run.transcript.find("Processing...\n\n0 rows exported\n"), std::string::npos);
  const std::string page = ReadFileBytes(folder / kHtml);
  EXPECT_NE(page.find("Visit Count</TD>\r\n</TR>\r\n</TABLE><BR><BR>\r\n"), std::string::npos);
  EXPECT_TRUE(page.ends_with("Typed</TD>\r\n</TR>\r\n</table><br><br><div style=\"text-align: center;\"><small>"
                             "<span style=\"font-family: Arial;\">Report created by Scrivlet 0.8.9 written by the "
                             "Scrivlet project</span></small></div></body></html>"));
}

TEST(UsageHtml, AtMostTwentyHostsMostVisitedFirst) {
  TempFolder folder;
  std::string rows;
  for (int i = 1; i <= 25; ++i) {
    rows += "INSERT INTO moz_places VALUES (" + std::to_string(i) + ", 'http://h" + std::to_string(i) +
            "/', NULL, '" + std::to_string(i) + "h.', " + std::to_string(i * 10) + ", 0, 0, NULL, 0);";
  }
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", rows);
  RunAnswers(folder.path(), "D\n\n\n");
  const std::string page = ReadFileBytes(folder / kHtml);
  std::size_t hostRows = 0;
  for (std::size_t at = 0; (at = page.find("align=\"center\"", at)) != std::string::npos; ++at) ++hostRows;
  EXPECT_EQ(hostRows, 20u);
  EXPECT_NE(page.find("<font size=\"1\">h52</TD>\r\n  <TD style=\"font-family: Arial;\" align=\"center\">"
                      "<font size=\"1\">250</TD>"),
            std::string::npos);
  EXPECT_LT(page.find(">250<"), page.find(">240<"));
  EXPECT_NE(page.find(">60<"), std::string::npos);
  EXPECT_EQ(page.find(">50<"), std::string::npos);
}

TEST(UsageHtml, RowsAlternateBetweenShadedAndPlain) {
  TempFolder folder;
  std::string rows = "INSERT INTO moz_places VALUES (1, 'u', 't', '.', 1, 0, 0, NULL, 0);";
  for (int i = 1; i <= 5; ++i) {
    rows += "INSERT INTO moz_historyvisits VALUES (" + std::to_string(i) + ", 0, 1, " + std::to_string(i) + ", 1, 1);";
  }
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", rows);
  RunAnswers(folder.path(), "D\n\n\n");
  const std::string page = ReadFileBytes(folder / kHtml);
  std::string openings;
  for (std::size_t at = page.find("Typed</TD>"); (at = page.find("\r\n<TR", at)) != std::string::npos; ++at) {
    openings += page.compare(at + 2, 4, "<TR>") == 0 ? "plain " : "grey ";
  }
  EXPECT_EQ(openings, "grey plain grey plain grey ");
}

TEST(UsageHtml, FaviconFilesAreNamedByMimeTypeAndWrittenOncePerRun) {
  TempFolder folder;
  std::string rows =
      "INSERT INTO moz_favicons VALUES (2, 'a', X'89504E470D0A1A0A', 'image/png', 0);"
      "INSERT INTO moz_favicons VALUES (3, 'b', X'FFD8FF', 'image/jpg', 0);"
      "INSERT INTO moz_favicons VALUES (4, 'c', X'FFD8FFE0', 'image/jpeg', 0);"
      "INSERT INTO moz_favicons VALUES (5, 'd', X'474946', 'image/gif', 0);"
      "INSERT INTO moz_favicons VALUES (6, 'e', X'424D', 'image/bmp', 0);"
      "INSERT INTO moz_favicons VALUES (7, 'f', X'89504E47', 'image/PNG', 0);"
      "INSERT INTO moz_favicons VALUES (8, 'g', X'0000', 'image/vnd.microsoft.icon', 0);"
      "INSERT INTO moz_favicons VALUES (9, 'h', X'3C73', NULL, 0);"
      "INSERT INTO moz_favicons VALUES (10, 'i', NULL, 'image/png', 0);"
      "INSERT INTO moz_favicons VALUES (-11, 'j', X'01', 'image/gif', 0);";
  int visit = 0;
  for (int favicon : {2, 3, 4, 5, 6, 7, 8, 9, 10, -11, 2, 2, 12}) {
    const std::string id = std::to_string(++visit);
    rows += "INSERT INTO moz_places VALUES (" + id + ", 'http://p" + id + "/', NULL, '.', 1, 0, 0, " +
            std::to_string(favicon) + ", 0);";
    rows += "INSERT INTO moz_historyvisits VALUES (" + id + ", 0, " + id + ", " + id + ", 1, 1);";
  }
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql", rows);
  RunAnswers(folder.path(), "D\ny\n\n");
  EXPECT_EQ(FileNames(folder.path()), (std::set<std::string>{"places.sqlite", kHtml, "favicon_2.png", "favicon_3.jpg",
                                                    "favicon_4.jpg", "favicon_5.gif", "favicon_6.bmp", "favicon_7",
                                                    "favicon_8", "favicon_9", "favicon_-11.gif"}));
  EXPECT_EQ(ReadFileBytes(folder / "favicon_2.png"), "\x89PNG\r\n\x1A\n");
  EXPECT_EQ(ReadFileBytes(folder / "favicon_8"), std::string(2, '\0'));
  const std::string page = ReadFileBytes(folder / kHtml);
  std::size_t pngImages = 0;
  for (std::size_t at = 0; (at = page.find("<img src=\"favicon_2.png\"", at)) != std::string::npos; ++at) ++pngImages;
  EXPECT_EQ(pngImages, 3u);  // every visit of a page with that icon shows it
  EXPECT_NE(page.find("<img src=\"favicon_7\" width=\"16\" height=\"16\">"), std::string::npos);
}

TEST(UsageHtml, EvidenceTextsCannotInjectMarkUp) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_places VALUES (1, 'javascript:\"><script>alert(1)</script>', "
                        "'<script>alert(''t'')</script>', 'moc.>b<.', 1, 0, 0, NULL, 0);"
                        "INSERT INTO moz_historyvisits VALUES (1, 0, 1, '<i>1234567890123', 1, 1);");
  RunAnswers(folder.path(), "D\n\n\n");
  const std::string page = ReadFileBytes(folder / kHtml);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_EQ(page.find("<i>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(&#39;t&#39;)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find(">&lt;b&gt;.com<"), std::string::npos);  // the host, reversed from "moc.>b<."
}

TEST(UsageHtml, PlacesThatIsNoDatabaseKeepsTheEarlierPage) {
  TempFolder folder;
  WriteFileBytes(folder / "places.sqlite", std::string(4096, '\x01'));
  WriteFileBytes(folder / kHtml, "an earlier page");
  SkvRun run = RunAnswers(folder.path(), "D\n\n");
  EXPECT_TRUE(run.transcript.ends_with("Database places.sqlite found.\n\nProcessing...\nCould not prepare statement.\n"
                                       "file is not a database" +
                                       BackToMenuTranscript()));
  EXPECT_EQ(ReadFileBytes(folder / kHtml), "an earlier page");
}

TEST(UsageHtml, PageThatCannotBeCreatedEndsTheProgram) {
  SKIP_UNDER_WINE("file modes and users are POSIX's");
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql");
  std::filesystem::permissions(folder.path(), std::filesystem::perms(0555));
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "D\n\n\nX\n", AsUnprivilegedUser());
  std::filesystem::permissions(folder.path(), std::filesystem::perms(0755));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.transcript.ends_with("Processing...Error creating output file:" + kHtml + "\n\n")) << run.transcript;
}

TEST(UsageReports, HistoryOfManyVisitsIsStreamedInSmallMemory) {
  SKIP_UNDER_WINE("the memory measured would be Wine's");
  TempFolder folder;
  CreateBrowserDatabase(
      folder / "places.sqlite", "firefox3/places.sql",
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
      "INSERT INTO moz_places SELECT i, 'http://host' || (i % 97) || '.example/' || hex(randomblob(40)), "
      "hex(randomblob(30)), 'elpmaxe.' || (i % 97) || 'tsoh.', 1, 0, 0, NULL, i FROM n;"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
      "INSERT INTO moz_historyvisits SELECT i, i - 1, 1 + i % 2000, 1228580112000000 + i * 1000000, 1, 1 FROM n;");
  SkvRun csv = RunAnswers(folder.path(), "C\n\n");
  EXPECT_NE(csv.transcript.find("\n100000 rows exported\n"), std::string::npos);
  if (kMemoryIsMeasured) {
    EXPECT_LT(csv.peakMemoryKiB, 12 * 1024);
  }
  SkvRun html = RunAnswers(folder.path(), "D\n\n\n");
  EXPECT_NE(html.transcript.find("\n100000 rows exported\n"), std::string::npos);
  EXPECT_GT(std::filesystem::file_size(folder / kHtml), 50'000'000u);
  if (kMemoryIsMeasured) {
    EXPECT_LT(html.peakMemoryKiB, 12 * 1024);
  }
}

}  // namespace

namespace {

// places.sqlite of a current Firefox: no moz_favicons, no favicon_id.
const std::string kCurrentPlaces =
    "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, rev_host LONGVARCHAR, "
    "visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, typed INTEGER DEFAULT 0 NOT NULL, "
    "frecency INTEGER DEFAULT -1 NOT NULL, last_visit_date INTEGER, guid TEXT);"
    "CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, from_visit INTEGER, place_id INTEGER, "
    "visit_date INTEGER, visit_type INTEGER, session INTEGER, source INTEGER DEFAULT 0);";

const std::string kCurrentFavicons =
    "CREATE TABLE moz_icons (id INTEGER PRIMARY KEY, icon_url TEXT NOT NULL, fixed_icon_url_hash INTEGER NOT NULL, "
    "width INTEGER NOT NULL DEFAULT 0, root INTEGER NOT NULL DEFAULT 0, color INTEGER, "
    "expire_ms INTEGER NOT NULL DEFAULT 0, flags INTEGER NOT NULL DEFAULT 0, data BLOB);"
    "CREATE TABLE moz_pages_w_icons (id INTEGER PRIMARY KEY, page_url TEXT NOT NULL, page_url_hash INTEGER NOT NULL);"
    "CREATE TABLE moz_icons_to_pages (page_id INTEGER NOT NULL, icon_id INTEGER NOT NULL, "
    "expire_ms INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (page_id, icon_id)) WITHOUT ROWID;";

TEST(UsageHtml, CurrentProfilesTakeIconsFromFaviconsSqliteByTheirBytes) {
  TempFolder folder;
  std::string places = kCurrentPlaces;
  std::string icons = kCurrentFavicons;
  struct Page {
    const char* bytes;  // hex of the icon's data, or NULL
    int width;
  };
  const Page pages[] = {
      {"X'89504E470D0A1A0A'", 16}, {"X'47494638396101'", 16},   {"X'0000010001'", 16},
      {"X'FFD8FFE0'", 16},         {"X'424D3600'", 16},         {"'<svg xmlns=\"x\"/>'", 65535},
      {"X'3C3F786D6C3E3C737667'", 16}, {"X'00112233'", 16},     {"NULL", 16},
  };
  for (int i = 0; i < 9; ++i) {
    const std::string id = std::to_string(i + 1);
    places += "INSERT INTO moz_places (id, url, title, rev_host, visit_count, frecency) VALUES (" + id +
              ", 'http://p" + id + "/', 't', '.', 1, 5);"
              "INSERT INTO moz_historyvisits VALUES (" + id + ", 0, " + id + ", " + id + ", 1, 0, 0);";
    icons += "INSERT INTO moz_pages_w_icons VALUES (" + id + ", 'http://p" + id + "/', 0);"
             "INSERT INTO moz_icons VALUES (" + std::to_string(100 + i) + ", 'i', 0, " + std::to_string(pages[i].width) +
             ", 0, NULL, 0, 0, " + pages[i].bytes + ");"
             "INSERT INTO moz_icons_to_pages VALUES (" + id + ", " + std::to_string(100 + i) + ", 0);";
  }
  // Page 1 has two more icons: the one nearest 16 pixels wide is chosen.
  icons += "INSERT INTO moz_icons VALUES (200, 'big', 0, 64, 0, NULL, 0, 0, X'89504E470D0A1A0A00');"
           "INSERT INTO moz_icons VALUES (201, 'small', 0, 15, 0, NULL, 0, 0, X'89504E470D0A1A0A01');"
           "INSERT INTO moz_icons_to_pages VALUES (1, 200, 0), (1, 201, 0);";
  // A page without any icon, and a second visit of page 1.
  places += "INSERT INTO moz_places (id, url, rev_host) VALUES (10, 'http://no-icon/', '.');"
            "INSERT INTO moz_historyvisits VALUES (10, 0, 10, 10, 1, 0, 0);"
            "INSERT INTO moz_historyvisits VALUES (11, 0, 1, 11, 1, 0, 0);";
  ExecuteSql(folder / "places.sqlite", places);
  ExecuteSql(folder / "favicons.sqlite", icons);

  SkvRun run = RunAnswers(folder.path(), "D\ny\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(FileNames(folder.path()),
            (std::set<std::string>{"places.sqlite", "favicons.sqlite", kHtml, "favicon_100.png", "favicon_101.gif",
                                   "favicon_102.ico", "favicon_103.jpg", "favicon_104.bmp", "favicon_105.svg",
                                   "favicon_106.svg", "favicon_107"}));
  EXPECT_EQ(ReadFileBytes(folder / "favicon_105.svg"), "<svg xmlns=\"x\"/>");
  const std::string page = ReadFileBytes(folder / kHtml);
  const std::vector<std::string> cells = FaviconCells(page);
  auto image = [](const char* file) { return std::string("<img src=\"") + file + "\" width=\"16\" height=\"16\">"; };
  EXPECT_EQ(cells, (std::vector<std::string>{image("favicon_100.png"), image("favicon_101.gif"), image("favicon_102.ico"),
                                             image("favicon_103.jpg"), image("favicon_104.bmp"), image("favicon_105.svg"),
                                             image("favicon_106.svg"), image("favicon_107"), "", "",
                                             image("favicon_100.png")}));
}

TEST(UsageHtml, FirefoxThreeFaviconsWinOverAFaviconsSqliteBeside) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_favicons VALUES (5, 'f', X'47494638', 'image/gif', 0);"
                        "INSERT INTO moz_places VALUES (1, 'http://p1/', NULL, '.', 1, 0, 0, 5, 0);"
                        "INSERT INTO moz_historyvisits VALUES (1, 0, 1, 1, 1, 1);");
  ExecuteSql(folder / "favicons.sqlite", kCurrentFavicons +
                                             "INSERT INTO moz_pages_w_icons VALUES (1, 'http://p1/', 0);"
                                             "INSERT INTO moz_icons VALUES (9, 'i', 0, 16, 0, NULL, 0, 0, X'89504E47');"
                                             "INSERT INTO moz_icons_to_pages VALUES (1, 9, 0);");
  RunAnswers(folder.path(), "D\ny\n\n");
  EXPECT_TRUE(std::filesystem::exists(folder / "favicon_5.gif"));
  EXPECT_FALSE(std::filesystem::exists(folder / "favicon_9.png"));
}

}  // namespace

namespace {

// Ids and counts beyond 32 bits are read whole: no page shows another
// page's icon, no count wraps.
TEST(UsageReports, IdsAndCountsBeyondThirtyTwoBitsAreWrittenWhole) {
  TempFolder folder;
  CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                        "INSERT INTO moz_favicons VALUES (1, 'a', X'89504E470D0A1A0A', 'image/png', 0);"
                        "INSERT INTO moz_favicons VALUES (4294967297, 'b', X'47494638', 'image/gif', 0);"
                        "INSERT INTO moz_places VALUES (1, 'http://big.example/', 'Big', '.', 2147483648, 0, 1, "
                        "4294967297, -2147483649);"
                        "INSERT INTO moz_places VALUES (2, 'http://small.example/', 'Small', '.', 1, 0, 0, 1, 5);"
                        "INSERT INTO moz_historyvisits VALUES (1, 3000000000, 1, 1228580112000000, 1, 4294967298);"
                        "INSERT INTO moz_historyvisits VALUES (2, 0, 2, 1228580113000000, 1, 1);");
  SkvRun run = RunAnswers(folder.path(), "C\n\nD\ny\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(ReadFileBytes(folder / kCsv),
            kCsvHeader +
                "\"06/12/2008 16:15:12\",\"http://big.example/\",\"Big\",2147483648,Yes,No,-2147483649,3000000000,1,"
                "4294967298\r\n"
                "\"06/12/2008 16:15:13\",\"http://small.example/\",\"Small\",1,No,No,5,0,1,1\r\n");
  EXPECT_EQ(FaviconCells(ReadFileBytes(folder / kHtml)),
            (std::vector<std::string>{"<img src=\"favicon_4294967297.gif\" width=\"16\" height=\"16\">",
                                      "<img src=\"favicon_1.png\" width=\"16\" height=\"16\">"}));
  EXPECT_EQ(ReadFileBytes(folder / "favicon_4294967297.gif"), "GIF8");
}

// An image that cannot be written leaves its rows without an icon and the
// report goes on; the console says so after the count, as it says an image
// written under another name and a favicons.sqlite that cannot be read.
TEST(UsageHtml, FaviconsNotWrittenAsNamedAreToldAfterTheCount) {
  {
    TempFolder folder;
    CreateBrowserDatabase(folder / "places.sqlite", "firefox3/places.sql",
                          "INSERT INTO moz_favicons VALUES (11, 'a', X'89504E470D0A1A0A', 'image/png', 0);"
                          "INSERT INTO moz_places VALUES (1, 'http://a.example/', 'A', '.', 1, 0, 0, 11, 5);"
                          "INSERT INTO moz_historyvisits VALUES (1, 0, 1, 1228580112000000, 1, 1);");
    std::filesystem::create_directory(folder / "favicon_11.png");
    SkvRun run = RunAnswers(folder.path(), "D\ny\n\n");
    EXPECT_NE(run.transcript.find("\n1 rows exported\nWritten as favicon_11 (2).png\n\n\nPress enter"),
              std::string::npos)
        << run.transcript;
    EXPECT_EQ(ReadFileBytes(folder / "favicon_11 (2).png"), "\x89PNG\r\n\x1A\n");
  }
  // FIFOs are POSIX's.
  if (!RunsUnderWine()) {
    TempFolder folder;
    ExecuteSql(folder / "places.sqlite",
               kCurrentPlaces + "INSERT INTO moz_places (id, url, title, rev_host) VALUES (1, 'http://a/', 't', '.');"
                                "INSERT INTO moz_historyvisits VALUES (1, 0, 1, 1, 1, 0, 0);");
    ::mkfifo((folder / "favicons.sqlite").c_str(), 0644);
    SkvRun run = RunAnswers(folder.path(), "D\ny\n\n");
    EXPECT_NE(run.transcript.find("\n1 rows exported\n  Could not read favicons.sqlite: it is a FIFO, not a file\n"),
              std::string::npos)
        << run.transcript;
  }
}

// A folder that runs out of inodes while the images are written.
TEST(UsageHtml, ImagesThatFindNoRoomAreCountedAndTheReportGoesOn) {
  // The root folder's inode, the page's and the database's, and room for
  // three images of the five.
  const MountedTmpfs mountPoint(0, "size=8m,nr_inodes=6");
  if (!mountPoint.mounted()) GTEST_SKIP() << "no tmpfs with few inodes can be mounted here: " << mountPoint.error();
  std::string rows;
  for (int id = 1; id <= 5; ++id) {
    const std::string n = std::to_string(id);
    rows += "INSERT INTO moz_favicons VALUES (" + n + ", 'i" + n + "', X'89504E470D0A1A0A', 'image/png', 0);"
            "INSERT INTO moz_places VALUES (" + n + ", 'http://p" + n + "/', 'P', '.', 1, 0, 0, " + n + ", 5);"
            "INSERT INTO moz_historyvisits VALUES (" + n + ", 0, " + n + ", " + n + ", 1, 1);";
  }
  TempFolder staging;
  CreateBrowserDatabase(staging / "places.sqlite", "firefox3/places.sql", rows);
  std::filesystem::copy_file(staging / "places.sqlite", mountPoint / "places.sqlite");
  SkvRun run = RunAnswers(mountPoint.path(), "D\ny\n\n");
  EXPECT_EQ(run.exitStatus, 0);
  const std::set<std::string> written = FileNames(mountPoint.path());
  const std::size_t images = written.size() - 2;  // beside places.sqlite and the page
  ASSERT_TRUE(written.contains(kHtml)) << run.transcript;
  ASSERT_LT(images, 5u);
  const std::string line = "\n5 rows exported\n" + std::to_string(5 - images) +
                           " favicon images could not be written, the first favicon_" + std::to_string(images + 1) +
                           ".png: " + SystemReason("No space left on device", "Disk full.") + "\n";
  EXPECT_NE(run.transcript.find(line), std::string::npos) << run.transcript;
}

}  // namespace

namespace {

const std::string kChromeCsv = "2008-117 - Harbour Street - Chrome Internet Usage.csv";
const std::string kChromeCsvHeader =
    "Visit Date,URL,Title,Visit Count,Typed Count,Hidden,Transition,From Visit,Visit Duration\r\n";

// 6 December 2008 16:15:12 UTC in Chrome time: microseconds since 1601,
// 11644473600 s before 1970, plus 1228580112 s.
constexpr long long kChromeDecember2008 = (11644473600LL + 1228580112LL) * 1000000LL;

// The History of three eras (and today's, in the real profile's test), each
// with a visit of every kind: a typed one that starts a chain, a server
// redirect to a page whose id needs 33 bits, a reload of a page that is gone.
TEST(ChromeUsageCsv, ReportOfEachEraOfHistoryByteForByte) {
  const std::string t = std::to_string(kChromeDecember2008);
  const std::string later = std::to_string(kChromeDecember2008 + 1500000);
  const std::string pages =
      "INSERT INTO urls (id, url, title, visit_count, typed_count, last_visit_time, hidden) VALUES "
      "(1, 'http://a.example/', 'say \"A\"', 3, 1, " + t + ", 0), "
      "(4294967297, 'http://b.example/', NULL, 1, 0, " + later + ", 1);";
  struct Era {
    std::string name;
    std::string schema;  // the tables as that Chrome made them, or a schema script
    std::string visits;
    std::string durations;  // the last cell of each line, in order
  };
  const std::string early =
      "INSERT INTO visits (id, url, visit_time, from_visit, transition) VALUES "
      "(1, 1, " + t + ", 0, 805306369), (2, 4294967297, " + later + ", 1, -1610612736),"
      "(3, 77, " + later + ", 2, 8);";
  const Era eras[] = {
      {"2008, the first beta", "chrome/history_v15.sql", early, ""},
      {"2009", "chrome/history.sql", early, ""},
      {"2015",
       "CREATE TABLE urls(id INTEGER PRIMARY KEY,url LONGVARCHAR,title LONGVARCHAR,visit_count INTEGER DEFAULT 0 "
       "NOT NULL,typed_count INTEGER DEFAULT 0 NOT NULL,last_visit_time INTEGER NOT NULL,hidden INTEGER DEFAULT 0 "
       "NOT NULL,favicon_id INTEGER DEFAULT 0 NOT NULL);"
       "CREATE TABLE visits(id INTEGER PRIMARY KEY,url INTEGER NOT NULL,visit_time INTEGER NOT NULL,from_visit "
       "INTEGER,transition INTEGER DEFAULT 0 NOT NULL,segment_id INTEGER,visit_duration INTEGER DEFAULT 0 NOT NULL);",
       "INSERT INTO visits (id, url, visit_time, from_visit, transition, visit_duration) VALUES "
       "(1, 1, " + t + ", 0, 805306369, 12500000), (2, 4294967297, " + later + ", 1, -1610612736, 0),"
       "(3, 77, " + later + ", 2, 8, 1099511627776000001);",
       "12.5|0|1099511627776.000001"},
  };
  for (const Era& era : eras) {
    TempFolder folder;
    if (era.schema.ends_with(".sql")) {
      CreateBrowserDatabase(folder / "History", era.schema, pages + era.visits);
    } else {
      ExecuteSql(folder / "History", era.schema + pages + era.visits);
    }
    SkvRun run = RunAnswers(folder.path(), "K\n\n");
    std::vector<std::string> durations(3);
    for (std::size_t i = 0, at = 0; !era.durations.empty() && i < 3; ++i) {
      const std::size_t bar = era.durations.find('|', at);
      durations[i] = era.durations.substr(at, bar - at);
      at = bar + 1;
    }
    EXPECT_EQ(ReadFileBytes(folder / kChromeCsv),
              kChromeCsvHeader +
                  "\"06/12/2008 16:15:12\",\"http://a.example/\",\"say \"\"A\"\"\",3,1,No,"
                  "\"Typed; Chain Start; Chain End\",0," + durations[0] + "\r\n" +
                  "\"06/12/2008 16:15:13\",\"http://b.example/\",,1,0,Yes,"
                  "\"Link; Chain End; Server Redirect\",1," + durations[1] + "\r\n" +
                  "\"06/12/2008 16:15:13\",,,0,0,No,\"Reload\",2," + durations[2] + "\r\n")
        << era.name;
    EXPECT_NE(run.transcript.find("History -> visits\nHistory -> urls\n\nDatabase History found.\n\nProcessing...\n\n"
                                  "3 rows exported\n\nPress enter to continue"),
              std::string::npos)
        << era.name << run.transcript;
  }
}

// Every visit of the real Chromium profile, its transition decoded by hand
// from the stored numbers: 0x38000001 is Typed with From API, Chain Start
// and Chain End; 0x30000000 a Link that starts and ends its chain;
// 0xA0000000 (stored as -1610612736) a Link at a chain's end by a server
// redirect.
TEST(ChromeUsageCsv, TransitionsOfTheRealProfile) {
  TempFolder folder;
  CopyTestDataFolder("real-profiles/chromium", folder.path());
  RunAnswers(folder.path(), "K\n\n");
  const std::map<std::int64_t, std::string> byHand = {
      {939524097, "Typed; From API; Chain Start; Chain End"},
      {939524098, "Auto Bookmark; From API; Chain Start; Chain End"},
      {805306368, "Link; Chain Start; Chain End"},
      {805306369, "Typed; Chain Start; Chain End"},
      {805306372, "Manual Subframe; Chain Start; Chain End"},
      {805306375, "Form Submit; Chain Start; Chain End"},
      {805306376, "Reload; Chain Start; Chain End"},
      {268435456, "Link; Chain Start"},
      {-1610612736, "Link; Chain End; Server Redirect"},
  };
  // The stored transitions, oldest visit first, as the report orders them.
  std::vector<std::string> expected;
  {
    sqlite3* raw = nullptr;
    const std::string history = (folder / "History").string();
    ASSERT_EQ(sqlite3_open_v2(history.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    DatabaseHandle db(raw);
    Statement transitions = PrepareStatement(db.get(), "SELECT transition FROM visits ORDER BY visit_time");
    while (sqlite3_step(transitions.get()) == SQLITE_ROW) {
      const auto found = byHand.find(sqlite3_column_int64(transitions.get(), 0));
      expected.push_back(found != byHand.end() ? found->second : "a transition not decoded by hand");
    }
  }
  ASSERT_EQ(expected.size(), 37u);
  const std::string report = ReadFileBytes(folder / kChromeCsv);
  std::vector<std::string> decoded;
  for (std::size_t at = report.find("\r\n") + 2; at < report.size();) {
    const std::size_t end = report.find("\r\n", at);
    const std::string line = report.substr(at, end - at);
    // The transition is the one quoted field after Hidden's bare Yes or No.
    const std::size_t hidden = line.rfind(",No,\"") != std::string::npos ? line.rfind(",No,\"") : line.rfind(",Yes,\"");
    const std::size_t open = line.find('"', hidden);
    decoded.push_back(line.substr(open + 1, line.find('"', open + 1) - open - 1));
    at = end + 2;
  }
  EXPECT_EQ(decoded, expected);
}

// The hosts of the most visits, taken from the pages' URLs; and each era's
// favicons: Chrome of 2009's in Thumbnails by the page's favicon_id, later
// ones' in Favicons by the page's URL, the largest bitmap of today's.
TEST(ChromeUsageHtml, MostVisitedHostsAndTheFaviconsOfEachEra) {
  const std::string t = std::to_string(kChromeDecember2008);
  const std::string history =
      "INSERT INTO urls (id, url, title, visit_count, typed_count, last_visit_time, hidden, favicon_id) VALUES "
      "(1, 'http://c.example/', 'C', 3, 0, " + t + ", 0, 7), (2, 'http://user@b.example.org:8080/x', 'B', 2, 0, " +
      t + ", 0, 0), (3, 'https://a.example.com/?q', 'A', 2, 0, " + t + ", 0, 0), (4, 'file:///C:/x.html', 'X', 1, 0, " +
      t + ", 0, 0), (5, 'http://z.example.com/', 'Z', 2, 0, " + t + ", 0, 0);"
      "INSERT INTO visits (id, url, visit_time, from_visit, transition) VALUES "
      "(1, 1, " + t + ", 0, 1), (2, 2, " + t + "+1, 0, 0), (3, 3, " + t + "+2, 0, 0), (4, 1, " + t + "+3, 0, 0),"
      "(5, 2, " + t + "+4, 0, 0), (6, 3, " + t + "+5, 0, 0), (7, 1, " + t + "+6, 0, 8), (8, 4, " + t + "+7, 0, 0),"
      "(9, 5, " + t + "+8, 0, 0), (10, 5, " + t + "+9, 0, 0);";
  const std::string png = std::string("\x89PNG\r\n\x1A\n", 8);
  struct Era {
    std::string name;
    std::string iconsFile;
    std::string iconsSql;
    std::string image;  // the file of c.example's icon
    std::string bytes;
  };
  const Era eras[] = {
      {"2009", "Thumbnails",
       "CREATE TABLE favicons(id INTEGER PRIMARY KEY,url LONGVARCHAR NOT NULL,last_updated INTEGER DEFAULT 0,"
       "image_data BLOB); INSERT INTO favicons VALUES (7, 'http://c.example/favicon.ico', 0, X'89504E470D0A1A0A01');",
       "chrome_favicon_7.png", png + "\x01"},
      {"before bitmaps", "Favicons",
       "CREATE TABLE favicons(id INTEGER PRIMARY KEY,url LONGVARCHAR NOT NULL,last_updated INTEGER DEFAULT 0,"
       "image_data BLOB,icon_type INTEGER DEFAULT 1); CREATE TABLE icon_mapping(id INTEGER PRIMARY KEY,page_url "
       "LONGVARCHAR NOT NULL,icon_id INTEGER); INSERT INTO favicons VALUES (9, 'i', 0, X'4749463839610102', 1);"
       "INSERT INTO icon_mapping VALUES (1, 'http://c.example/', 9);",
       "chrome_favicon_9.gif", "GIF89a\x01\x02"},
      {"today", "Favicons",
       "CREATE TABLE icon_mapping(id INTEGER PRIMARY KEY,page_url LONGVARCHAR NOT NULL,icon_id INTEGER,"
       "page_url_type INTEGER DEFAULT 0); CREATE TABLE favicons(id INTEGER PRIMARY KEY,url LONGVARCHAR NOT NULL,"
       "icon_type INTEGER DEFAULT 1); CREATE TABLE favicon_bitmaps(id INTEGER PRIMARY KEY,icon_id INTEGER NOT NULL,"
       "last_updated INTEGER DEFAULT 0,image_data BLOB,width INTEGER DEFAULT 0,height INTEGER DEFAULT 0,"
       "last_requested INTEGER DEFAULT 0); INSERT INTO icon_mapping VALUES (1, 'http://c.example/', 11, 0);"
       "INSERT INTO favicons VALUES (11, 'i', 1); INSERT INTO favicon_bitmaps VALUES "
       "(1, 11, 0, X'89504E470D0A1A0A16', 16, 16, 0), (2, 11, 0, X'89504E470D0A1A0A32', 32, 32, 0),"
       "(3, 11, 0, X'89504E470D0A1A0A24', 24, 24, 0);",
       "chrome_favicon_11.png", png + "\x32"},
  };
  for (const Era& era : eras) {
    TempFolder folder;
    CreateBrowserDatabase(folder / "History", "chrome/history.sql", history);
    ExecuteSql(folder / era.iconsFile, era.iconsSql);
    SkvRun run = RunAnswers(folder.path(), "L\ny\n\n");
    const std::string page = ReadFileBytes(folder / "2008-117 - Harbour Street - Chrome Internet Usage.html");
    // c.example's three visits first; then the hosts of two visits each as
    // Firefox's table orders equal counts, the reversed name that sorts
    // last first (moc.elpmaxe.z., moc.elpmaxe.a., gro.elpmaxe.b.); no host
    // of a file.
    std::string hosts;
    const std::string hostTable = page.substr(0, page.find("Visit Date</TD>"));
    for (std::size_t at = 0; (at = hostTable.find("<font size=\"1\">", at)) != std::string::npos; ++at) {
      const std::size_t begin = at + 15;
      const std::string cell = hostTable.substr(begin, hostTable.find("</TD>", begin) - begin);
      if (!cell.empty() && cell != "URL" && cell != "Visit Count") hosts += cell + " ";
    }
    EXPECT_EQ(hosts, "c.example 3 z.example.com 2 a.example.com 2 b.example.org 2 ") << era.name;
    const std::string icon = "<img src=\"" + era.image + "\" width=\"16\" height=\"16\">";
    EXPECT_EQ(FaviconCells(page), (std::vector<std::string>{icon, "", "", icon, "", "", icon, "", "", ""}))
        << era.name;
    EXPECT_EQ(ReadFileBytes(folder / era.image), era.bytes) << era.name;
    EXPECT_EQ(FileNames(folder.path()).size(), 4u) << era.name << run.transcript;
    EXPECT_NE(page.find("Typed</font></TD>"), std::string::npos) << "the first visit's transition";
  }
}

TEST(ChromeUsage, TheHelpSaysWhatKAndLMake) {
  TempFolder folder;
  SkvRun run = RunAnswers(folder.path(), "H\n\n");
  EXPECT_NE(run.transcript.find("leads to.\n\n"
                                "Tasks K and L make the Internet Usage report of a Google Chrome History file,\n"
                                "and of the browsers built on Chrome that keep the same file: every visit,\n"
                                "oldest first, with its page, how the user came to it and how long it was shown.\n\n"
                                "If you pass skv on"),
            std::string::npos)
      << run.transcript;
}

}  // namespace
