#include "convert/m8.hpp"

#include <algorithm>
#include <optional>

#include "io/file_io.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"

namespace texport::m8 {

static_assert(kBmpTemplate.header_length + kBmpPaletteLength == 1078);

ImageLookup find_image(ByteView source) {
  ImageLookup result;
  if (!fits(source, kHeightOffset, 2)) {
    result.status = ImageStatus::truncated_fields;
    result.needed = kHeightOffset + 2;
    return result;
  }
  const std::uint16_t x = read_u16le(source, kWidthOffset);
  const std::uint16_t y = read_u16le(source, kHeightOffset);
  const std::uint64_t pixel_length = std::uint64_t{x} * y;
  result.image.x = x;
  result.image.y = y;
  // The pixels start behind the palette, so holding them means holding the palette too.
  if (!fits(source, kPixelOffset, pixel_length)) {
    result.status = ImageStatus::truncated_pixels;
    result.needed = kPixelOffset + pixel_length;
    return result;
  }
  result.status = ImageStatus::found;
  result.image.palette = source.subspan(kPaletteOffset, kPaletteLength);
  result.image.pixels = source.subspan(kPixelOffset, static_cast<std::size_t>(pixel_length));
  return result;
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
    pal[to + 3] = 0;
  }
  return pal;
}

void rows_bottom_first(ByteView pixels, std::uint16_t x, std::uint16_t y, MutableBytes out) {
  const std::size_t row_length = x;
  if (pixels.size() != row_length * y || out.size() != pixels.size())
    std::abort();
  for (std::size_t row = 0; row < y; ++row) {
    const auto from = pixels.begin() + static_cast<std::ptrdiff_t>(row * row_length);
    const auto to = out.begin() + static_cast<std::ptrdiff_t>((y - 1 - row) * row_length);
    std::copy_n(from, row_length, to);
  }
}

void convert_m8(ByteView source, const std::string& name) {
  const ImageLookup lookup = find_image(source);
  const Image& image = lookup.image;
  switch (lookup.status) {
    case ImageStatus::found:
      break;
    case ImageStatus::truncated_fields:
      report_too_short(name, source.size(), "its width and height", lookup.needed);
      return;
    case ImageStatus::truncated_pixels:
      report_too_short(name, source.size(),
                       "a " + std::to_string(image.x) + " x " + std::to_string(image.y) + " image",
                       lookup.needed);
      return;
  }
  const BmpPalette pal = bmp_palette(image.palette);
  const std::string output_name = name + ".bmp";
  std::optional<Bytes> out = start_output(kBmpTemplate, image.x, image.y,
                                          kBmpPaletteLength + image.pixels.size(), output_name);
  if (!out)
    return;
  const MutableBytes payload = MutableBytes(*out).subspan(kBmpTemplate.header_length);
  std::copy(pal.begin(), pal.end(), payload.begin());
  rows_bottom_first(image.pixels, image.x, image.y,
                    payload.subspan(kBmpPaletteLength, image.pixels.size()));
  write_whole_file(*out, output_name);  // its final byte stays 0
}

}  // namespace texport::m8
