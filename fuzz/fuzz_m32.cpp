// .m32: image lookup and the red/blue exchange.
#include <cstdint>
#include <cstdlib>

#include "convert/m32.hpp"
#include "fuzz_checks.hpp"

using namespace texport;
using texport::fuzz::inside;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView source(data, size);
  const m32::ImageLookup lookup = m32::find_image(source);
  if (size == 0 && lookup.status != m32::ImageStatus::unsupported)
    std::abort();
  if (lookup.status != m32::ImageStatus::found) {
    if (lookup.status != m32::ImageStatus::unsupported && lookup.needed <= size)
      std::abort();
    return 0;
  }
  const m32::Image& image = lookup.image;
  if (image.pixels.size() != std::size_t{4} * image.x * image.y)
    std::abort();
  if (!image.pixels.empty() && !inside(image.pixels, source))
    std::abort();
  Bytes out(image.pixels.size());
  m32::exchange_red_blue(image.pixels, out);
  for (std::size_t at = 0; at < out.size(); at += 4) {
    if (out[at] != image.pixels[at + 2] || out[at + 2] != image.pixels[at] ||
        out[at + 1] != image.pixels[at + 1] || out[at + 3] != image.pixels[at + 3])
      std::abort();
  }
  return 0;
}
