// Images read back into pixels: the tool's own native images by their layout, everything else
// through image libraries (PNG: libpng, or stb_image where libpng is absent; TIFF: libtiff, where
// installed; TGA and BMP: stb_image). Files are untrusted: every size is checked before anything
// is allocated for it, and nothing is read outside the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "io/bytes.hpp"

namespace texport {

enum class Channels { grey, grey_alpha, rgb, rgba, indexed };

constexpr std::size_t bytes_per_pixel(Channels channels) {
  switch (channels) {
    case Channels::grey_alpha:
      return 2;
    case Channels::rgb:
      return 3;
    case Channels::rgba:
      return 4;
    case Channels::grey:
    case Channels::indexed:
      break;
  }
  return 1;
}

struct ReadImage {
  std::uint32_t width = 0, height = 0;
  Channels channels = Channels::grey;
  Bytes pixels;   // rows top first, back to back, bytes_per_pixel(channels) bytes a pixel
  Bytes palette;  // indexed: red, green, blue of each entry (at most 256); every index has one
  friend bool operator==(const ReadImage&, const ReadImage&) = default;
};

// An image, or why there is none ("not a PNG, TIFF, TGA or BMP").
struct ReadResult {
  std::optional<ReadImage> image;
  std::string problem;
};

// Every source format holds sizes of 16 bits; the pixel limit keeps an image below 1 GiB.
inline constexpr std::uint32_t kMaxReadSide = 65535;
inline constexpr std::uint64_t kMaxReadPixels = std::uint64_t{1} << 28;

// Reads an image held in memory. The extension of `name` (.png, .tif or .tiff, .tga, .bmp,
// letter case aside) says what is expected; the content decides, so a file saved again as
// another kind still reads. A .tif, .tga or .bmp that is exactly what the tool writes (length and
// header fields) is read by that layout, whatever its header says otherwise.
ReadResult read_image(ByteView file, std::string_view name);

// What this build reads, for the README and --help: "PNG, TIFF, TGA, BMP".
std::string_view formats_read();

}  // namespace texport
