#include "usage_reports/image_types.h"

namespace {

bool IsSvgText(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  while (!bytes.empty() && (bytes.front() == ' ' || bytes.front() == '\t' || bytes.front() == '\r' || bytes.front() == '\n')) {
    bytes.remove_prefix(1);
  }
  if (bytes.starts_with("<svg")) return true;
  return bytes.starts_with("<?xml") && bytes.substr(0, 1024).find("<svg") != std::string_view::npos;
}

}  // namespace

std::string_view FaviconExtension(std::string_view mimeType) {
  struct Type {
    std::string_view mime;
    std::string_view extension;
  };
  static constexpr Type kTypes[] = {
      {"image/bmp", ".bmp"},    {"image/gif", ".gif"}, {"image/png", ".png"},
      {"image/x-icon", ".ico"}, {"image/jpg", ".jpg"}, {"image/jpeg", ".jpg"},
  };
  for (const Type& type : kTypes) {
    if (type.mime == mimeType) return type.extension;
  }
  return {};
}

std::string_view ImageExtension(std::string_view bytes) {
  if (bytes.starts_with("\x89PNG\r\n\x1A\n")) return ".png";
  if (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a")) return ".gif";
  if (bytes.starts_with(std::string_view("\0\0\1\0", 4))) return ".ico";
  if (bytes.starts_with("\xFF\xD8\xFF")) return ".jpg";
  if (bytes.starts_with("BM")) return ".bmp";
  if (IsSvgText(bytes)) return ".svg";
  return {};
}
