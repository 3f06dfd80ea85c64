// .tex textures, plain or run-length packed, to one 8-bit TIF named NAME with "TIF" in place of
// its last three characters (wall.tex -> wall.TIF).
//
// Form: A (u16 at 0) times B (u16 at 2), computed exactly, is compared with the file's length:
// shorter than A * B is the packed form, anything else the plain form.
//
// Plain form                            Packed form
//   offset  size  meaning                 offset  size  meaning
//   0       2     width (u16)             0       4     A and B of the form test
//   2       2     height (u16)            4       2     both 0, or the file is skipped
//   4       16    not read                6       2     width (u16)
//   20      w*h   pixels                  8       2     height (u16)
//   20+w*h  ...   ignored                 10      5     not read
//                                         15      1     compression sign S
//                                         16      7     not read
//                                         23      ...   packed stream
//
// Stream, each byte c compared with S without 8-bit wrap-around:
//   c == S - 1 (only when S >= 1)   escape: the next byte is one output byte, whatever its value
//   S <= c <= min(S + 29, 255)      run code: the next byte, repeated c - S + 2 times (2 to 31)
//   anything else                   literal: one output byte
// Output positions start at -2: the first two decoded bytes are dropped. Once the image is full,
// further runs store nothing and the next literal or escape ends the decoding. An escape or run
// code that is the stream's last byte also ends it.
//
// Images of width or height 512 or more are not written; the packed form still prints its name
// line.
#pragma once

#include <cstdint>
#include <string>

#include "io/bytes.hpp"
#include "io/sink.hpp"

namespace texport::tex {

inline constexpr std::size_t kFormAOffset = 0, kFormBOffset = 2, kFormTestLength = 4;
inline constexpr std::size_t kPlainWidthOffset = 0, kPlainHeightOffset = 2, kPlainPixelsOffset = 20;
inline constexpr std::size_t kPackedZeroOffset = 4,  // bytes 4 and 5
    kPackedWidthOffset = 6, kPackedHeightOffset = 8, kSignOffset = 15,
                             kPackedHeaderLength = kSignOffset + 1, kStreamOffset = 23;
static_assert(kFormTestLength <= kPackedZeroOffset && kPackedHeightOffset + 2 <= kSignOffset);

inline constexpr unsigned kRunCodeSpan = 29;        // highest run code is S + 29
inline constexpr std::int64_t kFirstPosition = -2;  // two decoded bytes before pixel 0
inline constexpr std::uint16_t kSizeLimit = 512;    // width or height this large: not written

enum class Layout {
  plain,
  packed,
  too_short,         // fewer than 4 bytes: no form test possible
  packed_too_short,  // packed form, fewer than 16 bytes: no width, height or sign
  packed_rejected,   // packed form whose byte 4 or 5 is not 0: skipped without a word
};

struct Header {
  Layout layout = Layout::too_short;
  std::uint16_t width = 0, height = 0;
  std::uint8_t sign = 0;  // packed form only
};

// Applies the form test and reads what the form holds.
Header read_header(ByteView source);

// Plain form: copies the pixels the source holds (at most pixels.size()) from offset 20.
void copy_plain_pixels(ByteView source, MutableBytes pixels);

// What a build with the trace shows beside the steps of a packed stream, and whether this is one.
struct Trace;
bool traced();

enum class StreamEnd {
  source_exhausted,  // every stream byte was decoded
  image_full,        // a literal or escaped byte met the full image
  byte_missing,      // an escape or run code was the last byte
};

struct DecodeResult {
  StreamEnd end = StreamEnd::source_exhausted;
  std::int64_t position = kFirstPosition;  // output position reached
};

// Decodes the stream of a packed source (from offset 23) with compression sign `sign` into an
// image of `limit` pixels: literals are copied and runs filled in bulk. `pixels` is either `limit`
// bytes, which receive the pixels, or empty, to follow the stream without storing it. Pixels the
// stream does not reach are left as they are. Nothing past the end of `source` is read. Only a
// build with the trace prints, and only when given `trace`.
DecodeResult decode_stream(ByteView source, std::uint8_t sign, std::uint64_t limit,
                           MutableBytes pixels, const Trace* trace = nullptr);

// How the source is stored: "plain", or "packed with sign S".
std::string layout(ByteView source);

// Converts one loaded source into its TIF. Prints the name of a packed source (and, in a build
// with the trace, the trace). True when the image was written.
bool convert_tex(ByteView source, const std::string& name, const Sink& sink);

}  // namespace texport::tex
