#include "convert/sfd.hpp"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "convert/byte_scan.hpp"
#include "io/file_io.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"

namespace texport::sfd {
namespace {

struct RunCodes {
  std::uint8_t sign;
  std::uint8_t span;  // run codes are sign .. sign + span, inside 0..255

  bool is_run(std::uint8_t byte) const { return ByteRange{sign, span}.contains(byte); }
  std::size_t copies(std::uint8_t code) const {
    return static_cast<std::size_t>(static_cast<std::uint8_t>(code - sign)) + 1;
  }
  // The first run code in [from, end), or end.
  const std::uint8_t* next_run(const std::uint8_t* from, const std::uint8_t* end) const {
    return ByteRange{sign, span}.find_in(from, end);
  }
};

RunCodes run_codes_of(ByteView packed) {
  const auto sign = static_cast<std::uint8_t>(packed[kSignOffset] - kSignBias);
  const unsigned room = 255u - sign;
  return {sign, static_cast<std::uint8_t>(std::min(kLongestRunCode, room))};
}

bool has_stream(ByteView packed) {
  return packed.size() > kSignOffset;
}

}  // namespace

bool is_packed(ByteView data) {
  return data.size() > kFormFlagOffset && data[kFormFlagOffset] == kPackedFlag;
}

std::uint64_t unpacked_length(ByteView packed) {
  if (!has_stream(packed))
    return 0;
  const RunCodes codes = run_codes_of(packed);
  const std::uint8_t* const end = packed.data() + packed.size();
  const std::uint8_t* in = packed.data() + kStreamOffset;
  std::uint64_t length = 0;
  while (in != end) {
    const std::uint8_t* run = codes.next_run(in, end);
    length += static_cast<std::uint64_t>(run - in);
    if (end - run < 2)
      break;  // no run, or a run code without its value byte
    length += codes.copies(run[0]);
    in = run + 2;
  }
  return length;
}

void unpack_into(ByteView packed, MutableBytes out) {
  if (!has_stream(packed))
    return;
  const RunCodes codes = run_codes_of(packed);
  const std::uint8_t* const end = packed.data() + packed.size();
  const std::uint8_t* in = packed.data() + kStreamOffset;
  std::uint8_t* to = out.data();
  std::uint8_t* const to_end = out.data() + out.size();
  while (in != end) {
    // The literals before the next run code in one copy, then the run in one fill.
    const std::uint8_t* run = codes.next_run(in, end);
    const auto literals = static_cast<std::size_t>(run - in);
    if (literals > static_cast<std::size_t>(to_end - to))
      std::abort();
    if (literals != 0)
      std::memcpy(to, in, literals);
    to += literals;
    if (end - run < 2)
      break;
    const std::size_t copies = codes.copies(run[0]);
    if (copies > static_cast<std::size_t>(to_end - to))
      std::abort();
    std::memset(to, run[1], copies);
    to += copies;
    in = run + 2;
  }
}

Bytes unpack(ByteView packed) {
  Bytes out(unpacked_length(packed));
  unpack_into(packed, out);
  return out;
}

Layers unpack_layers(ByteView source, Bytes& storage, std::uint64_t limit) {
  // Layers can nest without limit: a loop, not recursion, keeping only the layer in hand.
  ByteView data = source;
  while (is_packed(data)) {
    const std::uint64_t length = unpacked_length(data);
    if (length > limit)
      return {data, length};
    Bytes next(static_cast<std::size_t>(length));
    unpack_into(data, next);
    storage = std::move(next);
    data = storage;
  }
  return {data, 0};
}

FrameLookup find_frame(ByteView container, std::uint64_t number) {
  FrameLookup result;
  result.status = FrameStatus::out_of_range;
  if (!fits(container, kCountOffset, 4))
    return result;
  if (number == 0 || number > read_u32le(container, kCountOffset)) {
    result.status = FrameStatus::no_more_frames;
    return result;
  }
  const std::uint64_t entry = kOffsetEntrySize * number;
  if (!fits(container, entry, kOffsetEntrySize))
    return result;
  const std::uint64_t offset = read_u32le(container, static_cast<std::size_t>(entry));
  if (!fits(container, offset, kFrameHeaderSize))
    return result;
  const auto header = static_cast<std::size_t>(offset);
  const std::uint16_t width = read_u16le(container, header + kFrameWidthOffset);
  const std::uint16_t height = read_u16le(container, header + kFrameHeightOffset);
  const std::uint64_t pixel_count = static_cast<std::uint64_t>(width) * height;
  if (!fits(container, offset + kFrameHeaderSize, pixel_count))
    return result;
  result.status = FrameStatus::found;
  result.frame = {
      width, height,
      container.subspan(header + kFrameHeaderSize, static_cast<std::size_t>(pixel_count))};
  return result;
}

namespace {

void write_frame(const Frame& frame, const std::string& output_name) {
  std::optional<Bytes> out =
      start_output(kTifTemplate, frame.width, frame.height, frame.pixels.size(), output_name);
  if (!out)
    return;
  std::copy(frame.pixels.begin(), frame.pixels.end(),
            out->begin() + static_cast<std::ptrdiff_t>(kTifTemplate.header_length));
  write_whole_file(*out, output_name);
}

}  // namespace

void convert_sfd(ByteView source, const std::string& name) {
  Bytes storage;
  const Layers layers = unpack_layers(source, storage);
  if (layers.refused_length != 0) {
    report_problem(name, "refused: a packed layer unpacks to " +
                             std::to_string(layers.refused_length) + " bytes, 2 GiB or more");
    return;
  }
  const ByteView data = layers.container;
  for (std::uint64_t number = 1;; ++number) {
    const FrameLookup lookup = find_frame(data, number);
    if (lookup.status == FrameStatus::no_more_frames)
      return;
    if (lookup.status == FrameStatus::out_of_range) {
      std::cout << "out of range, compressed? frame " << number << " in file " << name << "\n"
                << std::flush;
      return;
    }
    write_frame(lookup.frame, name + std::to_string(number) + ".tif");
  }
}

}  // namespace texport::sfd
