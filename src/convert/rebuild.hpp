// Rebuilding a source from its original bytes and edited images: what `texkit import` writes.
//
// What is kept: every byte the converter never reads, the order and number of frames, and the
// form: plain stays plain, packed stays packed with the same layers and compression signs, packed
// again by the encoders below. An image equal to what the original decodes to changes nothing:
// rebuilding with every image as it was gives back the original, byte for byte, whoever packed it.
// What comes from the images: their pixels, their palette (.m8), and their size where the format
// can hold another one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "convert/sfd.hpp"
#include "io/bytes.hpp"
#include "io/report.hpp"

namespace texport {

// An image to put into a source in place of what it holds.
struct Replacement {
  std::uint64_t number = 1;  // .sfd: the frame, from 1; the other formats hold one image
  std::uint16_t width = 0, height = 0;
  // width * height pixels, rows top first: .sfd, .tex one 8-bit value each, .m8 palette indices;
  // .m32 four bytes each, red, green, blue, alpha.
  ByteView pixels;
  ByteView palette;  // .m8: 768 bytes, 256 entries of red, green, blue; empty: keep the original's
};

struct Rebuilt {
  std::optional<Bytes> bytes;  // the new source, or none when it cannot be made
  std::string problem;         // then why, in a few words
};

namespace sfd {

// Replaces the given frames (each number at most once); every other frame keeps its bytes.
// Frames of their original size are patched in place, unless new pixels would land on bytes read
// for another frame or the frame table. Otherwise the frames are laid out anew after the table,
// in table order, each with the bytes between it and the next frame behind it, the bytes after the
// last frame at the end; frames the table points at twice stay shared, so their images must be
// equal. A damaged container (a frame out of range) is only patched in place. Layers are unpacked
// and packed again under the limits of unpack_layers: past them the source is refused.
Rebuilt rebuild(ByteView original, std::span<const Replacement> frames,
                std::uint64_t layer_limit = kMaxLength,
                std::uint64_t total_limit = kMaxUnpackedInAll);

// `data` as one packed layer with compression sign `sign`: bytes 0 and 2 to 5 (never read) from
// `header` (the original layer's first 6 bytes), byte 1 the form flag, then the stream: runs of 3
// or more, and copies of run-code values, as runs; every other byte as a literal. Byte 7 is both
// S + 2 and the stream's second byte, so only data whose first bytes fit the sign can be packed,
// by any packer: nullopt for other data, or when the layer would be longer than kMaxLength.
std::optional<Bytes> pack_layer(ByteView data, std::uint8_t sign, ByteView header);

}  // namespace sfd

namespace tex {

// Plain: width and height at 0 and 2, pixels at 20, bytes 4 to 19 and those after the pixels
// kept. Packed: bytes 0 to 22 kept but width and height, then a new stream (A and B become FFFF
// where the file would otherwise read as plain). Sides stay under 512.
Rebuilt rebuild(ByteView original, const Replacement& image);

// The packed stream (from offset 23) of `pixels` with compression sign `sign`: the two dropped
// positions as the run code S with a 0, repeats of 2 to 31 as runs, lone run-code and escape
// values behind an escape. S = 0 has no escape: a run of values below 30 is cut so as to leave no
// lone pixel, and nullopt when a pixel below 30 stands alone (or the stream would be longer than
// kMaxLength).
std::optional<Bytes> pack_stream(ByteView pixels, std::uint8_t sign);

}  // namespace tex

namespace m32 {

// Width, height and pixels of the layout replaced; the pixel block resized to a new size with
// the bytes behind it kept behind it.
Rebuilt rebuild(ByteView original, const Replacement& image);

}  // namespace m32

namespace m8 {

// Width, height, palette (when given) and pixels replaced; the pixel block resized to a new size
// with the bytes behind it kept behind it.
Rebuilt rebuild(ByteView original, const Replacement& image);

}  // namespace m8

// Pieces the rebuilds share.
namespace rebuilding {

inline Rebuilt refused(std::string problem) {
  return {std::nullopt, std::move(problem)};
}

// Empty when `image` holds width * height pixels of `pixel_size` bytes, else why not, for an image
// called `what` ("the image", "the image of frame 2").
inline std::string wrong_pixel_count(const Replacement& image, std::size_t pixel_size,
                                     const std::string& what) {
  const std::uint64_t needed = std::uint64_t{pixel_size} * image.width * image.height;
  if (image.pixels.size() == needed)
    return {};
  return what + " holds " + counted(image.pixels.size(), "byte") + " of pixels; " +
         std::to_string(image.width) + " x " + std::to_string(image.height) + " needs " +
         std::to_string(needed);
}

// Why an original that ends early has no image to replace: what it is too short for, its width
// and height (`size_known` false) or a width x height image.
inline std::string ends_early(std::uint64_t size, bool size_known, std::uint16_t width,
                              std::uint16_t height, std::uint64_t needed) {
  return too_few(size,
                 size_known
                     ? "a " + std::to_string(width) + " x " + std::to_string(height) + " image"
                     : "its width and height",
                 needed);
}

inline constexpr const char* kTooLong = "the new file would take 2 GiB or more";

// `original` with its pixel block of `old_length` bytes at `offset` replaced by `pixels`: the bytes
// before the block kept (0 where the original ends before it), the bytes after the block kept
// after the new one. nullopt when the result would be longer than kMaxLength.
inline std::optional<Bytes> splice(ByteView original, std::size_t offset, std::uint64_t old_length,
                                   ByteView pixels) {
  const std::size_t kept_before = std::min(offset, original.size());
  const ByteView after = fits(original, offset, old_length)
                             ? original.subspan(offset + static_cast<std::size_t>(old_length))
                             : ByteView{};
  const std::uint64_t length = std::uint64_t{offset} + pixels.size() + after.size();
  if (length > kMaxLength)
    return std::nullopt;
  Bytes out(static_cast<std::size_t>(length), 0);
  std::copy_n(original.begin(), kept_before, out.begin());
  std::copy(pixels.begin(), pixels.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
  std::copy(after.begin(), after.end(), out.end() - static_cast<std::ptrdiff_t>(after.size()));
  return out;
}

// Where a stream encoder puts its bytes: first only counted, then written into a buffer of the
// length counted, so that the output is allocated once, after its length is known.
struct StreamOut {
  std::uint8_t* at = nullptr;  // null while counting
  std::uint64_t length = 0;

  void literals(const std::uint8_t* from, std::size_t count) {
    if (at != nullptr && count != 0)
      at = std::copy_n(from, count, at);
    length += count;
  }
  void pair(std::uint8_t code, std::uint8_t value) {
    if (at != nullptr) {
      *at++ = code;
      *at++ = value;
    }
    length += 2;
  }
};

// Runs `write` (bool(StreamOut&), false when it cannot write) once to count, then once into the
// output. nullopt when it fails or the output would be longer than `limit`.
template <typename Write>
std::optional<Bytes> write_twice(Write write, std::uint64_t limit) {
  StreamOut counting;
  if (!write(counting) || counting.length > limit)
    return std::nullopt;
  Bytes bytes(static_cast<std::size_t>(counting.length));
  StreamOut filling{bytes.data()};
  write(filling);
  return bytes;
}

}  // namespace rebuilding
}  // namespace texport
