#include "usage_reports/html_text.h"

#include <gtest/gtest.h>

#include "usage_reports/favicon_extraction.h"

namespace {

std::string Escaped(std::string_view text) {
  std::string out;
  AppendHtmlText(out, text);
  return out;
}

std::string Wrapped(std::string_view text, std::size_t width) {
  std::string out;
  WrapWithBreaks(out, text, width, "<br>");
  return out;
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

TEST(FaviconExtension, ChosenByTheExactMimeType) {
  EXPECT_EQ(FaviconExtension("image/bmp"), ".bmp");
  EXPECT_EQ(FaviconExtension("image/gif"), ".gif");
  EXPECT_EQ(FaviconExtension("image/png"), ".png");
  EXPECT_EQ(FaviconExtension("image/x-icon"), ".ico");
  EXPECT_EQ(FaviconExtension("image/jpg"), ".jpg");
  EXPECT_EQ(FaviconExtension("image/jpeg"), ".jpg");
  EXPECT_EQ(FaviconExtension("image/PNG"), "");
  EXPECT_EQ(FaviconExtension("image/vnd.microsoft.icon"), "");
  EXPECT_EQ(FaviconExtension("image/png "), "");
  EXPECT_EQ(FaviconExtension(""), "");
}

}  // namespace

namespace {

TEST(ImageExtension, ChosenByTheImagesFirstBytes) {
  EXPECT_EQ(ImageExtension("\x89PNG\r\n\x1A\n...."), ".png");
  EXPECT_EQ(ImageExtension("GIF87a"), ".gif");
  EXPECT_EQ(ImageExtension("GIF89a"), ".gif");
  EXPECT_EQ(ImageExtension(std::string_view("\0\0\1\0\1\0", 6)), ".ico");
  EXPECT_EQ(ImageExtension("\xFF\xD8\xFF\xE0"), ".jpg");
  EXPECT_EQ(ImageExtension("BM6\0"), ".bmp");
  EXPECT_EQ(ImageExtension("<svg xmlns='http://www.w3.org/2000/svg'/>"), ".svg");
  EXPECT_EQ(ImageExtension("\xEF\xBB\xBF  \n<?xml version='1.0'?>\n<svg/>"), ".svg");
  EXPECT_EQ(ImageExtension("<?xml version='1.0'?><html/>"), "");
  EXPECT_EQ(ImageExtension("\x89PNG"), "");  // a signature cut short
  EXPECT_EQ(ImageExtension(""), "");
  EXPECT_EQ(ImageExtension(std::string_view("\0\0\2\0", 4)), "");  // a cursor, not an icon
}

}  // namespace
