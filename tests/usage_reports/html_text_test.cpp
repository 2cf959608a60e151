#include "usage_reports/html_text.h"

#include <gtest/gtest.h>


namespace {

std::string Escaped(std::string_view text) {
  StringSink out;
  AppendHtmlText(out, text);
  return out.text;
}

std::string Wrapped(std::string_view text, std::size_t width) {
  StringSink out;
  WrapWithBreaks(out, text, width, "<br>");
  return out.text;
}

TEST(HtmlText, MarkUpCharactersAreEscapedAndLineFeedsBecomeCrLf) {
  EXPECT_EQ(Escaped("<script>alert('x & \"y\"')</script>"),
            "&lt;script&gt;alert(&#39;x &amp; &quot;y&quot;&#39;)&lt;/script&gt;");
  EXPECT_EQ(Escaped("a\nb\r\nc"), "a\r\nb\r\r\nc");
  EXPECT_EQ(Escaped("\xE6\x97\xA5\xE6\x9C\xAC"), "\xE6\x97\xA5\xE6\x9C\xAC");
}

TEST(HtmlText, TextNoLongerThanTheWidthIsUnchanged) {
  EXPECT_EQ(Wrapped(std::string(90, 'a'), 90), std::string(90, 'a'));
  EXPECT_EQ(Wrapped("", 90), "");
}

TEST(HtmlText, LongTextIsCutEveryWidthBytesWithTheSeparatorAfterEachPiece) {
  const std::string a90(90, 'a');
  EXPECT_EQ(Wrapped(a90 + "b", 90), a90 + "<br>b<br>");
  EXPECT_EQ(Wrapped(a90 + a90, 90), a90 + "<br>" + a90 + "<br><br>");
  EXPECT_EQ(Wrapped(std::string(51, 't'), 50), std::string(50, 't') + "<br>t<br>");
  EXPECT_EQ(Wrapped(std::string(100, 't'), 50), std::string(50, 't') + "<br>" + std::string(50, 't') + "<br><br>");
}

TEST(HtmlText, PiecesAreEscapedAfterCuttingSoNoEntityIsSplit) {
  // The "&" is byte 50: it ends the first piece whole, as &amp;.
  EXPECT_EQ(Wrapped(std::string(49, 'x') + "&<", 50), std::string(49, 'x') + "&amp;<br>&lt;<br>");
}

TEST(HtmlText, CutsNeverFallInsideAUtf8Character) {
  // 49 ASCII bytes, then "é" (2 bytes) at bytes 49 and 50: it moves whole to
  // the second piece.
  const std::string text = std::string(49, 'x') + "\xC3\xA9" + "yz";
  EXPECT_EQ(Wrapped(text, 50), std::string(49, 'x') + "<br>\xC3\xA9yz<br>");
  // A four-byte character across the cut.
  const std::string fox = std::string(48, 'x') + "\xF0\x9F\xA6\x8A" + "!";
  EXPECT_EQ(Wrapped(fox, 50), std::string(48, 'x') + "<br>\xF0\x9F\xA6\x8A!<br>");
  // Three-byte characters only: 16 of them fit in 50 bytes.
  std::string kana;
  for (int i = 0; i < 20; ++i) kana += "\xE3\x81\x82";
  EXPECT_EQ(Wrapped(kana, 50), kana.substr(0, 48) + "<br>" + kana.substr(48) + "<br>");
}

TEST(HtmlText, StrayContinuationBytesAreCutWhereTheyFall) {
  const std::string stray(120, '\x80');
  EXPECT_EQ(Wrapped(stray, 50), stray.substr(0, 50) + "<br>" + stray.substr(50, 50) + "<br>" + stray.substr(100) + "<br>");
}

}  // namespace
