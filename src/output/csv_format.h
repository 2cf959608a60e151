#pragma once

// The one place where CSV quoting is decided, for the table export and the
// usage report alike.
//
// A quoted field is the value between double quotes, with every double quote
// of the value doubled, so that any CSV reader gets the value back whole.
// Every other byte, line feeds and CR LF pairs included, is written as it is:
// only the line ends that the program itself writes are CR LF.

#include <string>
#include <string_view>

void AppendQuotedField(std::string& line, std::string_view value);

// A table export cell: the quoted field and a comma. Every cell of a line has
// its comma, the last one too.
inline void AppendCsvCell(std::string& line, std::string_view value) {
  AppendQuotedField(line, value);
  line += ',';
}
