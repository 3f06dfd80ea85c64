// What a converter makes of a source: pictures, whatever format they are then written in.
#pragma once

#include <cstdint>
#include <string_view>

#include "io/bytes.hpp"

namespace texport {

enum class PixelKind {
  grey,     // one byte a pixel, as stored: .sfd frames, .tex textures
  rgba,     // four bytes a pixel, red, green, blue, alpha: .m32 images
  indexed,  // one palette index a pixel, with a palette of 256 colours: .m8 images
};

inline constexpr std::size_t kPaletteEntries = 256;
inline constexpr std::size_t kPaletteLength = 3 * kPaletteEntries;  // red, green, blue each

struct Picture {
  PixelKind kind = PixelKind::grey;
  std::uint16_t width = 0, height = 0;
  ByteView pixels;                   // rows top first, back to back: width x height pixels
  ByteView palette;                  // indexed: kPaletteLength bytes
  std::string_view noun = "images";  // what its source calls such pictures ("frames")
};

// Bytes a pixel of that kind takes.
constexpr std::size_t bytes_per_pixel(PixelKind kind) {
  return kind == PixelKind::rgba ? 4 : 1;
}

}  // namespace texport
