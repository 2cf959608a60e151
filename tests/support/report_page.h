#pragma once

#include <string>
#include <vector>

// The favicon cell of every visit row of an HTML usage report, in order:
// what stands between "<TD>" and "</TD>" at the start of each row.
std::vector<std::string> FaviconCells(const std::string& page);
