// Builders of sample files of every source format, for the example generator and the tests. The
// packed forms go through the tool's own encoders (convert/rebuild.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "io/bytes.hpp"

namespace texport::samples {

struct SfdFrame {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  Bytes pixels;  // width * height bytes, or fewer to build a damaged frame
};

// A frame container: count, offset table, then each frame (8-byte header and pixels).
Bytes sfd_container(const std::vector<SfdFrame>& frames);

// A packed form around a raw run-length stream (the stream starts at offset 6), behind the header
// 00 01 01 01 00 00.
Bytes sfd_packed_from_stream(ByteView stream);

// Packs `data` with compression sign `sign` behind the same header (sfd::pack_layer). Byte 7 is
// both the sign's source and the stream's second byte, so only data whose start fits the sign can
// be packed: nullopt otherwise.
std::optional<Bytes> sfd_pack(ByteView data, std::uint8_t sign);

// A plain .tex: width, height, 16 unread bytes, then the pixels (width * height of them, or fewer
// to build a short file).
Bytes tex_plain(std::uint16_t width, std::uint16_t height, ByteView pixels);

// A packed .tex around a raw stream (from offset 23). Bytes 0 to 3 hold A = B = 0x4000, whose
// product (2^28, below 2^31) exceeds the length of any sample; bytes 4 and 5 are 0.
Bytes tex_packed_from_stream(std::uint16_t width, std::uint16_t height, std::uint8_t sign,
                             ByteView stream);

// A packed .tex of width * height pixels with compression sign `sign` (tex::pack_stream). With
// S = 0 there is no escape: nullopt when a lone pixel is below 30.
std::optional<Bytes> tex_pack(std::uint16_t width, std::uint16_t height, ByteView pixels,
                              std::uint8_t sign);

// A deterministic pattern of `count` pixels with some runs in it.
Bytes sample_pixels(std::size_t count, std::uint32_t seed);

// A small packed .sfd whose packed layers nest `depth` deep and grow about 15.5 times a layer,
// the innermost reaching 31^(depth-1) * scale bytes (X = 0xDE, "DE DE" unpacks to 31 X).
Bytes sfd_nested_bomb(int depth, std::uint64_t scale);

// A .m32 file of layout `type` (2, 3 or 4) holding an x * y image of RGBA pixels (`rgba`, 4 bytes
// a pixel; fewer bytes build a truncated file). Every byte outside the layout's fields is `filler`.
Bytes m32_file(std::uint8_t type, std::uint16_t x, std::uint16_t y, ByteView rgba,
               std::uint8_t filler = 0xEE);

// A .m8 file: an x * y image of palette indices (`indices`, x * y bytes; fewer bytes build a
// truncated file) with its 768-byte red, green, blue palette. Every other byte is `filler`.
Bytes m8_file(std::uint16_t x, std::uint16_t y, ByteView palette, ByteView indices,
              std::uint8_t filler = 0xEE);

// A smooth, opaque RGBA picture of x * y pixels: red across, green down, a blue ring.
Bytes picture_rgba(std::uint16_t x, std::uint16_t y);

// A palette of 256 colours running through the hues, and an x * y picture of indices into it.
Bytes rainbow_palette();
Bytes picture_indices(std::uint16_t x, std::uint16_t y);

}  // namespace texport::samples
