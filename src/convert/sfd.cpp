#include "convert/sfd.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>

#include "convert/byte_scan.hpp"
#include "io/report.hpp"

namespace texport::sfd {
namespace {

// The run codes of a form long enough to hold its sign: S to S + 30 (at most 255), code c standing
// for c - S + 1 copies.
PairCodes run_codes(ByteView packed) {
  const auto sign = static_cast<std::uint8_t>(packed[kSignOffset] - kSignBias);
  return {{sign, static_cast<std::uint8_t>(std::min(kLongestRunCode, 255u - sign))},
          static_cast<std::uint8_t>(sign - 1)};
}

// Walks the stream from `in` to `end` exactly: the literals before each run code in one stretch,
// then the run. A run code without its value byte ends it.
template <typename Literals, typename Run>
void walk_stream(const PairCodes& codes, const std::uint8_t* in, const std::uint8_t* end,
                 Literals literals, Run run) {
  while (in != end) {
    const std::uint8_t* const code = codes.range.find_in(in, end);
    literals(in, static_cast<std::size_t>(code - in));
    if (end - code < 2)
      return;
    run(codes.copies(code[0]), code[1]);
    in = code + 2;
  }
}

}  // namespace

bool is_packed(ByteView data) {
  return data.size() > kFormFlagOffset && data[kFormFlagOffset] == kPackedFlag;
}

std::uint64_t unpacked_length(ByteView packed) {
  if (packed.size() <= kSignOffset)
    return 0;
  const PairCodes codes = run_codes(packed);
  const std::uint8_t* in = packed.data() + kStreamOffset;
  const std::uint8_t* const end = packed.data() + packed.size();
  std::uint64_t carry = 0;
  std::uint64_t length =
      count_blocks(in, end, codes, carry, std::numeric_limits<std::uint64_t>::max());
  walk_stream(
      codes, in + carry, end, [&](const std::uint8_t*, std::size_t count) { length += count; },
      [&](std::size_t count, std::uint8_t) { length += count; });
  return length;
}

void unpack_into(ByteView packed, MutableBytes out) {
  if (packed.size() <= kSignOffset)
    return;
  const PairCodes codes = run_codes(packed);
  const std::uint8_t* in = packed.data() + kStreamOffset;
  const std::uint8_t* const end = packed.data() + packed.size();
  std::uint64_t carry = 0;
  // Whole blocks while both buffers have the room a block may touch, then the rest exactly.
  std::size_t at = fill_blocks(in, end, out.data(), out.size(), codes, carry, kFillInput);
  // Every piece of the rest is checked against the length counted before. Short pieces, the
  // common case, are copied or filled 16 or 32 bytes at once where both buffers have the room; the
  // bytes past a piece are overwritten by the next one.
  walk_stream(
      codes, in + carry, end,
      [&](const std::uint8_t* literals, std::size_t count) {
        require_fits(out.size(), at, count);
        if (count <= 16 && end - literals >= 16 && out.size() - at >= 16)
          std::memcpy(out.data() + at, literals, 16);
        else if (count != 0)
          std::memcpy(out.data() + at, literals, count);
        at += count;
      },
      [&](std::size_t count, std::uint8_t value) {
        static_assert(kLongestRunCode + 1 <= 32, "32 bytes hold the longest run");
        require_fits(out.size(), at, count);
        std::memset(out.data() + at, value, out.size() - at >= 32 ? 32 : count);
        at += count;
      });
}

Layers unpack_layers(ByteView source, LayerStorage& storage, std::uint64_t layer_limit,
                     std::uint64_t total_limit) {
  // Layers nest without limit: a loop, not recursion, keeping only the layer in hand.
  ByteView data = source;
  std::uint64_t total = 0;
  std::size_t depth = 0;
  for (; is_packed(data); ++depth) {
    const std::uint64_t length = unpacked_length(data);
    total += length;
    if (length > layer_limit)
      return {data, depth, length, false};
    if (total > total_limit)
      return {data, depth, total, true};
    // Not zeroed first: unpacking fills every byte of the length it counted.
    FilledBytes next(static_cast<std::size_t>(length));
    unpack_into(data, next);
    storage = std::move(next);
    data = storage;
  }
  return {data, depth, 0, false};
}

namespace {

// Frame `number` of a frame container of `size` bytes, whose bytes `read(offset, length)` gives
// (they lie inside), or an empty view when they could not be read. The pixels are not read.
template <typename Read>
FrameLookup look_up_frame(std::uint64_t size, const Read& read, std::uint64_t number) {
  if (!fits(size, kCountOffset, 4))
    return {FrameStatus::out_of_range, {}, kCountOffset + 4};
  const ByteView count = read(kCountOffset, 4);
  if (count.empty())
    return {FrameStatus::unreadable, {}};
  if (number == 0 || number > read_u32le(count, 0))
    return {FrameStatus::no_more_frames, {}};
  const std::uint64_t entry = kOffsetEntrySize * number;
  if (!fits(size, entry, kOffsetEntrySize))
    return {FrameStatus::out_of_range, {}, entry + kOffsetEntrySize};
  const ByteView entry_bytes = read(entry, kOffsetEntrySize);
  if (entry_bytes.empty())
    return {FrameStatus::unreadable, {}};
  const std::uint64_t offset = read_u32le(entry_bytes, 0);
  if (!fits(size, offset, kFrameHeaderSize))
    return {FrameStatus::out_of_range, {}, offset + kFrameHeaderSize};
  const ByteView header = read(offset, kFrameHeaderSize);
  if (header.empty())
    return {FrameStatus::unreadable, {}};
  const std::uint16_t width = read_u16le(header, kFrameWidthOffset);
  const std::uint16_t height = read_u16le(header, kFrameHeightOffset);
  const std::uint64_t pixel_count = std::uint64_t{width} * height;
  if (!fits(size, offset + kFrameHeaderSize, pixel_count))
    return {
        FrameStatus::out_of_range, {width, height, {}}, offset + kFrameHeaderSize + pixel_count};
  return {FrameStatus::found, {width, height, {}, offset + kFrameHeaderSize}};
}

}  // namespace

FrameLookup find_frame(ByteView container, std::uint64_t number) {
  FrameLookup lookup = look_up_frame(
      container.size(),
      [&](std::uint64_t offset, std::size_t length) {
        return container.subspan(static_cast<std::size_t>(offset), length);
      },
      number);
  if (lookup.status == FrameStatus::found)
    lookup.frame.pixels = container.subspan(static_cast<std::size_t>(lookup.frame.pixels_at),
                                            std::size_t{lookup.frame.width} * lookup.frame.height);
  return lookup;
}

namespace {

Picture picture_of(const Frame& frame) {
  return {.kind = PixelKind::grey,
          .width = frame.width,
          .height = frame.height,
          .pixels = frame.pixels,
          .noun = "frames"};
}

std::string frame_name(const std::string& name, std::uint64_t number) {
  return name + std::to_string(number) + ".tif";
}

}  // namespace

std::string layout(ByteView source) {
  LayerStorage storage;
  const std::size_t depth = unpack_layers(source, storage).depth;
  return depth == 0 ? "plain" : "packed, " + counted(depth, "layer") + " deep";
}

namespace {

// Writes every frame that `look_up(number)` finds, up to the first one out of range, which gets
// the out-of-range line: true when every frame was written.
template <typename LookUp, typename MakePicture>
bool write_frames(std::uint64_t container_size, std::size_t depth, const LookUp& look_up,
                  const MakePicture& picture, const std::string& name, const Sink& sink) {
  const EachPicture frames = [&](const auto& visit) {
    FrameLookup lookup;
    for (std::uint64_t number = 1; (lookup = look_up(number)).status == FrameStatus::found;
         ++number)
      visit(picture(lookup.frame), frame_name(name, number));
  };
  if (!sink.make_room(name, frames))
    return false;
  // Every frame is tried, even once the disk is full: a smaller one may still fit.
  std::uint64_t number = 1, written = 0, disk_full = 0;
  FrameLookup lookup;
  for (; (lookup = look_up(number)).status == FrameStatus::found; ++number) {
    const Written result = sink.write(picture(lookup.frame), frame_name(name, number));
    written += result == Written::yes;
    disk_full += result == Written::disk_full;
  }
  if (disk_full != 0)
    sink.report(name, Problem::cannot,
                "write " + std::to_string(disk_full) + " of " + counted(number - 1, "frame") +
                    ": the disk is full");
  if (lookup.status == FrameStatus::unreadable) {
    sink.report(name, Problem::cannot, "read: " + lookup.error.message());
    return false;
  }
  if (lookup.status == FrameStatus::out_of_range) {
    sink.print("out of range, compressed? frame " + std::to_string(number) + " in file ", name);
    sink.report(name, Problem::damaged,
                (depth != 0 ? "unpacked to " : "") +
                    too_few(container_size,
                            lookup.needed == kCountOffset + 4 ? "its frame count"
                                                              : "frame " + std::to_string(number),
                            lookup.needed));
    return false;
  }
  return written == number - 1;
}

}  // namespace

bool convert_sfd(ByteView source, const std::string& name, const Sink& sink) {
  LayerStorage storage;
  const Layers layers = unpack_layers(source, storage);
  if (layers.refused_length != 0) {
    sink.report(name, Problem::too_large,
                layers.over_total
                    ? "its packed layers unpack to more than 4 GiB in all"
                    : "a packed layer unpacks to " + std::to_string(layers.refused_length) +
                          " bytes, 2 GiB or more");
    return false;
  }
  const ByteView container = layers.container;
  return write_frames(
      container.size(), layers.depth,
      [&](std::uint64_t number) { return find_frame(container, number); }, picture_of, name, sink);
}

std::optional<bool> convert_sfd_in_file(const platform::File& file, std::uint64_t size,
                                        ByteView head, const std::string& name, const Sink& sink) {
  if (is_packed(head) || !fits(head, kCountOffset, 4) ||
      !fits(head, 0, kOffsetEntrySize * (std::uint64_t{read_u32le(head, kCountOffset)} + 1)))
    return std::nullopt;
  // The count and the table come from the head; a frame header past it is read on its own.
  std::array<std::uint8_t, kFrameHeaderSize> piece{};
  std::error_code read_error;
  const auto read = [&](std::uint64_t offset, std::size_t length) -> ByteView {
    if (fits(head, offset, length))
      return head.subspan(static_cast<std::size_t>(offset), length);
    require_fits(piece.size(), 0, length);
    const MutableBytes into(piece.data(), length);
    read_error = platform::read_at(file, offset, into);
    return read_error ? ByteView() : ByteView(into);
  };
  const auto look_up = [&](std::uint64_t number) {
    FrameLookup lookup = look_up_frame(size, read, number);
    lookup.error = read_error;
    return lookup;
  };
  return write_frames(
      size, 0, look_up,
      [&](const Frame& frame) {
        Picture picture = picture_of(frame);
        picture.stored = {&file, frame.pixels_at};
        return picture;
      },
      name, sink);
}

}  // namespace texport::sfd
