#pragma once

// The one place where CSV quoting is decided, for the table export and the
// usage report alike.
//
// A quoted field is the value between double quotes, with every double quote
// of the value doubled, so that any CSV reader gets the value back whole.
// Every other byte, line feeds and CR LF pairs included, is written as it is:
// only the line ends that the program itself writes are CR LF. The value goes
// to the sink in runs between its quotes, never copied whole first.

#include <string_view>

#include "output/text_sink.h"

template <TextSink Sink>
void AppendQuotedField(Sink& out, std::string_view value) {
  out.Append("\"");
  for (std::size_t quote; (quote = value.find('"')) != std::string_view::npos;) {
    out.Append(value.substr(0, quote + 1));
    out.Append("\"");
    value.remove_prefix(quote + 1);
  }
  out.Append(value);
  out.Append("\"");
}

// A table export cell: the quoted field and a comma. Every cell of a line has
// its comma, the last one too.
template <TextSink Sink>
void AppendCsvCell(Sink& out, std::string_view value) {
  AppendQuotedField(out, value);
  out.Append(",");
}
