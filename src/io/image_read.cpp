#include "io/image_read.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "io/image_readers.hpp"
#include "io/native.hpp"

namespace texport {
namespace {

enum class Expected { other, tiff, tga, bmp };  // by the name

Expected expected_of(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos)
    return Expected::other;
  std::string extension(name.substr(dot));
  std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  if (extension == ".tif" || extension == ".tiff")
    return Expected::tiff;
  if (extension == ".tga")
    return Expected::tga;
  return extension == ".bmp" ? Expected::bmp : Expected::other;
}

bool starts_with(ByteView file, std::string_view signature) {
  return file.size() >= signature.size() &&
         std::equal(signature.begin(), signature.end(), file.begin(),
                    [](char s, std::uint8_t b) { return static_cast<std::uint8_t>(s) == b; });
}

// The layouts the tool writes (native.hpp): the header, whatever it says besides the fields
// below (a template may describe another size; the tool's BMP rows are not padded), then the
// pixels, then the final zeros. Only a file of exactly that length is taken as one.
constexpr std::size_t kTgaBitsAt = 16, kBmpBitsAt = 28, kBmpPixelsFieldAt = 10;
constexpr std::size_t kBmpPixelsAt = kBmpTemplate.header_length + sizeof(BmpPalette);

// The layout of the tool's that `file` is exactly, or none.
const HeaderTemplate* native_layout(ByteView file, std::string_view name) {
  const Expected expected = expected_of(name);
  const HeaderTemplate* header = expected == Expected::tiff  ? &kTifTemplate
                                 : expected == Expected::tga ? &kTgaTemplate
                                 : expected == Expected::bmp ? &kBmpTemplate
                                                             : nullptr;
  if (header == nullptr ||
      !fits(file, 0, header == &kBmpTemplate ? kBmpPixelsAt : header->header_length))
    return nullptr;
  const std::uint64_t pixels = std::uint64_t{read_u16le(file, header->width_offset)} *
                               read_u16le(file, header->height_offset);
  const bool exact =
      header == &kTifTemplate
          ? file.size() == header->header_length + pixels + header->final_zeros && file.back() == 0
      : header == &kTgaTemplate
          ? file.size() == header->header_length + 4 * pixels && file[kTgaBitsAt] == 32
          : file.size() == kBmpPixelsAt + pixels + header->final_zeros && file.back() == 0 &&
                read_u16le(file, kBmpBitsAt) == 8 &&
                read_u32le(file, kBmpPixelsFieldAt) == kBmpPixelsAt;
  return exact ? header : nullptr;
}

ReadImage read_native(ByteView file, const HeaderTemplate& header) {
  ReadImage image{.width = read_u16le(file, header.width_offset),
                  .height = read_u16le(file, header.height_offset)};
  if (&header == &kTifTemplate) {
    image.pixels.assign(file.begin() + header.header_length, file.end() - 1);
  } else if (&header == &kTgaTemplate) {
    // Rows as written, top first, whatever the descriptor says: so the tool writes them, and
    // so does ImageMagick 6 when it saves this very layout (its descriptor says bottom first).
    image.channels = Channels::rgba;
    image.pixels.resize(file.size() - header.header_length);
    exchange_red_blue(file.subspan(header.header_length), image.pixels);
  } else {
    image.channels = Channels::indexed;
    for (std::size_t entry = header.header_length; entry < kBmpPixelsAt; entry += kBmpEntrySize)
      image.palette.insert(image.palette.end(), {file[entry + 2], file[entry + 1], file[entry]});
    // Rows bottom first, each exactly width bytes.
    image.pixels.reserve(file.size() - kBmpPixelsAt - 1);
    for (std::size_t row = image.height; row-- > 0;) {
      const auto start = file.begin() + kBmpPixelsAt + row * image.width;
      image.pixels.insert(image.pixels.end(), start, start + image.width);
    }
  }
  return image;
}

// Indices without a palette entry (a PNG's palette may be short) are refused here, so that every
// index of a result has its colour.
ReadResult checked(ReadResult result) {
  if (!result.image)
    return result;
  const ReadImage& image = *result.image;
  if (image.pixels.size() !=
      std::uint64_t{image.width} * image.height * bytes_per_pixel(image.channels))
    std::abort();  // a reader's mistake, not the file's
  if (image.channels != Channels::indexed)
    return result;
  const std::size_t entries = image.palette.size() / 3;
  const auto highest = std::max_element(image.pixels.begin(), image.pixels.end());
  if (highest != image.pixels.end() && *highest >= entries)
    return readers::refused("pixel index " + std::to_string(*highest) + " past the palette's " +
                            std::to_string(entries) + " entries");
  return result;
}

}  // namespace

namespace readers {

std::string size_problem(std::uint64_t width, std::uint64_t height, std::uint64_t most_pixels) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width > kMaxReadSide || height > kMaxReadSide)
    return size + ", more than " + std::to_string(kMaxReadSide) + " on a side";
  if (width * height > kMaxReadPixels)
    return size + ", more than " + std::to_string(kMaxReadPixels) + " in all";
  if (width * height > most_pixels)
    return size + ", more than the file can hold";
  return "";
}

ReadResult refused(std::string problem) {
  return {std::nullopt, std::move(problem)};
}

}  // namespace readers

ReadResult read_image(ByteView file, std::string_view name) {
  if (const HeaderTemplate* layout = native_layout(file, name)) {
    const std::string problem = readers::size_problem(read_u16le(file, layout->width_offset),
                                                      read_u16le(file, layout->height_offset));
    return problem.empty() ? checked({read_native(file, *layout), ""}) : readers::refused(problem);
  }
  if (starts_with(file, "\x89PNG\r\n\x1a\n"))
#if TEXPORT_READ_PNG_LIBPNG
    return checked(readers::read_png_libpng(file));
#else
    return checked(readers::read_stb(file, readers::StbFormat::png));
#endif
  if (starts_with(file, std::string_view("II*\0", 4)) ||
      starts_with(file, std::string_view("MM\0*", 4)) ||
      starts_with(file, std::string_view("II+\0", 4)) ||
      starts_with(file, std::string_view("MM\0+", 4)))
#if TEXPORT_READ_TIFF
    return checked(readers::read_tiff(file));
#else
    return readers::refused("a TIFF: this build reads no TIFF");
#endif
  if (starts_with(file, "BM"))
    return checked(readers::read_stb(file, readers::StbFormat::bmp));
  // A TGA has no signature: whatever is left may be one.
  return checked(readers::read_stb(file, readers::StbFormat::tga));
}

std::string_view formats_read() {
  return TEXPORT_READ_TIFF ? "PNG, TIFF, TGA, BMP" : "PNG, TGA, BMP";
}

}  // namespace texport
