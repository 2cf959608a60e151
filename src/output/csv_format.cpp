#include "output/csv_format.h"

void AppendQuotedField(std::string& line, std::string_view value) {
  line += '"';
  for (std::size_t quote; (quote = value.find('"')) != std::string_view::npos;) {
    line.append(value.substr(0, quote + 1));
    line += '"';
    value.remove_prefix(quote + 1);
  }
  line.append(value);
  line += '"';
}
