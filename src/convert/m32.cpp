#include "convert/m32.hpp"

#include <iostream>

#include "convert/simd.hpp"
#include "io/file_io.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"

namespace texport::m32 {

std::optional<Layout> layout_of(std::uint8_t type) {
  for (const Layout& layout : kLayouts)
    if (layout.type == type)
      return layout;
  return std::nullopt;
}

ImageLookup find_image(ByteView source) {
  ImageLookup result;
  if (!fits(source, kTypeOffset, 1))
    return result;
  const std::optional<Layout> layout = layout_of(source[kTypeOffset]);
  if (!layout)
    return result;
  if (!fits(source, 0, layout->fields_end())) {
    result.status = ImageStatus::truncated_fields;
    result.needed = layout->fields_end();
    return result;
  }
  const std::uint16_t x = read_u16le(source, layout->width_offset);
  const std::uint16_t y = read_u16le(source, layout->height_offset);
  const std::uint64_t pixel_length = std::uint64_t{kBytesPerPixel} * x * y;
  result.image.x = x;
  result.image.y = y;
  if (!fits(source, layout->pixel_offset, pixel_length)) {
    result.status = ImageStatus::truncated_pixels;
    result.needed = layout->pixel_offset + pixel_length;
    return result;
  }
  result.status = ImageStatus::found;
  result.image.pixels =
      source.subspan(layout->pixel_offset, static_cast<std::size_t>(pixel_length));
  return result;
}

void exchange_red_blue(ByteView pixels, MutableBytes out) {
  if (out.size() != pixels.size() || pixels.size() % kBytesPerPixel != 0)
    std::abort();
  static_assert(kBytesPerPixel == 4 && kRedByte == 0 && kBlueByte == 2);
  // A pixel read as a little-endian u32 is 0xAABBGGRR: keep alpha and green, swap the low and
  // the third byte. Sixteen bytes (four pixels) at a time where the processor has SSE2.
  const std::uint8_t* in = pixels.data();
  std::uint8_t* to = out.data();
  std::size_t left = pixels.size();
#ifdef TEXPORT_HAVE_SSE2
  const __m128i kept = _mm_set1_epi32(static_cast<int>(0xFF00FF00u));
  const __m128i low = _mm_set1_epi32(0xFF);
  for (; left >= 16; left -= 16, in += 16, to += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i swapped = _mm_or_si128(_mm_and_si128(v, kept),
                                         _mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), low),
                                                      _mm_slli_epi32(_mm_and_si128(v, low), 16)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), swapped);
  }
#endif
  for (; left >= kBytesPerPixel;
       left -= kBytesPerPixel, in += kBytesPerPixel, to += kBytesPerPixel) {
    to[kRedByte] = in[kBlueByte];
    to[1] = in[1];
    to[kBlueByte] = in[kRedByte];
    to[3] = in[3];
  }
}

void convert_m32(ByteView source, const std::string& name) {
  const ImageLookup lookup = find_image(source);
  const Image& image = lookup.image;
  switch (lookup.status) {
    case ImageStatus::found:
      break;
    case ImageStatus::unsupported:
      std::cout << "unsupported " << name << "\n" << std::flush;
      return;
    case ImageStatus::truncated_fields:
      report_too_short(name, source.size(), "its width and height", lookup.needed);
      return;
    case ImageStatus::truncated_pixels:
      report_too_short(name, source.size(),
                       "a " + std::to_string(image.x) + " x " + std::to_string(image.y) + " image",
                       lookup.needed);
      return;
  }
  const std::string output_name = name + ".tga";
  std::optional<Bytes> out =
      start_output(kTgaTemplate, image.x, image.y, image.pixels.size(), output_name);
  if (!out)
    return;
  exchange_red_blue(image.pixels,
                    MutableBytes(*out).subspan(kTgaTemplate.header_length, image.pixels.size()));
  write_whole_file(*out, output_name);
}

}  // namespace texport::m32
