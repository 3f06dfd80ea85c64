// Both run-length encoders: each writes what a plain byte-at-a-time greedy encoding writes, which
// decodes back to its input, and refuses exactly the inputs no stream with that sign can hold.
// Byte 0 chooses the grammar, byte 1 the sign; the rest is the data.
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

// The run of equal bytes at `at`, at most `longest` long.
TEXPORT_FUZZ_REFERENCE std::size_t run_at(ByteView data, std::size_t at, std::size_t longest) {
  std::size_t run = 1;
  while (at + run < data.size() && run < longest && data[at + run] == data[at])
    ++run;
  return run;
}

// .sfd, the plainest way: the first bytes that put S + 2 at byte 7, then runs of 3 or more and of
// run codes as runs, everything else as literals.
TEXPORT_FUZZ_REFERENCE Bytes reference_sfd_stream(ByteView data, int sign) {
  const auto is_code = [&](int byte) { return byte >= sign && byte <= sign + 30; };
  const int second = (sign + 2) % 256;
  const std::size_t longest = std::min(30, 255 - sign) + 1;
  Bytes stream;
  std::size_t at = 0;
  const auto run = [&](std::size_t count) {
    stream.push_back(static_cast<std::uint8_t>(sign + count - 1));
    stream.push_back(data[at]);
    at += count;
  };
  if (data[0] == second) {
    run(run_at(data, 0, longest));
  } else {
    stream = {data[0], static_cast<std::uint8_t>(second)};
    at = is_code(second) ? std::min<std::size_t>(data.size(), 4) : 2;
    if (at == 4)
      stream.push_back(data[1]);
  }
  while (at < data.size()) {
    const std::size_t count = run_at(data, at, longest);
    if (count >= 3 || is_code(data[at]))
      run(count);
    else
      stream.push_back(data[at++]);
  }
  return stream;
}

// .tex, the plainest way: runs of 2 or more (with S = 0 cut short of leaving one run code
// alone), lone run codes and escapes behind an escape, everything else as literals.
TEXPORT_FUZZ_REFERENCE Bytes reference_tex_stream(ByteView pixels, int sign) {
  const std::size_t longest = std::min(29, 255 - sign) + 2;
  Bytes stream{static_cast<std::uint8_t>(sign), 0};
  for (std::size_t at = 0; at < pixels.size();) {
    const int value = pixels[at];
    std::size_t count = run_at(pixels, at, longest);
    if (sign == 0 && count == longest && run_at(pixels, at, longest + 2) == longest + 1)
      --count;
    if (count >= 2)
      stream.push_back(static_cast<std::uint8_t>(sign + count - 2));
    else if (value >= sign - 1 && value <= sign + 29)
      stream.push_back(static_cast<std::uint8_t>(sign - 1));
    stream.push_back(pixels[at]);
    at += count;
  }
  return stream;
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
  check(std::ranges::equal(ByteView(packed).subspan(sfd::kStreamOffset),
                           reference_sfd_stream(data, sign)));
  Bytes unpacked(sfd::unpacked_length(packed));
  sfd::unpack_into(packed, unpacked);
  check(std::ranges::equal(unpacked, data));
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
  check(*stream == reference_tex_stream(pixels, sign));
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
