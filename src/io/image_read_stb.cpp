// BMP (any header version, 1 to 32 bits a pixel, no RLE), TGA (uncompressed or RLE, either row
// order) and, where libpng is absent, PNG, through stb_image. stb expands a paletted image to its
// colours: a paletted BMP or TGA gives RGB or RGBA, and so does a paletted PNG in builds without
// libpng (they give no palette indices). 16-bit PNG samples are taken to 8 bits (value >> 8).
//
// stb fills what a file lacks with zeros, or leaves it unwritten; so the file reaches stb through
// callbacks that note a read past its end, and an uncompressed TGA is measured first (stb reads
// its rows in blocks that the callbacks cannot tell from read-ahead), as are a PNG's chunks.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#if !TEXPORT_READ_PNG_LIBPNG
#define STBI_ONLY_PNG
#endif
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#include <algorithm>
#include <cstring>
#include <memory>

#include "io/image_readers.hpp"

namespace texport::readers {
namespace {

struct StbSource {
  ByteView file;
  std::size_t at = 0;
  bool ended = false;  // stb asked for bytes when none were left
};

int read_callback(void* user, char* out, int size) {
  auto& source = *static_cast<StbSource*>(user);
  const std::size_t count =
      std::min(static_cast<std::size_t>(std::max(size, 0)), source.file.size() - source.at);
  if (count == 0)
    source.ended = true;
  else
    std::memcpy(out, source.file.data() + source.at, count);
  source.at += count;
  return static_cast<int>(count);
}

void skip_callback(void* user, int n) {
  auto& source = *static_cast<StbSource*>(user);
  if (n >= 0)
    source.at += std::min<std::size_t>(static_cast<std::size_t>(n), source.file.size() - source.at);
  else  // back over bytes read
    source.at -= std::min<std::size_t>(static_cast<std::size_t>(-std::int64_t{n}), source.at);
}

int eof_callback(void* user) {
  const auto& source = *static_cast<StbSource*>(user);
  return source.at >= source.file.size();
}

constexpr stbi_io_callbacks kCallbacks{read_callback, skip_callback, eof_callback};

struct StbFree {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

// The most pixels a file of `size` bytes can hold: a BMP at 1 bit a pixel; a TGA in RLE packets
// of 2 bytes for 128 pixels; a PNG at 1 bit a pixel packed 1032 times by deflate.
std::uint64_t most_pixels(StbFormat format, std::uint64_t size) {
  switch (format) {
    case StbFormat::bmp:
      return 8 * size;
    case StbFormat::tga:
      return 64 * size;
    case StbFormat::png:
      break;
  }
  return 8 * 1032 * size;
}

// An uncompressed TGA (types 1 to 3) holds its identification field and every pixel after its
// 18-byte header.
constexpr std::size_t kTgaHeader = 18, kTgaType = 2, kTgaBits = 16;
bool tga_too_short(ByteView file, std::uint64_t pixels) {
  if (!fits(file, 0, kTgaHeader) || file[kTgaType] < 1 || file[kTgaType] > 3)
    return false;
  return !fits(file, 0, kTgaHeader + file[0] + pixels * ((file[kTgaBits] + 7u) / 8));
}

#if !TEXPORT_READ_PNG_LIBPNG
// stb sizes its buffer for a PNG's image data by the lengths its chunks claim: every chunk up to
// the end one must lie in the file.
bool png_chunks_fit(ByteView file) {
  for (std::uint64_t at = 8; fits(file, at, 8);) {
    const std::uint64_t length =
        std::uint64_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
    if (!fits(file, at, 12 + length))
      return false;
    if (std::equal(file.begin() + at + 4, file.begin() + at + 8, "IEND"))
      break;
    at += 12 + length;
  }
  return true;
}
#endif

constexpr std::string_view kNames[] = {"PNG", "BMP", "TGA"};

}  // namespace

ReadResult read_stb(ByteView file, StbFormat format) {
  const std::string name(kNames[static_cast<int>(format)]);
  if (file.size() > static_cast<std::size_t>(INT32_MAX))  // stb counts in int
    return refused("a " + name + " of more than " + std::to_string(INT32_MAX) + " bytes");
  StbSource source{file};
  int width = 0, height = 0, components = 0;
  if (!stbi_info_from_callbacks(&kCallbacks, &source, &width, &height, &components))
    return refused(format == StbFormat::tga ? std::string(kNotAnImage)
                                            : "a " + name + " whose header cannot be read");
  if (std::string problem =
          size_problem(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                       most_pixels(format, file.size()));
      !problem.empty())
    return refused(problem);
  if (format == StbFormat::tga && tga_too_short(file, std::uint64_t(width) * height))
    return refused("the TGA ends early");
#if !TEXPORT_READ_PNG_LIBPNG
  if (format == StbFormat::png && !png_chunks_fit(file))
    return refused("the PNG ends early");
#endif

  source = StbSource{file};
  const std::unique_ptr<stbi_uc, StbFree> pixels(
      stbi_load_from_callbacks(&kCallbacks, &source, &width, &height, &components, 0));
  if (source.ended)
    return refused("the " + name + " ends early");
  if (!pixels)
    return refused("the " + name + " library said: " + stbi_failure_reason());
  constexpr Channels kChannels[] = {Channels::grey, Channels::grey_alpha, Channels::rgb,
                                    Channels::rgba};
  ReadImage image{.width = static_cast<std::uint32_t>(width),
                  .height = static_cast<std::uint32_t>(height),
                  .channels = kChannels[std::clamp(components, 1, 4) - 1]};
  image.pixels.assign(pixels.get(), pixels.get() + std::size_t{image.width} * image.height *
                                                       bytes_per_pixel(image.channels));
  return {std::move(image), ""};
}

}  // namespace texport::readers
