#include "io/templates.hpp"

#include <optional>
#include <string>

#include "io/report.hpp"

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
constexpr std::size_t kBmpFileSizeOffset = 2, kBmpImageSizeOffset = 34;
constexpr std::uint16_t kTagRowsPerStrip = 278, kTagStripByteCounts = 279;

// The value of a one-count SHORT or LONG entry `tag` of a TIFF's first directory, when the
// directory lies in `header`.
std::optional<std::uint32_t> tiff_value(ByteView header, std::uint16_t tag) {
  if (!fits(header, 0, 8) || read_u16le(header, 0) != ('I' | 'I' << 8))
    return std::nullopt;
  const std::uint64_t directory = read_u32le(header, 4);
  if (!fits(header, directory, 2))
    return std::nullopt;
  const std::uint16_t entries = read_u16le(header, static_cast<std::size_t>(directory));
  for (std::uint64_t i = 0; i < entries; ++i) {
    const std::uint64_t at = directory + 2 + i * kTiffEntrySize;
    if (!fits(header, at, kTiffEntrySize))
      return std::nullopt;
    const auto entry = static_cast<std::size_t>(at);
    const std::uint16_t type = read_u16le(header, entry + 2);
    if (read_u16le(header, entry) == tag && read_u32le(header, entry + 4) == 1 &&
        (type == kShort || type == kLong))
      return type == kShort ? read_u16le(header, entry + 8) : read_u32le(header, entry + 8);
  }
  return std::nullopt;
}

// Whether the template's own fields describe an image of another size than `picture`, so that
// readers misread what is written behind it: the note to give, or "".
std::string misfit(const HeaderTemplate& header_template, ByteView header, const Picture& picture) {
  const std::uint64_t pixels = std::uint64_t{picture.width} * picture.height;
  bool misread = false;
  if (&header_template == &kTifTemplate) {
    const auto rows = tiff_value(header, kTagRowsPerStrip);
    const auto strip = tiff_value(header, kTagStripByteCounts);
    misread = (strip && *strip != pixels) || (rows && *rows < picture.height);
  } else if (&header_template == &kBmpTemplate) {
    const std::uint32_t file_size = read_u32le(header, kBmpFileSizeOffset);
    const std::uint32_t image_size = read_u32le(header, kBmpImageSizeOffset);
    misread =
        (file_size != kBmpPixelOffset + pixels && file_size != kBmpPixelOffset + pixels + 1) ||
        (image_size != 0 && image_size != pixels);
  }
  if (!misread)
    return "";
  const auto size = [](std::uint16_t width, std::uint16_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
  };
  return "describes " +
         size(read_u16le(header, header_template.width_offset),
              read_u16le(header, header_template.height_offset)) +
         " images; " + size(picture.width, picture.height) + " " + std::string(picture.noun) +
         " get a header that readers misread: leave it out for such images";
}

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

const HeaderTemplate* template_named(std::string_view name) {
  const auto fold = [](char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  };
  for (const HeaderTemplate& header_template : kTemplates)
    if (std::ranges::equal(name, header_template.file_name, {}, fold, fold))
      return &header_template;
  return nullptr;
}

TemplateRead read_template(const HeaderTemplate& header_template, const platform::Folder& folder) {
  TemplateRead read;
  platform::File file;
  read.error =
      platform::open_for_reading(folder, std::string(header_template.file_name), file, read.size);
  if (!read.error && read.size >= header_template.header_length) {
    read.bytes.resize(header_template.header_length);
    read.error = platform::read_at(file, 0, read.bytes);
    if (read.error)
      read.bytes.clear();
  }
  return read;
}

ImageHeader image_header(const HeaderTemplate& header_template, const TemplateRead* read,
                         const Picture& picture) {
  ImageHeader header;
  const std::uint16_t width = picture.width, height = picture.height;
  if (read != nullptr && !read->bytes.empty()) {
    header.bytes = read->bytes;
    header.misfit = misfit(header_template, header.bytes, picture);
  } else {
    header.bytes = header_template.builtin_header(width, height);
    const std::string builtin = "built-in " + std::string(header_template.format) + " headers";
    if (read == nullptr) {
    } else if (read->error == std::errc::no_such_file_or_directory) {
      header.unusable = "none here: " + builtin;
    } else if (read->error) {
      header.unusable_kind = Problem::cannot;
      header.unusable = "use it: " + read->error.message() + "; " + builtin + " instead";
    } else {
      header.unusable_kind = Problem::damaged;
      header.unusable = too_few(read->size, "a header", header_template.header_length) + "; " +
                        builtin + " instead";
    }
  }
  write_u16le(header.bytes, header_template.width_offset, width);
  write_u16le(header.bytes, header_template.height_offset, height);
  return header;
}

}  // namespace texport
