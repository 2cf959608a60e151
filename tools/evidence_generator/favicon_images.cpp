#include "evidence_generator/favicon_images.h"

#include <array>

namespace {

constexpr int kSide = 16;

struct Colour {
  std::uint8_t red, green, blue;
};

// The pixel at (x, y), top row first: the colour inside a 2-pixel white frame.
Colour Pixel(int x, int y, Colour colour) {
  const bool frame = x < 2 || y < 2 || x >= kSide - 2 || y >= kSide - 2;
  return frame ? Colour{255, 255, 255} : colour;
}

void PutLittle(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutBig(std::string& out, std::uint32_t value) {
  for (int i = 3; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t Crc32(const std::string& bytes) {
  static const std::array<std::uint32_t, 256> kTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    return table;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) crc = kTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void PutPngChunk(std::string& out, const char* type, const std::string& data) {
  PutBig(out, static_cast<std::uint32_t>(data.size()));
  const std::string typed = std::string(type) + data;
  out += typed;
  PutBig(out, Crc32(typed));
}

// RGB, 8 bits, the image data in one stored (uncompressed) deflate block.
std::string Png(Colour colour) {
  std::string raw;
  for (int y = 0; y < kSide; ++y) {
    raw += '\0';  // filter type: none
    for (int x = 0; x < kSide; ++x) {
      const Colour p = Pixel(x, y, colour);
      raw += static_cast<char>(p.red);
      raw += static_cast<char>(p.green);
      raw += static_cast<char>(p.blue);
    }
  }
  std::string zlib = "\x78\x01";
  zlib += '\x01';  // final block, stored
  PutLittle(zlib, static_cast<std::uint32_t>(raw.size()), 2);
  PutLittle(zlib, static_cast<std::uint32_t>(~raw.size()) & 0xFFFF, 2);
  zlib += raw;
  std::uint32_t a = 1, b = 0;
  for (unsigned char byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBig(zlib, (b << 16) | a);

  std::string header;
  PutBig(header, kSide);
  PutBig(header, kSide);
  header += std::string("\x08\x02\x00\x00\x00", 5);
  std::string png = "\x89PNG\r\n\x1A\n";
  PutPngChunk(png, "IHDR", header);
  PutPngChunk(png, "IDAT", zlib);
  PutPngChunk(png, "IEND", "");
  return png;
}

// An icon directory of one 16x16 entry whose image is a PNG.
std::string Ico(Colour colour) {
  const std::string png = Png(colour);
  std::string ico;
  PutLittle(ico, 0, 2);
  PutLittle(ico, 1, 2);  // type: icon
  PutLittle(ico, 1, 2);  // one image
  ico += static_cast<char>(kSide);
  ico += static_cast<char>(kSide);
  ico += std::string(2, '\0');  // no palette, reserved
  PutLittle(ico, 1, 2);         // planes
  PutLittle(ico, 32, 2);        // bits per pixel
  PutLittle(ico, static_cast<std::uint32_t>(png.size()), 4);
  PutLittle(ico, 6 + 16, 4);  // the image follows the one entry
  return ico + png;
}

// Four palette entries (white, the colour) and LZW codes of 3 bits: a clear
// code after every few pixels keeps the code table from growing.
std::string Gif(Colour colour) {
  std::string gif = "GIF89a";
  PutLittle(gif, kSide, 2);
  PutLittle(gif, kSide, 2);
  gif += '\x81';  // global palette of 4 entries
  gif += std::string(2, '\0');
  gif += std::string("\xFF\xFF\xFF", 3);
  gif += static_cast<char>(colour.red);
  gif += static_cast<char>(colour.green);
  gif += static_cast<char>(colour.blue);
  gif += std::string(6, '\0');
  gif += ',';
  PutLittle(gif, 0, 4);
  PutLittle(gif, kSide, 2);
  PutLittle(gif, kSide, 2);
  gif += '\0';
  gif += '\x02';  // minimum code size

  constexpr unsigned kClear = 4, kEnd = 5;
  std::string codes;
  unsigned buffer = 0;
  int bits = 0;
  auto emit = [&](unsigned code) {
    buffer |= code << bits;
    bits += 3;
    while (bits >= 8) {
      codes += static_cast<char>(buffer & 0xFF);
      buffer >>= 8;
      bits -= 8;
    }
  };
  int sinceClear = 0;
  emit(kClear);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      if (sinceClear == 2) {
        emit(kClear);
        sinceClear = 0;
      }
      const Colour p = Pixel(x, y, colour);
      emit(p.red == 255 && p.green == 255 && p.blue == 255 ? 0 : 1);
      ++sinceClear;
    }
  }
  emit(kEnd);
  if (bits > 0) codes += static_cast<char>(buffer & 0xFF);
  for (std::size_t at = 0; at < codes.size(); at += 255) {
    const std::string block = codes.substr(at, 255);
    gif += static_cast<char>(block.size());
    gif += block;
  }
  gif += '\0';
  gif += ';';
  return gif;
}

// 24 bits per pixel, bottom row first, rows padded to four bytes (48 already).
std::string Bmp(Colour colour) {
  const std::uint32_t pixelBytes = kSide * kSide * 3;
  std::string bmp = "BM";
  PutLittle(bmp, 14 + 40 + pixelBytes, 4);
  PutLittle(bmp, 0, 4);
  PutLittle(bmp, 14 + 40, 4);
  PutLittle(bmp, 40, 4);
  PutLittle(bmp, kSide, 4);
  PutLittle(bmp, kSide, 4);
  PutLittle(bmp, 1, 2);
  PutLittle(bmp, 24, 2);
  PutLittle(bmp, 0, 4);
  PutLittle(bmp, pixelBytes, 4);
  PutLittle(bmp, 2835, 4);
  PutLittle(bmp, 2835, 4);
  PutLittle(bmp, 0, 4);
  PutLittle(bmp, 0, 4);
  for (int y = kSide - 1; y >= 0; --y) {
    for (int x = 0; x < kSide; ++x) {
      const Colour p = Pixel(x, y, colour);
      bmp += static_cast<char>(p.blue);
      bmp += static_cast<char>(p.green);
      bmp += static_cast<char>(p.red);
    }
  }
  return bmp;
}

}  // namespace

FaviconImage MakeFaviconImage(int index, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const Colour colour{red, green, blue};
  switch (index % 4) {
    case 0: return {"image/png", Png(colour)};
    case 1: return {"image/x-icon", Ico(colour)};
    case 2: return {"image/gif", Gif(colour)};
    default: return {"image/bmp", Bmp(colour)};
  }
}
