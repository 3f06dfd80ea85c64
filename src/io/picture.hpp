// What a converter makes of a source: pictures, whatever format they are then written in.
#pragma once

#include <cstdint>
#include <string_view>

#include "io/bytes.hpp"
#include "platform/files.hpp"

namespace texport {

enum class PixelKind {
  grey,     // one byte a pixel, as stored: .sfd frames, .tex textures
  rgba,     // four bytes a pixel, red, green, blue, alpha: .m32 images
  indexed,  // one palette index a pixel, with a palette of 256 colours: .m8 images
};

inline constexpr std::size_t kPaletteEntries = 256;
inline constexpr std::size_t kPaletteLength = 3 * kPaletteEntries;  // red, green, blue each

// Pixels left in the open source file, for a sink to copy from there rather than through the
// process's memory.
struct StoredPixels {
  const platform::File* file = nullptr;
  std::uint64_t offset = 0;
};

struct Picture {
  PixelKind kind = PixelKind::grey;
  std::uint16_t width = 0, height = 0;
  ByteView pixels;                   // rows top first, back to back: width x height pixels
  StoredPixels stored;               // or, when it names a file (grey only), where they lie in it
  ByteView palette;                  // indexed: kPaletteLength bytes
  std::string_view noun = "images";  // what its source calls such pictures ("frames")
};

// Bytes a pixel of that kind takes.
constexpr std::size_t bytes_per_pixel(PixelKind kind) {
  return kind == PixelKind::rgba ? 4 : 1;
}

// Bytes the picture's pixels take: under 2^34, so no product here wraps.
constexpr std::uint64_t pixel_length(const Picture& picture) {
  return std::uint64_t{picture.width} * picture.height * bytes_per_pixel(picture.kind);
}

// A piece of an image file being written: bytes in memory, or bytes left in a source file.
struct Part {
  ByteView bytes;
  StoredPixels stored;       // when it names a file, `length` bytes are copied from there
  std::uint64_t length = 0;  // of a stored piece
  Part(ByteView bytes) : bytes(bytes) {}  // implicit: a list of byte views reads as parts
  Part(StoredPixels stored, std::uint64_t length) : stored(stored), length(length) {}
  std::uint64_t size() const { return stored.file != nullptr ? length : bytes.size(); }
};

}  // namespace texport
