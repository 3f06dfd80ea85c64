#include "io/native.hpp"

#include <algorithm>
#include <cstdlib>

namespace texport {
namespace {

constexpr std::size_t kRedByte = 0, kBlueByte = 2;
static_assert(kBmpTemplate.header_length + std::tuple_size_v<BmpPalette> == 1078);

}  // namespace

const HeaderTemplate& native_template(PixelKind kind) {
  switch (kind) {
    case PixelKind::rgba:
      return kTgaTemplate;
    case PixelKind::indexed:
      return kBmpTemplate;
    case PixelKind::grey:
      break;
  }
  return kTifTemplate;
}

std::uint64_t native_length(const Picture& picture) {
  const HeaderTemplate& header_template = native_template(picture.kind);
  const std::uint64_t palette = picture.kind == PixelKind::indexed ? sizeof(BmpPalette) : 0;
  return header_template.header_length + palette + pixel_length(picture) +
         header_template.final_zeros;
}

BmpPalette bmp_palette(ByteView palette) {
  require_fits(palette.size(), 0, kPaletteLength);
  BmpPalette pal{};
  for (std::size_t i = 0; i < kPaletteEntries; ++i) {
    pal[i * kBmpEntrySize] = palette[3 * i + 2];
    pal[i * kBmpEntrySize + 1] = palette[3 * i + 1];
    pal[i * kBmpEntrySize + 2] = palette[3 * i];
  }
  return pal;
}

void exchange_red_blue(ByteView pixels, MutableBytes out) {
  if (out.size() != pixels.size() || pixels.size() % 4 != 0)
    std::abort();
  for (std::size_t at = 0; at < pixels.size(); at += 4) {
    out[at + kRedByte] = pixels[at + kBlueByte];
    out[at + 1] = pixels[at + 1];
    out[at + kBlueByte] = pixels[at + kRedByte];
    out[at + 3] = pixels[at + 3];
  }
}

std::vector<Part> native_parts(const Picture& picture, ByteView header, Bytes& storage) {
  static constexpr std::uint8_t kZeros[1] = {};
  std::vector<Part> parts{header};
  switch (picture.kind) {
    case PixelKind::grey:
      if (picture.stored.file != nullptr)
        parts.emplace_back(picture.stored, pixel_length(picture));
      else
        parts.emplace_back(picture.pixels);
      break;
    case PixelKind::rgba:
      storage.resize(picture.pixels.size());
      exchange_red_blue(picture.pixels, storage);
      parts.emplace_back(storage);
      break;
    case PixelKind::indexed: {
      const BmpPalette pal = bmp_palette(picture.palette);
      storage.assign(pal.begin(), pal.end());
      parts.emplace_back(storage);
      // The rows from the bottom one up, each from where it lies.
      for (std::size_t row = picture.height; row-- > 0;)
        parts.emplace_back(picture.pixels.subspan(row * picture.width, picture.width));
      break;
    }
  }
  parts.emplace_back(ByteView(kZeros, native_template(picture.kind).final_zeros));
  return parts;
}

std::string native_caveat(const Picture& picture) {
  if (picture.width == 0 || picture.height == 0)
    return "its width or height is 0; most readers refuse such an image";
  if (picture.kind == PixelKind::indexed && picture.width % 4 != 0)
    return "its rows of " + std::to_string(picture.width) +
           " bytes are not padded to a multiple of 4; most BMP readers refuse such a file";
  return "";
}

}  // namespace texport
