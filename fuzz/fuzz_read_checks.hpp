// What every image read must hold, whatever the file: an image or a reason, never both; sizes
// within the limits; exactly the pixel bytes its size and channels take; a palette index for
// every entry used.
#pragma once

#include <algorithm>

#include "fuzz_checks.hpp"
#include "io/image_read.hpp"

namespace texport::fuzz {

TEXPORT_FUZZ_REFERENCE inline void check_read(const ReadResult& result) {
  check(result.image.has_value() == result.problem.empty());
  if (!result.image)
    return;
  const ReadImage& image = *result.image;
  const std::uint64_t pixels = std::uint64_t{image.width} * image.height;
  check(image.width <= kMaxReadSide && image.height <= kMaxReadSide && pixels <= kMaxReadPixels);
  check(image.pixels.size() == pixels * bytes_per_pixel(image.channels));
  if (image.channels != Channels::indexed) {
    check(image.palette.empty());
    return;
  }
  check(image.palette.size() % 3 == 0 && image.palette.size() <= 768);
  check(std::all_of(image.pixels.begin(), image.pixels.end(),
                    [&](std::uint8_t index) { return index < image.palette.size() / 3; }));
}

}  // namespace texport::fuzz
