// Header templates: every output is the first bytes of a template file from the working folder,
// with width and height patched in (two bytes, low byte first), followed by the payload and, for
// TIF and BMP, one zero byte.
//
//   file            bytes taken   width at   height at   zero bytes after the payload
//   "HEADER.TIF"    1706          30         42          1
//   "HEADERTGA32"     18          12         14          0
//   "HEADERBMP"       54          18         22          1
//
// Every other template byte passes through. A template that is missing, unreadable or too short
// is replaced by a built-in header of ours for the image's width and height, and the user is told
// once per template and run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "io/bytes.hpp"

namespace texport {

struct HeaderTemplate {
  std::string_view file_name;
  std::size_t header_length;  // bytes of the template that reach an output
  std::size_t width_offset;
  std::size_t height_offset;
  std::size_t final_zeros;  // zero bytes written after the payload
  Bytes (*builtin_header)(std::uint16_t width, std::uint16_t height);
};

// Baseline TIFF, 8-bit grey, uncompressed, one strip at 1706.
Bytes builtin_tif_header(std::uint16_t width, std::uint16_t height);
// Uncompressed 32-bit TGA, 8 alpha bits, row 0 at the top.
Bytes builtin_tga_header(std::uint16_t width, std::uint16_t height);
// 8-bit BMP with a 256-entry colour table, pixels at 1078, file and image sizes filled in.
Bytes builtin_bmp_header(std::uint16_t width, std::uint16_t height);

// A table, one template a row.
// clang-format off
inline constexpr HeaderTemplate kTemplates[] = {
    {.file_name = "HEADER.TIF", .header_length = 1706, .width_offset = 30, .height_offset = 42,
     .final_zeros = 1, .builtin_header = builtin_tif_header},
    {.file_name = "HEADERTGA32", .header_length = 18, .width_offset = 12, .height_offset = 14,
     .final_zeros = 0, .builtin_header = builtin_tga_header},
    {.file_name = "HEADERBMP", .header_length = 54, .width_offset = 18, .height_offset = 22,
     .final_zeros = 1, .builtin_header = builtin_bmp_header},
};
// clang-format on
inline constexpr const HeaderTemplate& kTifTemplate = kTemplates[0];
inline constexpr const HeaderTemplate& kTgaTemplate = kTemplates[1];
inline constexpr const HeaderTemplate& kBmpTemplate = kTemplates[2];

// Both patch places of every template lie inside the bytes it gives.
static_assert(std::ranges::all_of(kTemplates, [](const HeaderTemplate& t) {
  return fits(t.header_length, t.width_offset, 2) && fits(t.header_length, t.height_offset, 2);
}));

// The header of one image: the template's first bytes, read anew (a template changed during a run
// takes effect from the next image), or the built-in stand-in; width and height patched in.
Bytes load_template(const HeaderTemplate& header_template, std::uint16_t width,
                    std::uint16_t height);

}  // namespace texport
