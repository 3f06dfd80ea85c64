// .sfd: layer unpacking against a plain byte-at-a-time reading of the stream, the limits on
// layers, and the frame walk.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "convert/sfd.hpp"
#include "fuzz_checks.hpp"

namespace {

using namespace texport;
using texport::fuzz::check;
using texport::fuzz::inside;
using texport::fuzz::u16_at;
using texport::fuzz::u32_at;

// Keeps each input cheap: a layer past this, or layers past the total, are refused, as past
// 2 GiB and 4 GiB in the tool. Small, so that nested layers reach both limits within seconds of
// fuzzing and still cost little; a single layer is compared with the reference up to its own,
// larger limit.
constexpr std::uint64_t kFuzzLayerLimit = 1u << 14;
constexpr std::uint64_t kFuzzTotalLimit = 1u << 15;
constexpr std::uint64_t kFuzzSingleLayerLimit = 1u << 24;

TEXPORT_FUZZ_REFERENCE bool reference_is_packed(ByteView data) {
  return data.size() >= 2 && data[1] == 1;
}

// The packed stream read the slowest, plainest way, byte by byte, as the independent reference:
// the length it unpacks to, and the unpacked bytes into `out` (that long) unless it is null.
TEXPORT_FUZZ_REFERENCE std::uint64_t reference_unpack(ByteView packed, std::uint8_t* out) {
  if (packed.size() < 8)
    return 0;
  const int sign = static_cast<std::uint8_t>(packed[7] - 2);
  std::uint64_t length = 0;
  for (std::size_t at = 6; at < packed.size();) {
    const int byte = packed[at];
    if (byte >= sign && byte <= sign + 30) {
      if (at + 1 >= packed.size())
        break;
      for (int copy = 0; copy < byte - sign + 1; ++copy, ++length)
        if (out != nullptr)
          out[length] = packed[at + 1];
      at += 2;
    } else {
      if (out != nullptr)
        out[length] = packed[at];
      ++length;
      at += 1;
    }
  }
  return length;
}

// The packed layers peeled by the reference under the same limits: the frame container, or the
// packed layer in hand when one limit was passed, with the length that passed it.
struct ReferenceLayers {
  Bytes data;
  std::uint64_t refused_length = 0;
  bool over_total = false;
};
TEXPORT_FUZZ_REFERENCE ReferenceLayers reference_layers(ByteView input) {
  ReferenceLayers layers{Bytes(input.begin(), input.end())};
  std::uint64_t total = 0;
  while (reference_is_packed(layers.data)) {
    const std::uint64_t length = reference_unpack(layers.data, nullptr);
    total += length;
    if (length > kFuzzLayerLimit || total > kFuzzTotalLimit) {
      layers.over_total = length <= kFuzzLayerLimit;
      layers.refused_length = layers.over_total ? total : length;
      return layers;
    }
    Bytes next(static_cast<std::size_t>(length));
    reference_unpack(layers.data, next.data());
    layers.data = std::move(next);
  }
  return layers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView input(data, size);
  check(sfd::is_packed(input) == reference_is_packed(input));
  if (sfd::is_packed(input)) {
    const std::uint64_t length = sfd::unpacked_length(input);
    check(length == reference_unpack(input, nullptr));
    if (length <= kFuzzSingleLayerLimit) {
      Bytes unpacked(static_cast<std::size_t>(length));
      sfd::unpack_into(input, unpacked);
      Bytes expected(static_cast<std::size_t>(length));
      reference_unpack(input, expected.data());
      check(unpacked == expected);
    }
  }

  sfd::LayerStorage storage;
  const sfd::Layers layers = sfd::unpack_layers(input, storage, kFuzzLayerLimit, kFuzzTotalLimit);
  const ReferenceLayers expected = reference_layers(input);
  check(layers.refused_length == expected.refused_length &&
        layers.over_total == expected.over_total);
  check(std::equal(layers.container.begin(), layers.container.end(), expected.data.begin(),
                   expected.data.end()));
  if (layers.refused_length != 0)
    return 0;
  const ByteView container = layers.container;

  // Every frame found lies wholly inside the container, its header where the offset table points,
  // its pixels exactly width x height bytes right behind that 8-byte header. The walk ends at the
  // frame count, or earlier at a frame out of range.
  for (std::uint64_t number = 1; number <= 1u << 16; ++number) {
    const sfd::FrameLookup lookup = sfd::find_frame(container, number);
    if (lookup.status != sfd::FrameStatus::found) {
      check((lookup.status == sfd::FrameStatus::no_more_frames) ==
            (container.size() >= 4 && number > u32_at(container, 0)));
      break;
    }
    const sfd::Frame& frame = lookup.frame;
    const std::size_t offset = u32_at(container, 4 * static_cast<std::size_t>(number));
    check(frame.width == u16_at(container, offset) &&
          frame.height == u16_at(container, offset + 2));
    check(frame.pixels.size() == std::size_t{frame.width} * frame.height);
    check(frame.pixels.data() == container.data() + offset + 8 && inside(frame.pixels, container));
  }
  return 0;
}
