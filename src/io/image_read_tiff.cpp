// TIFF through libtiff, from memory, in any compression libtiff has: 8 bits a sample, in strips,
// samples of a pixel side by side. Grey (min-is-white inverted), grey and alpha, RGB, RGBA (the
// extra sample taken as alpha, associated or not, as stored) and paletted (its own indices, the
// 16-bit colour map taken to 8 bits as value >> 8). Rows are taken as stored, top first; an
// Orientation tag is not followed. libtiff's messages go into the problem, never to the console.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "io/image_readers.hpp"

namespace texport::readers {
namespace {

// What the callbacks share: the file, where libtiff reads it, and why it stopped.
struct TiffSource {
  ByteView file;
  std::uint64_t at = 0;
  bool ended = false;  // libtiff asked for bytes past the end
  std::string message;
};

TiffSource& source_of(thandle_t handle) {
  return *static_cast<TiffSource*>(handle);
}

tmsize_t read_proc(thandle_t handle, void* out, tmsize_t length) {
  TiffSource& source = source_of(handle);
  const std::uint64_t left = source.at < source.file.size() ? source.file.size() - source.at : 0;
  const std::uint64_t count = std::min<std::uint64_t>(left, static_cast<std::uint64_t>(length));
  if (count < static_cast<std::uint64_t>(length))
    source.ended = true;
  if (count > 0)
    std::memcpy(out, source.file.data() + source.at, count);
  source.at += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t write_proc(thandle_t, void*, tmsize_t) {
  return -1;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
  TiffSource& source = source_of(handle);
  const std::uint64_t base = whence == SEEK_CUR   ? source.at
                             : whence == SEEK_END ? source.file.size()
                                                  : 0;
  source.at = base + offset;  // past the end is allowed, as for a file; reads there give nothing
  return source.at;
}

int close_proc(thandle_t) {
  return 0;
}

toff_t size_proc(thandle_t handle) {
  return source_of(handle).file.size();
}

int on_error(TIFF*, void* user, const char*, const char* format, va_list arguments) {
  std::string& message = static_cast<TiffSource*>(user)->message;
  if (message.empty()) {  // the first says why
    char text[256];
    std::vsnprintf(text, sizeof text, format, arguments);
    message = text;
  }
  return 1;
}

int on_warning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;  // what libtiff reads past is no problem of ours
}

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct OptionsFreer {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

template <typename T>
T field(TIFF* tiff, ttag_t tag) {
  T value{};
  TIFFGetFieldDefaulted(tiff, tag, &value);
  return value;
}

// The channels of a layout we read, or none.
std::optional<Channels> channels_of(std::uint16_t photometric, std::uint16_t samples) {
  switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
      if (samples <= 2)
        return samples == 1 ? Channels::grey : Channels::grey_alpha;
      break;
    case PHOTOMETRIC_RGB:
      if (samples == 3 || samples == 4)
        return samples == 3 ? Channels::rgb : Channels::rgba;
      break;
    case PHOTOMETRIC_PALETTE:
      if (samples == 1)
        return Channels::indexed;
      break;
  }
  return std::nullopt;
}

}  // namespace

ReadResult read_tiff(ByteView file) {
  TiffSource source{file};
  const std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options)
    return refused("no memory for the TIFF library");
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), on_error, &source);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), on_warning, nullptr);
  // "m": no mapping; the file is read through read_proc.
  const std::unique_ptr<TIFF, TiffCloser> opened(
      TIFFClientOpenExt("image", "rm", &source, read_proc, write_proc, seek_proc, close_proc,
                        size_proc, nullptr, nullptr, options.get()));
  TIFF* tiff = opened.get();
  const auto failed = [&] {
    return refused(source.ended ? "the TIFF ends early"
                                : "the TIFF library said: " + source.message);
  };
  if (tiff == nullptr)
    return failed();

  const auto width = field<std::uint32_t>(tiff, TIFFTAG_IMAGEWIDTH);
  const auto height = field<std::uint32_t>(tiff, TIFFTAG_IMAGELENGTH);
  const auto bits = field<std::uint16_t>(tiff, TIFFTAG_BITSPERSAMPLE);
  const auto samples = field<std::uint16_t>(tiff, TIFFTAG_SAMPLESPERPIXEL);
  const auto photometric = field<std::uint16_t>(tiff, TIFFTAG_PHOTOMETRIC);
  if (std::string problem = size_problem(width, height); !problem.empty())
    return refused(problem);
  if (bits != 8)
    return refused("a TIFF of " + std::to_string(bits) + " bits a sample");
  if (TIFFIsTiled(tiff))
    return refused("a TIFF in tiles");
  if (samples > 1 && field<std::uint16_t>(tiff, TIFFTAG_PLANARCONFIG) != PLANARCONFIG_CONTIG)
    return refused("a TIFF with its samples in separate planes");
  const std::optional<Channels> channels = channels_of(photometric, samples);
  if (!channels)
    return refused("a TIFF of photometric interpretation " + std::to_string(photometric) +
                   " with " + std::to_string(samples) + " samples a pixel");
  const std::uint64_t row_bytes = std::uint64_t{width} * samples;
  if (TIFFScanlineSize64(tiff) != row_bytes)
    return refused("a TIFF whose rows are not " + std::to_string(row_bytes) + " bytes");

  ReadImage image{.width = width, .height = height, .channels = *channels};
  if (image.channels == Channels::indexed) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue))
      return refused("a paletted TIFF without a colour map");
    for (std::size_t i = 0; i < 256; ++i)  // 2 to the power of 8 bits a sample
      image.palette.insert(image.palette.end(), {static_cast<std::uint8_t>(red[i] >> 8),
                                                 static_cast<std::uint8_t>(green[i] >> 8),
                                                 static_cast<std::uint8_t>(blue[i] >> 8)});
  }
  // The pixels grow with the rows that decode, so a file that claims many rows but holds few
  // never has them allocated.
  for (std::uint32_t row = 0; row < height; ++row) {
    image.pixels.resize((row + std::uint64_t{1}) * row_bytes);
    if (TIFFReadScanline(tiff, image.pixels.data() + row * row_bytes, row, 0) < 0)
      return failed();
  }
  if (photometric == PHOTOMETRIC_MINISWHITE)
    for (std::size_t at = 0; at < image.pixels.size(); at += samples)
      image.pixels[at] = static_cast<std::uint8_t>(255 - image.pixels[at]);
  return {std::move(image), ""};
}

}  // namespace texport::readers
