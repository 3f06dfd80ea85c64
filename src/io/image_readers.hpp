// The library readers behind read_image (image_read.cpp), one file a library, and what they share.
// Each is given a whole file whose signature is its format's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/image_read.hpp"

namespace texport::readers {

// "" when an image of width x height may be read; else why not. `most_pixels`: the most pixels
// that the file's length can hold at all, its data packed as tightly as its format allows.
std::string size_problem(std::uint64_t width, std::uint64_t height,
                         std::uint64_t most_pixels = kMaxReadPixels);

inline constexpr std::string_view kNotAnImage = "not a PNG, TIFF, TGA or BMP";

// A result without an image.
ReadResult refused(std::string problem);

// libpng (image_read_png.cpp).
ReadResult read_png_libpng(ByteView file);
// libtiff (image_read_tiff.cpp).
ReadResult read_tiff(ByteView file);

// stb_image (image_read_stb.cpp): BMP and TGA, and PNG where libpng is absent. A file that is
// no TGA either is kNotAnImage.
enum class StbFormat { png, bmp, tga };
ReadResult read_stb(ByteView file, StbFormat format);

}  // namespace texport::readers
