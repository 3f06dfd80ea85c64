// The exact bytes each kind of output must hold, built plainly from the image layouts.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "io/bytes.hpp"
#include "io/templates.hpp"

namespace texport::testing {

// A template's first bytes with width and height patched in, then the payload and the final
// zero bytes.
[[gnu::noinline]] inline Bytes expected_image(const HeaderTemplate& header_template,
                                              const Bytes& header, std::uint16_t width,
                                              std::uint16_t height, const Bytes& payload) {
  const std::size_t length = header_template.header_length;
  Bytes out(length + payload.size() + header_template.final_zeros, 0);
  std::memcpy(out.data(), header.data(), length);
  if (!payload.empty())
    std::memcpy(out.data() + length, payload.data(), payload.size());
  write_u16le(out, header_template.width_offset, width);
  write_u16le(out, header_template.height_offset, height);
  return out;
}

inline Bytes expected_tif(const Bytes& header, std::uint16_t width, std::uint16_t height,
                          const Bytes& pixels) {
  return expected_image(kTifTemplate, header, width, height, pixels);
}

// RGBA pixels become BGRA.
inline Bytes expected_tga(const Bytes& header, std::uint16_t width, std::uint16_t height,
                          Bytes rgba) {
  for (std::size_t at = 0; at + 3 < rgba.size(); at += 4)
    std::swap(rgba[at], rgba[at + 2]);
  return expected_image(kTgaTemplate, header, width, height, rgba);
}

// The palette as blue, green, red, 0; the rows of indices bottom first.
inline Bytes expected_bmp(const Bytes& header, std::uint16_t width, std::uint16_t height,
                          const Bytes& palette, const Bytes& indices) {
  Bytes payload(1024, 0);
  for (std::size_t i = 0; i < 256; ++i)
    std::reverse_copy(palette.begin() + 3 * i, palette.begin() + 3 * i + 3,
                      payload.begin() + 4 * i);
  for (std::size_t row = height; row-- > 0;)
    payload.insert(payload.end(), indices.begin() + row * width,
                   indices.begin() + (row + 1) * width);
  return expected_image(kBmpTemplate, header, width, height, payload);
}

// The colours of a paletted image, as a reader that expands the palette gives them (and as a build
// without libpng writes them).
inline Bytes coloured(const Bytes& indices, const Bytes& palette) {
  Bytes rgb;
  for (const std::uint8_t index : indices)
    rgb.insert(rgb.end(), palette.begin() + 3 * index, palette.begin() + 3 * index + 3);
  return rgb;
}

// The same with the built-in header made for the image's size, as a folder without templates
// gets.
inline Bytes builtin_tif(std::uint16_t width, std::uint16_t height, const Bytes& pixels) {
  return expected_tif(builtin_tif_header(width, height), width, height, pixels);
}
inline Bytes builtin_tga(std::uint16_t width, std::uint16_t height, const Bytes& rgba) {
  return expected_tga(builtin_tga_header(width, height), width, height, rgba);
}
inline Bytes builtin_bmp(std::uint16_t width, std::uint16_t height, const Bytes& palette,
                         const Bytes& indices) {
  return expected_bmp(builtin_bmp_header(width, height), width, height, palette, indices);
}

}  // namespace texport::testing
