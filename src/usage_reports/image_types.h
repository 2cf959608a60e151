#pragma once

// What kind of image a favicon is, for the extension of its file: by the
// MIME type Firefox 3 stored beside it, or, where none is stored (current
// Firefox), by the image's first bytes.

#include <string_view>

// The extension for a Firefox 3 MIME type, matched exactly and
// case-sensitively; empty for any other type, and for a NULL one.
std::string_view FaviconExtension(std::string_view mimeType);

// The extension for image bytes by their signature: PNG, GIF, ICO, JPEG, BMP
// or SVG text; empty for anything else.
std::string_view ImageExtension(std::string_view bytes);
