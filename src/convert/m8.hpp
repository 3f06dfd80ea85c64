// .m8 images of 8-bit palette indices with their own palette, to 8-bit paletted BMP, named
// NAME.bmp (tile.m8.bmp).
//
//   offset  size   meaning
//   36      2      width w (u16), which is also the length of a row in bytes
//   100     2      height h (u16)
//   260     768    palette: 256 entries of red, green, blue
//   1028    12     not read
//   1040    w*h    palette indices, row 0 (the top row) first, rows back to back
//
// Every other byte is ignored. An image of width or height 0 needs no byte past its palette.
#pragma once

#include <cstdint>
#include <string>

#include "io/bytes.hpp"
#include "io/picture.hpp"
#include "io/sink.hpp"

namespace texport::m8 {

inline constexpr std::size_t kWidthOffset = 36, kHeightOffset = 100, kPixelOffset = 1040;
inline constexpr std::size_t kPaletteOffset = 260;

static_assert(kWidthOffset + 2 <= kHeightOffset && kHeightOffset + 2 <= kPaletteOffset);
static_assert(kPaletteOffset + kPaletteLength + 12 == kPixelOffset);

struct Image {
  std::uint16_t width = 0, height = 0;  // the width is also the row length in bytes
  ByteView palette, pixels;             // 768 and width * height bytes inside the source
};

enum class ImageStatus {
  found,
  truncated_fields,  // the file ends before its width and height
  truncated_pixels,  // the file ends before its palette or the last of its pixel bytes
};

struct ImageLookup {
  ImageStatus status = ImageStatus::truncated_fields;
  Image image;               // found; width and height also for truncated_pixels
  std::uint64_t needed = 0;  // truncated: the length the file would need
};

// The image of a loaded source, when the source holds all of it.
ImageLookup find_image(ByteView source);

// How the source is stored: it has one layout only, "plain".
std::string layout(ByteView source);

// Converts one loaded source into NAME.bmp. True when the image was written.
bool convert_m8(ByteView source, const std::string& name, const Sink& sink);

}  // namespace texport::m8
