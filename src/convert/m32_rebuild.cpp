#include <algorithm>

#include "convert/m32.hpp"
#include "convert/rebuild.hpp"

namespace texport::m32 {

Rebuilt rebuild(ByteView original, const Replacement& image) {
  using rebuilding::refused;
  if (std::string wrong = rebuilding::wrong_pixel_count(image, kBytesPerPixel, "the image");
      !wrong.empty())
    return refused(wrong);
  const ImageLookup lookup = find_image(original);
  const Image& old = lookup.image;
  if (lookup.status == ImageStatus::unsupported)
    return refused(original.empty() ? "an empty file, without a layout type"
                                    : "layout type " + std::to_string(original[kTypeOffset]) +
                                          "; the known ones are 2, 3 and 4");
  if (lookup.status != ImageStatus::found)
    return refused(rebuilding::ends_early(original.size(),
                                          lookup.status == ImageStatus::truncated_pixels, old.width,
                                          old.height, lookup.needed));
  if (image.width == old.width && image.height == old.height &&
      std::ranges::equal(image.pixels, old.pixels))
    return {Bytes(original.begin(), original.end()), {}};
  const Layout& layout = *std::ranges::find(kLayouts, original[kTypeOffset], &Layout::type);
  std::optional<Bytes> out =
      rebuilding::splice(original, layout.pixel_offset, old.pixels.size(), image.pixels);
  if (!out)
    return refused(rebuilding::kTooLong);
  write_u16le(*out, layout.width_offset, image.width);
  write_u16le(*out, layout.height_offset, image.height);
  return {std::move(out), {}};
}

}  // namespace texport::m32
