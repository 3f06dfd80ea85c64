#include <algorithm>

#include "convert/m8.hpp"
#include "convert/rebuild.hpp"

namespace texport::m8 {

Rebuilt rebuild(ByteView original, const Replacement& image) {
  using rebuilding::refused;
  if (std::string wrong = rebuilding::wrong_pixel_count(image, 1, "the image"); !wrong.empty())
    return refused(wrong);
  if (!image.palette.empty() && image.palette.size() != kPaletteLength)
    return refused("the palette holds " + std::to_string(image.palette.size()) + " bytes; " +
                   std::to_string(kPaletteLength) + " needed");
  const ImageLookup lookup = find_image(original);
  const Image& old = lookup.image;
  if (lookup.status != ImageStatus::found)
    return refused(rebuilding::ends_early(original.size(),
                                          lookup.status == ImageStatus::truncated_pixels, old.width,
                                          old.height, lookup.needed));
  const ByteView palette = image.palette.empty() ? old.palette : image.palette;
  if (image.width == old.width && image.height == old.height &&
      std::ranges::equal(image.pixels, old.pixels) && std::ranges::equal(palette, old.palette))
    return {Bytes(original.begin(), original.end()), {}};
  std::optional<Bytes> out =
      rebuilding::splice(original, kPixelOffset, old.pixels.size(), image.pixels);
  if (!out)
    return refused(rebuilding::kTooLong);
  write_u16le(*out, kWidthOffset, image.width);
  write_u16le(*out, kHeightOffset, image.height);
  std::ranges::copy(palette, out->begin() + kPaletteOffset);
  return {std::move(out), {}};
}

}  // namespace texport::m8
