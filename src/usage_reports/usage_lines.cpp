#include "usage_reports/usage_lines.h"

#include <cstdint>
#include <optional>

#include "output/csv_format.h"
#include "timestamps/timestamp_decoding.h"
#include "usage_reports/page_transitions.h"

namespace {

void AppendNumber(OutputFile& line, const std::optional<std::int64_t>& value) {
  line.Append(",");
  if (value) line.Append(std::to_string(*value));
}

void AppendFlag(OutputFile& line, const std::optional<std::int64_t>& value) {
  line.Append(",");
  if (value) line.Append(*value != 0 ? "Yes" : "No");
}

void AppendText(OutputFile& line, const std::optional<std::string_view>& value) {
  line.Append(",");
  if (value) AppendQuotedField(line, *value);
}

// Microseconds as seconds, exactly: "12.5", "0", "-3.000001".
std::string Seconds(std::int64_t microseconds) {
  const bool negative = microseconds < 0;
  const auto magnitude =
      negative ? 0 - static_cast<std::uint64_t>(microseconds) : static_cast<std::uint64_t>(microseconds);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 1000000);
  std::string fraction = std::to_string(magnitude % 1000000);
  fraction.insert(0, 6 - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) text += "." + fraction;
  return text;
}

}  // namespace

void AppendFirefoxUsageLine(OutputFile& line, const JoinedVisit& visit, const CaseSettings& settings,
                            std::string& scratch, bool withVisit) {
  if (withVisit && visit.visitDate) {
    DecodePRtimeInto(scratch, *visit.visitDate, settings);
    AppendQuotedField(line, scratch);
  }
  AppendText(line, visit.url);
  AppendText(line, visit.title);
  AppendNumber(line, visit.visitCount);
  AppendFlag(line, visit.typed);
  AppendFlag(line, visit.hidden);
  AppendNumber(line, visit.frecency);
  const auto ofVisit = [withVisit](std::int64_t value) { return withVisit ? std::optional(value) : std::nullopt; };
  AppendNumber(line, ofVisit(visit.fromVisit));
  AppendNumber(line, ofVisit(visit.visitType));
  AppendNumber(line, ofVisit(visit.session));
}

void AppendChromeUsageLine(OutputFile& line, const ChromeVisit& visit, const CaseSettings& settings,
                           std::string& scratch) {
  if (visit.visitTime) {
    DecodeChromeTimeInto(scratch, *visit.visitTime, settings);
    AppendQuotedField(line, scratch);
  }
  AppendText(line, visit.url);
  AppendText(line, visit.title);
  AppendNumber(line, visit.visitCount);
  AppendNumber(line, visit.typedCount);
  AppendFlag(line, visit.hidden);
  line.Append(",");
  if (visit.transition) {
    scratch.clear();
    AppendTransitionText(scratch, *visit.transition);
    AppendQuotedField(line, scratch);
  }
  AppendNumber(line, visit.fromVisit);
  line.Append(",");
  if (visit.visitDuration) line.Append(Seconds(*visit.visitDuration));
}
