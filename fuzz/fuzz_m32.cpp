// .m32: image lookup against a plain reading of the layouts, and the red/blue exchange.
#include <cstdint>
#include <cstdlib>

#include "convert/m32.hpp"
#include "fuzz_checks.hpp"
#include "io/native.hpp"

using namespace texport;
using texport::fuzz::check;
using texport::fuzz::is_at;
using texport::fuzz::u16_at;

namespace {

// Bytes 0 and 2 of every pixel exchanged, 1 and 3 kept, pixels (and so rows) in their order.
TEXPORT_FUZZ_REFERENCE bool exchanged_right(ByteView pixels, ByteView out) {
  for (std::size_t at = 0; at < out.size(); at += 4)
    if (out[at] != pixels[at + 2] || out[at + 1] != pixels[at + 1] || out[at + 2] != pixels[at] ||
        out[at + 3] != pixels[at + 3])
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView source(data, size);
  const m32::ImageLookup lookup = m32::find_image(source);

  // Type byte 2, 3 or 4: width, height and pixels at the layout's offsets; anything else (or an
  // empty file) unsupported.
  const m32::Layout* layout = nullptr;
  for (const m32::Layout& known : m32::kLayouts)
    if (size >= 1 && data[0] == known.type)
      layout = &known;
  if (layout == nullptr) {
    check(lookup.status == m32::ImageStatus::unsupported);
    return 0;
  }
  if (size < layout->height_offset + 2) {
    check(lookup.status == m32::ImageStatus::truncated_fields &&
          lookup.needed == layout->height_offset + 2);
    return 0;
  }
  const unsigned x = u16_at(source, layout->width_offset);
  const unsigned y = u16_at(source, layout->height_offset);
  check(lookup.image.width == x && lookup.image.height == y);
  const std::uint64_t length = std::uint64_t{4} * x * y;
  if (length != 0 && size < layout->pixel_offset + length) {
    check(lookup.status == m32::ImageStatus::truncated_pixels &&
          lookup.needed == layout->pixel_offset + length && lookup.needed > size);
    return 0;
  }
  check(lookup.status == m32::ImageStatus::found);
  const ByteView pixels = lookup.image.pixels;
  check(length == 0
            ? pixels.empty()
            : is_at(pixels, source, layout->pixel_offset, static_cast<std::size_t>(length)));

  Bytes out(pixels.size());
  exchange_red_blue(pixels, out);
  check(exchanged_right(pixels, out));
  return 0;
}
