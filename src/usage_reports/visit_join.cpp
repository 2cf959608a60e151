#include "usage_reports/visit_join.h"

#include "usage_reports/named_columns.h"

VisitJoin::VisitJoin(sqlite3* db, Statement visits)
    : db_(db),
      visits_(std::move(visits)),
      placeIdColumn_(ResolveColumn(visits_.get(), {"place_id", 2})),
      visitDateColumn_(ResolveColumn(visits_.get(), {"visit_date", 3})),
      fromVisitColumn_(ResolveColumn(visits_.get(), {"from_visit", 1})),
      visitTypeColumn_(ResolveColumn(visits_.get(), {"visit_type", 4})),
      sessionColumn_(ResolveColumn(visits_.get(), {"session", 5})) {}

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
    urlColumn_ = ResolveColumn(page_.get(), {"url", 1});
    titleColumn_ = ResolveColumn(page_.get(), {"title", 2});
    visitCountColumn_ = ResolveColumn(page_.get(), {"visit_count", 4});
    hiddenColumn_ = ResolveColumn(page_.get(), {"hidden", 5});
    typedColumn_ = ResolveColumn(page_.get(), {"typed", 6});
    faviconIdColumn_ = ResolveColumn(page_.get(), {"favicon_id", 7});
    frecencyColumn_ = ResolveColumn(page_.get(), {"frecency", 8});
  }
  sqlite3_reset(page_.get());
  // The stored value itself is bound, with its type: NULL, or a text that
  // names no page such as "1 OR 1=1", simply finds no row.
  if (placeIdColumn_ < 0) {
    sqlite3_bind_null(page_.get(), 1);
  } else {
    sqlite3_bind_value(page_.get(), 1, sqlite3_column_value(visits_.get(), placeIdColumn_));
  }
  const int found = sqlite3_step(page_.get());
  if (found != SQLITE_ROW && found != SQLITE_DONE) return Step::kReadFailure;
  sqlite3_stmt* page = found == SQLITE_ROW ? page_.get() : nullptr;

  sqlite3_stmt* listing = visits_.get();
  visit.visitDate = TextAt(listing, visitDateColumn_);
  visit.fromVisit = IntAt(listing, fromVisitColumn_);
  visit.visitType = IntAt(listing, visitTypeColumn_);
  visit.session = IntAt(listing, sessionColumn_);
  visit.url = page ? TextAt(page, urlColumn_) : std::nullopt;
  visit.title = page ? TextAt(page, titleColumn_) : std::nullopt;
  visit.visitCount = page ? IntAt(page, visitCountColumn_) : 0;
  visit.hidden = page ? IntAt(page, hiddenColumn_) : 0;
  visit.typed = page ? IntAt(page, typedColumn_) : 0;
  visit.faviconId = page ? IntAt(page, faviconIdColumn_) : 0;
  visit.frecency = page ? IntAt(page, frecencyColumn_) : 0;
  return Step::kVisit;
}
