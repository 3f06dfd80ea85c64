// .m8 images of 8-bit palette indices with their own palette, to 8-bit paletted BMP, named
// NAME.bmp (tile.m8.bmp).
//
//   offset  size   meaning
//   36      2      width x (u16), which is also the length of a row in bytes
//   100     2      height y (u16)
//   260     768    palette: 256 entries of red, green, blue
//   1028    12     not read
//   1040    x*y    palette indices, row 0 (the top row) first, rows back to back
//
// Every other byte is ignored. A BMP palette entry is blue, green, red, 0, so each entry is
// reversed and a zero appended (`pal`, 1024 bytes, at 54). A BMP with a positive height stores
// its bottom row first, so the rows go out in reverse order, each exactly x bytes: no fill to a
// multiple of 4, which most BMP readers expect.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "io/bytes.hpp"

namespace texport::m8 {

inline constexpr std::size_t kWidthOffset = 36, kHeightOffset = 100, kPixelOffset = 1040;
inline constexpr std::size_t kPaletteOffset = 260, kPaletteEntries = 256, kSourceEntrySize = 3,
                             kPaletteLength = kPaletteEntries * kSourceEntrySize;
inline constexpr std::size_t kBmpEntrySize = 4;

static_assert(kWidthOffset + 2 <= kHeightOffset && kHeightOffset + 2 <= kPaletteOffset);
static_assert(kPaletteOffset + kPaletteLength + 12 == kPixelOffset);

using BmpPalette = std::array<std::uint8_t, kPaletteEntries * kBmpEntrySize>;

struct Image {
  std::uint16_t x = 0, y = 0;  // width (also the row length in bytes) and height
  ByteView palette, pixels;    // 768 and x*y bytes inside the source
};

enum class ImageStatus {
  found,
  truncated_fields,  // the file ends before its width and height
  truncated_pixels,  // the file ends before its palette or the last of its x*y pixel bytes
};

struct ImageLookup {
  ImageStatus status = ImageStatus::truncated_fields;
  Image image;               // found; x and y also for truncated_pixels
  std::uint64_t needed = 0;  // truncated: the length the file would need
};

// The image of a loaded source, when the source holds all of it.
ImageLookup find_image(ByteView source);

// The 4-byte entries of a BMP colour table from 768 bytes of red, green, blue entries.
BmpPalette bmp_palette(ByteView palette);

// Converts one loaded source into NAME.bmp. True when the image was written.
bool convert_m8(ByteView source, const std::string& name);

}  // namespace texport::m8
