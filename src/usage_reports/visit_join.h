#pragma once

// The visit join of the usage reports: every visit of moz_historyvisits in
// places.sqlite, oldest first (a NULL date first), with its page of
// moz_places.
//
// Where moz_places is keyed by an integer id, as every Firefox keeps it, the
// join is one statement: SQLite steps the visits in date order and finds
// each one's page by its key, as the page lookup would, in one pass.
// Elsewhere (a table without such a key, or without moz_places at all) the
// page of each visit is looked up by binding the visit's place_id to one
// statement prepared at the first visit and reset for each next one, so that
// a value from the evidence never becomes SQL text, and a lookup that cannot
// be prepared ends the join then, as it always has. Both give the same
// visits, pages and order. A visit whose place_id is NULL or names no page is
// a visit whose page is missing: its page texts are absent and its page
// integers 0. Integers are read whole, in 64 bits.

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "evidence/sqlite_handles.h"
#include "usage_reports/usage_lines.h"

// What reading the next visit of a join gave.
enum class VisitStep {
  kVisit,        // the next visit is ready
  kEnd,          // every visit has been read
  kUnprepared,   // the page lookup could not be prepared
  kReadFailure,  // SQLite failed in the middle (see ReadFailure)
};

class VisitJoin {
 public:
  using Step = VisitStep;
  using Visit = JoinedVisit;

  // Prepares the visit listing; nothing when it cannot be prepared.
  static std::optional<VisitJoin> Start(sqlite3* db);

  // Reads the next joined visit into visit. Its texts stay valid until the
  // next call.
  Step Next(JoinedVisit& visit);

  // SQLite's text for a kReadFailure.
  const char* ReadFailure() const { return sqlite3_errmsg(db_); }
  // SQLite's text for a kUnprepared, taken when the lookup failed: later
  // statements on the connection replace what sqlite3_errmsg gives.
  const std::string& UnpreparedReason() const { return unprepared_; }

 private:
  VisitJoin(sqlite3* db, Statement visits);
  // Replaces the listing by the one-statement join, where moz_places allows.
  void JoinInOneStatement();
  void ReadVisit(sqlite3_stmt* visits, sqlite3_stmt* page, JoinedVisit& visit) const;

  // The Firefox 3 columns of moz_historyvisits and moz_places, in order.
  enum VisitColumn { kVisitId, kFromVisit, kPlaceId, kVisitDate, kVisitType, kSession, kVisitColumns };
  enum PageColumn {
    kPageId, kUrl, kTitle, kRevHost, kVisitCount, kHidden, kTyped, kFaviconId, kFrecency, kPageColumns
  };

  sqlite3* db_;
  Statement visits_;
  Statement page_;  // the page lookup, unless the visits come joined
  bool joined_ = false;
  std::string unprepared_;
  std::array<int, kVisitColumns> visitColumns_;
  std::array<int, kPageColumns> pageColumns_;
};
