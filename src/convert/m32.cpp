#include "convert/m32.hpp"

#include "io/output.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"

namespace texport::m32 {

ImageLookup find_image(ByteView source) {
  ImageLookup result;
  const Layout* layout = nullptr;
  for (const Layout& known : kLayouts)
    if (fits(source, kTypeOffset, 1) && source[kTypeOffset] == known.type)
      layout = &known;
  if (layout == nullptr)
    return result;
  if (!fits(source, layout->height_offset, 2))
    return {ImageStatus::truncated_fields, {}, layout->height_offset + 2};
  const Image image{.x = read_u16le(source, layout->width_offset),
                    .y = read_u16le(source, layout->height_offset),
                    .pixels = {}};
  const std::uint64_t pixel_length = std::uint64_t{kBytesPerPixel} * image.x * image.y;
  // An image without pixels needs none of the file past its height.
  if (pixel_length == 0)
    return {ImageStatus::found, image};
  if (!fits(source, layout->pixel_offset, pixel_length))
    return {ImageStatus::truncated_pixels, image, layout->pixel_offset + pixel_length};
  return {ImageStatus::found,
          {image.x, image.y,
           source.subspan(layout->pixel_offset, static_cast<std::size_t>(pixel_length))}};
}

void exchange_red_blue(ByteView pixels, MutableBytes out) {
  if (out.size() != pixels.size() || pixels.size() % kBytesPerPixel != 0)
    std::abort();
  for (std::size_t at = 0; at < pixels.size(); at += kBytesPerPixel) {
    out[at + kRedByte] = pixels[at + kBlueByte];
    out[at + 1] = pixels[at + 1];
    out[at + kBlueByte] = pixels[at + kRedByte];
    out[at + 3] = pixels[at + 3];
  }
}

bool convert_m32(ByteView source, const std::string& name) {
  const ImageLookup lookup = find_image(source);
  const Image& image = lookup.image;
  switch (lookup.status) {
    case ImageStatus::found:
      break;
    case ImageStatus::unsupported:
      print_line("unsupported " + shown(name) + "\n");
      return false;
    case ImageStatus::truncated_fields:
    case ImageStatus::truncated_pixels:
      report(name, Problem::damaged,
             too_few(source.size(),
                     an_image(lookup.status == ImageStatus::truncated_pixels, image.x, image.y),
                     lookup.needed));
      return false;
  }
  Bytes exchanged(image.pixels.size());
  exchange_red_blue(image.pixels, exchanged);
  const ByteView payload[] = {exchanged};
  return write_image(kTgaTemplate, image.x, image.y, payload, name + ".tga") == Written::yes;
}

}  // namespace texport::m32
