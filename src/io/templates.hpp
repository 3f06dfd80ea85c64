// Header templates: every native image is the first bytes of a template file from the source's
// folder, with width and height patched in (two bytes, low byte first), followed by the payload
// and, for TIF and BMP, one zero byte.
//
//   file            bytes taken   width at   height at   zero bytes after the payload
//   "HEADER.TIF"    1706          30         42          1
//   "HEADERTGA32"     18          12         14          0
//   "HEADERBMP"       54          18         22          1
//
// Every other template byte passes through. A template that is missing, unreadable or too short
// is replaced by a built-in header of ours, made for each image's width and height.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "io/bytes.hpp"
#include "io/picture.hpp"
#include "io/sink.hpp"
#include "platform/files.hpp"

namespace texport {

struct HeaderTemplate {
  std::string_view file_name;
  std::string_view format;    // what its images are: "TIFF"
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
    {.file_name = "HEADER.TIF", .format = "TIFF", .header_length = 1706, .width_offset = 30,
     .height_offset = 42, .final_zeros = 1, .builtin_header = builtin_tif_header},
    {.file_name = "HEADERTGA32", .format = "TGA", .header_length = 18, .width_offset = 12,
     .height_offset = 14, .final_zeros = 0, .builtin_header = builtin_tga_header},
    {.file_name = "HEADERBMP", .format = "BMP", .header_length = 54, .width_offset = 18,
     .height_offset = 22, .final_zeros = 1, .builtin_header = builtin_bmp_header},
};
// clang-format on
inline constexpr const HeaderTemplate& kTifTemplate = kTemplates[0];
inline constexpr const HeaderTemplate& kTgaTemplate = kTemplates[1];
inline constexpr const HeaderTemplate& kBmpTemplate = kTemplates[2];

// Both patch places of every template lie inside the bytes it gives.
static_assert(std::ranges::all_of(kTemplates, [](const HeaderTemplate& t) {
  return fits(t.header_length, t.width_offset, 2) && fits(t.header_length, t.height_offset, 2);
}));

// The template named `name` with letter case folded (a folder may ignore it), or none.
const HeaderTemplate* template_named(std::string_view name);

// What a template file gave: its first header_length bytes, when it has them.
struct TemplateRead {
  Bytes bytes;             // header_length bytes, or empty
  std::uint64_t size = 0;  // the file's length
  std::error_code error;   // why it could not be read
};
// Read anew for every image (a template changed during a run takes effect from the next image);
// only the bytes that can reach an output are read.
TemplateRead read_template(const HeaderTemplate& header_template, const platform::Folder& folder);

// The header of one image, width and height patched in, and what is worth saying about its
// template: why it could not be used (once per template and run), or that it describes images
// of another size, which readers then misread (once per template and size).
struct ImageHeader {
  Bytes bytes;
  Problem unusable_kind = Problem::note;
  std::string unusable;
  std::string misfit;
};
// `read` is what the template gave; none: the built-in header, by choice, with nothing to say.
ImageHeader image_header(const HeaderTemplate& header_template, const TemplateRead* read,
                         const Picture& picture);

}  // namespace texport
