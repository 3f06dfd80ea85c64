// .m8: image lookup against a plain reading (the palette at 260 and the width x height pixel bytes
// at 1040, from which the tool takes its rows bottom first; an image without pixels needs no byte
// past its palette), and the palette turned into BMP entries.
#include <cstdint>
#include <cstdlib>

#include "convert/m8.hpp"
#include "fuzz_checks.hpp"
#include "io/native.hpp"

using namespace texport;
using texport::fuzz::check;
using texport::fuzz::is_at;
using texport::fuzz::u16_at;

namespace {

// Each BMP entry is the source entry reversed (blue, green, red) and a 0.
TEXPORT_FUZZ_REFERENCE bool palette_right(ByteView palette, const BmpPalette& pal) {
  for (std::size_t i = 0; i < 256; ++i)
    if (pal[4 * i] != palette[3 * i + 2] || pal[4 * i + 1] != palette[3 * i + 1] ||
        pal[4 * i + 2] != palette[3 * i] || pal[4 * i + 3] != 0)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView source(data, size);
  const m8::ImageLookup lookup = m8::find_image(source);
  if (size < 102) {
    check(lookup.status == m8::ImageStatus::truncated_fields && lookup.needed == 102);
    return 0;
  }
  const unsigned x = u16_at(source, 36);
  const unsigned y = u16_at(source, 100);
  check(lookup.image.width == x && lookup.image.height == y);
  const std::size_t length = std::size_t{x} * y;
  const std::size_t needed = length == 0 ? 1028 : 1040 + length;
  if (size < needed) {
    check(lookup.status == m8::ImageStatus::truncated_pixels && lookup.needed == needed);
    return 0;
  }
  check(lookup.status == m8::ImageStatus::found);
  const m8::Image& image = lookup.image;
  check(is_at(image.palette, source, 260, 768) &&
        (length == 0 ? image.pixels.empty() : is_at(image.pixels, source, 1040, length)));

  check(palette_right(image.palette, bmp_palette(image.palette)));
  return 0;
}
