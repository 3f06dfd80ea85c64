// .m8: image lookup, the palette turned into BMP entries, rows bottom first.
#include <cstdint>
#include <cstdlib>

#include "convert/m8.hpp"
#include "fuzz_checks.hpp"

using namespace texport;
using texport::fuzz::inside;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView source(data, size);
  const m8::ImageLookup lookup = m8::find_image(source);
  if (lookup.status != m8::ImageStatus::found) {
    if (lookup.needed <= size)
      std::abort();
    return 0;
  }
  const m8::Image& image = lookup.image;
  const std::size_t x = image.x;
  const std::size_t y = image.y;
  if (image.pixels.size() != x * y || image.palette.size() != m8::kPaletteLength)
    std::abort();
  if (!inside(image.palette, source) || (!image.pixels.empty() && !inside(image.pixels, source)))
    std::abort();
  const m8::BmpPalette pal = m8::bmp_palette(image.palette);
  for (std::size_t i = 0; i < m8::kPaletteEntries; ++i) {
    if (pal[4 * i] != image.palette[3 * i + 2] || pal[4 * i + 1] != image.palette[3 * i + 1] ||
        pal[4 * i + 2] != image.palette[3 * i] || pal[4 * i + 3] != 0)
      std::abort();
  }
  Bytes out(image.pixels.size());
  m8::rows_bottom_first(image.pixels, image.x, image.y, out);
  for (std::size_t row = 0; row < y; ++row)
    for (std::size_t column = 0; column < x; ++column)
      if (out[row * x + column] != image.pixels[(y - 1 - row) * x + column])
        std::abort();
  return 0;
}
