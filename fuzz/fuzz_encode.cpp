// Both run-length encoders: what each writes decodes back to its input, our encoder writes it
// again from that, and it refuses exactly the inputs no stream with that sign can hold. Byte 0
// chooses the grammar, byte 1 the sign; the rest is the data.
#include <cstdint>

#include "convert/rebuild.hpp"
#include "convert/sfd.hpp"
#include "convert/tex.hpp"
#include "fuzz_checks.hpp"

namespace {

using namespace texport;
using texport::fuzz::check;

// .sfd: the data starts with a run of S + 2, or with a literal followed by what byte 7 reads as
// (three copies of one value behind the run code S + 2, nothing behind it as the last byte, or
// the literal S + 2 itself for S of 254 and 255).
TEXPORT_FUZZ_REFERENCE bool reference_packable(ByteView data, int sign) {
  const auto is_code = [&](int byte) { return byte >= sign && byte <= sign + 30; };
  const int second = (sign + 2) % 256;
  if (data.empty() || data[0] == second)
    return !data.empty();
  if (is_code(data[0]))
    return false;
  if (!is_code(second))
    return data.size() >= 2 && data[1] == second;
  return data.size() == 1 || (data.size() >= 4 && data[1] == data[2] && data[2] == data[3]);
}

// .tex with S = 0, which has no escape: a value below 30 between two other values.
TEXPORT_FUZZ_REFERENCE bool reference_lone_code(ByteView pixels) {
  for (std::size_t i = 0; i < pixels.size(); ++i)
    if (pixels[i] < 30 && (i == 0 || pixels[i - 1] != pixels[i]) &&
        (i + 1 == pixels.size() || pixels[i + 1] != pixels[i]))
      return true;
  return false;
}

void check_sfd(ByteView data, std::uint8_t sign) {
  const std::uint8_t header[sfd::kStreamOffset] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  const std::optional<Bytes> layer = sfd::pack_layer(data, sign, header);
  check(layer.has_value() == reference_packable(data, sign));
  if (!layer)
    return;
  const Bytes& packed = *layer;
  check(packed.size() > sfd::kSignOffset && packed[0] == 0x11 && packed[1] == 1 &&
        packed[2] == 0x33 && packed[5] == 0x66 && packed[7] == static_cast<std::uint8_t>(sign + 2));
  Bytes unpacked(sfd::unpacked_length(packed));
  sfd::unpack_into(packed, unpacked);
  check(std::ranges::equal(unpacked, data));
  check(sfd::pack_layer(unpacked, sign, header) == layer);
}

void check_tex(ByteView pixels, std::uint8_t sign) {
  const std::optional<Bytes> stream = tex::pack_stream(pixels, sign);
  check(stream.has_value() == (sign != 0 || !reference_lone_code(pixels)));
  if (!stream)
    return;
  Bytes source(tex::kStreamOffset, 0);
  source.insert(source.end(), stream->begin(), stream->end());
  Bytes decoded(pixels.size());
  const tex::DecodeResult result = tex::decode_stream(source, sign, decoded.size(), decoded);
  check(result.end == tex::StreamEnd::source_exhausted &&
        result.position == static_cast<std::int64_t>(pixels.size()));
  check(std::ranges::equal(decoded, pixels));
  check(tex::pack_stream(decoded, sign) == stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2)
    return 0;
  const ByteView input(data + 2, size - 2);
  if (data[0] % 2 == 0)
    check_sfd(input, data[1]);
  else
    check_tex(input, data[1]);
  return 0;
}
