#include "convert/m32.hpp"

#include <iostream>

#include "io/file_io.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"

namespace texport::m32 {

std::optional<Layout> layout_of(std::uint8_t type) {
  for (const Layout& layout : kLayouts)
    if (layout.type == type)
      return layout;
  return std::nullopt;
}

ImageLookup find_image(ByteView source) {
  ImageLookup result;
  if (!fits(source, kTypeOffset, 1))
    return result;
  const std::optional<Layout> layout = layout_of(source[kTypeOffset]);
  if (!layout)
    return result;
  if (!fits(source, 0, layout->fields_end())) {
    result.status = ImageStatus::truncated_fields;
    result.needed = layout->fields_end();
    return result;
  }
  const std::uint16_t x = read_u16le(source, layout->width_offset);
  const std::uint16_t y = read_u16le(source, layout->height_offset);
  const std::uint64_t pixel_length = std::uint64_t{kBytesPerPixel} * x * y;
  result.image.x = x;
  result.image.y = y;
  if (!fits(source, layout->pixel_offset, pixel_length)) {
    result.status = ImageStatus::truncated_pixels;
    result.needed = layout->pixel_offset + pixel_length;
    return result;
  }
  result.status = ImageStatus::found;
  result.image.pixels =
      source.subspan(layout->pixel_offset, static_cast<std::size_t>(pixel_length));
  return result;
}

void exchange_red_blue(ByteView pixels, MutableBytes out) {
  if (out.size() != pixels.size() || pixels.size() % kBytesPerPixel != 0)
    std::abort();
  for (std::size_t at = 0; at < pixels.size(); at += kBytesPerPixel) {
    for (std::size_t i = 0; i < kBytesPerPixel; ++i)
      out[at + i] = pixels[at + i];
    out[at + kRedByte] = pixels[at + kBlueByte];
    out[at + kBlueByte] = pixels[at + kRedByte];
  }
}

void convert_m32(ByteView source, const std::string& name) {
  const ImageLookup lookup = find_image(source);
  const Image& image = lookup.image;
  switch (lookup.status) {
    case ImageStatus::found:
      break;
    case ImageStatus::unsupported:
      std::cout << "unsupported " << name << "\n" << std::flush;
      return;
    case ImageStatus::truncated_fields:
      report_problem(name, "not converted: it has " + std::to_string(source.size()) +
                               " bytes, too few for its width and height (" +
                               std::to_string(lookup.needed) + " needed)");
      return;
    case ImageStatus::truncated_pixels:
      report_problem(name, "not converted: it has " + std::to_string(source.size()) +
                               " bytes, too few for a " + std::to_string(image.x) + " x " +
                               std::to_string(image.y) + " image (" +
                               std::to_string(lookup.needed) + " needed)");
      return;
  }
  const std::string output_name = name + ".tga";
  std::optional<Bytes> out =
      start_output(kTgaTemplate, image.x, image.y, image.pixels.size(), output_name);
  if (!out)
    return;
  exchange_red_blue(image.pixels,
                    MutableBytes(*out).subspan(kTgaTemplate.header_length, image.pixels.size()));
  write_whole_file(*out, output_name);
}

}  // namespace texport::m32
