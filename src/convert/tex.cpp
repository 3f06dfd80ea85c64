#include "convert/tex.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "convert/byte_scan.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"
#include "platform/console.hpp"

#ifndef TEXPORT_TEX_TRACE
#define TEXPORT_TEX_TRACE 0
#endif

namespace texport::tex {

// Build-time switch: the packed decoder reports every step on the console and waits for a key.
constexpr bool tex_trace = TEXPORT_TEX_TRACE != 0;

struct Trace {
  const Sink& sink;
  const std::string& name;
  ByteView header;     // the output's header, for the two dropped positions
  ByteView reference;  // the file, to compare with
};

namespace {

// One line of the console trace, then the key wait.
void trace_line(const Trace* trace, const std::string& what) {
  if constexpr (tex_trace) {
    if (trace != nullptr) {
      trace->sink.print(what, trace->name);
      platform::wait_for_key();
    }
  }
}

// A repetition of a run is compared with the file's own byte at the same output offset, where it
// has one: the output byte is the value decoded, or, at the two dropped positions, the header's.
void trace_repeat(const Trace* trace, std::size_t index, std::uint8_t code, std::int64_t position,
                  std::uint8_t value) {
  if constexpr (tex_trace) {
    if (trace == nullptr)
      return;
    const auto offset = static_cast<std::uint64_t>(
        static_cast<std::int64_t>(kTifTemplate.header_length) + position);
    const std::uint8_t got = position >= 0 ? value : trace->header[offset];
    if (!fits(trace->reference, offset, 1) || got == trace->reference[offset])
      return;
    trace->sink.print("bug!\n pos cmp" + std::to_string(index) + "\n pos unc " +
                          std::to_string(offset) + "\n got " + std::to_string(got) + "\n req " +
                          std::to_string(trace->reference[offset]) + "\ncmp sign " +
                          std::to_string(code),
                      "");
    platform::wait_for_key();
  }
}

}  // namespace

bool traced() {
  return tex_trace;
}

Header read_header(ByteView source) {
  Header header;
  if (source.size() < kFormTestLength)
    return header;
  const std::uint64_t product =
      std::uint64_t{read_u16le(source, kFormAOffset)} * read_u16le(source, kFormBOffset);
  if (source.size() >= product)
    return {Layout::plain, read_u16le(source, kPlainWidthOffset),
            read_u16le(source, kPlainHeightOffset)};
  for (std::size_t at = kPackedZeroOffset; at < kPackedZeroOffset + 2 && at < source.size(); ++at)
    if (source[at] != 0)
      return {Layout::packed_rejected};
  if (source.size() < kPackedHeaderLength)
    return {Layout::packed_too_short};
  return {Layout::packed, read_u16le(source, kPackedWidthOffset),
          read_u16le(source, kPackedHeightOffset), source[kSignOffset]};
}

void copy_plain_pixels(ByteView source, MutableBytes pixels) {
  if (source.size() <= kPlainPixelsOffset)
    return;
  const std::size_t count = std::min(source.size() - kPlainPixelsOffset, pixels.size());
  std::copy_n(source.begin() + kPlainPixelsOffset, count, pixels.begin());
}

DecodeResult decode_stream(ByteView source, std::uint8_t sign, std::uint64_t limit,
                           MutableBytes pixels, const Trace* trace) {
  if (!pixels.empty() && pixels.size() != limit)
    std::abort();
  // Escape and run codes together, S - 1 (when S >= 1) to S + 29 (at most 255), found in bulk.
  const unsigned low = sign >= 1 ? sign - 1u : 0u;
  const ByteRange special{static_cast<std::uint8_t>(low),
                          static_cast<std::uint8_t>(std::min(sign + kRunCodeSpan, 255u) - low)};
  const std::uint8_t* const begin = source.data();
  const std::uint8_t* const end = begin + source.size();
  const std::uint8_t* in = begin + std::min(kStreamOffset, source.size());
  std::int64_t position = kFirstPosition;
  // Room left in the image; the two dropped positions count as room too.
  const auto room = [&] {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(limit) - position);
  };
  // Puts `count` decoded bytes: the ones below pixel 0 are dropped, the others stored.
  const auto put = [&](std::uint64_t count, const std::uint8_t* literals, std::uint8_t value) {
    const std::uint64_t dropped =
        position < 0 ? std::min<std::uint64_t>(count, static_cast<std::uint64_t>(-position)) : 0;
    position += static_cast<std::int64_t>(dropped);
    count -= dropped;
    if (count != 0 && !pixels.empty()) {
      if (literals != nullptr)
        std::memcpy(pixels.data() + position, literals + dropped, count);
      else
        std::memset(pixels.data() + position, value, count);
    }
    position += static_cast<std::int64_t>(count);
  };
  const auto trace_steps = [&](const std::uint8_t* from, std::uint64_t count) {
    for (const std::uint8_t* at = from; tex_trace && at != from + count; ++at)
      trace_line(trace, std::to_string(*at) + " currentbyte ");
  };

  // One piece exactly: a stretch of literals, then an escape or a run. Returns how the decoding
  // ends, or nothing when it goes on.
  const auto piece = [&]() -> std::optional<StreamEnd> {
    const std::uint8_t* const next = special.find_in(in, end);
    const auto literals = static_cast<std::uint64_t>(next - in);
    if (literals > room()) {  // the image fills, and the next literal meets it full
      trace_steps(in, room() + 1);
      put(room(), in, 0);
      return StreamEnd::image_full;
    }
    trace_steps(in, literals);
    put(literals, in, 0);
    if ((in = next) == end)
      return std::nullopt;
    trace_steps(in, 1);
    if (*in >= sign) {  // a run code
      const unsigned difference = *in - sign + 1u;
      if (tex_trace)
        trace_line(trace, std::to_string(difference) + " difference ");
      if (end - in < 2)
        return StreamEnd::byte_missing;
      // A run cut at the end of the image stores nothing more; the stream goes on.
      const std::uint64_t copies = std::min<std::uint64_t>(difference + 1, room());
      for (std::uint64_t copy = 0; tex_trace && copy < copies; ++copy)
        trace_repeat(trace, static_cast<std::size_t>(in + 1 - begin), *in,
                     position + static_cast<std::int64_t>(copy), in[1]);
      put(copies, nullptr, in[1]);
    } else {  // escape: the next byte is a literal, whatever its value
      if (end - in < 2)
        return StreamEnd::byte_missing;
      if (room() == 0)
        return StreamEnd::image_full;
      put(1, in + 1, 0);
    }
    in += 2;
    return std::nullopt;
  };

  // The trace shows every byte: it takes the exact way alone.
  if constexpr (!tex_trace) {
    // The pieces that reach the two dropped positions go the exact way. Then whole blocks while
    // the image has room for all a block may touch (for all it counts, without pixels): there no
    // run is cut and no literal meets the full image. The escape (S - 1) reads as a run code of
    // one copy.
    while (position < 0 && in != end)
      if (const auto ended = piece())
        return {*ended, position};
    const PairCodes codes{special, static_cast<std::uint8_t>(sign - 2)};
    std::uint64_t carry = 0;
    if (pixels.empty()) {
      position += static_cast<std::int64_t>(count_blocks(in, end, codes, carry, room()));
    } else {
      // The stream may end before the image does, and pixels it does not reach must keep their
      // values: blocks stop while the rest of the stream still overwrites what they spill, with
      // 2 * kSpill + 1 bytes past a block's value byte at least (2 bytes decode to 1 or more).
      constexpr std::size_t kCoveredInput = kBlockSize + 1 + 2 * kSpill + 1;
      static_assert(kCoveredInput >= kFillInput);
      position += static_cast<std::int64_t>(
          fill_blocks(in, end, pixels.data() + position, room(), codes, carry, kCoveredInput));
    }
    in += carry;
  }
  while (in != end)
    if (const auto ended = piece())
      return {*ended, position};
  return {StreamEnd::source_exhausted, position};
}

std::string layout(ByteView source) {
  const Header header = read_header(source);
  return header.layout == Layout::plain    ? "plain"
         : header.layout == Layout::packed ? "packed with sign " + std::to_string(header.sign)
                                           : "packed";
}

bool convert_tex(ByteView source, const std::string& name, const Sink& sink) {
  const Header header = read_header(source);
  switch (header.layout) {
    case Layout::too_short:
    case Layout::packed_too_short: {
      const bool packed = header.layout == Layout::packed_too_short;
      sink.report(name, Problem::damaged,
                  too_few(source.size(), packed ? "a packed texture" : "a texture",
                          packed ? kPackedHeaderLength : kFormTestLength));
      return false;
    }
    case Layout::packed_rejected:
      sink.report(name, Problem::unsupported,
                  "a packed texture whose bytes 4 and 5 are not both 0");
      return false;
    case Layout::plain:
    case Layout::packed:
      break;
  }
  const bool small_enough = header.width < kSizeLimit && header.height < kSizeLimit;
  // The size limit comes before any allocation: a 65535 x 65535 header costs no memory. Pixels
  // that a short source does not supply are 0.
  Bytes pixels(small_enough ? std::size_t{header.width} * header.height : 0, 0);
  const Picture picture{.kind = PixelKind::grey,
                        .width = header.width,
                        .height = header.height,
                        .pixels = pixels,
                        .noun = "textures"};
  if (header.layout == Layout::packed) {
    Bytes trace_header;
    if constexpr (tex_trace) {  // the header the image gets, as the tool made for it reads it
      const TemplateRead read = read_template(kTifTemplate, platform::Folder());
      trace_header = image_header(kTifTemplate, &read, picture).bytes;
    }
    const Trace trace{sink, name, trace_header, source};
    trace_line(&trace, std::to_string(header.sign) + " compression sign ");
    sink.print("", name);
    // An image that is not written needs no decoding, unless the trace is to show it.
    if (small_enough || tex_trace)
      decode_stream(source, header.sign, std::uint64_t{header.width} * header.height, pixels,
                    &trace);
  } else {
    copy_plain_pixels(source, pixels);
  }
  if (!small_enough) {
    sink.report(name, Problem::too_large,
                std::to_string(header.width) + " x " + std::to_string(header.height) +
                    " pixels; textures of 512 or more on a side are not converted");
    return false;
  }
  // The name's last three characters become "TIF": wall.tex gives wall.TIF.
  return write_only_picture(
      sink, name, picture,
      name.substr(0, name.size() - std::min<std::size_t>(name.size(), 3)) + "TIF");
}

}  // namespace texport::tex
