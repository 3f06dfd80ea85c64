#include "io/templates.hpp"

#include <set>
#include <string>

#include "io/report.hpp"
#include "platform/files.hpp"

namespace texport {
namespace {

// A field of a built-in header: `size` bytes (1, 2 or 4), little-endian, at `offset`.
struct Field {
  std::size_t offset;
  std::size_t size;
  std::uint32_t value;
};

template <std::size_t N>
Bytes header_of(std::size_t length, const Field (&fields)[N]) {
  Bytes header(length, 0);
  for (const Field& field : fields)
    for (std::size_t i = 0; i < field.size; ++i)
      header.at(field.offset + i) = static_cast<std::uint8_t>(field.value >> (8 * i));
  return header;
}

// TIFF: little-endian, first directory at 8 holding 13 entries of 12 bytes from 10 (tag, type,
// count 1, value), in ascending tag order, so the values of entries 2 and 3 (ImageWidth,
// ImageLength) sit at 30 and 42. The two resolutions (72/1) follow the directory.
enum TiffType : std::uint16_t { kShort = 3, kLong = 4, kRational = 5 };
constexpr std::size_t kTiffDirectory = 8, kTiffEntrySize = 12, kTiffEntries = 13;
constexpr std::size_t kTiffResolution = kTiffDirectory + 2 + kTiffEntries * kTiffEntrySize + 4;
static_assert(kTiffDirectory + 2 + 1 * kTiffEntrySize + 8 == kTifTemplate.width_offset &&
              kTiffDirectory + 2 + 2 * kTiffEntrySize + 8 == kTifTemplate.height_offset &&
              kTiffResolution + 16 <= kTifTemplate.header_length);

constexpr std::uint32_t kBmpPixelOffset = 1078;
constexpr std::uint32_t kPixelsPerMetreAt72Dpi = 2835;

}  // namespace

Bytes builtin_tif_header(std::uint16_t width, std::uint16_t height) {
  const std::uint32_t pixel_count = std::uint32_t{width} * height;
  const std::uint32_t entries[kTiffEntries][3] = {
      {254, kLong, 0},                           // NewSubfileType
      {256, kShort, width},                      // ImageWidth
      {257, kShort, height},                     // ImageLength
      {258, kShort, 8},                          // BitsPerSample
      {259, kShort, 1},                          // Compression: none
      {262, kShort, 1},                          // Photometric: black is zero
      {273, kLong, kTifTemplate.header_length},  // StripOffsets
      {277, kShort, 1},                          // SamplesPerPixel
      {278, kShort, height},                     // RowsPerStrip
      {279, kLong, pixel_count},                 // StripByteCounts
      {282, kRational, kTiffResolution},         // XResolution
      {283, kRational, kTiffResolution + 8},     // YResolution
      {296, kShort, 2},                          // ResolutionUnit: inch
  };
  Bytes header = header_of(kTifTemplate.header_length, {{0, 2, 'I' | 'I' << 8},
                                                        {2, 2, 42},
                                                        {4, 4, kTiffDirectory},
                                                        {kTiffDirectory, 2, kTiffEntries},
                                                        {kTiffResolution, 4, 72},
                                                        {kTiffResolution + 4, 4, 1},
                                                        {kTiffResolution + 8, 4, 72},
                                                        {kTiffResolution + 12, 4, 1}});
  for (std::size_t i = 0; i < kTiffEntries; ++i) {
    const std::size_t at = kTiffDirectory + 2 + i * kTiffEntrySize;
    const auto& [tag, type, value] = entries[i];
    write_u16le(header, at, static_cast<std::uint16_t>(tag));
    write_u16le(header, at + 2, static_cast<std::uint16_t>(type));
    write_u32le(header, at + 4, 1);
    write_u32le(header, at + 8, value);  // a short sits in the low two bytes
  }
  return header;
}

Bytes builtin_tga_header(std::uint16_t width, std::uint16_t height) {
  return header_of(kTgaTemplate.header_length, {
                                                   {2, 1, 2},  // uncompressed true colour
                                                   {12, 2, width},
                                                   {14, 2, height},
                                                   {16, 1, 32},    // bits a pixel
                                                   {17, 1, 0x28},  // 8 alpha bits, row 0 on top
                                               });
}

Bytes builtin_bmp_header(std::uint16_t width, std::uint16_t height) {
  const std::uint32_t pixel_count = std::uint32_t{width} * height;
  return header_of(kBmpTemplate.header_length,
                   {
                       {0, 2, 'B' | 'M' << 8},
                       {2, 4, kBmpPixelOffset + pixel_count + 1},  // the file, final byte too
                       {10, 4, kBmpPixelOffset},
                       {14, 4, 40},  // size of the information header
                       {18, 4, width},
                       {22, 4, height},
                       {26, 2, 1},  // planes
                       {28, 2, 8},  // bits a pixel
                       {34, 4, pixel_count},
                       {38, 4, kPixelsPerMetreAt72Dpi},
                       {42, 4, kPixelsPerMetreAt72Dpi},
                       {46, 4, 256},  // colours used
                   });
}

Bytes load_template(const HeaderTemplate& header_template, std::uint16_t width,
                    std::uint16_t height) {
  const std::string name(header_template.file_name);
  Bytes header(header_template.header_length);
  platform::File file;
  std::uint64_t size = 0;
  std::error_code error = platform::open_for_reading(name, file, size);
  // Only the header bytes can reach an output, so only they are read.
  const bool long_enough = !error && size >= header.size();
  if (long_enough)
    error = platform::read_exactly(file, header);
  if (error || !long_enough) {
    header = header_template.builtin_header(width, height);
    static std::set<std::string_view> reported;  // once per template and run
    if (reported.insert(header_template.file_name).second)
      report(name, error ? Problem::cannot : Problem::damaged,
             (error ? "use it: " + error.message() : too_few(size, "a header", header.size())) +
                 "; using a built-in header");
  }
  write_u16le(header, header_template.width_offset, width);
  write_u16le(header, header_template.height_offset, height);
  return header;
}

}  // namespace texport
