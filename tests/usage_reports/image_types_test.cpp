#include "usage_reports/image_types.h"

#include <gtest/gtest.h>

namespace {

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
