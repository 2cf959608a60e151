#include "usage_reports/usage_html.h"

#include <algorithm>
#include <string>

#include "console/console.h"
#include "console/program_identity.h"
#include "console/task_console.h"
#include "timestamps/timestamp_decoding.h"
#include "usage_reports/favicon_extraction.h"
#include "usage_reports/html_text.h"
#include "usage_reports/report_console.h"
#include "usage_reports/visit_join.h"

namespace {

constexpr std::size_t kUrlWidth = 90;
constexpr std::size_t kTitleWidth = 50;
constexpr std::string_view kBreak = "<br>";

// Rows that show the 20 most visited hosts. The double-quoted "." and "" are
// string literals to SQLite (see AllowQuotedLiterals).
constexpr const char* kHostSummary =
    "SELECT rev_host, sum(visit_count) FROM moz_places WHERE rev_host <> \".\" AND rev_host <> \"\" "
    "GROUP BY rev_host ORDER by sum(visit_count) DESC LIMIT 20";

constexpr std::string_view kHeadingCell = "  <TD style=\"font-family: Arial; font-weight: bold;\"><font size=\"1\">";
constexpr std::string_view kShadedRow = "<TR style=\"background-color: rgb(175, 175, 175);\">";
constexpr std::string_view kCourierCell =
    "  <TD valign=\"top\" style=\"font-family: Courier New,Courier,monospace;\"><font size=\"2\">";
constexpr std::string_view kArialCell = "  <TD valign=\"top\" style=\"font-family: Arial;\"><font size=\"2\">";

// After the count, two empty lines before the pause.
constexpr int kEmptyLinesAfterCount = 2;

// Double-quoted strings as literals are a legacy that SQLite may be built
// without; the host summary relies on it, so it is asked for explicitly.
void AllowQuotedLiterals(sqlite3* db) { sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 1, nullptr); }

void Line(TaskFile& page, std::string_view markup) {
  page.Append(markup);
  page.EndLine();
}

// The stored host is reversed with a trailing dot: "c.b.a." names a.b.c.
std::string HostName(std::string_view reversed) {
  if (!reversed.empty()) reversed.remove_suffix(1);
  return std::string(reversed.rbegin(), reversed.rend());
}

void WriteHostTable(TaskFile& page, sqlite3_stmt* hosts) {
  Line(page,
       "<font size=\"2\" face=\"Arial\"><strong>20 Most visited hosts</strong></font><br>"
       "<TABLE border=\"0\" cellpadding=\"2\" cellspacing=\"2\">");
  Line(page, "<TR style=\"background-color: rgb(150, 150, 150);\">");
  page.Append(kHeadingCell);
  Line(page, "URL</TD>");
  page.Append(kHeadingCell);
  Line(page, "Visit Count</TD>");
  Line(page, "</TR>");
  while (sqlite3_step(hosts) == SQLITE_ROW) {
    Line(page, kShadedRow);
    page.Append("  <TD style=\"font-family: Arial;\"><font size=\"1\">");
    AppendHtmlText(page.out(), HostName(ColumnText(hosts, 0).value_or("")));
    Line(page, "</TD>");
    page.Append("  <TD style=\"font-family: Arial;\" align=\"center\"><font size=\"1\">");
    page.Append(std::to_string(sqlite3_column_int64(hosts, 1)));
    Line(page, "</TD>");
    Line(page, "</TR>");
  }
  Line(page, "</TABLE><BR><BR>");
}

void WriteVisitTableHeading(TaskFile& page) {
  Line(page, "<TABLE border=\"0\" cellpadding=\"2\" cellspacing=\"2\">");
  Line(page, "<TR>");
  Line(page, "  <TD></TD>");
  for (std::string_view heading : {"Visit Date", "URL", "Title", "Typed"}) {
    page.Append(kHeadingCell);
    page.Append(heading);
    Line(page, "</TD>");
  }
  Line(page, "</TR>");
}

// decoded: the buffer the date is decoded into, one for the whole page.
void WriteVisitRow(TaskFile& page, const JoinedVisit& visit, bool shaded, const std::string& favicon,
                   const CaseSettings& settings, std::string& decoded) {
  Line(page, shaded ? kShadedRow : "<TR>");
  page.Append("  <TD>");
  if (!favicon.empty()) {
    page.Append("<img src=\"");
    AppendHtmlText(page.out(), favicon);
    page.Append("\" width=\"16\" height=\"16\">");
  }
  page.Append("</TD>  <TD valign=\"top\" style=\"font-family: Arial;\"><font size=\"2\">");
  if (visit.visitDate) {
    DecodePRtimeInto(decoded, *visit.visitDate, settings);
    AppendHtmlText(page.out(), decoded);
  }
  Line(page, "</font></TD>");
  page.Append(kCourierCell);
  if (visit.url) WrapWithBreaks(page.out(), *visit.url, kUrlWidth, kBreak);
  Line(page, "</font></TD>");
  page.Append(kCourierCell);
  if (visit.title) WrapWithBreaks(page.out(), *visit.title, kTitleWidth, kBreak);
  Line(page, "</font></TD>");
  page.Append(kArialCell);
  page.Append(visit.typed != 0 ? "Yes" : "No");
  Line(page, "</font></TD>");
  Line(page, "</TR>");
}

// What the console says of the images after the count.
void AddFaviconNotes(const FaviconTally& favicons, std::vector<std::string>& notes) {
  for (const std::string& renamed : favicons.renamed) notes.push_back("Written as " + renamed);
  if (favicons.notWritten > 0) {
    const Failure& first = *favicons.firstNotWritten;
    notes.push_back(std::to_string(favicons.notWritten) +
                    (favicons.notWritten == 1 ? " favicon image" : " favicon images") +
                    " could not be written, the first " + first.name + ": " + first.Why());
  }
  if (favicons.unreadableDatabase) notes.push_back(UnreadableLine("favicons.sqlite", *favicons.unreadableDatabase));
}

// Writes the page from its head to its foot; the failure when a statement
// could not be prepared.
std::optional<UnpreparedStatement> WritePage(Console& console, const CaseSettings& settings, sqlite3* db,
                                             bool withFavicons, TaskFile& page, ReportTally& tally) {
  WriteReportHead(page, settings);
  {
    AllowQuotedLiterals(db);
    Statement hosts = PrepareStatement(db, kHostSummary);
    if (!hosts) return LastUnprepared(db);
    WriteHostTable(page, hosts.get());
  }
  WriteVisitTableHeading(page);

  std::optional<VisitJoin> join = VisitJoin::Start(db);
  if (!join) return LastUnprepared(db);
  FaviconExtractor favicons(db);
  static const std::string kNoFavicon;
  bool shaded = true;
  std::string decoded;
  const auto failure = ForEachVisit(console, db, kFirefoxUsage, *join, tally, [&](const JoinedVisit& visit) {
    if (!withFavicons) {
      WriteVisitRow(page, visit, shaded, kNoFavicon, settings, decoded);
    } else {
      const FaviconLookup favicon = favicons.FaviconFor(visit);
      if (favicon.lost) EndProgramAfterWriteFailure(console, *favicon.lost);
      WriteVisitRow(page, visit, shaded, favicon.file, settings, decoded);
    }
    shaded = !shaded;
  });
  if (failure) return failure;
  WriteReportFoot(page);
  AddFaviconNotes(favicons.tally(), tally.notes);
  return std::nullopt;
}

}  // namespace

void WriteReportHead(TaskFile& page, const CaseSettings& settings) {
  Line(page, "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\" \"http://www.w3.org/TR/html4/strict.dtd\">");
  Line(page, "<HTML lang=\"en\">");
  Line(page, "<head>");
  Line(page, "  <meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\"/>");
  page.Append("  <title>");
  AppendHtmlText(page.out(), settings.caseReference + " - " + settings.caseName);
  Line(page, " / Internet Usage Report</title>");
  Line(page, "</head>");
  Line(page, "<body>");
  Line(page, "<big style=\"font-weight: bold; color: rgb(153, 153, 153);\"><big><span");
  Line(page, " style=\"font-family: Arial;\">Internet Usage Report</span></big></big><br");
  Line(page, " style=\"font-family: Arial;\">");
  page.Append("<span style=\"font-family: Arial;\">");
  AppendHtmlText(page.out(), settings.caseReference + " - " + settings.caseName);
  Line(page, "</span><br><br>");
  page.Append("<small><span style=\"font-family: Arial;\">Produced by: ");
  AppendHtmlText(page.out(), settings.investigator);
  Line(page, "</span></small><br><br>");
}

void WriteReportFoot(TaskFile& page) {
  using namespace ProgramIdentity;
  page.Append("</table><br><br><div style=\"text-align: center;\"><small><span style=\"font-family: Arial;\">");
  page.Append(std::string("Report created by ") + productName + " " + version + " written by " + authorName);
  page.Append("</span></small></div></body></html>");
}

void ExportUsageHtml(Console& console, const CaseSettings& settings) {
  PrintReportIntroduction(console, kFirefoxUsage);
  console.PrintSectionBreak();
  console.Write("Do you wish to extract and include favicons? [Y/N] ");
  std::string answer;
  console.ReadLine(answer);
  const bool withFavicons = answer == "y" || answer == "Y";
  console.PrintSectionBreak();

  RunReport(console, settings, kFirefoxUsage, ".html", CreateMessage::kAfterColon, kEmptyLinesAfterCount,
            [&](sqlite3* db, TaskFile& page, ReportTally& tally) {
              return WritePage(console, settings, db, withFavicons, page, tally);
            });
}
