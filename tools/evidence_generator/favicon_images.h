#pragma once

// Small, valid 16x16 images for the favicons of generated evidence, in the
// formats browsers stored: PNG, ICO (with a PNG inside), GIF and BMP. Each
// shows a square of one colour on a white ground, so that a report page
// shows which icon is whose.

#include <cstdint>
#include <string>

struct FaviconImage {
  std::string mimeType;  // as Firefox 3 stored it in moz_favicons
  std::string bytes;
};

// The kind of image cycles with index; red, green and blue make the colour.
FaviconImage MakeFaviconImage(int index, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
