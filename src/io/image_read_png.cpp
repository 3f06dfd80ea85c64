// PNG through libpng. A paletted image keeps its own indices and palette (1, 2 and 4-bit indices
// become one byte each, their values kept); its tRNS chunk, and that of a grey or RGB image, is
// ignored, so the channels stay those of the file. Grey of 1, 2 or 4 bits is scaled to 8 bits
// (a 1-bit 1 is 255), 16-bit samples are scaled to 8 bits with rounding.
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "io/image_readers.hpp"

namespace texport::readers {
namespace {

// What the callbacks share: the file, how far libpng has read it, and why it stopped.
struct PngSource {
  ByteView file;
  std::size_t at = 0;
  bool ended = false;
  std::string message;
};

void read_bytes(png_structp png, png_bytep out, std::size_t length) {
  auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (!fits(source->file, source->at, length)) {
    source->ended = true;
    png_error(png, "the file ends early");
  }
  std::memcpy(out, source->file.data() + source->at, length);
  source->at += length;
}

[[noreturn]] void on_error(png_structp png, png_const_charp message) {
  static_cast<PngSource*>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}  // what libpng reads past is no problem of ours

struct PngHeader {
  png_uint_32 width = 0, height = 0;
  int stored_bits = 0;  // a pixel's, as stored
  int colour_type = 0;
};

// libpng reports an error by a longjmp to these frames, so nothing in them has a destructor.
bool read_header(png_structp png, png_infop info, PngHeader* header) {
  if (setjmp(png_jmpbuf(png)))
    return false;
  png_read_info(png, info);
  header->width = png_get_image_width(png, info);
  header->height = png_get_image_height(png, info);
  const int depth = png_get_bit_depth(png, info);
  header->stored_bits = depth * png_get_channels(png, info);
  header->colour_type = png_get_color_type(png, info);
  if (header->colour_type == PNG_COLOR_TYPE_PALETTE)
    png_set_packing(png);
  else if (depth < 8)
    png_set_expand_gray_1_2_4_to_8(png);
  if (depth == 16)
    png_set_scale_16(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

bool read_rows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png)))
    return false;
  png_read_image(png, rows);
  return true;
}

Channels channels_of(int colour_type) {
  switch (colour_type) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return Channels::grey_alpha;
    case PNG_COLOR_TYPE_RGB:
      return Channels::rgb;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return Channels::rgba;
    case PNG_COLOR_TYPE_PALETTE:
      return Channels::indexed;
    default:
      return Channels::grey;
  }
}

// The read and info structs, freed on every path.
struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngReader() = default;
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;
  ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

// Deflate packs at most 1032 bytes into one.
constexpr std::uint64_t kMostDeflateRatio = 1032;

}  // namespace

ReadResult read_png_libpng(ByteView file) {
  PngSource source{file};
  PngReader reader;
  reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, on_error, on_warning);
  if (reader.png != nullptr)
    reader.info = png_create_info_struct(reader.png);
  if (reader.info == nullptr)
    return refused("no memory for the PNG library");
  png_structp png = reader.png;
  png_infop info = reader.info;
  png_set_read_fn(png, &source, read_bytes);
#if defined(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
  // A fuzzer cannot make checksums: let it reach the image data.
  png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
  const auto failed = [&] {
    return refused(source.ended ? "the PNG ends early" : "the PNG library said: " + source.message);
  };

  PngHeader header;
  if (!read_header(png, info, &header))
    return failed();
  const std::string problem =
      size_problem(header.width, header.height,
                   kMostDeflateRatio * file.size() * 8 / static_cast<unsigned>(header.stored_bits));
  if (!problem.empty())
    return refused(problem);
  ReadImage image{
      .width = header.width, .height = header.height, .channels = channels_of(header.colour_type)};
  const std::size_t row_bytes = std::size_t{image.width} * bytes_per_pixel(image.channels);
  if (png_get_rowbytes(png, info) != row_bytes)
    std::abort();  // the transformations above give 8-bit samples
  image.pixels.resize(row_bytes * image.height);
  std::vector<png_bytep> rows(image.height);
  for (std::size_t row = 0; row < rows.size(); ++row)
    rows[row] = image.pixels.data() + row * row_bytes;
  if (!read_rows(png, rows.data()))
    return failed();

  if (image.channels == Channels::indexed) {
    png_colorp palette = nullptr;
    int entries = 0;
    png_get_PLTE(png, info, &palette, &entries);
    for (int i = 0; i < entries; ++i)
      image.palette.insert(image.palette.end(),
                           {palette[i].red, palette[i].green, palette[i].blue});
  }
  return {std::move(image), ""};
}

}  // namespace texport::readers
