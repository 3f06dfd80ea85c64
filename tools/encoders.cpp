#include "encoders.hpp"

#include <algorithm>

#include "convert/m32.hpp"
#include "convert/m8.hpp"
#include "convert/rebuild.hpp"
#include "convert/sfd.hpp"
#include "convert/tex.hpp"

namespace texport::samples {

Bytes sfd_container(const std::vector<SfdFrame>& frames) {
  const std::size_t table_end = 4 + 4 * frames.size();
  Bytes out(table_end, 0);
  write_u32le(out, 0, static_cast<std::uint32_t>(frames.size()));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    write_u32le(out, 4 + 4 * i, static_cast<std::uint32_t>(out.size()));
    const std::size_t header = out.size();
    out.resize(header + sfd::kFrameHeaderSize, 0);
    write_u16le(out, header + sfd::kFrameWidthOffset, frames[i].width);
    write_u16le(out, header + sfd::kFrameHeightOffset, frames[i].height);
    out.insert(out.end(), frames[i].pixels.begin(), frames[i].pixels.end());
  }
  return out;
}

// Bytes 0 and 2 to 5 are not read; 01 01 01 lets a packed form itself be packed again.
constexpr std::uint8_t kSfdHeader[sfd::kStreamOffset] = {0x00, sfd::kPackedFlag, 0x01, 0x01, 0x00,
                                                         0x00};

Bytes sfd_packed_from_stream(ByteView stream) {
  Bytes out(sizeof kSfdHeader + stream.size());
  std::copy(std::begin(kSfdHeader), std::end(kSfdHeader), out.begin());
  std::copy(stream.begin(), stream.end(), out.begin() + sizeof kSfdHeader);
  return out;
}

std::optional<Bytes> sfd_pack(ByteView data, std::uint8_t sign) {
  return sfd::pack_layer(data, sign, kSfdHeader);
}

Bytes tex_plain(std::uint16_t width, std::uint16_t height, ByteView pixels) {
  Bytes out(tex::kPlainPixelsOffset + pixels.size(), 0);
  write_u16le(out, tex::kPlainWidthOffset, width);
  write_u16le(out, tex::kPlainHeightOffset, height);
  std::copy(pixels.begin(), pixels.end(), out.begin() + tex::kPlainPixelsOffset);
  return out;
}

Bytes tex_packed_from_stream(std::uint16_t width, std::uint16_t height, std::uint8_t sign,
                             ByteView stream) {
  constexpr std::uint16_t kFormSide = 0x4000;
  Bytes out(tex::kStreamOffset + stream.size(), 0);
  if (out.size() >= std::uint64_t{kFormSide} * kFormSide)
    std::abort();  // would read as the plain form
  write_u16le(out, tex::kFormAOffset, kFormSide);
  write_u16le(out, tex::kFormBOffset, kFormSide);
  write_u16le(out, tex::kPackedWidthOffset, width);
  write_u16le(out, tex::kPackedHeightOffset, height);
  out[tex::kSignOffset] = sign;
  std::copy(stream.begin(), stream.end(), out.begin() + tex::kStreamOffset);
  return out;
}

std::optional<Bytes> tex_pack(std::uint16_t width, std::uint16_t height, ByteView pixels,
                              std::uint8_t sign) {
  if (pixels.size() != std::size_t{width} * height)
    return std::nullopt;
  const std::optional<Bytes> stream = tex::pack_stream(pixels, sign);
  if (!stream)
    return std::nullopt;
  return tex_packed_from_stream(width, height, sign, *stream);
}

Bytes sample_pixels(std::size_t count, std::uint32_t seed) {
  Bytes out(count);
  std::uint32_t state = seed * 2654435761u + 12345u;
  for (std::size_t i = 0; i < count;) {
    state = state * 1664525u + 1013904223u;
    const auto value = static_cast<std::uint8_t>(state >> 24);
    const std::size_t run = (state >> 8) % 4 == 0 ? 1 + (state >> 12) % 40 : 1;
    for (std::size_t k = 0; k < run && i < count; ++k)
      out[i++] = value;
  }
  return out;
}

Bytes sfd_nested_bomb(int depth, std::uint64_t scale) {
  // Layer k is: header, stream prefix Q_k, then m_k bytes of 0xDE (pairs "DE DE" when packed
  // with sign C0). The prefix of layer k unpacks to the header and prefix of layer k + 1.
  constexpr std::uint8_t kSign = 0xC0;
  constexpr std::uint8_t kX = kSign + 30;
  Bytes prefix{0x00, 0xC2, 0x01};  // innermost prefix, Q_{depth-1}
  for (int k = depth - 2; k >= 1; --k) {
    Bytes layer = sfd_packed_from_stream(prefix);
    Bytes packed = *sfd_pack(layer, kSign);
    prefix.assign(packed.begin() + sfd::kStreamOffset, packed.end());
  }
  const std::uint64_t tail = (std::uint64_t{1} << (depth - 1)) * scale;  // m_1
  Bytes out = sfd_packed_from_stream(prefix);
  out.insert(out.end(), static_cast<std::size_t>(tail), kX);
  return out;
}

Bytes m32_file(std::uint8_t type, std::uint16_t x, std::uint16_t y, ByteView rgba,
               std::uint8_t filler) {
  const m32::Layout layout = *std::find_if(m32::kLayouts.begin(), m32::kLayouts.end(),
                                           [&](const m32::Layout& l) { return l.type == type; });
  Bytes out(layout.pixel_offset + rgba.size(), filler);
  out[m32::kTypeOffset] = type;
  write_u16le(out, layout.width_offset, x);
  write_u16le(out, layout.height_offset, y);
  std::copy(rgba.begin(), rgba.end(),
            out.begin() + static_cast<std::ptrdiff_t>(layout.pixel_offset));
  return out;
}

Bytes m8_file(std::uint16_t x, std::uint16_t y, ByteView palette, ByteView indices,
              std::uint8_t filler) {
  Bytes out(m8::kPixelOffset + indices.size(), filler);
  write_u16le(out, m8::kWidthOffset, x);
  write_u16le(out, m8::kHeightOffset, y);
  std::copy_n(palette.begin(), kPaletteLength,
              out.begin() + static_cast<std::ptrdiff_t>(m8::kPaletteOffset));
  std::copy(indices.begin(), indices.end(),
            out.begin() + static_cast<std::ptrdiff_t>(m8::kPixelOffset));
  return out;
}

namespace {

std::uint8_t scaled(unsigned value, unsigned range) {
  return static_cast<std::uint8_t>(range <= 1 ? 0 : value * 255u / (range - 1));
}

}  // namespace

Bytes picture_rgba(std::uint16_t x, std::uint16_t y) {
  Bytes out(std::size_t{4} * x * y);
  for (unsigned row = 0; row < y; ++row) {
    for (unsigned column = 0; column < x; ++column) {
      const int dx = 2 * static_cast<int>(column) - x;
      const int dy = 2 * static_cast<int>(row) - y;
      const int ring = (dx * dx + dy * dy) / 64 % 8;
      std::uint8_t* pixel = &out[4 * (std::size_t{row} * x + column)];
      pixel[0] = scaled(column, x);
      pixel[1] = scaled(row, y);
      pixel[2] = static_cast<std::uint8_t>(ring < 4 ? 224 : 32);
      pixel[3] = 255;
    }
  }
  return out;
}

Bytes rainbow_palette() {
  Bytes out(kPaletteLength);
  for (unsigned i = 0; i < kPaletteEntries; ++i) {
    // Six ramps of about 43 entries: red up to yellow, green, cyan, blue, magenta and back.
    const unsigned sector = i * 6 / 256;
    const auto rise = static_cast<std::uint8_t>(i * 6 % 256);
    const auto fall = static_cast<std::uint8_t>(255 - rise);
    const std::uint8_t rgb[6][3] = {{255, rise, 0}, {fall, 255, 0}, {0, 255, rise},
                                    {0, fall, 255}, {rise, 0, 255}, {255, 0, fall}};
    std::copy_n(rgb[sector], 3, out.begin() + 3 * i);
  }
  return out;
}

Bytes picture_indices(std::uint16_t x, std::uint16_t y) {
  Bytes out(std::size_t{x} * y);
  for (unsigned row = 0; row < y; ++row)
    for (unsigned column = 0; column < x; ++column)
      out[std::size_t{row} * x + column] = static_cast<std::uint8_t>(column * 4 + (row / 8) * 16);
  return out;
}

}  // namespace texport::samples
