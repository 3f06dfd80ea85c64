#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#include "io/png.hpp"

namespace texport {

bool encode_png(const Picture& picture, Bytes& out, std::string& problem) {
  if (picture.width == 0 || picture.height == 0) {
    problem = "a PNG holds no image of " + std::to_string(picture.width) + " x " +
              std::to_string(picture.height) + " pixels";
    return false;
  }
  // stb_image_write has no paletted PNG: each index becomes its colour.
  Bytes colours;
  ByteView pixels = picture.pixels;
  int components = static_cast<int>(bytes_per_pixel(picture.kind));
  if (picture.kind == PixelKind::indexed) {
    colours.reserve(pixels.size() * 3);
    for (const std::uint8_t index : pixels)
      colours.insert(colours.end(), picture.palette.begin() + 3 * index,
                     picture.palette.begin() + 3 * index + 3);
    pixels = colours;
    components = 3;
  }
  out.clear();
  const auto append = [](void* context, void* data, int size) {
    auto* bytes = static_cast<Bytes*>(context);
    const auto* begin = static_cast<const std::uint8_t*>(data);
    bytes->insert(bytes->end(), begin, begin + size);
  };
  if (stbi_write_png_to_func(append, &out, picture.width, picture.height, components, pixels.data(),
                             picture.width * components) != 0)
    return true;
  problem = "the PNG encoder failed";
  return false;
}

}  // namespace texport
