#include "usage_reports/visit_join.h"

#include "evidence/named_columns.h"

namespace {

// The Firefox 3 schema of the two tables, in the order of VisitColumn and
// PageColumn.
constexpr std::string_view kVisitSchema[] = {"id", "from_visit", "place_id", "visit_date", "visit_type", "session"};
constexpr std::string_view kPageSchema[] = {"id",     "url",   "title",      "rev_host", "visit_count",
                                            "hidden", "typed", "favicon_id", "frecency"};

constexpr const char* kPageLookup = "SELECT * FROM moz_places WHERE id=?1";

// Whether moz_places.id is its one key column, of integer affinity: then a
// visit has at most one page, and SQLite matches a place_id to it in a join
// exactly as in the page lookup, where the id's affinity applies to the
// bound value.
bool PagesAreKeyedById(sqlite3* db) {
  Statement key = PrepareStatement(
      db, "SELECT count(*) = 1 AND sum(name = 'id') = 1 AND sum(instr(upper(type), 'INT') > 0) = 1 "
          "FROM pragma_table_info('moz_places') WHERE pk > 0");
  return key && sqlite3_step(key.get()) == SQLITE_ROW && sqlite3_column_int(key.get(), 0) == 1;
}

}  // namespace

VisitJoin::VisitJoin(sqlite3* db, Statement visits) : db_(db), visits_(std::move(visits)) {
  ResolveColumns(visits_.get(), kVisitSchema, visitColumns_);
}

std::optional<VisitJoin> VisitJoin::Start(sqlite3* db) {
  Statement visits = PrepareStatement(db, "SELECT * FROM moz_historyvisits ORDER BY visit_date");
  if (!visits) return std::nullopt;
  VisitJoin join(db, std::move(visits));
  join.JoinInOneStatement();
  return join;
}

void VisitJoin::JoinInOneStatement() {
  if (visitColumns_[kPlaceId] < 0 || !PagesAreKeyedById(db_)) return;
  Statement pages = PrepareStatement(db_, kPageLookup);
  if (!pages) return;
  const char* placeId = sqlite3_column_name(visits_.get(), visitColumns_[kPlaceId]);
  if (placeId == nullptr) return;
  // The listing's own order term, so that the visits come as the listing
  // gives them.
  Statement joined = PrepareStatement(
      db_, "SELECT v.*, p.* FROM moz_historyvisits AS v LEFT JOIN moz_places AS p ON p.id = v." +
               QuoteIdentifier(placeId) + " ORDER BY v.visit_date");
  if (!joined) return;
  // v.* are the listing's columns; p.* follow, as the lookup would give them.
  ResolveColumns(pages.get(), kPageSchema, pageColumns_);
  const int visitColumnCount = sqlite3_column_count(visits_.get());
  for (int& column : pageColumns_) {
    if (column >= 0) column += visitColumnCount;
  }
  visits_ = std::move(joined);
  joined_ = true;
}

VisitJoin::Step VisitJoin::Next(JoinedVisit& visit) {
  const int listed = sqlite3_step(visits_.get());
  if (listed == SQLITE_DONE) return Step::kEnd;
  if (listed != SQLITE_ROW) return Step::kReadFailure;
  if (joined_) {
    // A visit without a page has NULL in every page column.
    ReadVisit(visits_.get(), visits_.get(), visit);
    return Step::kVisit;
  }

  if (!page_) {
    page_ = PrepareStatement(db_, kPageLookup);
    if (!page_) {
      unprepared_ = sqlite3_errmsg(db_);
      return Step::kUnprepared;
    }
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
  ReadVisit(visits_.get(), found == SQLITE_ROW ? page_.get() : nullptr, visit);
  return Step::kVisit;
}

void VisitJoin::ReadVisit(sqlite3_stmt* visits, sqlite3_stmt* page, JoinedVisit& visit) const {
  visit.visitDate = TextAt(visits, visitColumns_[kVisitDate]);
  visit.fromVisit = IntAt(visits, visitColumns_[kFromVisit]);
  visit.visitType = IntAt(visits, visitColumns_[kVisitType]);
  visit.session = IntAt(visits, visitColumns_[kSession]);
  // A missing page reads as a page whose every column is missing.
  auto pageColumn = [&](PageColumn column) { return page != nullptr ? pageColumns_[column] : -1; };
  visit.url = TextAt(page, pageColumn(kUrl));
  visit.title = TextAt(page, pageColumn(kTitle));
  visit.visitCount = IntAt(page, pageColumn(kVisitCount));
  visit.hidden = IntAt(page, pageColumn(kHidden));
  visit.typed = IntAt(page, pageColumn(kTyped));
  visit.faviconId = IntAt(page, pageColumn(kFaviconId));
  visit.frecency = IntAt(page, pageColumn(kFrecency));
}
