// The tool's own layouts read back, against a plain reading. The first byte picks TIF, TGA or BMP
// and the next two a size (below 64 on each side); the rest fills a file of exactly the native
// length, whose size fields (and, for BMP, bits and pixel offset) are then set. Whatever its
// header says besides, it reads as the layout holds it. The input itself, under each name, must
// give a result that holds together.
#include <cstdint>

#include "fuzz_read_checks.hpp"

using namespace texport;
using texport::fuzz::check;

namespace {

void put_u16(Bytes& file, std::size_t at, unsigned value) {
  file[at] = static_cast<std::uint8_t>(value);
  file[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

TEXPORT_FUZZ_REFERENCE ReadImage plain_reading(int kind, const Bytes& file, unsigned w,
                                               unsigned h) {
  ReadImage image{.width = w, .height = h};
  if (kind == 0) {
    image.pixels.assign(file.begin() + 1706, file.begin() + 1706 + w * h);
  } else if (kind == 1) {
    image.channels = Channels::rgba;
    for (std::size_t at = 18; at < file.size(); at += 4)
      image.pixels.insert(image.pixels.end(), {file[at + 2], file[at + 1], file[at], file[at + 3]});
  } else {
    image.channels = Channels::indexed;
    for (std::size_t entry = 0; entry < 256; ++entry)
      for (std::size_t colour = 0; colour < 3; ++colour)
        image.palette.push_back(file[54 + 4 * entry + 2 - colour]);
    for (std::size_t row = 0; row < h; ++row)
      for (std::size_t x = 0; x < w; ++x)
        image.pixels.push_back(file[1078 + (h - 1 - row) * w + x]);
  }
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView input(data, size);
  for (const char* name : {"image.tif", "image.tga", "image.bmp"})
    fuzz::check_read(read_image(input, name));
  if (size < 3)
    return 0;

  const int kind = data[0] % 3;
  const unsigned w = data[1] % 64, h = data[2] % 64;
  const std::size_t length = kind == 0 ? 1707 + w * h : kind == 1 ? 18 + 4 * w * h : 1079 + w * h;
  Bytes file(length, 0);
  for (std::size_t at = 0; at < length && 3 + at < size; ++at)
    file[at] = data[3 + at];
  if (kind == 0) {
    put_u16(file, 30, w);
    put_u16(file, 42, h);
    file.back() = 0;
  } else if (kind == 1) {
    put_u16(file, 12, w);
    put_u16(file, 14, h);
    file[16] = 32;
  } else {
    put_u16(file, 18, w);
    put_u16(file, 22, h);
    put_u16(file, 28, 8);
    put_u16(file, 10, 1078);
    put_u16(file, 12, 0);
    file.back() = 0;
  }
  const ReadResult result = read_image(file, kind == 0   ? "image.tif"
                                             : kind == 1 ? "image.tga"
                                                         : "image.bmp");
  fuzz::check_read(result);
  check(result.image && *result.image == plain_reading(kind, file, w, h));
  return 0;
}
