#include "usage_reports/chrome_visit_join.h"

#include "evidence/named_columns.h"

namespace {

// In the order of VisitColumn and PageColumn.
constexpr std::string_view kVisitNames[] = {"from_visit", "transition", "visit_duration"};
constexpr std::string_view kPageNames[] = {"url", "title", "visit_count", "typed_count", "hidden", "favicon_id"};
constexpr std::string_view kVisitTime[] = {"visit_time"};
constexpr std::string_view kPageId[] = {"id"};

std::optional<std::int64_t> NumberAt(sqlite3_stmt* row, int column, bool pageFound) {
  if (column < 0) return std::nullopt;
  return pageFound ? sqlite3_column_int64(row, column) : 0;
}

}  // namespace

std::optional<ChromeVisitJoin> ChromeVisitJoin::Start(sqlite3* db) {
  // Each table's own columns, by name; then the join, whose columns are the
  // visits' followed by the page's.
  Statement visits = PrepareStatement(db, "SELECT * FROM visits");
  if (!visits) return std::nullopt;
  Statement pages = PrepareStatement(db, "SELECT * FROM urls");
  if (!pages) return std::nullopt;
  Statement joined = PrepareStatement(
      db, "SELECT v.*, u.* FROM visits AS v LEFT JOIN urls AS u ON u.id = v.url ORDER BY v.visit_time");
  if (!joined) return std::nullopt;
  ChromeVisitJoin join(db, std::move(joined));
  int visitTime[1];
  ResolveColumnsByName(visits.get(), kVisitTime, visitTime);
  join.visitTime_ = visitTime[0];
  ResolveColumnsByName(visits.get(), kVisitNames, join.visitColumns_);
  ResolveColumnsByName(pages.get(), kPageNames, join.pageColumns_);
  int pageId[1];
  ResolveColumnsByName(pages.get(), kPageId, pageId);
  // The join names u.id, so urls has it.
  join.pageId_ = pageId[0];
  const int visitColumnCount = sqlite3_column_count(visits.get());
  join.pageId_ += visitColumnCount;
  for (int& column : join.pageColumns_) {
    if (column >= 0) column += visitColumnCount;
  }
  return join;
}

ChromeVisitJoin::Step ChromeVisitJoin::Next(ChromeVisit& visit) {
  const int stepped = sqlite3_step(joined_.get());
  if (stepped == SQLITE_DONE) return Step::kEnd;
  if (stepped != SQLITE_ROW) return Step::kReadFailure;
  sqlite3_stmt* row = joined_.get();
  visit.visitTime = TextAt(row, visitTime_);
  visit.fromVisit = NumberAt(row, visitColumns_[kFromVisit], true);
  visit.transition = NumberAt(row, visitColumns_[kTransition], true);
  visit.visitDuration = NumberAt(row, visitColumns_[kVisitDuration], true);
  // A visit without a page has NULL in every page column, its id among them.
  const bool pageFound = sqlite3_column_type(row, pageId_) != SQLITE_NULL;
  visit.url = pageFound ? TextAt(row, pageColumns_[kUrl]) : std::nullopt;
  visit.title = pageFound ? TextAt(row, pageColumns_[kTitle]) : std::nullopt;
  visit.visitCount = NumberAt(row, pageColumns_[kVisitCount], pageFound);
  visit.typedCount = NumberAt(row, pageColumns_[kTypedCount], pageFound);
  visit.hidden = NumberAt(row, pageColumns_[kHidden], pageFound);
  visit.faviconId = NumberAt(row, pageColumns_[kFaviconId], pageFound);
  return Step::kVisit;
}
