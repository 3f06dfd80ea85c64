#include "convert/m8.hpp"

#include <vector>

#include "io/output.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"

namespace texport::m8 {

static_assert(kBmpTemplate.header_length + std::tuple_size_v<BmpPalette> == 1078);

ImageLookup find_image(ByteView source) {
  if (!fits(source, kHeightOffset, 2))
    return {ImageStatus::truncated_fields, {}, kHeightOffset + 2};
  const std::uint16_t x = read_u16le(source, kWidthOffset);
  const std::uint16_t y = read_u16le(source, kHeightOffset);
  const std::uint64_t pixel_length = std::uint64_t{x} * y;
  // The pixels start behind the palette, so holding them means holding the palette too.
  if (!fits(source, kPixelOffset, pixel_length))
    return {ImageStatus::truncated_pixels, {x, y, {}, {}}, kPixelOffset + pixel_length};
  return {ImageStatus::found,
          {x, y, source.subspan(kPaletteOffset, kPaletteLength),
           source.subspan(kPixelOffset, static_cast<std::size_t>(pixel_length))}};
}

BmpPalette bmp_palette(ByteView palette) {
  require_fits(palette.size(), 0, kPaletteLength);
  BmpPalette pal{};
  for (std::size_t i = 0; i < kPaletteEntries; ++i) {
    const std::size_t from = i * kSourceEntrySize;
    const std::size_t to = i * kBmpEntrySize;
    pal[to] = palette[from + 2];
    pal[to + 1] = palette[from + 1];
    pal[to + 2] = palette[from];
  }
  return pal;
}

bool convert_m8(ByteView source, const std::string& name) {
  const ImageLookup lookup = find_image(source);
  const Image& image = lookup.image;
  if (lookup.status != ImageStatus::found) {
    report(name, Problem::damaged,
           too_few(source.size(),
                   an_image(lookup.status == ImageStatus::truncated_pixels, image.x, image.y),
                   lookup.needed));
    return false;
  }
  const BmpPalette pal = bmp_palette(image.palette);
  // The palette, then the rows from the bottom one up, each from where it lies in the source.
  std::vector<ByteView> payload{pal};
  for (std::size_t row = image.y; row-- > 0;)
    payload.push_back(image.pixels.subspan(row * image.x, image.x));
  const bool written =
      write_image(kBmpTemplate, image.x, image.y, payload, name + ".bmp") == Written::yes;
  if (written && image.x % 4 != 0)
    report(name + ".bmp", Problem::note,
           "its rows of " + std::to_string(image.x) +
               " bytes are not padded to a multiple of 4; most BMP readers refuse such a file");
  return written;
}

}  // namespace texport::m8
