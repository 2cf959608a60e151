#include "support/report_page.h"

std::vector<std::string> FaviconCells(const std::string& page) {
  std::vector<std::string> cells;
  const std::string open = "\r\n  <TD>";
  for (std::size_t at = page.find("Visit Date</TD>"); (at = page.find(open, at)) != std::string::npos; ++at) {
    const std::size_t begin = at + open.size();
    cells.push_back(page.substr(begin, page.find("</TD>", begin) - begin));
  }
  return cells;
}
