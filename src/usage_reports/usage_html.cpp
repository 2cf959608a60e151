#include "usage_reports/usage_html.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "console/console.h"
#include "console/program_identity.h"
#include "console/task_console.h"
#include "timestamps/timestamp_decoding.h"
#include "usage_reports/chrome_visit_join.h"
#include "usage_reports/favicon_extraction.h"
#include "usage_reports/html_text.h"
#include "usage_reports/page_transitions.h"
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

// A host of the table of the most visited, and its count.
struct HostCount {
  std::string host;
  std::int64_t visits = 0;
};

void WriteHostTable(TaskFile& page, const std::vector<HostCount>& hosts) {
  Line(page,
       "<font size=\"2\" face=\"Arial\"><strong>20 Most visited hosts</strong></font><br>"
       "<TABLE border=\"0\" cellpadding=\"2\" cellspacing=\"2\">");
  Line(page, "<TR style=\"background-color: rgb(150, 150, 150);\">");
  page.Append(kHeadingCell);
  Line(page, "URL</TD>");
  page.Append(kHeadingCell);
  Line(page, "Visit Count</TD>");
  Line(page, "</TR>");
  for (const HostCount& host : hosts) {
    Line(page, kShadedRow);
    page.Append("  <TD style=\"font-family: Arial;\"><font size=\"1\">");
    AppendHtmlText(page.out(), host.host);
    Line(page, "</TD>");
    page.Append("  <TD style=\"font-family: Arial;\" align=\"center\"><font size=\"1\">");
    page.Append(std::to_string(host.visits));
    Line(page, "</TD>");
    Line(page, "</TR>");
  }
  Line(page, "</TABLE><BR><BR>");
}

// Firefox's 20 most visited hosts, by the visit counts of their pages.
std::optional<UnpreparedStatement> FirefoxHosts(sqlite3* db, std::vector<HostCount>& hosts) {
  AllowQuotedLiterals(db);
  Statement summary = PrepareStatement(db, kHostSummary);
  if (!summary) return LastUnprepared(db);
  while (sqlite3_step(summary.get()) == SQLITE_ROW) {
    hosts.push_back({HostName(ColumnText(summary.get(), 0).value_or("")), sqlite3_column_int64(summary.get(), 1)});
  }
  return std::nullopt;
}

// The host of a URL: what stands between "://" and the path, without a
// user's name or a port; empty for a URL with none ("file:///", "about:").
std::string_view HostOf(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string_view authority = url.substr(scheme + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  if (const std::size_t user = authority.rfind('@'); user != std::string_view::npos) authority.remove_prefix(user + 1);
  const std::size_t bracket = authority.rfind(']');
  const std::size_t port = authority.rfind(':');
  if (port != std::string_view::npos && (bracket == std::string_view::npos || port > bracket)) {
    authority = authority.substr(0, port);
  }
  return authority;
}

// Chrome's 20 most visited hosts, by their visits, the hosts taken from the
// pages' URLs. In the order SQLite gives Firefox's table: the most visits
// first, and among equal counts the host whose reversed name ("moc.elpmaxe.")
// sorts last.
std::optional<UnpreparedStatement> ChromeHosts(sqlite3* db, std::vector<HostCount>& hosts) {
  Statement pages = PrepareStatement(
      db, "SELECT u.url, count(*) FROM visits AS v JOIN urls AS u ON u.id = v.url GROUP BY v.url");
  if (!pages) return LastUnprepared(db);
  std::unordered_map<std::string, std::int64_t> counts;
  while (sqlite3_step(pages.get()) == SQLITE_ROW) {
    const std::string_view host = HostOf(ColumnText(pages.get(), 0).value_or(""));
    if (!host.empty()) counts[std::string(host)] += sqlite3_column_int64(pages.get(), 1);
  }
  std::vector<std::pair<std::string, HostCount>> ranked;  // the reversed name first
  for (auto& [host, visits] : counts) ranked.push_back({std::string(host.rbegin(), host.rend()) + ".", {host, visits}});
  const std::size_t shown = std::min<std::size_t>(ranked.size(), 20);
  std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(shown), ranked.end(),
                    [](const auto& a, const auto& b) {
                      return a.second.visits != b.second.visits ? a.second.visits > b.second.visits : a.first > b.first;
                    });
  for (std::size_t i = 0; i < shown; ++i) hosts.push_back(std::move(ranked[i].second));
  return std::nullopt;
}

void WriteVisitTableHeading(TaskFile& page, std::string_view lastHeading) {
  Line(page, "<TABLE border=\"0\" cellpadding=\"2\" cellspacing=\"2\">");
  Line(page, "<TR>");
  Line(page, "  <TD></TD>");
  for (std::string_view heading : {std::string_view("Visit Date"), std::string_view("URL"), std::string_view("Title"),
                                   lastHeading}) {
    page.Append(kHeadingCell);
    page.Append(heading);
    Line(page, "</TD>");
  }
  Line(page, "</TR>");
}

// The cells of a visit's row that differ between browsers.
struct VisitCells {
  std::optional<std::string_view> url;
  std::optional<std::string_view> title;
  std::string_view last;        // "Yes"/"No" of Typed, or the transition
  std::int64_t faviconId = 0;   // the page's icon id where the history keeps one
};

// date: the visit's date decoded, or nothing.
void WriteVisitRow(TaskFile& page, bool shaded, const std::string& favicon, const std::optional<std::string>& date,
                   const VisitCells& cells) {
  Line(page, shaded ? kShadedRow : "<TR>");
  page.Append("  <TD>");
  if (!favicon.empty()) {
    page.Append("<img src=\"");
    AppendHtmlText(page.out(), favicon);
    page.Append("\" width=\"16\" height=\"16\">");
  }
  page.Append("</TD>  <TD valign=\"top\" style=\"font-family: Arial;\"><font size=\"2\">");
  if (date) AppendHtmlText(page.out(), *date);
  Line(page, "</font></TD>");
  page.Append(kCourierCell);
  if (cells.url) WrapWithBreaks(page.out(), *cells.url, kUrlWidth, kBreak);
  Line(page, "</font></TD>");
  page.Append(kCourierCell);
  if (cells.title) WrapWithBreaks(page.out(), *cells.title, kTitleWidth, kBreak);
  Line(page, "</font></TD>");
  page.Append(kArialCell);
  AppendHtmlText(page.out(), cells.last);
  Line(page, "</font></TD>");
  Line(page, "</TR>");
}

// What the console says of the images after the count.
void AddFaviconNotes(const FaviconTally& favicons, std::string_view database, std::vector<std::string>& notes) {
  for (const std::string& renamed : favicons.renamed) notes.push_back("Written as " + renamed);
  if (favicons.notWritten > 0) {
    const Failure& first = *favicons.firstNotWritten;
    notes.push_back(std::to_string(favicons.notWritten) +
                    (favicons.notWritten == 1 ? " favicon image" : " favicon images") +
                    " could not be written, the first " + first.name + ": " + first.Why());
  }
  if (favicons.unreadableDatabase) notes.push_back(UnreadableLine(std::string(database), *favicons.unreadableDatabase));
}

// What a browser's page differs in: its report, its hosts, the heading of
// its last column, and the cells of each visit (cells gives them, the date
// decoded into date).
template <typename Join>
struct BrowserPage {
  const UsageReport& report;
  IconBrowser icons;
  std::optional<UnpreparedStatement> (*hosts)(sqlite3* db, std::vector<HostCount>& hosts);
  std::string_view lastHeading;
  VisitCells (*cells)(const typename Join::Visit& visit, const CaseSettings& settings, std::optional<std::string>& date,
                      std::string& scratch);
};

// Writes the page from its head to its foot; the failure when a statement
// could not be prepared.
template <typename Join>
std::optional<UnpreparedStatement> WritePage(Console& console, const CaseSettings& settings, sqlite3* db,
                                             const BrowserPage<Join>& browser, bool withFavicons, TaskFile& page,
                                             ReportTally& tally) {
  WriteReportHead(page, settings);
  {
    std::vector<HostCount> hosts;
    if (auto failure = browser.hosts(db, hosts)) return failure;
    WriteHostTable(page, hosts);
  }
  WriteVisitTableHeading(page, browser.lastHeading);

  std::optional<Join> join = Join::Start(db);
  if (!join) return LastUnprepared(db);
  FaviconExtractor favicons(db, browser.icons);
  static const std::string kNoFavicon;
  bool shaded = true;
  std::optional<std::string> date;
  std::string scratch;
  const auto failure = ForEachVisit(console, db, browser.report, *join, tally, [&](const typename Join::Visit& visit) {
    const VisitCells cells = browser.cells(visit, settings, date, scratch);
    if (!withFavicons) {
      WriteVisitRow(page, shaded, kNoFavicon, date, cells);
    } else {
      const FaviconLookup favicon = favicons.FaviconFor(cells.faviconId, cells.url);
      if (favicon.lost) EndProgramAfterWriteFailure(console, *favicon.lost);
      WriteVisitRow(page, shaded, favicon.file, date, cells);
    }
    shaded = !shaded;
  });
  if (failure) return failure;
  WriteReportFoot(page);
  AddFaviconNotes(favicons.tally(), favicons.IconsDatabase(), tally.notes);
  return std::nullopt;
}

// Decodes a stored date into date, by the browser's clock; nothing for none.
void DecodeDate(const std::optional<std::string_view>& stored, const CaseSettings& settings,
                void (*decode)(std::string&, std::string_view, const DateStyle&), std::optional<std::string>& date) {
  if (!stored) {
    date.reset();
    return;
  }
  if (!date) date.emplace();
  decode(*date, *stored, settings);
}

VisitCells FirefoxCells(const JoinedVisit& visit, const CaseSettings& settings, std::optional<std::string>& date,
                        std::string&) {
  DecodeDate(visit.visitDate, settings, DecodePRtimeInto, date);
  return {visit.url, visit.title, visit.typed != 0 ? "Yes" : "No", visit.faviconId};
}

VisitCells ChromeCells(const ChromeVisit& visit, const CaseSettings& settings, std::optional<std::string>& date,
                       std::string& scratch) {
  DecodeDate(visit.visitTime, settings, DecodeChromeTimeInto, date);
  scratch.clear();
  if (visit.transition) AppendTransitionText(scratch, *visit.transition);
  return {visit.url, visit.title, scratch, visit.faviconId.value_or(0)};
}

const BrowserPage<VisitJoin> kFirefoxPage{kFirefoxUsage, IconBrowser::kFirefox, FirefoxHosts, "Typed", FirefoxCells};
const BrowserPage<ChromeVisitJoin> kChromePage{kChromeUsage, IconBrowser::kChrome, ChromeHosts, "Transition",
                                               ChromeCells};

// The task: the question of favicons, then the report.
template <typename Join>
void ExportPage(Console& console, const CaseSettings& settings, const BrowserPage<Join>& browser) {
  PrintReportIntroduction(console, browser.report);
  console.PrintSectionBreak();
  console.Write("Do you wish to extract and include favicons? [Y/N] ");
  std::string answer;
  console.ReadLine(answer);
  const bool withFavicons = answer == "y" || answer == "Y";
  console.PrintSectionBreak();

  RunReport(console, settings, browser.report, ".html", CreateMessage::kAfterColon, kEmptyLinesAfterCount,
            [&](sqlite3* db, TaskFile& page, ReportTally& tally) {
              return WritePage(console, settings, db, browser, withFavicons, page, tally);
            });
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

void ExportUsageHtml(Console& console, const CaseSettings& settings) { ExportPage(console, settings, kFirefoxPage); }

void ExportChromeUsageHtml(Console& console, const CaseSettings& settings) {
  ExportPage(console, settings, kChromePage);
}
