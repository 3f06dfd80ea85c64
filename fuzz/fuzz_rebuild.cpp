// Rebuilds of any source, tried as each format. Every image as the converter reads it gives back
// the source byte for byte. One image edited (a pixel, the size or the palette, as the last byte
// of the input chooses) gives a source of the same form that reads as the original with that
// image in its place and keeps the bytes around it, or, for .sfd, a refusal.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/m32.hpp"
#include "convert/m8.hpp"
#include "convert/rebuild.hpp"
#include "convert/sfd.hpp"
#include "convert/tex.hpp"
#include "fuzz_checks.hpp"

namespace {

using namespace texport;
using texport::fuzz::check;

// Keeps each input cheap: sources past these are not rebuilt.
constexpr std::uint64_t kFuzzLayerLimit = 1u << 16;
constexpr std::uint64_t kFuzzTotalLimit = 1u << 17;
constexpr std::uint64_t kFuzzPixelLimit = 1u << 18;

struct Image {
  std::uint64_t number = 1;
  std::uint16_t width = 0, height = 0;
  Bytes pixels, palette;
  bool operator==(const Image&) const = default;
};

Image image_of(std::uint64_t number, std::uint16_t width, std::uint16_t height, ByteView pixels,
               ByteView palette = {}) {
  return {number, width, height, Bytes(pixels.begin(), pixels.end()),
          Bytes(palette.begin(), palette.end())};
}

Replacement view(const Image& image) {
  return {image.number, image.width, image.height, image.pixels, image.palette};
}

// The edit `how` asks for: a pixel changed, a row less or the palette changed where there is one,
// else a column more or less; pixels are cut or continued with `how`.
Image edited(const Image& image, std::uint8_t how, std::size_t pixel_size) {
  Image out = image;
  if (how % 4 == 0 && !out.pixels.empty())
    out.pixels[how % out.pixels.size()] ^= 0x5A;
  if (how % 4 == 1 && out.height > 0)
    --out.height;
  if (how % 4 == 2 && !out.palette.empty())
    out.palette.assign(kPaletteLength, how);
  if (out == image)
    out.width = image.width < 511 ? image.width + 1 : image.width - 1;
  out.pixels.resize(pixel_size * out.width * out.height, how);
  return out;
}

// .sfd: each packed layer's bytes 0 and 2 to 5 and sign, then the frames the converter finds and
// whether a frame out of range ends them; none past a pixel limit. The caller keeps the layers
// within limits.
struct SfdRead {
  std::vector<Bytes> forms;
  std::vector<Image> frames;
  bool damaged = false;
  bool operator==(const SfdRead&) const = default;
};
std::optional<SfdRead> read_sfd(ByteView source) {
  SfdRead read;
  Bytes storage;
  ByteView data = source;
  for (; sfd::is_packed(data); data = storage) {
    read.forms.push_back(data.size() > sfd::kSignOffset
                             ? Bytes{data[0], data[2], data[3], data[4], data[5], data[7]}
                             : Bytes(data.begin(), data.end()));
    Bytes next(static_cast<std::size_t>(sfd::unpacked_length(data)));
    sfd::unpack_into(data, next);
    storage = std::move(next);
  }
  std::uint64_t pixels = 0;
  sfd::FrameLookup lookup;
  for (std::uint64_t m = 1; (lookup = sfd::find_frame(data, m)).status == sfd::FrameStatus::found;
       ++m) {
    if ((pixels += lookup.frame.pixels.size() + 1) > kFuzzPixelLimit)
      return std::nullopt;
    read.frames.push_back(
        image_of(m, lookup.frame.width, lookup.frame.height, lookup.frame.pixels));
  }
  read.damaged = lookup.status == sfd::FrameStatus::out_of_range;
  return read;
}

void check_sfd(ByteView source, std::uint8_t how) {
  sfd::LayerStorage storage;
  if (sfd::unpack_layers(source, storage, kFuzzLayerLimit, kFuzzTotalLimit).refused_length != 0)
    return;
  const std::optional<SfdRead> original = read_sfd(source);
  if (!original)
    return;
  std::vector<Replacement> every;
  for (const Image& frame : original->frames)
    every.push_back(view(frame));
  check(sfd::rebuild(source, every, kFuzzLayerLimit, kFuzzTotalLimit).bytes ==
        Bytes(source.begin(), source.end()));
  if (original->frames.empty())
    return;

  // One frame edited, given alone or with every other frame as it is.
  SfdRead expected = *original;
  Image& frame = expected.frames[how % expected.frames.size()];
  frame = edited(frame, how / 4, 1);
  std::vector<Replacement> given{view(frame)};
  if (how % 2 == 1)
    for (const Image& other : expected.frames)
      if (other.number != frame.number)
        given.push_back(view(other));
  const Rebuilt rebuilt = sfd::rebuild(source, given, kFuzzLayerLimit, kFuzzTotalLimit);
  check(rebuilt.bytes.has_value() == rebuilt.problem.empty());
  if (rebuilt.bytes)
    check(read_sfd(*rebuilt.bytes) == expected);
}

// The bytes of `out` before `end` are those of `source`, where it has them, but in the ranges
// (offset, length) a rebuild writes.
using Ranges = std::initializer_list<std::pair<std::size_t, std::size_t>>;
bool same_before(ByteView source, ByteView out, std::size_t end, Ranges written) {
  for (std::size_t i = 0; i < std::min(end, source.size()); ++i)
    if (std::ranges::none_of(written,
                             [&](const auto& range) {
                               return i >= range.first && i - range.first < range.second;
                             }) &&
        source[i] != out[i])
      return false;
  return true;
}

// The bytes after the pixel block at `offset` in `source` come after the new block in `out`.
bool same_after(ByteView source, ByteView out, std::size_t offset, std::uint64_t old_length,
                std::uint64_t new_length) {
  const ByteView after = fits(source, offset, old_length)
                             ? source.subspan(static_cast<std::size_t>(offset + old_length))
                             : ByteView{};
  return out.size() == offset + new_length + after.size() &&
         std::ranges::equal(out.last(after.size()), after);
}

std::optional<Image> read_tex(ByteView source) {
  const tex::Header header = tex::read_header(source);
  const std::uint64_t count = std::uint64_t{header.width} * header.height;
  if ((header.layout != tex::Layout::plain && header.layout != tex::Layout::packed) ||
      count > kFuzzPixelLimit)
    return std::nullopt;
  Bytes pixels(static_cast<std::size_t>(count), 0);
  if (header.layout == tex::Layout::packed)
    tex::decode_stream(source, header.sign, pixels.size(), pixels);
  else
    tex::copy_plain_pixels(source, pixels);
  return image_of(1, header.width, header.height, pixels);
}

void check_tex(ByteView source, std::uint8_t how) {
  const std::optional<Image> image = read_tex(source);
  if (!image)
    return;
  check(tex::rebuild(source, view(*image)).bytes == Bytes(source.begin(), source.end()));
  if (image->width >= tex::kSizeLimit || image->height >= tex::kSizeLimit)
    return;
  const Image changed = edited(*image, how, 1);
  const Rebuilt rebuilt = tex::rebuild(source, view(changed));
  const tex::Header header = tex::read_header(source);
  if (!rebuilt.bytes) {
    check(header.layout == tex::Layout::packed && header.sign == 0);
    return;
  }
  const Bytes& out = *rebuilt.bytes;
  check(read_tex(out) == changed && tex::layout(out) == tex::layout(source));
  if (header.layout == tex::Layout::plain) {
    check(same_before(source, out, tex::kPlainPixelsOffset, {{0, 4}}) &&
          same_after(source, out, tex::kPlainPixelsOffset, image->pixels.size(),
                     changed.pixels.size()));
  } else {  // A and B too, unless the stream outgrew them
    const bool largest_form = read_u32le(out, 0) == 0xFFFF'FFFF;
    check(same_before(source, out, tex::kStreamOffset, {{0, largest_form ? 4 : 0}, {6, 4}}));
  }
}

void check_m32(ByteView source, std::uint8_t how) {
  const m32::ImageLookup lookup = m32::find_image(source);
  const m32::Image& found = lookup.image;
  if (lookup.status != m32::ImageStatus::found || found.pixels.size() > kFuzzPixelLimit)
    return;
  const Image image = image_of(1, found.width, found.height, found.pixels);
  check(m32::rebuild(source, view(image)).bytes == Bytes(source.begin(), source.end()));
  const Image changed = edited(image, how, m32::kBytesPerPixel);
  const Rebuilt rebuilt = m32::rebuild(source, view(changed));
  check(rebuilt.bytes.has_value());
  const Bytes& out = *rebuilt.bytes;
  const m32::ImageLookup after = m32::find_image(out);
  check(after.status == m32::ImageStatus::found &&
        image_of(1, after.image.width, after.image.height, after.image.pixels) == changed);
  const m32::Layout& layout = *std::ranges::find(m32::kLayouts, source[0], &m32::Layout::type);
  check(same_before(source, out, layout.pixel_offset,
                    {{layout.width_offset, 2}, {layout.height_offset, 2}}) &&
        same_after(source, out, layout.pixel_offset, image.pixels.size(), changed.pixels.size()));
}

void check_m8(ByteView source, std::uint8_t how) {
  const m8::ImageLookup lookup = m8::find_image(source);
  const m8::Image& found = lookup.image;
  if (lookup.status != m8::ImageStatus::found || found.pixels.size() > kFuzzPixelLimit)
    return;
  const Image image = image_of(1, found.width, found.height, found.pixels, found.palette);
  check(m8::rebuild(source, view(image)).bytes == Bytes(source.begin(), source.end()));
  const Image changed = edited(image, how, 1);
  const Rebuilt rebuilt = m8::rebuild(source, view(changed));
  check(rebuilt.bytes.has_value());
  const Bytes& out = *rebuilt.bytes;
  const m8::ImageLookup after = m8::find_image(out);
  check(after.status == m8::ImageStatus::found &&
        image_of(1, after.image.width, after.image.height, after.image.pixels,
                 after.image.palette) == changed);
  check(
      same_before(
          source, out, m8::kPixelOffset,
          {{m8::kWidthOffset, 2}, {m8::kHeightOffset, 2}, {m8::kPaletteOffset, kPaletteLength}}) &&
      same_after(source, out, m8::kPixelOffset, image.pixels.size(), changed.pixels.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView source(data, size);
  const std::uint8_t how = size == 0 ? 0 : data[size - 1];
  check_sfd(source, how);
  check_tex(source, how);
  check_m32(source, how);
  check_m8(source, how);
  return 0;
}
