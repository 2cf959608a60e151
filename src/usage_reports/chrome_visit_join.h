#pragma once

// The visit join of the Chrome usage reports: every visit of the visits
// table of History, oldest first (a NULL time first), with its page of urls
// (visits.url holds the urls.id), in one statement.
//
// Columns are found by name, so that the History of every Chrome reads, from
// 2008's to today's: a column a version lacks is absent. A visit whose page
// is missing has its page texts absent and its page numbers 0, as in the
// Firefox report. Integers are read whole, in 64 bits.

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "evidence/sqlite_handles.h"
#include "usage_reports/visit_join.h"

class ChromeVisitJoin {
 public:
  using Step = VisitStep;
  using Visit = ChromeVisit;

  // Prepares the join; nothing when it cannot be prepared (no visits or no
  // urls table), sqlite3_errmsg then telling why.
  static std::optional<ChromeVisitJoin> Start(sqlite3* db);

  // Reads the next visit into visit. Its texts stay valid until the next call.
  Step Next(ChromeVisit& visit);

  const char* ReadFailure() const { return sqlite3_errmsg(db_); }
  // Never kUnprepared: the join is one statement, prepared by Start.
  const std::string& UnpreparedReason() const { return unprepared_; }

 private:
  enum VisitColumn { kFromVisit, kTransition, kVisitDuration, kVisitColumns };
  enum PageColumn { kUrl, kTitle, kVisitCount, kTypedCount, kHidden, kFaviconId, kPageColumns };

  ChromeVisitJoin(sqlite3* db, Statement joined) : db_(db), joined_(std::move(joined)) {}

  sqlite3* db_;
  Statement joined_;
  int visitTime_ = -1;
  int pageId_ = -1;
  std::array<int, kVisitColumns> visitColumns_{};
  std::array<int, kPageColumns> pageColumns_{};
  std::string unprepared_;
};
