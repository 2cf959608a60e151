#pragma once

// The one HTML escaper of the project, and the breaking of long texts.
//
// Every text that reaches the page from the evidence or from the case
// settings passes through AppendHtmlText: a page title such as
// "<script>..." from a suspect's history must show as text, never run in the
// examiner's browser. The page is written with CR LF line ends throughout, so
// a line feed inside a text is written as CR LF too.

#include <string_view>

#include "output/text_sink.h"

// Both are written for an output file and for a StringSink.

// Appends text with & < > " ' written as &amp; &lt; &gt; &quot; &#39; and
// every line feed as CR LF.
template <TextSink Sink>
void AppendHtmlText(Sink& out, std::string_view text);

// Appends text cut into pieces of at most width bytes, each piece escaped and
// followed by separator (written as it is: it is mark-up). A text no longer
// than width is appended whole with no separator. The cuts fall every width
// bytes, except that a cut never splits a UTF-8 character: the piece ends
// before it and the next piece begins with it. The cutting goes on while the
// position is not past the end, so a text whose length is an exact multiple
// of width ends with the separator twice.
template <TextSink Sink>
void WrapWithBreaks(Sink& out, std::string_view text, std::size_t width, std::string_view separator);
