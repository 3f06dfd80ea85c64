// PNG images of pictures, through a PNG library: grey pictures as 8-bit greyscale, rgba as 8-bit
// RGBA, indexed as 8-bit paletted with the picture's own 256 colours and indices (so an editor
// keeps the image in its palette). Builds with libpng write exactly that (png_libpng.cpp); the
// others, with stb_image_write only, write indexed pictures as RGB (png_stb.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "io/bytes.hpp"
#include "io/folder_sink.hpp"
#include "io/picture.hpp"

namespace texport {

// The most bytes the PNG of a picture of that kind and size can take.
std::uint64_t png_length_bound(const Picture& picture);

// The PNG of `picture` into `out`; false, with the reason in `problem`, when there is none (a
// PNG holds no image of width or height 0).
bool encode_png(const Picture& picture, Bytes& out, std::string& problem);

inline constexpr Encoder kPngEncoder{"png", png_length_bound, encode_png};

}  // namespace texport
