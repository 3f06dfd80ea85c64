#include <algorithm>

#include "convert/byte_scan.hpp"
#include "convert/rebuild.hpp"
#include "convert/tex.hpp"

namespace texport::tex {
namespace {

using rebuilding::refused;

// Writes our stream of `pixels`; false when S = 0 meets a lone pixel below 30. Literal stretches
// are found in bulk: they end at the next run-code or escape value, or at two equal pixels.
bool write_stream(ByteView pixels, std::uint8_t sign, rebuilding::StreamOut& out) {
  const unsigned s = sign;
  const std::size_t longest = std::min(kRunCodeSpan, 255u - s) + 2;
  const unsigned low = s >= 1 ? s - 1 : 0;  // the escape, when there is one, then the run codes
  const ByteRange special{static_cast<std::uint8_t>(low),
                          static_cast<std::uint8_t>(std::min(s + kRunCodeSpan, 255u) - low)};
  const std::uint8_t* const end = pixels.data() + pixels.size();
  out.pair(sign, 0);  // two copies of 0 for the two dropped positions
  const std::uint8_t* stop = special.find_in(pixels.data(), end);
  for (const std::uint8_t* at = pixels.data(); at != end;) {
    if (stop < at)
      stop = special.find_in(at, end);
    const std::uint8_t* run = at;
    while (stop - run >= 2 && run[0] != run[1])
      ++run;
    if (stop - run < 2)
      run = stop;
    out.literals(at, static_cast<std::size_t>(run - at));
    if (run == end)
      return true;
    const std::size_t limit = std::min(static_cast<std::size_t>(end - run), longest);
    std::size_t count = 1;
    while (count < limit && run[count] == run[0])
      ++count;
    if (count >= 2) {
      // Without an escape, a run of a run-code value must not leave exactly one copy behind it.
      const std::uint8_t* const after = run + count;
      if (s == 0 && count == longest && after != end && after[0] == run[0] &&
          (after + 1 == end || after[1] != run[0]))
        --count;
      out.pair(static_cast<std::uint8_t>(s + count - 2), run[0]);
    } else if (s == 0) {
      return false;
    } else {
      out.pair(static_cast<std::uint8_t>(s - 1), run[0]);
    }
    at = run + count;
  }
  return true;
}

// What the converter decodes from the source, compared with `pixels`.
bool decodes_to(ByteView source, const Header& header, ByteView pixels) {
  Bytes decoded(pixels.size(), 0);
  if (header.layout == Layout::packed)
    decode_stream(source, header.sign, decoded.size(), decoded);
  else
    copy_plain_pixels(source, decoded);
  return std::ranges::equal(decoded, pixels);
}

}  // namespace

std::optional<Bytes> pack_stream(ByteView pixels, std::uint8_t sign) {
  return rebuilding::write_twice(
      [&](rebuilding::StreamOut& out) { return write_stream(pixels, sign, out); }, kMaxLength);
}

Rebuilt rebuild(ByteView original, const Replacement& image) {
  if (std::string wrong = rebuilding::wrong_pixel_count(image, 1, "the image"); !wrong.empty())
    return refused(wrong);
  const Header header = read_header(original);
  switch (header.layout) {
    case Layout::too_short:
      return refused("a texture of fewer than 4 bytes holds no image");
    case Layout::packed_too_short:
      return refused("a packed texture of fewer than 16 bytes holds no image");
    case Layout::packed_rejected:
      return refused("a packed texture whose bytes 4 and 5 are not both 0 is not converted");
    case Layout::plain:
    case Layout::packed:
      break;
  }
  if (image.width == header.width && image.height == header.height &&
      decodes_to(original, header, image.pixels))
    return {Bytes(original.begin(), original.end()), {}};
  if (image.width >= kSizeLimit || image.height >= kSizeLimit)
    return refused("an image of " + std::to_string(image.width) + " x " +
                   std::to_string(image.height) + "; textures stay under 512 on a side");

  if (header.layout == Layout::plain) {
    // Width and height are also A and B of the form test: the file, at least 20 bytes longer than
    // its pixels, stays plain.
    std::optional<Bytes> out = rebuilding::splice(
        original, kPlainPixelsOffset, std::uint64_t{header.width} * header.height, image.pixels);
    if (!out)
      return refused(rebuilding::kTooLong);
    write_u16le(*out, kPlainWidthOffset, image.width);
    write_u16le(*out, kPlainHeightOffset, image.height);
    return {std::move(out), {}};
  }
  const std::optional<Bytes> stream = pack_stream(image.pixels, header.sign);
  if (!stream)
    return refused("sign 0 has no escape, and a pixel below 30 stands alone in the image");
  Bytes out(kStreamOffset + stream->size(), 0);
  std::copy_n(original.begin(), std::min(kStreamOffset, original.size()), out.begin());
  std::copy(stream->begin(), stream->end(), out.begin() + kStreamOffset);
  write_u16le(out, kPackedWidthOffset, image.width);
  write_u16le(out, kPackedHeightOffset, image.height);
  // The form test must still say packed: A * B above the length. A stream that outgrows the
  // original's A and B gets the largest ones, whose product is above any length we write.
  static_assert(std::uint64_t{0xFFFF} * 0xFFFF > kMaxLength);
  if (out.size() >= std::uint64_t{read_u16le(out, kFormAOffset)} * read_u16le(out, kFormBOffset)) {
    write_u16le(out, kFormAOffset, 0xFFFF);
    write_u16le(out, kFormBOffset, 0xFFFF);
  }
  return {std::move(out), {}};
}

}  // namespace texport::tex
