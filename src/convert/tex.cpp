#include "convert/tex.hpp"

#include <algorithm>
#include <cstring>
#include <set>

#include "convert/byte_scan.hpp"
#include "io/output.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"
#include "platform/console.hpp"

namespace texport::tex {
namespace {

using Kind = TraceEvent::Kind;

struct ByteClasses {
  unsigned sign;

  bool is_run_code(std::uint8_t byte) const { return byte >= sign && byte <= sign + kRunCodeSpan; }
  unsigned difference(std::uint8_t code) const { return code - sign + 1; }

  // Escape byte and run codes together: S - 1 (when S >= 1) to S + 29 (at most 255).
  ByteRange special() const {
    const unsigned low = sign >= 1 ? sign - 1 : 0;
    const unsigned high = std::min(sign + kRunCodeSpan, 255u);
    return {static_cast<std::uint8_t>(low), static_cast<std::uint8_t>(high - low)};
  }
};

// One line of the console trace, then the key wait. A repetition is compared with the reference
// (where it holds a byte at the same output offset): the output byte is the value decoded, or,
// for the two dropped positions, the header byte there.
void print_trace(const TraceEvent& event, const std::string& name, ByteView header,
                 ByteView reference) {
  std::string line;
  switch (event.kind) {
    case Kind::step:
      line.append(std::to_string(event.byte)).append(" currentbyte ");
      break;
    case Kind::run:
      line.append(std::to_string(event.difference)).append(" difference ");
      break;
    case Kind::repeat: {
      const auto offset =
          static_cast<std::uint64_t>(static_cast<std::int64_t>(header.size()) + event.position);
      const std::uint8_t got = event.position >= 0 ? event.value : header[offset];
      if (!fits(reference, offset, 1) || got == reference[offset])
        return;
      print_line("bug!\n pos cmp" + std::to_string(event.index) + "\n pos unc " +
                 std::to_string(offset) + "\n got " + std::to_string(got) + "\n req " +
                 std::to_string(reference[offset]) + "\ncmp sign " + std::to_string(event.byte) +
                 "\n");
      platform::wait_for_key();
      return;
    }
  }
  print_line(line.append(shown(name)).append("\n"));
  platform::wait_for_key();
}

}  // namespace

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
                           MutableBytes pixels, const TraceSink& trace) {
  if (!pixels.empty() && pixels.size() != limit)
    std::abort();
  const ByteClasses classes{sign};
  const ByteRange special = classes.special();
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
    if constexpr (tex_trace)
      for (const std::uint8_t* at = from; trace && at != from + count; ++at)
        trace({.kind = Kind::step, .index = static_cast<std::size_t>(at - begin), .byte = *at});
  };

  while (in != end) {
    const std::uint8_t* const next = special.find_in(in, end);
    const auto literals = static_cast<std::uint64_t>(next - in);
    if (literals > room()) {  // the image fills, and the next literal meets it full
      trace_steps(in, room() + 1);
      put(room(), in, 0);
      return {StreamEnd::image_full, position};
    }
    trace_steps(in, literals);
    put(literals, in, 0);
    if ((in = next) == end)
      break;
    trace_steps(in, 1);
    if (classes.is_run_code(*in)) {
      const unsigned difference = classes.difference(*in);
      if constexpr (tex_trace)
        if (trace)
          trace({.kind = Kind::run,
                 .index = static_cast<std::size_t>(in - begin),
                 .byte = *in,
                 .difference = difference});
      if (end - in < 2)
        return {StreamEnd::byte_missing, position};
      // A run cut at the end of the image stores nothing more; the stream goes on.
      const std::uint64_t copies = std::min<std::uint64_t>(difference + 1, room());
      if constexpr (tex_trace)
        for (std::uint64_t copy = 0; trace && copy < copies; ++copy)
          trace({.kind = Kind::repeat,
                 .index = static_cast<std::size_t>(in + 1 - begin),
                 .byte = *in,
                 .position = position + static_cast<std::int64_t>(copy),
                 .value = in[1]});
      put(copies, nullptr, in[1]);
    } else {  // escape: the next byte is a literal, whatever its value
      if (end - in < 2)
        return {StreamEnd::byte_missing, position};
      if (room() == 0)
        return {StreamEnd::image_full, position};
      put(1, in + 1, 0);
    }
    in += 2;
  }
  return {StreamEnd::source_exhausted, position};
}

bool convert_tex(ByteView source, ByteView reference, const std::string& name) {
  const Header header = read_header(source);
  switch (header.layout) {
    case Layout::too_short:
    case Layout::packed_too_short: {
      const bool packed = header.layout == Layout::packed_too_short;
      report(name, Problem::damaged,
             too_few(source.size(), packed ? "a packed texture" : "a texture",
                     packed ? kPackedHeaderLength : kFormTestLength));
      return false;
    }
    case Layout::packed_rejected:
      return false;
    case Layout::plain:
    case Layout::packed:
      break;
  }
  const bool small_enough = header.width < kSizeLimit && header.height < kSizeLimit;
  // The size limit comes before any allocation: a 65535 x 65535 header costs no memory. Pixels
  // that a short source does not supply are 0.
  Bytes pixels(small_enough ? std::size_t{header.width} * header.height : 0, 0);
  if (header.layout == Layout::packed) {
    TraceSink trace;
    Bytes trace_header;
    if constexpr (tex_trace) {
      trace_header = load_template(kTifTemplate, header.width, header.height);
      print_line(std::to_string(header.sign) + " compression sign " + shown(name) + "\n");
      platform::wait_for_key();
      trace = [&](const TraceEvent& event) { print_trace(event, name, trace_header, reference); };
    }
    print_line(shown(name) + "\n");
    // An image that is not written needs no decoding, unless the trace is to show it.
    if (small_enough || tex_trace)
      decode_stream(source, header.sign, std::uint64_t{header.width} * header.height, pixels,
                    trace);
  } else {
    copy_plain_pixels(source, pixels);
  }
  if (!small_enough) {
    report(name, Problem::too_large,
           std::to_string(header.width) + " x " + std::to_string(header.height) +
               " pixels; textures of 512 or more on a side are not converted");
    return false;
  }
  std::string output_name = name;
  output_name.replace(output_name.size() - 3, 3, "TIF");
  if (write_image(kTifTemplate, header.width, header.height, {pixels}, output_name) != Written::yes)
    return false;
  // Only this rule of naming can give two sources one output: x.tex and x.TEX both give x.TIF.
  static std::set<std::string> written_names;
  if (!written_names.insert(output_name).second)
    report(output_name, Problem::note, "written again, over the image of an earlier source");
  return true;
}

}  // namespace texport::tex
