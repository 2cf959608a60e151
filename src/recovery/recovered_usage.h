#pragma once

// The Recovered Internet Usage report: the visits a recovery found in the
// history database (places.sqlite's moz_historyvisits, History's visits),
// each with its page, as the usage reports list visits (usage_lines.h), then
// where the page came from, and where the visit was found and how sure its
// reading is.
//
// A visit's page is the live page of its id, where there is one; else the
// newest record of that page the recovery found (by its last visit, the one
// found later in file order on a tie); else none, its page cells empty as
// the usage reports leave a missing page's. Visits come oldest first, those
// whose date is lost last, each group in the order found. Then the pages
// found that no visit reaches and that are no live page's earlier version,
// with empty visit cells: a deleted page, with its last visit and its count
// of visits, is history too. A page found in several versions is given
// once, in its newest.
//
// The visits and pages are kept in a scratch file as they are given, with
// 16 bytes a visit and 24 a page in memory to sort and join them: memory
// grows with what was found, never with the live history.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/case_settings.h"
#include "evidence/sqlite_handles.h"
#include "output/output_file.h"
#include "output/scratch_file.h"

enum class HistoryBrowser { kFirefox, kChrome };

// A recovered record's values in the report's columns, as SQLite's text of
// each; nothing for NULL, a lost value or a column the table lacks.
using UsageFields = std::vector<std::optional<std::string>>;

class RecoveredUsage {
 public:
  explicit RecoveredUsage(HistoryBrowser browser) : browser_(browser) {}

  // The history's tables, and the columns of their records that the report
  // reads, in the order UsageFields gives them.
  static std::string_view VisitsTable(HistoryBrowser browser);
  static std::string_view PagesTable(HistoryBrowser browser);
  static std::span<const std::string_view> VisitColumns(HistoryBrowser browser);
  static std::span<const std::string_view> PageColumns(HistoryBrowser browser);
  // "Recovered Internet Usage", "Recovered Chrome Internet Usage".
  static std::string_view ReportName(HistoryBrowser browser);

  // A visit's or a page's fields and its "Found in", as the report keeps
  // them: made when the record is found, given when it is written.
  static std::string Encode(const UsageFields& fields, std::string_view foundIn);
  // A visit, or a page, the recovery writes, with its certainty.
  void AddVisit(std::string_view encoded, std::string_view certainty);
  void AddPage(std::string_view encoded, std::string_view certainty);

  // Writes the report's lines into file, the live pages read from db (the
  // private copy; nullptr when SQLite cannot read it), with the columns the
  // live pages table has (empty when it has none). The lines written; a
  // failure of the scratch file in failure().
  std::int64_t Write(OutputFile& file, sqlite3* db, const std::vector<std::string>& liveColumns,
                     const CaseSettings& settings);
  const std::optional<Failure>& failure() const { return kept_.failure(); }

 private:
  // Where an entry is in kept_, and what is known of it, in 16 and 24
  // bytes: the memory the report takes a visit and a page found.
  static constexpr std::uint64_t kOffset = (std::uint64_t{1} << 62) - 1;
  static constexpr std::uint64_t kFlagA = std::uint64_t{1} << 63;
  static constexpr std::uint64_t kFlagB = std::uint64_t{1} << 62;
  struct Visit {
    std::int64_t date = 0;
    std::uint64_t at = 0;  // kFlagA: its date lost
    bool dated() const { return (at & kFlagA) == 0; }
  };
  struct Page {
    std::int64_t id = 0;
    std::int64_t lastVisit = 0;
    std::uint64_t at = 0;  // kFlagA: its id lost; kFlagB: a visit reached it
    bool identified() const { return (at & kFlagA) == 0; }
    bool reached() const { return (at & kFlagB) != 0; }
  };
  // One entry read back: the fields, its "Found in" and certainty.
  struct Entry {
    UsageFields fields;
    std::string foundIn;
    std::string certainty;
  };

  // Reads what Encode wrote at bytes[from].
  static bool Decode(std::string_view bytes, std::size_t& from, UsageFields& fields, std::string& foundIn);
  // Appends an entry to kept_; where it begins.
  std::uint64_t Keep(std::string_view encoded, std::string_view certainty);
  bool ReadEntry(std::uint64_t at, Entry& entry);
  // The live page of the id into fields; false when there is none.
  bool LivePage(std::int64_t id, UsageFields& fields);
  void WriteLine(OutputFile& file, const UsageFields* visit, const UsageFields* page, std::string_view pageFrom,
                 const Entry& of, const CaseSettings& settings);

  HistoryBrowser browser_;
  ScratchFile kept_;
  std::vector<Visit> visits_;
  std::vector<Page> pages_;
  Entry added_;  // the last visit or page given, decoded for its keys
  Statement livePage_;
  std::string buffer_;
  std::string scratch_;
};
