#include <algorithm>
#include <array>
#include <compare>
#include <vector>

#include "convert/byte_scan.hpp"
#include "convert/rebuild.hpp"
#include "convert/sfd.hpp"
#include "io/report.hpp"

namespace texport::sfd {
namespace {

using rebuilding::refused;
using rebuilding::StreamOut;

ByteRange run_codes(std::uint8_t sign) {
  return {sign, static_cast<std::uint8_t>(std::min(kLongestRunCode, 255u - sign))};
}

// Writes data[from..]: runs of 3 or more, and copies of run-code values, as runs (each at most as
// long as the highest code allows); every other byte as a literal. Literal stretches are found in
// bulk: they end at the next run-code value or at three equal bytes, where runs can be that long.
void write_tokens(ByteView data, std::size_t from, std::uint8_t sign, StreamOut& out) {
  const ByteRange codes = run_codes(sign);
  const std::size_t longest = codes.span + 1u;
  const std::uint8_t* const end = data.data() + data.size();
  const std::uint8_t* code = codes.find_in(data.data() + from, end);
  for (const std::uint8_t* at = data.data() + from; at != end;) {
    if (code < at)
      code = codes.find_in(at, end);
    const std::uint8_t* run = at;
    if (longest >= 3)
      while (code - run >= 3 && !(run[0] == run[1] && run[0] == run[2]))
        ++run;
    if (longest < 3 || code - run < 3)
      run = code;
    out.literals(at, static_cast<std::size_t>(run - at));
    if (run == end)
      return;
    const std::size_t limit = std::min(static_cast<std::size_t>(end - run), longest);
    std::size_t count = 1;
    while (count < limit && run[count] == run[0])
      ++count;
    out.pair(static_cast<std::uint8_t>(sign + count - 1), run[0]);
    at = run + count;
  }
}

// What packing a layer again takes from it: its first 6 bytes and its compression sign.
struct LayerForm {
  std::array<std::uint8_t, kStreamOffset> header{};
  std::uint8_t sign = 0;
};

// The frame container of a source, and the form of each packed layer around it, outermost first:
// peeled as unpack_layers does, under the same limits, or the limit that was passed.
struct Peeled {
  Bytes storage;  // the container, when the source is packed
  ByteView container;
  std::vector<LayerForm> layers;
  std::string problem;
};

Peeled peel(ByteView source, std::uint64_t layer_limit, std::uint64_t total_limit) {
  Peeled peeled;
  ByteView data = source;
  std::uint64_t total = 0;
  for (; is_packed(data); data = peeled.storage) {
    const std::uint64_t length = unpacked_length(data);
    total += length;
    if (length > layer_limit || total > total_limit) {
      peeled.problem = length > layer_limit ? "a packed layer unpacks to " +
                                                  std::to_string(length) + " bytes, 2 GiB or more"
                                            : "its packed layers unpack to more than 4 GiB in all";
      return peeled;
    }
    LayerForm& form = peeled.layers.emplace_back();
    std::copy_n(data.begin(), std::min(data.size(), form.header.size()), form.header.begin());
    if (data.size() > kSignOffset)
      form.sign = static_cast<std::uint8_t>(data[kSignOffset] - kSignBias);
    Bytes next(static_cast<std::size_t>(length));
    unpack_into(data, next);
    peeled.storage = std::move(next);
  }
  peeled.container = data;
  return peeled;
}

// One place in the container that frames lie at: the table may point at it more than once.
struct Location {
  std::uint32_t start = 0;             // the offset of its frame header in the original
  std::uint64_t first = 0;             // the first frame, in table order, that lies there
  const Replacement* image = nullptr;  // its image from now on; null: the original's
  bool changed = false;                // that image differs from the original's
  std::uint32_t kept_from = 0;         // laid out anew: the bytes behind it start here
  std::uint32_t placed = 0;            // laid out anew: its new offset (0 until it is laid)
};

Frame frame_of(const Replacement& image) {
  return {image.width, image.height, image.pixels};
}

bool same_image(const Frame& a, const Frame& b) {
  return a.width == b.width && a.height == b.height && std::ranges::equal(a.pixels, b.pixels);
}

// Frame `number`'s location (the frame lies inside the container).
Location& location_of(ByteView container, std::vector<Location>& locations, std::uint64_t number) {
  const std::uint32_t start =
      read_u32le(container, static_cast<std::size_t>(kOffsetEntrySize * number));
  return *std::ranges::lower_bound(locations, start, {}, &Location::start);
}

std::uint64_t original_end(ByteView container, const Location& location) {
  return std::uint64_t{location.start} + kFrameHeaderSize +
         std::uint64_t{read_u16le(container, location.start + kFrameWidthOffset)} *
             read_u16le(container, location.start + kFrameHeightOffset);
}

// The first frame whose new pixels would land on bytes read for another frame (its header or
// pixels), for the frame table, or for the frame out of range that ends a damaged container; 0
// when none does. Frames that share a location are not counted: their images are the same.
std::uint64_t first_overlapping(ByteView container, std::uint64_t found, const FrameLookup& stop,
                                const std::vector<Location>& locations) {
  struct Span {
    std::uint64_t begin, end;
    auto operator<=>(const Span&) const = default;
  };
  std::vector<Span> read;
  read.reserve(locations.size() + 2);
  const std::uint64_t table_entries = std::min<std::uint64_t>(read_u32le(container, 0), found + 1);
  read.push_back(
      {0, std::min<std::uint64_t>(kOffsetEntrySize * (table_entries + 1), container.size())});
  const std::uint64_t stop_entry = kOffsetEntrySize * (found + 1);
  if (stop.status == FrameStatus::out_of_range && fits(container, stop_entry, kOffsetEntrySize)) {
    const std::uint64_t offset = read_u32le(container, static_cast<std::size_t>(stop_entry));
    if (fits(container, offset, kFrameHeaderSize))
      read.push_back({offset, offset + kFrameWidthOffset + 4});
  }
  for (const Location& location : locations)
    read.push_back({location.start, original_end(container, location)});
  std::ranges::sort(read);
  std::vector<std::uint64_t> furthest(read.size());  // furthest end among read[0..i]
  for (std::size_t i = 0; i < read.size(); ++i)
    furthest[i] = std::max(read[i].end, i == 0 ? 0 : furthest[i - 1]);

  for (const Location& location : locations) {
    if (!location.changed)
      continue;
    const Span own{location.start, original_end(container, location)};
    const std::uint64_t pixels = own.begin + kFrameHeaderSize;
    const auto at = static_cast<std::size_t>(std::ranges::lower_bound(read, own) - read.begin());
    if (at > 0 && furthest[at - 1] > pixels)
      return location.first;
    for (std::size_t after = at + 1; after < read.size() && read[after].begin < own.end; ++after)
      if (read[after].end > pixels)
        return location.first;
  }
  return 0;
}

// Every frame of the container laid out anew after the frame table, in table order, a location
// the table points at twice once. Bytes no frame holds stay where they are among the frames: those
// between the table and the first frame behind the table, those between two frames behind the
// first of them, those after the last frame at the end.
Rebuilt laid_out(ByteView container, std::uint64_t count, std::vector<Location>& locations) {
  const std::uint64_t table_end = kOffsetEntrySize * (count + 1);
  const std::uint64_t lead =
      locations.front().start > table_end ? locations.front().start - table_end : 0;
  const auto kept_length = [&](const Location& location) -> std::uint64_t {
    const auto next = static_cast<std::size_t>(&location - locations.data()) + 1;
    return next < locations.size() && locations[next].start > location.kept_from
               ? locations[next].start - location.kept_from
               : 0;
  };
  std::uint64_t length = table_end + lead, covered = table_end;
  for (Location& location : locations) {
    covered = std::max(covered, original_end(container, location));
    location.kept_from = static_cast<std::uint32_t>(covered);
    const Frame frame = location.image != nullptr ? frame_of(*location.image)
                                                  : find_frame(container, location.first).frame;
    length += kFrameHeaderSize + frame.pixels.size() + kept_length(location);
  }
  const std::uint64_t trailing = container.size() - covered;
  length += trailing;
  if (length > kMaxLength)
    return refused(rebuilding::kTooLong);

  Bytes out(static_cast<std::size_t>(length), 0);
  const auto copy = [&](std::uint64_t from, std::uint64_t bytes, std::uint64_t to) {
    std::copy_n(container.begin() + static_cast<std::ptrdiff_t>(from), bytes,
                out.begin() + static_cast<std::ptrdiff_t>(to));
  };
  copy(kCountOffset, 4, kCountOffset);
  copy(table_end, lead, table_end);
  std::uint64_t at = table_end + lead;
  for (std::uint64_t number = 1; number <= count; ++number) {
    Location& location = location_of(container, locations, number);
    if (location.placed == 0) {
      location.placed = static_cast<std::uint32_t>(at);
      const Frame frame = location.image != nullptr ? frame_of(*location.image)
                                                    : find_frame(container, location.first).frame;
      copy(location.start, kFrameHeaderSize, at);
      write_u16le(out, static_cast<std::size_t>(at + kFrameWidthOffset), frame.width);
      write_u16le(out, static_cast<std::size_t>(at + kFrameHeightOffset), frame.height);
      std::ranges::copy(frame.pixels, out.begin() + static_cast<std::ptrdiff_t>(at) +
                                          static_cast<std::ptrdiff_t>(kFrameHeaderSize));
      at += kFrameHeaderSize + frame.pixels.size();
      copy(location.kept_from, kept_length(location), at);
      at += kept_length(location);
    }
    write_u32le(out, static_cast<std::size_t>(kOffsetEntrySize * number), location.placed);
  }
  copy(covered, trailing, length - trailing);
  return {std::move(out), {}};
}

// The container with the frames replaced, or a copy of it when no image changes.
Rebuilt rebuild_container(ByteView container, std::span<const Replacement> frames) {
  // The frames the converter finds: 1 to `found`, up to the first that is not inside.
  std::uint64_t found = 0;
  FrameLookup stop;
  while ((stop = find_frame(container, found + 1)).status == FrameStatus::found)
    ++found;

  std::vector<const Replacement*> sorted;
  sorted.reserve(frames.size());
  for (const Replacement& frame : frames)
    sorted.push_back(&frame);
  std::ranges::sort(sorted, {}, &Replacement::number);
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    const Replacement& image = *sorted[i];
    const std::string name = "frame " + std::to_string(image.number);
    if (image.number == 0)
      return refused("frame 0: frames are numbered from 1");
    if (i > 0 && sorted[i - 1]->number == image.number)
      return refused(name + " is given twice");
    if (image.number > found && stop.status == FrameStatus::no_more_frames)
      return refused("the source has " + counted(found, "frame") + ", no " + name);
    if (image.number > found)
      return refused(image.number == found + 1
                         ? name + " is out of range in the original"
                         : name + " lies past frame " + std::to_string(found + 1) +
                               ", which is out of range in the original");
    if (std::string wrong = rebuilding::wrong_pixel_count(image, 1, "the image of " + name);
        !wrong.empty())
      return refused(wrong);
  }

  std::vector<Location> locations;
  {
    std::vector<std::uint32_t> starts;
    starts.reserve(static_cast<std::size_t>(found));
    for (std::uint64_t number = 1; number <= found; ++number)
      starts.push_back(read_u32le(container, static_cast<std::size_t>(kOffsetEntrySize * number)));
    std::ranges::sort(starts);
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    locations.resize(starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i)
      locations[i].start = starts[i];
  }
  // Each location takes the image of the first frame there; the others there must equal it.
  bool changed = false;
  auto next = sorted.begin();
  for (std::uint64_t number = 1; number <= found; ++number) {
    const Replacement* image =
        next != sorted.end() && (*next)->number == number ? *next++ : nullptr;
    Location& location = location_of(container, locations, number);
    const Frame original = find_frame(container, number).frame;
    if (location.first == 0) {
      location.first = number;
      location.image = image;
      location.changed = image != nullptr && !same_image(frame_of(*image), original);
      changed = changed || location.changed;
    } else if (image == nullptr ? location.changed
                                : !same_image(frame_of(*image), location.image != nullptr
                                                                    ? frame_of(*location.image)
                                                                    : original)) {
      return refused("frames " + std::to_string(location.first) + " and " + std::to_string(number) +
                     " share their bytes in the original and their images differ");
    }
  }
  if (!changed)
    return {Bytes(container.begin(), container.end()), {}};

  const bool damaged = stop.status == FrameStatus::out_of_range;
  const bool same_sizes = std::ranges::all_of(locations, [&](const Location& location) {
    return location.image == nullptr ||
           (location.image->width == read_u16le(container, location.start + kFrameWidthOffset) &&
            location.image->height == read_u16le(container, location.start + kFrameHeightOffset));
  });
  if (same_sizes) {
    const std::uint64_t overlapping = first_overlapping(container, found, stop, locations);
    if (overlapping == 0) {
      Bytes out(container.begin(), container.end());
      for (const Location& location : locations)
        if (location.changed)
          std::ranges::copy(
              location.image->pixels,
              out.begin() + static_cast<std::ptrdiff_t>(location.start + kFrameHeaderSize));
      return {std::move(out), {}};
    }
    // A whole container is laid out anew, which parts the frames that overlap.
    if (damaged)
      return refused("frame " + std::to_string(overlapping) +
                     " shares bytes with another frame or the frame table, and the damaged "
                     "original cannot be laid out anew");
  } else if (damaged) {
    return refused("frame " + std::to_string(found + 1) +
                   " is out of range in the original, so the frames before it keep their sizes");
  }
  return laid_out(container, found, locations);
}

}  // namespace

std::optional<Bytes> pack_layer(ByteView data, std::uint8_t sign, ByteView header) {
  require_fits(header.size(), 0, kStreamOffset);
  const ByteRange codes = run_codes(sign);
  const auto second = static_cast<std::uint8_t>(sign + kSignBias);
  // The first stream bytes, which put `second` at byte 7, and how much of the data they hold.
  std::array<std::uint8_t, 3> lead{};
  std::size_t lead_length = 2, covered = 0;
  if (data.empty()) {
    return std::nullopt;
  } else if (data[0] == second) {  // a run of `second`: its code, then `second` as its value
    const std::size_t limit = std::min<std::size_t>(data.size(), codes.span + 1u);
    while (covered < limit && data[covered] == second)
      ++covered;
    lead = {static_cast<std::uint8_t>(sign + covered - 1), second};
  } else if (codes.contains(data[0])) {
    return std::nullopt;  // a run of another value would put that value at byte 7
  } else if (codes.contains(second)) {
    // Byte 7 is the run code for 3 copies of byte 8, or, as the stream's last byte, dropped.
    if (data.size() == 1) {
      lead = {data[0], second};
      covered = 1;
    } else if (data.size() >= 4 && data[1] == data[2] && data[1] == data[3]) {
      lead = {data[0], second, data[1]};
      lead_length = 3;
      covered = 4;
    } else {
      return std::nullopt;
    }
  } else {  // S of 254 or 255: byte 7, 0 or 1, is a literal
    if (data.size() < 2 || data[1] != second)
      return std::nullopt;
    lead = {data[0], second};
    covered = 2;
  }
  const std::array<std::uint8_t, kStreamOffset> form{header[0], kPackedFlag, header[2],
                                                     header[3], header[4],   header[5]};
  return rebuilding::write_twice(
      [&](StreamOut& out) {
        out.literals(form.data(), form.size());
        out.literals(lead.data(), lead_length);
        write_tokens(data, covered, sign, out);
        return true;
      },
      kMaxLength);
}

Rebuilt rebuild(ByteView original, std::span<const Replacement> frames, std::uint64_t layer_limit,
                std::uint64_t total_limit) {
  const Peeled peeled = peel(original, layer_limit, total_limit);
  if (!peeled.problem.empty())
    return refused(peeled.problem);
  Rebuilt rebuilt = rebuild_container(peeled.container, frames);
  if (!rebuilt.bytes || peeled.layers.empty())
    return rebuilt;
  if (std::ranges::equal(*rebuilt.bytes, peeled.container))
    return {Bytes(original.begin(), original.end()), {}};
  // Packed again innermost first, each layer with its own sign and header bytes, within the
  // limits: a packing can double its layer, so a few layers can grow past them.
  Bytes data = std::move(*rebuilt.bytes);
  std::uint64_t unpacked = 0;
  for (std::size_t layer = peeled.layers.size(); layer-- > 0;) {
    unpacked += data.size();
    if (data.size() > layer_limit || unpacked > total_limit)
      return refused(data.size() > layer_limit
                         ? "a packed layer would unpack to " + std::to_string(data.size()) +
                               " bytes, 2 GiB or more"
                         : "its packed layers would unpack to more than 4 GiB in all");
    const LayerForm& form = peeled.layers[layer];
    std::optional<Bytes> packed = pack_layer(data, form.sign, form.header);
    if (!packed)
      return refused("packed layer " + std::to_string(layer + 1) + " of " +
                     std::to_string(peeled.layers.size()) + " cannot be packed again with sign " +
                     std::to_string(form.sign) + " in under 2 GiB");
    data = std::move(*packed);
  }
  return {std::move(data), {}};
}

}  // namespace texport::sfd
