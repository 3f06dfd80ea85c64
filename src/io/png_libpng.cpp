#include <png.h>

#include "io/png.hpp"

namespace texport {

bool encode_png(const Picture& picture, Bytes& out, std::string& problem) {
  if (picture.width == 0 || picture.height == 0) {
    problem = "a PNG holds no image of " + std::to_string(picture.width) + " x " +
              std::to_string(picture.height) + " pixels";
    return false;
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = picture.width;
  image.height = picture.height;
  image.format = picture.kind == PixelKind::rgba      ? PNG_FORMAT_RGBA
                 : picture.kind == PixelKind::indexed ? PNG_FORMAT_RGB_COLORMAP
                                                      : PNG_FORMAT_GRAY;
  const void* colormap = nullptr;
  if (picture.kind == PixelKind::indexed) {
    image.colormap_entries = kPaletteEntries;
    colormap = picture.palette.data();
  }
  const auto stride = static_cast<png_int_32>(picture.width * bytes_per_pixel(picture.kind));
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, picture.pixels.data(), stride,
                                colormap)) {
    out.resize(size);
    if (png_image_write_to_memory(&image, out.data(), &size, 0, picture.pixels.data(), stride,
                                  colormap)) {
      out.resize(size);
      return true;
    }
  }
  problem = std::string("the PNG library said: ") + image.message;
  png_image_free(&image);
  return false;
}

}  // namespace texport
