// .sfd frame containers, plain or run-length packed, to one 8-bit TIF per frame, named
// NAME<m>.tif (walls.sfd1.tif, walls.sfd2.tif, ...).
//
// Form: byte 1 equal to 1 marks the packed form; anything else is a frame container.
//
// Packed form                          Frame container
//   offset  size  meaning                offset    size  meaning
//   1       1     form flag: 1           0         4     frame count N (u32)
//   6       ...   run-length stream      4*m       4     offset of frame m, m = 1..N (u32)
//   7       1     compression sign + 2   offset    2     frame width (u16)
//                 (modulo 256), and the  offset+2  2     frame height (u16)
//                 stream's second byte   offset+4  4     not read
//                                        offset+8  w*h   pixels
//
// Stream: S = byte 7 - 2 (mod 256). A byte c with S <= c <= S + 30 (no 8-bit wrap) is a run
// code: it and the value byte after it stand for c - S + 1 copies of the value byte. Every other
// byte stands for itself; a run code that is the last byte is dropped. The unpacked data is again
// tested for the packed form, to any depth.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "io/bytes.hpp"
#include "io/sink.hpp"
#include "platform/files.hpp"

namespace texport::sfd {

inline constexpr std::size_t kFormFlagOffset = 1, kStreamOffset = 6, kSignOffset = 7;
inline constexpr std::uint8_t kPackedFlag = 1, kSignBias = 2;
inline constexpr unsigned kLongestRunCode = 30;  // highest run code is S + 30
static_assert(kSignOffset >= kStreamOffset);

inline constexpr std::size_t kCountOffset = 0, kOffsetEntrySize = 4;
inline constexpr std::size_t kFrameWidthOffset = 0, kFrameHeightOffset = 2, kFrameHeaderSize = 8;
static_assert(kFrameHeightOffset + 2 <= kFrameHeaderSize);

// All layers of one source together may unpack to this much; past it the source is refused, so
// that no source, however its layers nest, takes more than seconds.
inline constexpr std::uint64_t kMaxUnpackedInAll = std::uint64_t{4} << 30;

bool is_packed(ByteView data);

// Counting pass: the length a packed form unpacks to (0 when it is too short to hold its sign).
std::uint64_t unpacked_length(ByteView packed);

// Filling pass: `out` must be exactly unpacked_length(packed) bytes.
void unpack_into(ByteView packed, MutableBytes out);

// Unpacks packed layers one after the other, holding at most two, until the data is a frame
// container. `storage` keeps the last layer alive. A layer over `layer_limit` bytes, or layers
// over `total_limit` bytes in all, stop the work: `refused_length` then holds the length
// that went over.
struct Layers {
  ByteView container;
  std::size_t depth = 0;  // packed layers unpacked
  std::uint64_t refused_length = 0;
  bool over_total = false;
};
using LayerStorage = FilledBytes;
Layers unpack_layers(ByteView source, LayerStorage& storage, std::uint64_t layer_limit = kMaxLength,
                     std::uint64_t total_limit = kMaxUnpackedInAll);

struct Frame {
  std::uint16_t width = 0, height = 0;
  ByteView pixels;
  std::uint64_t pixels_at = 0;  // where they start in the container
};

enum class FrameStatus { found, no_more_frames, out_of_range, unreadable };

struct FrameLookup {
  FrameStatus status = FrameStatus::out_of_range;
  Frame frame;
  std::uint64_t needed = 0;  // out of range: the length the container would need
  std::error_code error;     // unreadable: why
};

// Frame `number` (from 1) of a frame container, when it lies wholly inside the container.
FrameLookup find_frame(ByteView container, std::uint64_t number);

// How the source is stored: "plain", or "packed, N layers deep".
std::string layout(ByteView source);

// Converts one loaded source: writes NAME<m>.tif for every frame m up to the first one out of
// range, which gets the out-of-range line. True when every frame was written.
bool convert_sfd(ByteView source, const std::string& name, const Sink& sink);

// Converts a source of `size` bytes from its open file, when `head` (its first bytes) shows a
// plain frame container whose whole frame table lies in it: each frame's header is then read on
// its own, and its pixels are left in the file for the sink to copy from there. nullopt for any
// other source, which is to be read whole.
std::optional<bool> convert_sfd_in_file(const platform::File& file, std::uint64_t size,
                                        ByteView head, const std::string& name, const Sink& sink);

}  // namespace texport::sfd
