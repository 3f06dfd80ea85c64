// .m32 images of 4 bytes a pixel to 32-bit TGA, named NAME.tga (stone.m32.tga).
//
//   offset  size  meaning
//   0       1     layout type: 2, 3 or 4; any other value (or an empty file) is unsupported
//
//   layout  width at    height at    pixels at
//   2       132         196          376
//   3       388         452          632      layout 2 moved 256 bytes on
//   4       516         580          968
//
// Width and height are u16. The pixels are 4 * width * height bytes, rows top first, each pixel
// red, green, blue, alpha. Every other byte of the file is ignored.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "io/bytes.hpp"
#include "io/sink.hpp"

namespace texport::m32 {

inline constexpr std::size_t kTypeOffset = 0;
inline constexpr std::size_t kBytesPerPixel = 4;

struct Layout {
  std::uint8_t type;
  std::size_t width_offset, height_offset, pixel_offset;
};

inline constexpr std::array<Layout, 3> kLayouts{{{2, 132, 196, 376},  //
                                                 {3, 388, 452, 632},
                                                 {4, 516, 580, 968}}};
static_assert(kLayouts[1].pixel_offset == kLayouts[0].pixel_offset + 256);
static_assert(std::ranges::all_of(kLayouts, [](const Layout& layout) {
  return layout.width_offset < layout.height_offset &&
         layout.height_offset + 2 <= layout.pixel_offset;
}));

struct Image {
  std::uint16_t width = 0, height = 0;
  ByteView pixels;  // 4 * width * height bytes inside the source
};

enum class ImageStatus {
  found,
  unsupported,       // empty, or a layout type other than 2, 3 or 4
  truncated_fields,  // the file ends before its width and height
  truncated_pixels,  // the file ends before the last of its pixel bytes
};

struct ImageLookup {
  ImageStatus status = ImageStatus::unsupported;
  Image image;               // found; width and height also for truncated_pixels
  std::uint64_t needed = 0;  // truncated: the length the file would need
};

// The image of a loaded source, when the source holds all of it.
ImageLookup find_image(ByteView source);

// How the source is stored: "layout 2", "layout 3" or "layout 4"; "unknown layout".
std::string layout(ByteView source);

// Converts one loaded source into NAME.tga, or prints "unsupported NAME" for a layout it does not
// know. True when the image was written.
bool convert_m32(ByteView source, const std::string& name, const Sink& sink);

}  // namespace texport::m32
