#include "convert/m8.hpp"

#include "io/report.hpp"

namespace texport::m8 {

ImageLookup find_image(ByteView source) {
  if (!fits(source, kHeightOffset, 2))
    return {ImageStatus::truncated_fields, {}, kHeightOffset + 2};
  const std::uint16_t width = read_u16le(source, kWidthOffset);
  const std::uint16_t height = read_u16le(source, kHeightOffset);
  const std::uint64_t pixel_length = std::uint64_t{width} * height;
  // An image without pixels needs nothing past its palette; any other holds its palette too when
  // it holds its pixels, which lie behind it.
  const std::uint64_t needed =
      pixel_length == 0 ? kPaletteOffset + kPaletteLength : kPixelOffset + pixel_length;
  if (source.size() < needed)
    return {ImageStatus::truncated_pixels, {width, height, {}, {}}, needed};
  return {ImageStatus::found,
          {width, height, source.subspan(kPaletteOffset, kPaletteLength),
           source.subspan(std::min<std::size_t>(kPixelOffset, source.size()),
                          static_cast<std::size_t>(pixel_length))}};
}

std::string layout(ByteView) {
  return "plain";
}

bool convert_m8(ByteView source, const std::string& name, const Sink& sink) {
  const ImageLookup lookup = find_image(source);
  const Image& image = lookup.image;
  switch (lookup.status) {
    case ImageStatus::found:
      break;
    case ImageStatus::truncated_fields:
      sink.report(name, Problem::damaged,
                  too_few(source.size(), "its width and height", lookup.needed));
      return false;
    case ImageStatus::truncated_pixels:
      sink.report(name, Problem::damaged,
                  too_few(source.size(),
                          "a " + std::to_string(image.width) + " x " +
                              std::to_string(image.height) + " image",
                          lookup.needed));
      return false;
  }
  const Picture picture{.kind = PixelKind::indexed,
                        .width = image.width,
                        .height = image.height,
                        .pixels = image.pixels,
                        .palette = image.palette};
  return write_only_picture(sink, name, picture, name + ".bmp");
}

}  // namespace texport::m8
