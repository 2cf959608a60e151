#include "usage_reports/visit_join.h"

#include "evidence/named_columns.h"

namespace {

// The Firefox 3 schema of the two tables, in the order of VisitColumn and
// PageColumn.
constexpr std::string_view kVisitSchema[] = {"id", "from_visit", "place_id", "visit_date", "visit_type", "session"};
constexpr std::string_view kPageSchema[] = {"id",     "url",   "title",      "rev_host", "visit_count",
                                            "hidden", "typed", "favicon_id", "frecency"};

}  // namespace

VisitJoin::VisitJoin(sqlite3* db, Statement visits) : db_(db), visits_(std::move(visits)) {
  ResolveColumns(visits_.get(), kVisitSchema, visitColumns_);
}

std::optional<VisitJoin> VisitJoin::Start(sqlite3* db) {
  Statement visits = PrepareStatement(db, "SELECT * FROM moz_historyvisits ORDER BY visit_date");
  if (!visits) return std::nullopt;
  return VisitJoin(db, std::move(visits));
}

VisitJoin::Step VisitJoin::Next(JoinedVisit& visit) {
  const int listed = sqlite3_step(visits_.get());
  if (listed == SQLITE_DONE) return Step::kEnd;
  if (listed != SQLITE_ROW) return Step::kReadFailure;

  if (!page_) {
    page_ = PrepareStatement(db_, "SELECT * FROM moz_places WHERE id=?1");
    if (!page_) return Step::kUnprepared;
    ResolveColumns(page_.get(), kPageSchema, pageColumns_);
  }
  sqlite3_reset(page_.get());
  // The stored value itself is bound, with its type: NULL, or a text that
  // names no page such as "1 OR 1=1", simply finds no row.
  if (visitColumns_[kPlaceId] < 0) {
    sqlite3_bind_null(page_.get(), 1);
  } else {
    sqlite3_bind_value(page_.get(), 1, sqlite3_column_value(visits_.get(), visitColumns_[kPlaceId]));
  }
  const int found = sqlite3_step(page_.get());
  if (found != SQLITE_ROW && found != SQLITE_DONE) return Step::kReadFailure;
  sqlite3_stmt* page = found == SQLITE_ROW ? page_.get() : nullptr;

  sqlite3_stmt* listing = visits_.get();
  visit.visitDate = TextAt(listing, visitColumns_[kVisitDate]);
  visit.fromVisit = IntAt(listing, visitColumns_[kFromVisit]);
  visit.visitType = IntAt(listing, visitColumns_[kVisitType]);
  visit.session = IntAt(listing, visitColumns_[kSession]);
  // A missing page reads as a page whose every column is missing.
  auto pageColumn = [&](PageColumn column) { return page ? pageColumns_[column] : -1; };
  visit.url = TextAt(page, pageColumn(kUrl));
  visit.title = TextAt(page, pageColumn(kTitle));
  visit.visitCount = IntAt(page, pageColumn(kVisitCount));
  visit.hidden = IntAt(page, pageColumn(kHidden));
  visit.typed = IntAt(page, pageColumn(kTyped));
  visit.faviconId = IntAt(page, pageColumn(kFaviconId));
  visit.frecency = IntAt(page, pageColumn(kFrecency));
  return Step::kVisit;
}
