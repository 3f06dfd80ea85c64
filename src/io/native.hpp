// The native image of each kind of picture, as the tool has always written it:
//
//   kind      image   header (template)   payload
//   grey      TIF     HEADER.TIF          the pixels as stored
//   rgba      TGA     HEADERTGA32         the pixels with bytes 0 and 2 exchanged: blue, green,
//                                         red, alpha, rows in source order
//   indexed   BMP     HEADERBMP           the palette as 256 entries of blue, green, red, 0 (at
//                                         54), then the rows bottom first (a BMP with a positive
//                                         height stores its bottom row first), each exactly
//                                         width bytes: no fill to a multiple of 4
//
// then the template's final zero bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "io/bytes.hpp"
#include "io/picture.hpp"
#include "io/templates.hpp"

namespace texport {

const HeaderTemplate& native_template(PixelKind kind);

// The whole length of the native image: header, payload and final zeros.
std::uint64_t native_length(const Picture& picture);

inline constexpr std::size_t kBmpEntrySize = 4;
using BmpPalette = std::array<std::uint8_t, kPaletteEntries * kBmpEntrySize>;

// The 4-byte entries of a BMP colour table from 256 entries of red, green, blue.
BmpPalette bmp_palette(ByteView palette);

// Copies pixels into `out` (the same length, a multiple of 4), exchanging bytes 0 and 2 of each.
void exchange_red_blue(ByteView pixels, MutableBytes out);

// The native image of `picture` behind `header` as pieces for one gather write: the bytes that
// lie in the picture are taken from where they lie (stored pixels from their file); what had to
// be made is kept in `storage`.
std::vector<Part> native_parts(const Picture& picture, ByteView header, Bytes& storage);

// Why most readers would refuse the native image, although it is what the format holds: a
// width or height of 0, or BMP rows not padded to a multiple of 4. "" when nothing is to be said.
std::string native_caveat(const Picture& picture);

}  // namespace texport
