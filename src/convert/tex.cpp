#include "convert/tex.hpp"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <optional>

#include "convert/byte_scan.hpp"
#include "io/file_io.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"
#include "platform/key_wait.hpp"

namespace texport::tex {
namespace {

struct ByteClasses {
  unsigned sign;

  bool is_escape(std::uint8_t byte) const { return sign >= 1 && byte == sign - 1; }
  bool is_run_code(std::uint8_t byte) const { return byte >= sign && byte <= sign + kRunCodeSpan; }
  unsigned difference(std::uint8_t code) const { return code - sign + 1; }

  // Escape byte and run codes together: S - 1 (when S >= 1) to S + 29 (at most 255).
  ByteRange special() const {
    const unsigned low = sign >= 1 ? sign - 1 : 0;
    const unsigned high = std::min(sign + kRunCodeSpan, 255u);
    return {static_cast<std::uint8_t>(low), static_cast<std::uint8_t>(high - low)};
  }
};

// The decoding without a trace, into a buffer of all `limit` pixels: after the two dropped bytes,
// literals are copied and runs filled in bulk. Stops exactly where the stepwise decoding stops.
DecodeResult decode_in_bulk(ByteView source, const ByteClasses& classes, std::uint64_t limit,
                            MutableBytes pixels) {
  DecodeResult result;
  std::int64_t& position = result.position;
  const std::uint8_t* const begin = source.data();
  const std::uint8_t* const end = begin + source.size();
  const std::uint8_t* in = begin + std::min<std::size_t>(kStreamOffset, source.size());
  std::uint8_t* const out = pixels.data();

  // The first decoded bytes are dropped; a run may reach past them into the pixels.
  while (position < 0 && in != end) {
    const std::uint8_t byte = *in;
    if (classes.is_run_code(byte)) {
      if (end - in < 2)
        return {StreamEnd::byte_missing, position};
      for (unsigned copy = 0; copy <= classes.difference(byte); ++copy, ++position)
        if (position >= 0 && static_cast<std::uint64_t>(position) < limit)
          out[static_cast<std::size_t>(position)] = in[1];
        else if (position >= 0)
          break;
      in += 2;
      continue;
    }
    if (classes.is_escape(byte) && ++in == end)
      return {StreamEnd::byte_missing, position};
    ++position;  // below 0: dropped, whatever it is
    ++in;
  }

  const ByteRange special = classes.special();
  while (in != end) {
    const std::uint64_t room = limit - static_cast<std::uint64_t>(position);
    const std::uint8_t* const next = special.find_in(in, end);
    const auto literals = static_cast<std::uint64_t>(next - in);
    if (literals > room) {  // the image fills, and the next literal meets it full
      if (room != 0)
        std::memcpy(out + position, in, static_cast<std::size_t>(room));
      position += static_cast<std::int64_t>(room);
      return {StreamEnd::image_full, position};
    }
    if (literals != 0)
      std::memcpy(out + position, in, static_cast<std::size_t>(literals));
    position += static_cast<std::int64_t>(literals);
    in = next;
    if (in == end)
      break;
    if (end - in < 2)
      return {StreamEnd::byte_missing, position};
    if (classes.is_run_code(*in)) {
      const std::uint64_t copies =
          std::min<std::uint64_t>(classes.difference(*in) + 1, limit - position);
      if (copies != 0)
        std::memset(out + position, in[1], static_cast<std::size_t>(copies));
      position += static_cast<std::int64_t>(copies);
    } else {  // escape: the next byte is a literal, whatever its value
      if (static_cast<std::uint64_t>(position) == limit)
        return {StreamEnd::image_full, position};
      out[position++] = in[1];
    }
    in += 2;
  }
  return result;
}

}  // namespace

Header read_header(ByteView source) {
  Header header;
  if (source.size() < kFormTestLength)
    return header;
  const std::uint64_t product =
      std::uint64_t{read_u16le(source, kFormAOffset)} * read_u16le(source, kFormBOffset);
  if (source.size() >= product) {
    header.layout = Layout::plain;
    header.width = read_u16le(source, kPlainWidthOffset);
    header.height = read_u16le(source, kPlainHeightOffset);
    return header;
  }
  if (source.size() < kPackedHeaderLength) {
    header.layout = Layout::packed_too_short;
    return header;
  }
  if (source[kPackedZeroOffset] != 0 || source[kPackedZeroOffset + 1] != 0) {
    header.layout = Layout::packed_rejected;
    return header;
  }
  header.layout = Layout::packed;
  header.width = read_u16le(source, kPackedWidthOffset);
  header.height = read_u16le(source, kPackedHeightOffset);
  header.sign = source[kSignOffset];
  return header;
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
  if (!trace && pixels.size() == limit)
    return decode_in_bulk(source, classes, limit, pixels);
  DecodeResult result;
  std::int64_t& position = result.position;
  const auto image_full = [&] {
    return position >= 0 && static_cast<std::uint64_t>(position) == limit;
  };
  const auto store = [&](std::uint8_t byte) {
    if (position >= 0 && !pixels.empty())
      pixels[static_cast<std::size_t>(position)] = byte;
  };
  const std::size_t end = source.size();
  for (std::size_t index = kStreamOffset; index < end; ++index) {
    const std::uint8_t byte = source[index];
    if (trace)
      trace({TraceEvent::Kind::step, index, byte, 0, 0});
    if (classes.is_run_code(byte)) {
      const unsigned difference = classes.difference(byte);
      if (trace)
        trace({TraceEvent::Kind::run, index, byte, difference, 0});
      if (index + 1 == end) {
        result.end = StreamEnd::byte_missing;
        return result;
      }
      ++index;
      const std::uint8_t value = source[index];
      // A run cut at the end of the image stores nothing more; the stream goes on.
      for (unsigned copy = 0; copy <= difference && !image_full(); ++copy) {
        store(value);
        if (trace)
          trace({TraceEvent::Kind::repeat, index, byte, 0, position});
        ++position;
      }
      continue;
    }
    if (classes.is_escape(byte) && ++index == end) {
      result.end = StreamEnd::byte_missing;
      return result;
    }
    if (image_full()) {
      result.end = StreamEnd::image_full;
      return result;
    }
    store(source[index]);
    ++position;
  }
  return result;
}

DecodeResult decode_stream(ByteView source, std::uint8_t sign, MutableBytes pixels,
                           const TraceSink& trace) {
  return decode_stream(source, sign, pixels.size(), pixels, trace);
}

bool rename_to_tif(std::string& name) {
  constexpr std::string_view kTif = "TIF";
  if (name.size() < kTif.size())
    return false;
  name.replace(name.size() - kTif.size(), kTif.size(), kTif);
  return true;
}

namespace {

// One line of the console trace, followed by the key wait. `output` is the whole output buffer
// (empty when the image is not written), `reference` the second copy of the source: a repetition
// is compared only where both hold a byte at its output offset.
void print_trace(const TraceEvent& event, const std::string& name, ByteView output,
                 ByteView reference) {
  switch (event.kind) {
    case TraceEvent::Kind::step:
      std::cout << unsigned{event.byte} << " currentbyte " << name << "\n";
      break;
    case TraceEvent::Kind::run:
      std::cout << event.difference << " difference " << name << "\n";
      break;
    case TraceEvent::Kind::repeat: {
      const auto offset =
          static_cast<std::uint64_t>(static_cast<std::int64_t>(kTifHeaderLength) + event.position);
      if (!fits(output, offset, 1) || !fits(reference, offset, 1))
        return;
      const std::uint8_t got = output[static_cast<std::size_t>(offset)];
      const std::uint8_t required = reference[static_cast<std::size_t>(offset)];
      if (got == required)
        return;
      std::cout << "bug!\n pos cmp" << event.index << "\n pos unc " << offset << "\n got "
                << unsigned{got} << "\n req " << unsigned{required} << "\ncmp sign "
                << unsigned{event.byte} << "\n";
      break;
    }
  }
  platform::wait_for_key();
}

}  // namespace

void convert_tex(ByteView source, ByteView reference, std::string& name) {
  const Header header = read_header(source);
  switch (header.layout) {
    case Layout::too_short:
      report_problem(name, "skipped: " + std::to_string(source.size()) +
                               " bytes is too short for a texture, which needs at least " +
                               std::to_string(kFormTestLength));
      return;
    case Layout::packed_too_short:
      report_problem(name, "skipped: " + std::to_string(source.size()) +
                               " bytes is too short for a packed texture, which needs at least " +
                               std::to_string(kPackedHeaderLength));
      return;
    case Layout::packed_rejected:
      return;
    case Layout::plain:
    case Layout::packed:
      break;
  }

  std::string output_name = name;
  const bool named = rename_to_tif(output_name);
  const bool small_enough = within_size_limit(header);
  const std::uint64_t count = pixel_count(header);
  // The size limit comes before any allocation: a 65535 x 65535 header costs no memory.
  std::optional<Bytes> out;
  if (small_enough && named)
    out = start_output(kTifTemplate, header.width, header.height, count, output_name);
  const MutableBytes pixels =
      out ? MutableBytes(*out).subspan(kTifHeaderLength, static_cast<std::size_t>(count))
          : MutableBytes();

  if (header.layout == Layout::packed) {
    TraceSink trace;
    if constexpr (tex_trace) {
      std::cout << unsigned{header.sign} << " compression sign " << name << "\n";
      platform::wait_for_key();
      const ByteView output = out ? ByteView(*out) : ByteView();
      trace = [&name, output, reference](const TraceEvent& event) {
        print_trace(event, name, output, reference);
      };
    }
    std::cout << name << "\n" << std::flush;
    // An image that is not written needs no decoding, unless the trace is to show it.
    if (out || tex_trace)
      decode_stream(source, header.sign, count, pixels, trace);
  } else if (out) {
    copy_plain_pixels(source, pixels);
  }

  if (!small_enough) {
    report_problem(name, "not written: " + std::to_string(header.width) + " x " +
                             std::to_string(header.height) +
                             " pixels; textures of 512 or more on a side are not converted");
  } else if (!named) {
    report_problem(name, "not written: the name is too short to end in TIF");
    return;
  }
  name = output_name;
  if (out)
    write_whole_file(*out, name);
}

}  // namespace texport::tex
