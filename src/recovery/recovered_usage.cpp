#include "recovery/recovered_usage.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "output/csv_format.h"
#include "usage_reports/usage_lines.h"

namespace {

constexpr std::string_view kFirefoxVisitColumns[] = {"visit_date", "from_visit", "visit_type", "session", "place_id"};
constexpr std::string_view kFirefoxPageColumns[] = {"id",     "url",        "title",    "visit_count",    "hidden",
                                                     "typed", "favicon_id", "frecency", "last_visit_date"};
constexpr std::string_view kChromeVisitColumns[] = {"visit_time", "from_visit", "transition", "visit_duration", "url"};
constexpr std::string_view kChromePageColumns[] = {"id",     "url",        "title",          "visit_count",
                                                    "typed_count", "hidden", "favicon_id", "last_visit_time"};

// Where the visit's page id, and the page's id and last visit, stand in
// their fields: the same for both browsers.
constexpr std::size_t kVisitPage = 4;
constexpr std::size_t kPageId = 0;
constexpr std::size_t kPageUrl = 1;
constexpr std::size_t kPageTitle = 2;

std::optional<std::int64_t> IntegerIn(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end == text->data()) return std::nullopt;
  return value;
}

std::optional<std::string_view> TextIn(const std::optional<std::string>& text) {
  return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

template <typename T>
void Put(std::string& out, T value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void PutText(std::string& out, std::string_view text) {
  Put(out, static_cast<std::uint32_t>(text.size()));
  out.append(text);
}

// Reads what Put wrote, from bytes[at]; false past their end.
template <typename T>
bool Take(std::string_view bytes, std::size_t& at, T& value) {
  if (bytes.size() - at < sizeof value) return false;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  at += sizeof value;
  return true;
}

bool TakeText(std::string_view bytes, std::size_t& at, std::string& text) {
  std::uint32_t size = 0;
  if (!Take(bytes, at, size) || bytes.size() - at < size) return false;
  text.assign(bytes.substr(at, size));
  at += size;
  return true;
}

}  // namespace

std::string_view RecoveredUsage::VisitsTable(HistoryBrowser browser) {
  return browser == HistoryBrowser::kFirefox ? "moz_historyvisits" : "visits";
}

std::string_view RecoveredUsage::PagesTable(HistoryBrowser browser) {
  return browser == HistoryBrowser::kFirefox ? "moz_places" : "urls";
}

std::span<const std::string_view> RecoveredUsage::VisitColumns(HistoryBrowser browser) {
  if (browser == HistoryBrowser::kFirefox) return kFirefoxVisitColumns;
  return kChromeVisitColumns;
}

std::span<const std::string_view> RecoveredUsage::PageColumns(HistoryBrowser browser) {
  if (browser == HistoryBrowser::kFirefox) return kFirefoxPageColumns;
  return kChromePageColumns;
}

std::string_view RecoveredUsage::ReportName(HistoryBrowser browser) {
  return browser == HistoryBrowser::kFirefox ? "Recovered Internet Usage" : "Recovered Chrome Internet Usage";
}

std::string RecoveredUsage::Encode(const UsageFields& fields, std::string_view foundIn) {
  std::string entry;
  Put(entry, static_cast<std::uint32_t>(fields.size()));
  for (const std::optional<std::string>& field : fields) {
    Put(entry, static_cast<std::uint8_t>(field.has_value()));
    if (field) PutText(entry, *field);
  }
  PutText(entry, foundIn);
  return entry;
}

bool RecoveredUsage::Decode(std::string_view bytes, std::size_t& from, UsageFields& fields, std::string& foundIn) {
  std::uint32_t count = 0;
  if (!Take(bytes, from, count) || count > bytes.size()) return false;
  fields.assign(count, std::nullopt);
  for (std::optional<std::string>& field : fields) {
    std::uint8_t present = 0;
    if (!Take(bytes, from, present)) return false;
    if (present != 0 && !TakeText(bytes, from, field.emplace())) return false;
  }
  return TakeText(bytes, from, foundIn);
}

std::uint64_t RecoveredUsage::Keep(std::string_view encoded, std::string_view certainty) {
  const std::uint64_t at = kept_.size();
  buffer_.clear();
  Put(buffer_, static_cast<std::uint32_t>(encoded.size() + sizeof(std::uint32_t) + certainty.size()));
  buffer_.append(encoded);
  PutText(buffer_, certainty);
  kept_.Append(buffer_);
  return at;
}

bool RecoveredUsage::ReadEntry(std::uint64_t at, Entry& entry) {
  std::uint32_t size = 0;
  std::size_t from = 0;
  if (!kept_.ReadFrom(at & kOffset, sizeof size, buffer_) || !Take(buffer_, from, size) ||
      !kept_.ReadFrom((at & kOffset) + sizeof size, size, buffer_)) {
    return false;
  }
  from = 0;
  return Decode(buffer_, from, entry.fields, entry.foundIn) && TakeText(buffer_, from, entry.certainty);
}

void RecoveredUsage::AddVisit(std::string_view encoded, std::string_view certainty) {
  std::size_t from = 0;
  if (!Decode(encoded, from, added_.fields, added_.foundIn) || added_.fields.size() != VisitColumns(browser_).size()) {
    return;
  }
  const std::optional<std::int64_t> date = IntegerIn(added_.fields[0]);
  visits_.push_back({date.value_or(0), Keep(encoded, certainty) | (date ? 0 : kFlagA)});
}

void RecoveredUsage::AddPage(std::string_view encoded, std::string_view certainty) {
  std::size_t from = 0;
  if (!Decode(encoded, from, added_.fields, added_.foundIn) || added_.fields.size() != PageColumns(browser_).size()) {
    return;
  }
  const std::optional<std::int64_t> id = IntegerIn(added_.fields[kPageId]);
  pages_.push_back({id.value_or(0), IntegerIn(added_.fields.back()).value_or(0),
                    Keep(encoded, certainty) | (id ? 0 : kFlagA)});
}

bool RecoveredUsage::LivePage(std::int64_t id, UsageFields& fields) {
  if (!livePage_) return false;
  sqlite3_reset(livePage_.get());
  sqlite3_bind_int64(livePage_.get(), 1, id);
  if (sqlite3_step(livePage_.get()) != SQLITE_ROW) return false;
  fields.assign(PageColumns(browser_).size(), std::nullopt);
  for (std::size_t column = 0; column < fields.size(); ++column) {
    if (const std::optional<std::string_view> text = ColumnText(livePage_.get(), static_cast<int>(column))) {
      fields[column].emplace(*text);
    }
  }
  return true;
}

void RecoveredUsage::WriteLine(OutputFile& file, const UsageFields* visit, const UsageFields* page,
                               std::string_view pageFrom, const Entry& of, const CaseSettings& settings) {
  const auto pageText = [page](std::size_t column) { return page ? TextIn((*page)[column]) : std::nullopt; };
  const auto pageNumber = [page](std::size_t column) -> std::optional<std::int64_t> {
    return page ? IntegerIn((*page)[column]).value_or(0) : 0;
  };
  const auto visitNumber = [visit](std::size_t column) { return visit ? IntegerIn((*visit)[column]) : std::nullopt; };
  if (browser_ == HistoryBrowser::kFirefox) {
    JoinedVisit line;
    if (visit) line.visitDate = TextIn((*visit)[0]);
    line.fromVisit = visitNumber(1).value_or(0);
    line.visitType = visitNumber(2).value_or(0);
    line.session = visitNumber(3).value_or(0);
    line.url = pageText(kPageUrl);
    line.title = pageText(kPageTitle);
    line.visitCount = *pageNumber(3);
    line.hidden = *pageNumber(4);
    line.typed = *pageNumber(5);
    line.faviconId = *pageNumber(6);
    line.frecency = *pageNumber(7);
    AppendFirefoxUsageLine(file, line, settings, scratch_, visit != nullptr);
  } else {
    ChromeVisit line;
    if (visit) {
      line.visitTime = TextIn((*visit)[0]);
      line.fromVisit = visitNumber(1);
      line.transition = visitNumber(2);
      line.visitDuration = visitNumber(3);
    }
    line.url = pageText(kPageUrl);
    line.title = pageText(kPageTitle);
    line.visitCount = pageNumber(3);
    line.typedCount = pageNumber(4);
    line.hidden = pageNumber(5);
    AppendChromeUsageLine(file, line, settings, scratch_);
  }
  for (const std::string_view cell : {pageFrom, std::string_view(of.foundIn), std::string_view(of.certainty)}) {
    file.Append(",");
    AppendQuotedField(file, cell);
  }
  file.EndLine();
}

std::int64_t RecoveredUsage::Write(OutputFile& file, sqlite3* db, const std::vector<std::string>& liveColumns,
                                   const CaseSettings& settings) {
  file.Append(browser_ == HistoryBrowser::kFirefox ? kFirefoxUsageHeading : kChromeUsageHeading);
  file.Append(",Page From,Found in,Certainty");
  file.EndLine();
  const auto has = [&liveColumns](std::string_view column) {
    return std::find(liveColumns.begin(), liveColumns.end(), column) != liveColumns.end();
  };
  if (db != nullptr && has("id")) {
    std::string columns;
    for (const std::string_view column : PageColumns(browser_)) {
      columns += (columns.empty() ? "" : ", ") + (has(column) ? QuoteIdentifier(std::string(column)) : "NULL");
    }
    livePage_ = PrepareStatement(
        db, "SELECT " + columns + " FROM " + QuoteIdentifier(std::string(PagesTable(browser_))) + " WHERE id = ?1");
  }
  kept_.StartReading();

  // The pages by id, one of each id: its newest, found later on a tie.
  const auto key = [](const Page& page) { return std::pair(!page.identified(), page.id); };
  std::stable_sort(pages_.begin(), pages_.end(), [&key](const Page& a, const Page& b) { return key(a) < key(b); });
  std::size_t kept = 0;
  for (const Page& page : pages_) {
    if (kept > 0 && page.identified() && key(pages_[kept - 1]) == key(page)) {
      if (page.lastVisit >= pages_[kept - 1].lastVisit) pages_[kept - 1] = page;
      continue;
    }
    pages_[kept++] = page;
  }
  pages_.resize(kept);
  pages_.shrink_to_fit();

  std::stable_sort(visits_.begin(), visits_.end(), [](const Visit& a, const Visit& b) {
    return std::pair(!a.dated(), a.date) < std::pair(!b.dated(), b.date);
  });
  std::int64_t lines = 0;
  Entry visit;
  Entry recoveredPage;
  UsageFields livePage;
  for (const Visit& at : visits_) {
    if (!ReadEntry(at.at, visit)) break;
    const std::optional<std::int64_t> id = IntegerIn(visit.fields[kVisitPage]);
    const UsageFields* page = nullptr;
    std::string_view from = "no page found";
    if (id && LivePage(*id, livePage)) {
      page = &livePage;
      from = "live page";
    } else if (id) {
      const auto found = std::lower_bound(pages_.begin(), pages_.end(), *id, [&key](const Page& page, std::int64_t id) {
        return key(page) < std::pair(false, id);
      });
      if (found != pages_.end() && key(*found) == std::pair(false, *id) && ReadEntry(found->at, recoveredPage)) {
        found->at |= kFlagB;
        page = &recoveredPage.fields;
        from = "recovered page";
      }
    }
    WriteLine(file, &visit.fields, page, from, visit, settings);
    ++lines;
  }

  // The pages no visit reached, oldest last visit first, none of them a live
  // page's earlier version.
  std::stable_sort(pages_.begin(), pages_.end(), [](const Page& a, const Page& b) {
    return std::pair(a.lastVisit == 0, a.lastVisit) < std::pair(b.lastVisit == 0, b.lastVisit);
  });
  for (const Page& page : pages_) {
    if (page.reached() || (page.identified() && LivePage(page.id, livePage))) continue;
    if (!ReadEntry(page.at, recoveredPage)) break;
    WriteLine(file, nullptr, &recoveredPage.fields, "recovered page", recoveredPage, settings);
    ++lines;
  }
  return lines;
}
