#include "io/png.hpp"

namespace texport {

std::uint64_t png_length_bound(const Picture& picture) {
  // A filter byte a row; a deflate stream that does not compress grows by at most an eighth
  // (fixed codes of 9 bits); chunk headers every 4 kB at the most; the signature, the header,
  // the palette and the end.
  const std::uint64_t raw = std::uint64_t{picture.height} *
                            (1 + std::uint64_t{picture.width} * bytes_per_pixel(picture.kind) *
                                     (picture.kind == PixelKind::indexed ? 3 : 1));
  return raw + raw / 8 + raw / 4096 * 12 + 2048 + kPaletteLength;
}

}  // namespace texport
