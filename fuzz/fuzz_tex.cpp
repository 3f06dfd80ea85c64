// .tex: the header, the plain copy and the packed-stream decoder, the decoder checked against a
// plain byte-at-a-time reading of the stream and against its own traced run.
#include <cstdint>
#include <cstdlib>

#include "convert/tex.hpp"

namespace {

using namespace texport;

// The stream decoded the slowest, plainest way, as the independent reference.
Bytes reference_decode(ByteView source, int sign, std::uint64_t limit) {
  Bytes out(static_cast<std::size_t>(limit), 0);
  std::int64_t position = -2;
  const auto full = [&] { return position >= 0 && static_cast<std::uint64_t>(position) == limit; };
  for (std::size_t i = 23; i < source.size(); ++i) {
    const int byte = source[i];
    if (sign >= 1 && byte == sign - 1) {
      if (++i == source.size() || full())
        break;
      if (position >= 0)
        out[static_cast<std::size_t>(position)] = source[i];
      ++position;
    } else if (byte >= sign && byte <= sign + 29) {
      if (i + 1 == source.size())
        break;
      ++i;
      for (int copy = 0; copy <= byte - sign + 1 && !full(); ++copy) {
        if (position >= 0)
          out[static_cast<std::size_t>(position)] = source[i];
        ++position;
      }
    } else {
      if (full())
        break;
      if (position >= 0)
        out[static_cast<std::size_t>(position)] = source[i];
      ++position;
    }
  }
  return out;
}

constexpr std::uint64_t kFuzzPixelLimit = 1u << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView source(data, size);
  const tex::Header header = tex::read_header(source);
  const std::uint64_t count = tex::pixel_count(header);
  if (count > kFuzzPixelLimit)
    return 0;
  if (header.layout == tex::Layout::plain) {
    Bytes pixels(static_cast<std::size_t>(count), 0);
    tex::copy_plain_pixels(source, pixels);
    for (std::size_t i = 0; i < pixels.size(); ++i)
      if (pixels[i] != (20 + i < size ? data[20 + i] : 0))
        std::abort();
    return 0;
  }
  if (header.layout != tex::Layout::packed)
    return 0;
  Bytes pixels(static_cast<std::size_t>(count), 0);
  const tex::DecodeResult result = tex::decode_stream(source, header.sign, pixels);
  if (result.position < -2 ||
      (result.position > 0 && static_cast<std::uint64_t>(result.position) > count))
    std::abort();
  if (pixels != reference_decode(source, header.sign, count))
    std::abort();
  // With a trace attached the decoder must do exactly the same.
  Bytes traced(static_cast<std::size_t>(count), 0);
  std::size_t events = 0;
  const tex::DecodeResult traced_result =
      tex::decode_stream(source, header.sign, traced, [&](const tex::TraceEvent&) { ++events; });
  if (traced != pixels || traced_result.end != result.end ||
      traced_result.position != result.position)
    std::abort();
  return 0;
}
