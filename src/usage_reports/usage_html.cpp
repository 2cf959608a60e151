#include "usage_reports/usage_html.h"

#include <algorithm>
#include <string>

#include "console/console.h"
#include "console/progress_count.h"
#include "console/program_identity.h"
#include "evidence/evidence_database.h"
#include "console/task_console.h"
#include "evidence/table_probes.h"
#include "output/output_file.h"
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

// Double-quoted strings as literals are a legacy that SQLite may be built
// without; the host summary relies on it, so it is asked for explicitly.
void AllowQuotedLiterals(sqlite3* db) { sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 1, nullptr); }

// Writes the lines of the page as the page is built; a failed write ends the
// program.
class PageWriter {
 public:
  PageWriter(Console& console, OutputFile& page) : console_(console), page_(page) {}

  std::string& line() { return page_.pending(); }
  PageWriter& operator<<(std::string_view markup) {
    page_.Append(markup);
    return *this;
  }
  void EndLine() {
    if (!page_.EndLine()) EndProgramAfterWriteFailure(console_, page_.failure());
  }
  void Line(std::string_view markup) {
    page_.Append(markup);
    EndLine();
  }

 private:
  Console& console_;
  OutputFile& page_;
};

// The stored host is reversed with a trailing dot: "c.b.a." names a.b.c.
std::string HostName(std::string_view reversed) {
  if (!reversed.empty()) reversed.remove_suffix(1);
  return std::string(reversed.rbegin(), reversed.rend());
}

void WriteHostTable(PageWriter& page, sqlite3_stmt* hosts) {
  page.Line(
      "<font size=\"2\" face=\"Arial\"><strong>20 Most visited hosts</strong></font><br>"
      "<TABLE border=\"0\" cellpadding=\"2\" cellspacing=\"2\">");
  page.Line("<TR style=\"background-color: rgb(150, 150, 150);\">");
  page << kHeadingCell << "URL</TD>";
  page.EndLine();
  page << kHeadingCell << "Visit Count</TD>";
  page.EndLine();
  page.Line("</TR>");
  while (sqlite3_step(hosts) == SQLITE_ROW) {
    page.Line(kShadedRow);
    page << "  <TD style=\"font-family: Arial;\"><font size=\"1\">";
    AppendHtmlText(page.line(), HostName(ColumnText(hosts, 0).value_or("")));
    page << "</TD>";
    page.EndLine();
    page << "  <TD style=\"font-family: Arial;\" align=\"center\"><font size=\"1\">"
         << std::to_string(sqlite3_column_int(hosts, 1)) << "</TD>";
    page.EndLine();
    page.Line("</TR>");
  }
  page.Line("</TABLE><BR><BR>");
}

void WriteVisitTableHeading(PageWriter& page) {
  page.Line("<TABLE border=\"0\" cellpadding=\"2\" cellspacing=\"2\">");
  page.Line("<TR>");
  page.Line("  <TD></TD>");
  for (std::string_view heading : {"Visit Date", "URL", "Title", "Typed"}) {
    page << kHeadingCell << heading << "</TD>";
    page.EndLine();
  }
  page.Line("</TR>");
}

// decoded: the buffer the date is decoded into, one for the whole page.
void WriteVisitRow(PageWriter& page, const JoinedVisit& visit, bool shaded, const std::string& favicon,
                   const CaseSettings& settings, std::string& decoded) {
  page.Line(shaded ? kShadedRow : "<TR>");
  page << "  <TD>";
  if (!favicon.empty()) {
    page << "<img src=\"";
    AppendHtmlText(page.line(), favicon);
    page << "\" width=\"16\" height=\"16\">";
  }
  page << "</TD>  <TD valign=\"top\" style=\"font-family: Arial;\"><font size=\"2\">";
  if (visit.visitDate) {
    DecodePRtimeInto(decoded, *visit.visitDate, settings);
    AppendHtmlText(page.line(), decoded);
  }
  page << "</font></TD>";
  page.EndLine();
  page << kCourierCell;
  if (visit.url) WrapWithBreaks(page.line(), *visit.url, kUrlWidth, kBreak);
  page << "</font></TD>";
  page.EndLine();
  page << kCourierCell;
  if (visit.title) WrapWithBreaks(page.line(), *visit.title, kTitleWidth, kBreak);
  page << "</font></TD>";
  page.EndLine();
  page << kArialCell << (visit.typed != 0 ? "Yes" : "No") << "</font></TD>";
  page.EndLine();
  page.Line("</TR>");
}

// Writes the page from its head to its foot; false when a statement could
// not be prepared, which ends the page where it stands.
bool WritePageContent(Console& console, OutputFile& file, const CaseSettings& settings, sqlite3* db,
                      bool withFavicons, std::int64_t& rows) {
  PageWriter page(console, file);
  WriteReportHead(console, file, settings);
  {
    AllowQuotedLiterals(db);
    Statement hosts = PrepareStatement(db, kHostSummary);
    if (!hosts) return false;
    WriteHostTable(page, hosts.get());
  }
  WriteVisitTableHeading(page);

  std::optional<VisitJoin> join = VisitJoin::Start(db);
  if (!join) return false;
  FaviconExtractor favicons(console, db);
  static const std::string kNoFavicon;
  bool shaded = true;
  ProgressCount progress(console, [db] { return CountRows(db, "moz_historyvisits"); });
  JoinedVisit visit;
  std::string decoded;
  VisitJoin::Step step;
  while ((step = join->Next(visit)) == VisitJoin::Step::kVisit) {
    const std::string& favicon = withFavicons ? favicons.FaviconFor(visit) : kNoFavicon;
    WriteVisitRow(page, visit, shaded, favicon, settings, decoded);
    shaded = !shaded;
    ++rows;
    progress.CountRow();
  }
  if (step == VisitJoin::Step::kUnprepared) return false;
  if (step == VisitJoin::Step::kReadFailure) ReportVisitReadFailure(console, join->ReadFailure());
  WriteReportFoot(console, file);
  return true;
}

// Writes and publishes the page, also when it ends early: the console then
// says why. False when a statement could not be prepared, which ends the
// task without its count and pause.
bool WritePage(Console& console, const CaseSettings& settings, sqlite3* db, bool withFavicons,
               const ClaimedName& name, std::int64_t& rows) {
  OutputFile file(name.name);
  if (file.failed()) EndProgramWithMessage(console, "Error creating output file:" + name.name);
  const bool complete = WritePageContent(console, file, settings, db, withFavicons, rows);
  if (!file.Publish()) EndProgramAfterWriteFailure(console, file.failure());
  return complete;
}

}  // namespace

void WriteReportHead(Console& console, OutputFile& file, const CaseSettings& settings) {
  PageWriter page(console, file);
  page.Line("<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\" \"http://www.w3.org/TR/html4/strict.dtd\">");
  page.Line("<HTML lang=\"en\">");
  page.Line("<head>");
  page.Line("  <meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\"/>");
  page << "  <title>";
  AppendHtmlText(page.line(), settings.caseReference + " - " + settings.caseName);
  page << " / Internet Usage Report</title>";
  page.EndLine();
  page.Line("</head>");
  page.Line("<body>");
  page.Line("<big style=\"font-weight: bold; color: rgb(153, 153, 153);\"><big><span");
  page.Line(" style=\"font-family: Arial;\">Internet Usage Report</span></big></big><br");
  page.Line(" style=\"font-family: Arial;\">");
  page << "<span style=\"font-family: Arial;\">";
  AppendHtmlText(page.line(), settings.caseReference + " - " + settings.caseName);
  page << "</span><br><br>";
  page.EndLine();
  page << "<small><span style=\"font-family: Arial;\">Produced by: ";
  AppendHtmlText(page.line(), settings.investigator);
  page << "</span></small><br><br>";
  page.EndLine();
}

void WriteReportFoot(Console& console, OutputFile& file) {
  using namespace ProgramIdentity;
  PageWriter page(console, file);
  page << "</table><br><br><div style=\"text-align: center;\"><small><span style=\"font-family: Arial;\">"
       << "Report created by " << productName << " " << version << " written by " << authorName
       << "</span></small></div></body></html>";
}

void ExportUsageHtml(Console& console, const CaseSettings& settings) {
  PrintReportIntroduction(console);
  console.PrintSectionBreak();
  console.Write("Do you wish to extract and include favicons? [Y/N] ");
  std::string answer;
  console.ReadLine(answer);
  const bool withFavicons = answer == "y" || answer == "Y";
  console.PrintSectionBreak();

  RunReport(console, settings, ".html", 2, [&](sqlite3* db, const ClaimedName& name, std::int64_t& rows) {
    return WritePage(console, settings, db, withFavicons, name, rows);
  });
}
