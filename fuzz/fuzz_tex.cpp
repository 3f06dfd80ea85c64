// .tex: the header, the plain copy and the packed-stream decoder, each checked against a plain
// byte-at-a-time reading; the decoder also without pixels, which must follow the stream alike.
#include <cstdint>
#include <cstdlib>

#include "convert/tex.hpp"
#include "fuzz_checks.hpp"

namespace {

using namespace texport;
using texport::fuzz::check;
using texport::fuzz::u16_at;

// The form test and the header fields, read the plainest way.
TEXPORT_FUZZ_REFERENCE tex::Header reference_header(ByteView source) {
  if (source.size() < 4)
    return {tex::Layout::too_short};
  const auto a = u16_at(source, 0);
  const auto b = u16_at(source, 2);
  if (source.size() >= std::uint64_t{a} * b)
    return {tex::Layout::plain, static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b)};
  if ((source.size() > 4 && source[4] != 0) || (source.size() > 5 && source[5] != 0))
    return {tex::Layout::packed_rejected};
  if (source.size() < 16)
    return {tex::Layout::packed_too_short};
  return {tex::Layout::packed, static_cast<std::uint16_t>(u16_at(source, 6)),
          static_cast<std::uint16_t>(u16_at(source, 8)), source[15]};
}

// The stream decoded the slowest, plainest way, as the independent reference, one output byte at
// a time; `out` is either `limit` bytes or empty (nothing stored).
TEXPORT_FUZZ_REFERENCE tex::DecodeResult reference_decode(ByteView source, int sign,
                                                          std::uint64_t limit, Bytes& out) {
  const auto full = static_cast<std::int64_t>(limit);
  std::int64_t position = -2;
  for (std::size_t i = 23; i < source.size(); ++i) {
    const int byte = source[i];
    const bool escape = sign >= 1 && byte == sign - 1;
    const bool run = byte >= sign && byte <= sign + 29;
    if ((escape || run) && ++i == source.size())
      return {tex::StreamEnd::byte_missing, position};
    // A run stores what still fits; a literal or escaped byte that meets the full image ends it.
    const int copies = run ? byte - sign + 2 : 1;
    for (int copy = 0; copy < copies; ++copy) {
      if (position == full) {
        if (run)
          break;
        return {tex::StreamEnd::image_full, position};
      }
      if (position >= 0 && !out.empty())
        out[static_cast<std::size_t>(position)] = source[i];
      ++position;
    }
  }
  return {tex::StreamEnd::source_exhausted, position};
}

// The plain form: the pixels the source holds from offset 20, the others left at 0.
TEXPORT_FUZZ_REFERENCE bool plain_copy_right(ByteView source, ByteView pixels) {
  for (std::size_t i = 0; i < pixels.size(); ++i)
    if (pixels[i] != (20 + i < source.size() ? source[20 + i] : 0))
      return false;
  return true;
}

// Keeps each input cheap: images past this are decoded only without pixels.
constexpr std::uint64_t kFuzzPixelLimit = 1u << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView source(data, size);
  const tex::Header header = tex::read_header(source);
  const tex::Header expected = reference_header(source);
  check(header.layout == expected.layout && header.width == expected.width &&
        header.height == expected.height && header.sign == expected.sign);
  const std::uint64_t count = std::uint64_t{header.width} * header.height;

  if (header.layout == tex::Layout::plain) {
    if (count > kFuzzPixelLimit)
      return 0;
    Bytes pixels(static_cast<std::size_t>(count), 0);
    tex::copy_plain_pixels(source, pixels);
    check(plain_copy_right(source, pixels));
    return 0;
  }
  if (header.layout != tex::Layout::packed)
    return 0;

  // Without pixels, any size: the decoder follows the stream as the reference does.
  Bytes none;
  const tex::DecodeResult followed = tex::decode_stream(source, header.sign, count, {});
  const tex::DecodeResult reference = reference_decode(source, header.sign, count, none);
  check(followed.end == reference.end && followed.position == reference.position);
  check(followed.position >= -2 &&
        (followed.position < 0 || static_cast<std::uint64_t>(followed.position) <= count));
  if (count > kFuzzPixelLimit)
    return 0;

  // With pixels: the same end and position, and the reference's pixels.
  Bytes pixels(static_cast<std::size_t>(count), 0);
  const tex::DecodeResult stored = tex::decode_stream(source, header.sign, count, pixels);
  check(stored.end == followed.end && stored.position == followed.position);
  Bytes expected_pixels(static_cast<std::size_t>(count), 0);
  reference_decode(source, header.sign, count, expected_pixels);
  check(pixels == expected_pixels);
  return 0;
}
