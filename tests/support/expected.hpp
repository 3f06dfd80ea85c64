// The exact bytes each kind of output must hold, written out plainly from the image layouts, for
// comparing whole files.
#pragma once

#include <algorithm>
#include <cstdint>

#include "io/bytes.hpp"
#include "io/templates.hpp"

namespace texport::testing {

// A TIF: the template's first 1706 bytes with width and height patched in, width * height
// pixels (`pixels`, then zeros where it is short), and a final zero byte.
inline Bytes expected_tif(const Bytes& header, std::uint16_t width, std::uint16_t height,
                          const Bytes& pixels) {
  const std::size_t count = std::size_t{width} * height;
  Bytes out(kTifHeaderLength + count + 1, 0);
  std::copy_n(header.begin(), kTifHeaderLength, out.begin());
  write_u16le(out, 30, width);
  write_u16le(out, 42, height);
  std::copy_n(pixels.begin(), std::min(count, pixels.size()), out.begin() + kTifHeaderLength);
  return out;
}

// A TGA for an x * y image of RGBA pixels: the template's first 18 bytes with width and height
// patched in, then the pixels with red and blue exchanged.
inline Bytes expected_tga(const Bytes& header, std::uint16_t x, std::uint16_t y,
                          const Bytes& rgba) {
  Bytes out(kTgaHeaderLength + rgba.size());
  std::copy_n(header.begin(), kTgaHeaderLength, out.begin());
  write_u16le(out, 12, x);
  write_u16le(out, 14, y);
  for (std::size_t at = 0; at < rgba.size(); at += 4) {
    out[18 + at] = rgba[at + 2];
    out[18 + at + 1] = rgba[at + 1];
    out[18 + at + 2] = rgba[at];
    out[18 + at + 3] = rgba[at + 3];
  }
  return out;
}

// A BMP for an x * y image of indices: the template's first 54 bytes with width and height
// patched in, the palette as blue, green, red, 0, the rows bottom first, and a final zero.
inline Bytes expected_bmp(const Bytes& header, std::uint16_t x, std::uint16_t y,
                          const Bytes& palette, const Bytes& indices) {
  Bytes out(1079 + indices.size(), 0);
  std::copy_n(header.begin(), kBmpHeaderLength, out.begin());
  write_u16le(out, 18, x);
  write_u16le(out, 22, y);
  for (std::size_t i = 0; i < 256; ++i) {
    out[54 + 4 * i] = palette[3 * i + 2];
    out[54 + 4 * i + 1] = palette[3 * i + 1];
    out[54 + 4 * i + 2] = palette[3 * i];
  }
  for (std::size_t row = 0; row < y; ++row)
    std::copy_n(indices.begin() + static_cast<std::ptrdiff_t>(row * x), x,
                out.begin() + static_cast<std::ptrdiff_t>(1078 + (y - 1 - row) * x));
  return out;
}

// The colours of an image of indices, top row first, as a reader's "rgb" output gives them.
inline Bytes colours_of(const Bytes& palette, const Bytes& indices) {
  Bytes rgb(3 * indices.size());
  for (std::size_t i = 0; i < indices.size(); ++i)
    std::copy_n(palette.begin() + 3 * indices[i], 3,
                rgb.begin() + static_cast<std::ptrdiff_t>(3 * i));
  return rgb;
}

}  // namespace texport::testing
