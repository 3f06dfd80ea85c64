#include "io/templates.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "io/report.hpp"

namespace texport {
namespace {

// Built-in TIFF header: little-endian, first directory at 8, entries from 10, twelve bytes each,
// so the value fields of entries 2 and 3 (ImageWidth, ImageLength) sit at 30 and 42.
// One uncompressed 8-bit grey strip at 1706. Entries must stay in ascending tag order.
enum TiffType : std::uint16_t { kShort = 3, kLong = 4, kRational = 5 };
struct TiffEntry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t value;
};
constexpr std::size_t kTiffDirectoryOffset = 8;
constexpr std::size_t kTiffEntrySize = 12;
constexpr std::size_t kTiffEntryCount = 13;
constexpr std::size_t kTiffResolutionOffset =
    kTiffDirectoryOffset + 2 + kTiffEntryCount * kTiffEntrySize + 4;
static_assert(kTiffDirectoryOffset + 2 + 1 * kTiffEntrySize + 8 == 30);
static_assert(kTiffDirectoryOffset + 2 + 2 * kTiffEntrySize + 8 == 42);
static_assert(kTiffResolutionOffset + 16 <= kTifHeaderLength);

// TGA: uncompressed true colour, 32 bits, 8 alpha bits, row 0 at the top.
constexpr std::uint8_t kTgaTrueColour = 2;
constexpr std::uint8_t kTgaDepth = 32;
constexpr std::uint8_t kTgaDescriptorTopLeft8Alpha = 0x28;

// BMP: 14-byte file header, 40-byte info header, 256-entry colour table, pixels at 1078.
constexpr std::uint32_t kBmpPixelOffset = 1078;
constexpr std::uint32_t kBmpInfoHeaderSize = 40;
constexpr std::uint32_t kPixelsPerMetre72Dpi = 2835;

std::set<std::string, std::less<>>& reported_templates() {
  static std::set<std::string, std::less<>> names;
  return names;
}

void report_stand_in_once(const HeaderTemplate& header_template, const std::string& why) {
  if (!reported_templates().emplace(header_template.file_name).second)
    return;
  report_problem(header_template.file_name, why + "; using a built-in header instead");
}

}  // namespace

Bytes builtin_tif_header(std::uint16_t width, std::uint16_t height) {
  Bytes header(kTifHeaderLength, 0);
  header[0] = 'I';
  header[1] = 'I';
  write_u16le(header, 2, 42);
  write_u32le(header, 4, kTiffDirectoryOffset);
  const std::uint32_t pixel_count = static_cast<std::uint32_t>(width) * height;
  const TiffEntry entries[kTiffEntryCount] = {
      {254, kLong, 0},                              // NewSubfileType
      {256, kShort, width},                         // ImageWidth
      {257, kShort, height},                        // ImageLength
      {258, kShort, 8},                             // BitsPerSample
      {259, kShort, 1},                             // Compression: none
      {262, kShort, 1},                             // Photometric: black is zero
      {273, kLong, kTifHeaderLength},               // StripOffsets
      {277, kShort, 1},                             // SamplesPerPixel
      {278, kShort, height},                        // RowsPerStrip
      {279, kLong, pixel_count},                    // StripByteCounts
      {282, kRational, kTiffResolutionOffset},      // XResolution
      {283, kRational, kTiffResolutionOffset + 8},  // YResolution
      {296, kShort, 2},                             // ResolutionUnit: inch
  };
  write_u16le(header, kTiffDirectoryOffset, kTiffEntryCount);
  std::size_t at = kTiffDirectoryOffset + 2;
  for (const TiffEntry& entry : entries) {
    write_u16le(header, at, entry.tag);
    write_u16le(header, at + 2, entry.type);
    write_u32le(header, at + 4, 1);
    if (entry.type == kShort)
      write_u16le(header, at + 8, static_cast<std::uint16_t>(entry.value));
    else
      write_u32le(header, at + 8, entry.value);
    at += kTiffEntrySize;
  }
  write_u32le(header, at, 0);  // no further directory
  for (std::size_t rational = kTiffResolutionOffset; rational < kTiffResolutionOffset + 16;
       rational += 8) {
    write_u32le(header, rational, 72);
    write_u32le(header, rational + 4, 1);
  }
  return header;
}

Bytes builtin_tga_header(std::uint16_t width, std::uint16_t height) {
  Bytes header(kTgaHeaderLength, 0);
  header[2] = kTgaTrueColour;
  write_u16le(header, 12, width);
  write_u16le(header, 14, height);
  header[16] = kTgaDepth;
  header[17] = kTgaDescriptorTopLeft8Alpha;
  return header;
}

Bytes builtin_bmp_header(std::uint16_t width, std::uint16_t height) {
  Bytes header(kBmpHeaderLength, 0);
  const std::uint32_t pixel_count = static_cast<std::uint32_t>(width) * height;
  header[0] = 'B';
  header[1] = 'M';
  write_u32le(header, 2, kBmpPixelOffset + pixel_count + 1);  // the whole file, final byte too
  write_u32le(header, 10, kBmpPixelOffset);
  write_u32le(header, 14, kBmpInfoHeaderSize);
  write_u32le(header, 18, width);
  write_u32le(header, 22, height);
  write_u16le(header, 26, 1);  // planes
  write_u16le(header, 28, 8);  // bits per pixel
  write_u32le(header, 30, 0);  // no compression
  write_u32le(header, 34, pixel_count);
  write_u32le(header, 38, kPixelsPerMetre72Dpi);
  write_u32le(header, 42, kPixelsPerMetre72Dpi);
  write_u32le(header, 46, 256);  // colours used
  return header;
}

bool place_header(const HeaderTemplate& header_template, const std::optional<Bytes>& template_bytes,
                  MutableBytes out, std::uint16_t width, std::uint16_t height) {
  require_fits(out.size(), 0, header_template.header_length);
  const bool usable = template_bytes && template_bytes->size() >= header_template.header_length;
  const Bytes header = usable ? Bytes() : header_template.builtin_header(width, height);
  const Bytes& source = usable ? *template_bytes : header;
  std::copy_n(source.begin(), header_template.header_length, out.begin());
  write_u16le(out, header_template.width_offset, width);
  write_u16le(out, header_template.height_offset, height);
  return usable;
}

void load_template(const HeaderTemplate& header_template, MutableBytes out, std::uint16_t width,
                   std::uint16_t height) {
  const std::string name(header_template.file_name);
  std::optional<Bytes> template_bytes;
  std::string why;
  errno = 0;
  std::ifstream infile2(name, std::ios::in | std::ios::ate | std::ios::binary);
  if (!infile2) {
    why = std::string("cannot open it") + (errno ? std::string(": ") + std::strerror(errno) : "");
  } else {
    const std::streamoff size2 = infile2.tellg();
    if (size2 < static_cast<std::streamoff>(header_template.header_length)) {
      why = size2 < 0 ? "cannot read it"
                      : "it has " + std::to_string(size2) + " bytes, fewer than the " +
                            std::to_string(header_template.header_length) + " it needs";
    } else {
      // Only the header bytes can reach an output, so only they are read.
      Bytes header(header_template.header_length);
      infile2.seekg(0, std::ios::beg);
      if (infile2.read(reinterpret_cast<char*>(header.data()),
                       static_cast<std::streamsize>(header.size())))
        template_bytes = std::move(header);
      else
        why = "cannot read it";
    }
  }
  if (!place_header(header_template, template_bytes, out, width, height))
    report_stand_in_once(header_template, why);
}

std::optional<Bytes> start_output(const HeaderTemplate& header_template, std::uint16_t width,
                                  std::uint16_t height, std::uint64_t payload_length,
                                  const std::string& output_name) {
  const std::uint64_t length = output_length(header_template, payload_length);
  if (length > kMaxLength) {
    report_problem(output_name, "not written: " + std::to_string(length) +
                                    " bytes would reach 2 GiB, more than this tool handles");
    return std::nullopt;
  }
  std::optional<Bytes> out(std::in_place, static_cast<std::size_t>(length), std::uint8_t{0});
  load_template(header_template, *out, width, height);
  return out;
}

}  // namespace texport
