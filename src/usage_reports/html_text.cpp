#include "usage_reports/html_text.h"

#include <array>

#include "base/utf8.h"
#include "output/output_file.h"

template <TextSink Sink>
void AppendHtmlText(Sink& out, std::string_view text) {
  static constexpr auto kSpecial = [] {
    std::array<bool, 256> special{};
    for (unsigned char c : std::string_view("&<>\"'\n")) special[c] = true;
    return special;
  }();
  // Runs of plain bytes are appended whole: most texts have nothing to escape.
  std::size_t special = 0;
  while (true) {
    while (special < text.size() && !kSpecial[static_cast<unsigned char>(text[special])]) ++special;
    if (special == text.size()) break;
    out.Append(text.substr(0, special));
    switch (text[special]) {
      case '&': out.Append("&amp;"); break;
      case '<': out.Append("&lt;"); break;
      case '>': out.Append("&gt;"); break;
      case '"': out.Append("&quot;"); break;
      case '\'': out.Append("&#39;"); break;
      default: out.Append(kLineEnd); break;
    }
    text.remove_prefix(special + 1);
    special = 0;
  }
  out.Append(text);
}

template <TextSink Sink>
void WrapWithBreaks(Sink& out, std::string_view text, std::size_t width, std::string_view separator) {
  if (text.size() <= width) {
    AppendHtmlText(out, text);
    return;
  }
  std::size_t position = 0;
  for (;;) {
    const std::size_t fullEnd = position + width;
    const std::size_t end = Utf8CutPoint(text, fullEnd, position);
    AppendHtmlText(out, text.substr(position, end - position));
    out.Append(separator);
    if (end < fullEnd && end < text.size()) {
      position = end;  // moved back before a character: it begins the next piece
    } else if (fullEnd <= text.size()) {
      position = fullEnd;
    } else {
      break;
    }
  }
}

template void AppendHtmlText(OutputFile&, std::string_view);
template void AppendHtmlText(StringSink&, std::string_view);
template void WrapWithBreaks(OutputFile&, std::string_view, std::size_t, std::string_view);
template void WrapWithBreaks(StringSink&, std::string_view, std::size_t, std::string_view);
