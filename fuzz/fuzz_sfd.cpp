// .sfd: layer unpacking against a plain byte-at-a-time decoder, and the frame walk.
#include <cstdint>
#include <cstdlib>

#include "convert/sfd.hpp"
#include "fuzz_checks.hpp"

namespace {

using namespace texport;
using texport::fuzz::inside;

// The packed stream decoded the slowest, plainest way, as the independent reference.
Bytes reference_unpack(ByteView packed) {
  Bytes out;
  if (packed.size() < 8)
    return out;
  const int sign = static_cast<std::uint8_t>(packed[7] - 2);
  for (std::size_t at = 6; at < packed.size();) {
    const int byte = packed[at];
    if (byte >= sign && byte <= sign + 30) {
      if (at + 1 >= packed.size())
        break;
      out.insert(out.end(), static_cast<std::size_t>(byte - sign + 1), packed[at + 1]);
      at += 2;
    } else {
      out.push_back(packed[at]);
      at += 1;
    }
  }
  return out;
}

// Keeps each input cheap: layers past this are refused, as past 2 GiB in the tool.
constexpr std::uint64_t kFuzzLayerLimit = 1u << 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView input(data, size);
  if (sfd::is_packed(input)) {
    const std::uint64_t length = sfd::unpacked_length(input);
    if (length <= kFuzzLayerLimit) {
      Bytes unpacked(static_cast<std::size_t>(length));
      sfd::unpack_into(input, unpacked);
      if (unpacked != reference_unpack(input))
        std::abort();
    }
  }

  Bytes storage;
  const sfd::Layers layers = sfd::unpack_layers(input, storage, kFuzzLayerLimit);
  if (layers.refused_length != 0) {
    if (layers.refused_length <= kFuzzLayerLimit)
      std::abort();
    return 0;
  }
  const ByteView container = layers.container;
  if (sfd::is_packed(container))
    std::abort();
  // Every frame found lies wholly inside the container and is width x height bytes.
  for (std::uint64_t number = 1; number <= 1u << 16; ++number) {
    const sfd::FrameLookup lookup = sfd::find_frame(container, number);
    if (lookup.status != sfd::FrameStatus::found)
      break;
    const sfd::Frame& frame = lookup.frame;
    if (frame.pixels.size() != std::size_t{frame.width} * frame.height)
      std::abort();
    if (!frame.pixels.empty() && !inside(frame.pixels, container))
      std::abort();
  }
  return 0;
}
