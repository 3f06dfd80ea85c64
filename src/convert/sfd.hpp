// .sfd frame containers, plain or run-length packed, to one 8-bit TIF per frame.
//
// Form: byte 1 equal to 1 marks the packed form; anything else is a frame container.
//
// Packed form                          Frame container
//   offset  size  meaning                offset    size  meaning
//   1       1     form flag: 1           0         4     frame count N (u32)
//   6       ...   run-length stream      4*m       4     offset of frame m, m = 1..N (u32)
//   7       1     compression sign + 2   offset    2     frame width (u16)
//                 (modulo 256)           offset+2  2     frame height (u16)
//                                        offset+8  w*h   pixels
//
// Stream: S = byte 7 - 2 (mod 256). A byte c with S <= c <= S + 30 (no 8-bit wrap) is a run
// code: it and the value byte after it stand for c - S + 1 copies of the value byte. Every other
// byte stands for itself. The unpacked data is again tested for the packed form.
#pragma once

#include <cstdint>
#include <string>

#include "io/bytes.hpp"

namespace texport::sfd {

inline constexpr std::size_t kFormFlagOffset = 1;
inline constexpr std::uint8_t kPackedFlag = 1;
inline constexpr std::size_t kStreamOffset = 6;
inline constexpr std::size_t kSignOffset = 7;
inline constexpr std::uint8_t kSignBias = 2;
inline constexpr unsigned kLongestRunCode = 30;  // highest run code is S + 30

inline constexpr std::size_t kCountOffset = 0;
inline constexpr std::size_t kOffsetEntrySize = 4;
inline constexpr std::size_t kFrameWidthOffset = 0;
inline constexpr std::size_t kFrameHeightOffset = 2;
inline constexpr std::size_t kFrameHeaderSize = 8;
static_assert(kFrameHeightOffset + 2 <= kFrameHeaderSize);
static_assert(kSignOffset >= kStreamOffset);

bool is_packed(ByteView data);

// Counting pass: the length that a packed form unpacks to. A form shorter than 8 bytes (no sign)
// unpacks to nothing; a run code whose value byte is missing is dropped.
std::uint64_t unpacked_length(ByteView packed);

// Filling pass: `out` must be exactly unpacked_length(packed) bytes.
void unpack_into(ByteView packed, MutableBytes out);

// Both passes, for callers that do not need the length beforehand.
Bytes unpack(ByteView packed);

// Unpacks packed layers one after the other, never holding more than two, until the data is a
// frame container. `storage` keeps the last layer alive. A layer that would unpack to more than
// `limit` bytes stops the work: `refused_length` then holds its length.
struct Layers {
  ByteView container;
  std::uint64_t refused_length = 0;
};
Layers unpack_layers(ByteView source, Bytes& storage, std::uint64_t limit = kMaxLength);

struct Frame {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  ByteView pixels;
};

enum class FrameStatus { found, no_more_frames, out_of_range };

struct FrameLookup {
  FrameStatus status = FrameStatus::no_more_frames;
  Frame frame;
};

// Frame `number` (from 1) of a frame container, when it lies wholly inside the container.
FrameLookup find_frame(ByteView container, std::uint64_t number);

// Converts one loaded source: unpacks packed layers one after the other (never holding more than
// two), then writes "NAME<m>.tif" for every frame m, or prints the out-of-range line.
void convert_sfd(ByteView source, const std::string& name);

}  // namespace texport::sfd
