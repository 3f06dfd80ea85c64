#include "convert/m32.hpp"

#include "io/report.hpp"

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
  const Image image{.width = read_u16le(source, layout->width_offset),
                    .height = read_u16le(source, layout->height_offset),
                    .pixels = {}};
  const std::uint64_t pixel_length = std::uint64_t{kBytesPerPixel} * image.width * image.height;
  // An image without pixels needs none of the file past its height.
  if (pixel_length == 0)
    return {ImageStatus::found, image};
  if (!fits(source, layout->pixel_offset, pixel_length))
    return {ImageStatus::truncated_pixels, image, layout->pixel_offset + pixel_length};
  return {ImageStatus::found,
          {image.width, image.height,
           source.subspan(layout->pixel_offset, static_cast<std::size_t>(pixel_length))}};
}

std::string layout(ByteView source) {
  for (const Layout& known : kLayouts)
    if (!source.empty() && source[kTypeOffset] == known.type)
      return "layout " + std::to_string(known.type);
  return "unknown layout";
}

bool convert_m32(ByteView source, const std::string& name, const Sink& sink) {
  const ImageLookup lookup = find_image(source);
  const Image& image = lookup.image;
  switch (lookup.status) {
    case ImageStatus::found:
      break;
    case ImageStatus::unsupported:
      sink.print("unsupported ", name);
      sink.report(name, Problem::unsupported,
                  source.empty() ? "an empty file, without a layout type"
                                 : "layout type " + std::to_string(source[kTypeOffset]) +
                                       "; the known ones are 2, 3 and 4");
      return false;
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
  const Picture picture{.kind = PixelKind::rgba,
                        .width = image.width,
                        .height = image.height,
                        .pixels = image.pixels};
  return write_only_picture(sink, name, picture, name + ".tga");
}

}  // namespace texport::m32
