// Header templates: every output is the first bytes of a template file from the working folder,
// with width and height patched in, followed by what the converter places behind it.
//
//   file            bytes taken   width at   height at   zero bytes after the payload
//   "HEADER.TIF"    1706          30         42          1
//   "HEADERTGA32"     18          12         14          0
//   "HEADERBMP"       54          18         22          1
//
// Width and height go in as two bytes, low byte first; every other template byte passes through.
// A template that is missing, unreadable or too short is replaced by a built-in header of ours
// for the image's width and height, and the user is told once per template name and run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "io/bytes.hpp"

namespace texport {

struct HeaderTemplate {
  std::string_view file_name;
  std::size_t header_length;  // bytes of the template that reach an output
  std::size_t width_offset;
  std::size_t height_offset;
  std::size_t trailing_bytes;  // zero bytes written after the payload
  Bytes (*builtin_header)(std::uint16_t width, std::uint16_t height);
};

Bytes builtin_tif_header(std::uint16_t width, std::uint16_t height);
Bytes builtin_tga_header(std::uint16_t width, std::uint16_t height);
Bytes builtin_bmp_header(std::uint16_t width, std::uint16_t height);

inline constexpr std::size_t kTifHeaderLength = 1706;
inline constexpr std::size_t kTgaHeaderLength = 18;
inline constexpr std::size_t kBmpHeaderLength = 54;

inline constexpr HeaderTemplate kTifTemplate{"HEADER.TIF",      kTifHeaderLength, 30, 42, 1,
                                             builtin_tif_header};
inline constexpr HeaderTemplate kTgaTemplate{"HEADERTGA32",     kTgaHeaderLength, 12, 14, 0,
                                             builtin_tga_header};
inline constexpr HeaderTemplate kBmpTemplate{"HEADERBMP", kBmpHeaderLength,  18, 22,
                                             1,           builtin_bmp_header};

static_assert(kTifTemplate.width_offset + 2 <= kTifTemplate.header_length);
static_assert(kTifTemplate.height_offset + 2 <= kTifTemplate.header_length);
static_assert(kTgaTemplate.height_offset + 2 <= kTgaTemplate.header_length);
static_assert(kBmpTemplate.height_offset + 2 <= kBmpTemplate.header_length);

// Length of an output whose payload (the bytes behind the header) has `payload_length` bytes.
constexpr std::uint64_t output_length(const HeaderTemplate& header_template,
                                      std::uint64_t payload_length) {
  return header_template.header_length + payload_length + header_template.trailing_bytes;
}

// Puts the header bytes of a template at the front of `out` and patches width and height in.
// Pure: `template_bytes` is what the template file held (nullopt when it could not be read).
// Returns false when the built-in header had to stand in.
bool place_header(const HeaderTemplate& header_template, const std::optional<Bytes>& template_bytes,
                  MutableBytes out, std::uint16_t width, std::uint16_t height);

// Reads the template file anew (a template changed during a run takes effect from the next image)
// and places its header into the front of `out`, reporting a built-in stand-in once per run.
void load_template(const HeaderTemplate& header_template, MutableBytes out, std::uint16_t width,
                   std::uint16_t height);

// Allocates a zero-filled output for `payload_length` bytes behind the header, with the header
// loaded and patched. An output that would reach 2 GiB is reported under `output_name` and
// refused (nullopt).
std::optional<Bytes> start_output(const HeaderTemplate& header_template, std::uint16_t width,
                                  std::uint16_t height, std::uint64_t payload_length,
                                  const std::string& output_name);

}  // namespace texport
