#include "output_checks.h"

#include <algorithm>
#include <map>
#include <set>

std::optional<std::vector<std::size_t>> CsvFieldCounts(std::string_view csv) {
  std::vector<std::size_t> counts;
  std::size_t at = 0;
  while (at < csv.size()) {
    std::size_t fields = 0;
    for (;;) {
      if (at < csv.size() && csv[at] == '"') {
        for (++at;; at += 2) {
          at = csv.find('"', at);
          if (at == std::string_view::npos) return std::nullopt;  // a quote never closed
          if (at + 1 >= csv.size() || csv[at + 1] != '"') break;
        }
        ++at;
      } else {
        while (at < csv.size() && csv[at] != ',' && csv[at] != '\r' && csv[at] != '\n' && csv[at] != '"') ++at;
        if (at < csv.size() && csv[at] == '"') return std::nullopt;  // a quote inside a bare field
      }
      ++fields;
      if (at < csv.size() && csv[at] == ',') {
        ++at;
        continue;
      }
      if (csv.substr(at, 2) != "\r\n") return std::nullopt;  // a field that does not end at a comma or line end
      at += 2;
      break;
    }
    counts.push_back(fields);
  }
  return counts;
}

std::optional<std::string> HtmlProblem(std::string_view page, bool complete, long visitRows,
                                       std::vector<std::string>& images) {
  static const std::set<std::string_view> kOurTags = {
      "!DOCTYPE", "HTML", "head", "meta", "title", "body", "big", "span", "br", "small", "font", "strong",
      "TABLE",    "table", "TR",  "TD",   "img",   "div",  "BR",    "html",
  };
  // Opened and closed alike in a whole page; <font> is left open in the
  // report's cells by design, and <br>, <meta>, <img> are never closed.
  static const std::set<std::string> kPaired = {"html", "head", "title", "body", "big", "span", "small",
                                                "strong", "table", "tr", "td", "div"};
  std::map<std::string, long> open;
  for (std::size_t at = page.find('<'); at != std::string_view::npos; at = page.find('<', at + 1)) {
    const bool closing = at + 1 < page.size() && page[at + 1] == '/';
    const std::size_t nameStart = at + (closing ? 2 : 1);
    std::size_t nameEnd = nameStart;
    while (nameEnd < page.size() && page[nameEnd] != ' ' && page[nameEnd] != '>' && page[nameEnd] != '\r' &&
           page[nameEnd] != '\n') {
      ++nameEnd;
    }
    const std::string_view name = page.substr(nameStart, nameEnd - nameStart);
    if (!kOurTags.contains(name)) return "a tag the report does not write: " + std::string(page.substr(at, 40));
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (kPaired.contains(lower)) open[lower] += closing ? -1 : 1;
    if (name == "img") {
      const std::string_view source = "<img src=\"";
      if (page.substr(at, source.size()) != source) return "an image without its source";
      const std::size_t end = page.find('"', at + source.size());
      if (end == std::string_view::npos) return "an image source never closed";
      images.emplace_back(page.substr(at + source.size(), end - at - source.size()));
    }
  }
  if (!complete) return std::nullopt;
  for (const auto& [tag, count] : open) {
    if (count != 0) return "<" + tag + "> opened " + std::to_string(count) + " more times than closed";
  }
  if (!page.ends_with("</span></small></div></body></html>")) return "a whole page without its foot";
  // The visit table is the second table; its first row is the headings.
  std::size_t table = page.find("<TABLE");
  table = table == std::string_view::npos ? table : page.find("<TABLE", table + 1);
  if (table == std::string_view::npos) return "no visit table";
  long rows = -1;
  for (std::size_t at = page.find("<TR", table); at != std::string_view::npos; at = page.find("<TR", at + 1)) ++rows;
  if (rows != visitRows) return std::to_string(rows) + " visit rows where the console said " + std::to_string(visitRows);
  return std::nullopt;
}
