#include "convert/rebuild.hpp"

#include <gtest/gtest.h>

#include <optional>

#include "driver/capture.hpp"
#include "driver/formats.hpp"
#include "encoders.hpp"
#include "support/table.hpp"
#include "test_cards.hpp"

namespace texport {
namespace {

using testing::file_of;

// An image as a test holds it; Replacement only views one.
struct Image {
  std::uint64_t number = 1;
  std::uint16_t width = 0, height = 0;
  Bytes pixels, palette;
  bool operator==(const Image&) const = default;
};

struct Want {
  std::vector<Image> images;   // the replacements
  std::optional<Bytes> bytes;  // the new source, where the row gives it whole
  std::string problem;         // a refusal: why
};
using Row = testing::Row<Want>;
Want rebuilds(std::vector<Image> images, std::optional<Bytes> bytes = {}) {
  return {std::move(images), std::move(bytes), {}};
}
Want refuses(std::vector<Image> images, std::string problem) {
  return {std::move(images), {}, std::move(problem)};
}

// What the converter reads from a source (its images, as converting it gives them) and how it is
// stored.
struct Format {
  const texport::Format& format;
  std::string (*form)(ByteView);

  std::vector<Image> images(ByteView source) const {
    Capture capture;
    format.convert(source, std::string(format.extension), capture.sink());
    std::vector<Image> images;
    for (const CapturedPicture& picture : capture.pictures)
      images.push_back(
          {images.size() + 1, picture.width, picture.height, picture.pixels, picture.palette});
    return images;
  }
};

// Each packed layer's bytes 0 and 2 to 5 and its sign byte.
std::string sfd_form(ByteView source) {
  std::string form;
  Bytes storage;
  for (ByteView data = source; sfd::is_packed(data); data = storage) {
    for (std::size_t at : {0, 2, 3, 4, 5, 7})
      form += std::to_string(data[at]) + " ";
    Bytes next(sfd::unpacked_length(data));
    sfd::unpack_into(data, next);
    storage = std::move(next);
  }
  return form;
}

const Format kSfd{kFormats[0], sfd_form};
const Format kTex{kFormats[1], tex::layout};
const Format kM32{kFormats[2], m32::layout};
const Format kM8{kFormats[3], m8::layout};

// The row rebuilt: refused with its problem, or a source of the same form that reads as the
// original with each replaced image in place of its own (and the row's bytes, where it has them).
void expect_rebuild(const Format& format, const Row& row) {
  const Want& want = row.want;
  std::vector<Replacement> replacements;
  for (const Image& image : want.images)
    replacements.push_back({image.number, image.width, image.height, image.pixels, image.palette});
  const Rebuilt rebuilt = format.format.rebuild(row.source, replacements);
  EXPECT_EQ(rebuilt.problem, want.problem);
  ASSERT_EQ(rebuilt.bytes.has_value(), want.problem.empty());
  if (!rebuilt.bytes)
    return;
  if (want.bytes) {
    EXPECT_EQ(*rebuilt.bytes, *want.bytes);
  }
  std::vector<Image> expected = format.images(row.source);
  for (const Image& image : want.images) {
    Image& old = expected.at(image.number - 1);
    old = {image.number, image.width, image.height, image.pixels,
           image.palette.empty() ? old.palette : image.palette};
  }
  EXPECT_EQ(format.images(*rebuilt.bytes), expected);
  EXPECT_EQ(format.form(*rebuilt.bytes), format.form(row.source));
}

// Every image as it is: the original comes back.
Row unchanged(const char* name, const Format& format, Bytes source) {
  std::vector<Image> images = format.images(source);
  return {name, source, rebuilds(std::move(images), source)};
}

// .sfd

Bytes cards(std::size_t count) {
  std::vector<samples::SfdFrame> frames;
  for (std::size_t i = 1; i <= count; ++i)
    frames.push_back({64, 48, samples::grey_card(64, 48, std::to_string(i))});
  return samples::sfd_container(frames);
}
Bytes damaged_cards() {  // frame 3 of 4 lies past the end
  Bytes damaged = cards(4);
  write_u32le(damaged, 12, static_cast<std::uint32_t>(damaged.size() + 100));
  return damaged;
}
Image card(std::uint64_t number, std::uint8_t first_pixel) {
  Bytes pixels = samples::grey_card(64, 48, std::to_string(number));
  pixels[0] = first_pixel;
  return {number, 64, 48, pixels};
}

// `container` packed in layers, the innermost with the first sign. Each inner layer starts with
// the next sign + 2, so that a packing with any sign fits it.
Bytes layered(Bytes data, std::initializer_list<std::uint8_t> signs) {
  for (auto sign = signs.begin(); sign != signs.end(); ++sign) {
    const std::uint8_t first = sign + 1 != signs.end() ? sign[1] + 2 : 0x5A;
    data = *sfd::pack_layer(data, *sign, Bytes{first, 0, 0xA1, 0xA2, 0xA3, 0xA4});
  }
  return data;
}

// The count (0 to 3) fits the signs: 2 for 00, C2 and FE, 3 for 01.
const Bytes kTwo = samples::sfd_container({{2, 2, {1, 2, 3, 4}}, {3, 1, {5, 6, 7}}});
const Bytes kThree = samples::sfd_container({{2, 2, {1, 2, 3, 4}}, {3, 1, {5, 6, 7}}, {1, 1, {8}}});
// S = C0, packed by another packer: 00 00 02 00 C3 00 where ours writes 00 02 C4 00.
const Bytes kOtherPacker{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0xC2, 0x00, 0x08, 0xC2,
                         0x00, 0x02, 0x00, 0x02, 0x00, 0xC3, 0x00, 0xC2, 0x05, 0x07};

// Frames of 2 x 1 and 1 x 1 with header bytes 4 to 7 set, two bytes before, between and after them.
const Bytes kTable{2, 0, 0, 0, 14, 0, 0, 0, 26, 0, 0, 0, 0xB1, 0xB2};
const Bytes kFrame1{2, 0, 1, 0, 0xA1, 0xA2, 0xA3, 0xA4, 5, 6};
const Bytes kFrame2{1, 0, 1, 0, 0xA5, 0xA6, 0xA7, 0xA8, 7};
const Bytes kGapped = kTable + kFrame1 + Bytes{0xC1, 0xC2} + kFrame2 + Bytes{0xD1, 0xD2};
// The same with the table the other way round: frame 1 at 26, frame 2 at 14.
const Bytes kSwapped = file_of({{4, {26}}, {8, {14}}}, kGapped);
// Frames 1 and 2 at one place, frame 3 behind it.
const Bytes kShared = Bytes{3, 0, 0, 0, 16, 0, 0, 0, 16, 0, 0, 0, 26, 0, 0, 0} + kFrame1 + kFrame2;
// Frame 2's width and height are the last 4 of frame 1's 4 x 2 pixels.
const Bytes kOverlapping = Bytes{2, 0, 0, 0, 12, 0, 0, 0, 24, 0, 0, 0} +
                           Bytes{4, 0, 2, 0, 0xA1, 0xA2, 0xA3, 0xA4, 9, 9, 9, 9, 1, 0, 1, 0} +
                           Bytes{0xB1, 0xB2, 0xB3, 0xB4, 7};
// Frame 1's header starts in the table: its width is the 4 of its own entry, its height 0.
const Bytes kInTable{1, 0, 0, 0, 4, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0xA4};
const Bytes kOverlappingDamaged = file_of({{0, {3}}}, kOverlapping);  // frame 3 out of range
const Image kOverlapped{1, 4, 2, {9, 9, 9, 9, 2, 0, 1, 0}};

const Row kSfdRows[] = {
    unchanged("example damaged sfd unchanged", kSfd, damaged_cards()),
    unchanged("another packer's layer unchanged", kSfd, kOtherPacker),
    unchanged("sign 00 unchanged", kSfd, layered(kTwo, {0x00})),
    unchanged("signs 01 inside FE unchanged", kSfd, layered(kThree, {0x01, 0xFE})),
    unchanged("signs FE inside C2 inside 02 unchanged", kSfd, layered(kTwo, {0xFE, 0xC2, 0x02})),
    {"one pixel changed in place", kGapped,
     rebuilds({{2, 1, 1, {9}}}, file_of({{34, {9}}}, kGapped))},
    {"one pixel changed, packed with sign 00", layered(kTwo, {0x00}),
     rebuilds({{1, 2, 2, {1, 2, 3, 9}}})},
    {"a frame grows inside 3 layers", layered(kTwo, {0xFE, 0xC2, 0x02}),
     rebuilds({{2, 1, 4, {5, 6, 7, 0xC2}}})},
    {"another packer's layer changed: packed again by ours", kOtherPacker,
     rebuilds({{1, 2, 2, {5, 5, 5, 8}}})},
    {"damaged: a frame before the one out of range changed", damaged_cards(),
     rebuilds({card(2, 7)})},
    {"a frame grows: frames move with the bytes behind them", kGapped,
     rebuilds({{1, 3, 1, {8, 9, 10}}}, file_of({{8, {27}}}, kTable) +
                                           Bytes{3, 0, 1, 0, 0xA1, 0xA2, 0xA3, 0xA4, 8, 9, 10} +
                                           Bytes{0xC1, 0xC2} + kFrame2 + Bytes{0xD1, 0xD2})},
    {"frames laid out in table order, the last bytes at the end", kSwapped,
     rebuilds({{2, 1, 1, {9}}}, file_of({{8, {23}}}, kTable) + kFrame2 +
                                    Bytes{1, 0, 1, 0, 0xA1, 0xA2, 0xA3, 0xA4, 9} +
                                    Bytes{0xC1, 0xC2, 0xD1, 0xD2})},
    {"shared frames replaced alike stay shared", kShared,
     rebuilds({{1, 1, 1, {9}}, {2, 1, 1, {9}}},
              Bytes{3, 0, 0, 0, 16, 0, 0, 0, 16, 0, 0, 0, 25, 0, 0, 0} +
                  Bytes{1, 0, 1, 0, 0xA1, 0xA2, 0xA3, 0xA4, 9} + kFrame2)},
    {"new pixels over another frame's header: the frames are parted", kOverlapping,
     rebuilds({kOverlapped}, Bytes{2, 0, 0, 0, 12, 0, 0, 0, 28, 0, 0, 0} +
                                 Bytes{4, 0, 2, 0, 0xA1, 0xA2, 0xA3, 0xA4, 9, 9, 9, 9, 2, 0, 1, 0} +
                                 Bytes{1, 0, 1, 0, 0xB1, 0xB2, 0xB3, 0xB4, 7})},
    {"a frame inside the frame table: laid out behind it", kInTable,
     rebuilds({{1, 1, 1, {9}}},
              Bytes{1, 0, 0, 0, 8, 0, 0, 0, 1, 0, 1, 0, 0xA1, 0xA2, 0xA3, 0xA4, 9})},
    {"shared frames with different images refused", kShared,
     refuses({{1, 2, 1, {5, 9}}},
             "frames 1 and 2 share their bytes in the original and their images differ")},
    {"damaged: frames overlapping a change refused", kOverlappingDamaged,
     refuses({kOverlapped},
             "frame 1 shares bytes with another frame or the frame table, and the "
             "damaged original cannot be laid out anew")},
    {"damaged: a new size refused", damaged_cards(),
     refuses({{1, 1, 1, {0}}},
             "frame 3 is out of range in the original, so the frames before it keep their sizes")},
    {"damaged: the frame out of range refused", damaged_cards(),
     refuses({card(3, 0)}, "frame 3 is out of range in the original")},
    {"damaged: a frame past it refused", damaged_cards(),
     refuses({card(4, 0)}, "frame 4 lies past frame 3, which is out of range in the original")},
    {"a frame past the count refused", kGapped,
     refuses({{3, 1, 1, {0}}}, "the source has 2 frames, no frame 3")},
    {"frame 0 refused", kGapped, refuses({{0, 1, 1, {0}}}, "frame 0: frames are numbered from 1")},
    {"a frame given twice refused", kGapped,
     refuses({{2, 1, 1, {0}}, {2, 1, 1, {0}}}, "frame 2 is given twice")},
};

class SfdRebuild : public ::testing::TestWithParam<Row> {};
TEST_P(SfdRebuild, Rebuilds) {
  expect_rebuild(kSfd, GetParam());
}
TEXPORT_ROWS(SfdRebuild, kSfdRows);

// .tex

// A packed 2 x 1 texture with sign C0 and its unread header bytes set.
const Bytes kPacked =
    file_of({{10, {1, 2, 3, 4, 5}}, {16, {6, 7, 8, 9, 10, 11, 12}}},
            samples::tex_packed_from_stream(2, 1, 0xC0, Bytes{0xC0, 0x00, 0xC0, 0x05}));
// Plain 2 x 1, bytes 4 to 19 set, two bytes after the pixels.
const Bytes kPlain =
    file_of({{4, Bytes(16, 0x11)}}, samples::tex_plain(2, 1, Bytes{1, 2})) + Bytes{0xEE, 0xEF};
// A and B 2 and 13: 26 bytes or more read as the plain form.
const Bytes kSmallForm =
    file_of({{0, {2, 0, 13, 0}}}, samples::tex_packed_from_stream(0, 0, 0xC0, Bytes{0xC0, 0}));

const Row kTexRows[] = {
    unchanged("another packer's stream unchanged", kTex,
              samples::tex_packed_from_stream(2, 2, 0xC0, Bytes{0x10, 0x20, 5, 6, 7, 8})),
    unchanged("plain short of its pixels unchanged", kTex, samples::tex_plain(2, 2, Bytes{1, 2})),
    {"plain: one pixel changed in place", kPlain,
     rebuilds({{1, 2, 1, {1, 9}}}, file_of({{21, {9}}}, kPlain))},
    {"plain short of its pixels: the block completed", samples::tex_plain(2, 2, Bytes{1, 2}),
     rebuilds({{1, 2, 2, {1, 2, 3, 9}}}, samples::tex_plain(2, 2, Bytes{1, 2, 3, 9}))},
    {"plain resized: the header and the bytes after the pixels kept", kPlain,
     rebuilds({{1, 3, 1, {4, 5, 6}}}, file_of({{0, {3}}, {20, {4, 5, 6, 0xEE, 0xEF}}}, kPlain))},
    {"packed resized: a new stream behind the header", kPacked,
     rebuilds({{1, 3, 1, {5, 5, 7}}},
              file_of({{6, {3}}, {23, {0xC0, 0x00, 0xC0, 0x05, 0x07}}}, kPacked))},
    {"packed stream as long as A x B: A and B become FFFF", kSmallForm,
     rebuilds(
         {{1, 3, 1, {1, 2, 3}}},
         file_of({{0, {0xFF, 0xFF, 0xFF, 0xFF}}, {6, {3, 0, 1}}, {25, {1, 2, 3}}}, kSmallForm))},
    {"sign 0 with a lone pixel below 30 refused",
     samples::tex_packed_from_stream(2, 1, 0x00, Bytes{0x00, 0x00, 0x00, 0x40}),
     refuses({{1, 2, 1, {0x40, 0x05}}},
             "sign 0 has no escape, and a pixel below 30 stands alone in the image")},
    {"512 on a side refused", kPlain,
     refuses({{1, 512, 1, Bytes(512, 0)}},
             "an image of 512 x 1; textures stay under 512 on a side")},
    {"too short refused", Bytes{1, 0},
     refuses({{}}, "a texture of fewer than 4 bytes holds no image")},
    {"packed with byte 4 set refused", file_of({{4, {1}}}, kPacked),
     refuses({{}}, "a packed texture whose bytes 4 and 5 are not both 0 is not converted")},
};

class TexRebuild : public ::testing::TestWithParam<Row> {};
TEST_P(TexRebuild, Rebuilds) {
  expect_rebuild(kTex, GetParam());
}
TEXPORT_ROWS(TexRebuild, kTexRows);

// .m32 and .m8

const Bytes kRgba{1, 2, 3, 4, 5, 6, 7, 8};
const Bytes kPalette = samples::card_palette();

const Row kM32Rows[] = {
    {"one pixel changed in place", samples::m32_file(2, 2, 1, kRgba),
     rebuilds({{1, 2, 1, {1, 2, 3, 4, 5, 6, 7, 9}}},
              samples::m32_file(2, 2, 1, Bytes{1, 2, 3, 4, 5, 6, 7, 9}))},
    {"resized: the fields patched, the bytes after the pixels kept",
     samples::m32_file(3, 2, 1, kRgba) + Bytes{1, 2, 3},
     rebuilds({{1, 1, 1, {9, 9, 9, 9}}},
              samples::m32_file(3, 1, 1, Bytes{9, 9, 9, 9}) + Bytes{1, 2, 3})},
    {"unknown layout refused", Bytes{5},
     refuses({{}}, "layout type 5; the known ones are 2, 3 and 4")},
    {"pixels short of the size refused", samples::m32_file(2, 2, 1, kRgba),
     refuses({{1, 1, 1, {1, 2, 3}}}, "the image holds 3 bytes of pixels; 1 x 1 needs 4")},
};

class M32Rebuild : public ::testing::TestWithParam<Row> {};
TEST_P(M32Rebuild, Rebuilds) {
  expect_rebuild(kM32, GetParam());
}
TEXPORT_ROWS(M32Rebuild, kM32Rows);

const Row kM8Rows[] = {
    unchanged("example tile m8 unchanged", kM8,
              samples::m8_file(64, 48, kPalette, samples::indexed_card(64, 48))),
    {"palette and one pixel changed in place", samples::m8_file(2, 1, kPalette, Bytes{1, 2}),
     rebuilds({{1, 2, 1, {1, 9}, Bytes(768, 7)}},
              samples::m8_file(2, 1, Bytes(768, 7), Bytes{1, 9}))},
    {"resized: the fields patched, the bytes after the pixels kept",
     samples::m8_file(2, 1, kPalette, Bytes{1, 2}) + Bytes{1, 2, 3},
     rebuilds({{1, 1, 3, {4, 5, 6}}},
              samples::m8_file(1, 3, kPalette, Bytes{4, 5, 6}) + Bytes{1, 2, 3})},
    {"palette short of 768 bytes refused", samples::m8_file(2, 1, kPalette, Bytes{1, 2}),
     refuses({{1, 2, 1, {1, 2}, Bytes(767, 0)}}, "the palette holds 767 bytes; 768 needed")},
};

class M8Rebuild : public ::testing::TestWithParam<Row> {};
TEST_P(M8Rebuild, Rebuilds) {
  expect_rebuild(kM8, GetParam());
}
TEXPORT_ROWS(M8Rebuild, kM8Rows);

// The encoders on their own: the stream each writes, and that it decodes back.

struct Encoded {
  bool tex;  // else .sfd
  std::uint8_t sign;
  std::optional<Bytes> stream;  // from byte 6 (.sfd) or byte 23 (.tex)
};
using EncoderRow = testing::Row<Encoded>;

const EncoderRow kEncoderRows[] = {
    {"sfd: byte 7 a run code, three copies of byte 1, no run where 2 of 3 are equal",
     {5, 7, 7, 7, 9, 1, 2, 1},
     {false, 0xC0, {{5, 0xC2, 7, 9, 1, 2, 1}}}},
    {"sfd: S FD, runs of 3 the longest",
     {5, 7, 7, 7, 9, 9, 9},
     {false, 0xFD, {{5, 0xFF, 7, 0xFF, 9}}}},
    {"sfd: first byte S + 2, a run of it", {0xC2, 0xC2, 5}, {false, 0xC0, {{0xC1, 0xC2, 5}}}},
    {"sfd: S FE, byte 7 a literal 0",
     {5, 0, 0xFF, 0xFF, 0xFF},
     {false, 0xFE, {{5, 0, 0xFF, 0xFF, 0xFE, 0xFF}}}},
    {"sfd: S FE, three equal literals stay literals",
     {5, 0, 7, 7, 7},
     {false, 0xFE, {{5, 0, 7, 7, 7}}}},
    {"sfd: runs cut at 31 copies",
     Bytes{0xC2} + Bytes(40, 3),
     {false, 0xC0, {{0xC0, 0xC2, 0xDE, 3, 0xC8, 3}}}},
    {"sfd: byte 1 to 3 unequal under a run code refused", {5, 0, 1, 0}, {false, 0xC0, {}}},
    {"tex: lone run codes and S - 1 escaped",
     {0xBF, 0xC5, 0x10, 0x10},
     {true, 0xC0, {{0xC0, 0, 0xBF, 0xBF, 0xBF, 0xC5, 0xC0, 0x10}}}},
    {"tex: sign 0, a run of 32 below 30 cut 30 and 2",
     Bytes(32, 5),
     {true, 0x00, {{0, 0, 28, 5, 0, 5}}}},
};

class Encoder : public ::testing::TestWithParam<EncoderRow> {};
TEST_P(Encoder, Encodes) {
  const EncoderRow& row = GetParam();
  const Encoded& want = row.want;
  if (want.tex) {
    const std::optional<Bytes> stream = tex::pack_stream(row.source, want.sign);
    EXPECT_EQ(stream, want.stream);
    if (!stream)
      return;
    const Bytes source = samples::tex_packed_from_stream(0, 0, want.sign, *stream);
    Bytes pixels(row.source.size());
    EXPECT_EQ(tex::decode_stream(source, want.sign, pixels.size(), pixels).end,
              tex::StreamEnd::source_exhausted);
    EXPECT_EQ(pixels, row.source);
    return;
  }
  const std::optional<Bytes> layer =
      sfd::pack_layer(row.source, want.sign, Bytes{9, 9, 1, 2, 3, 4});
  ASSERT_EQ(layer.has_value(), want.stream.has_value());
  if (!layer)
    return;
  EXPECT_EQ(*layer, (Bytes{9, 1, 1, 2, 3, 4} + *want.stream));
  Bytes unpacked(sfd::unpacked_length(*layer));
  sfd::unpack_into(*layer, unpacked);
  EXPECT_EQ(unpacked, row.source);
}
TEXPORT_ROWS(Encoder, kEncoderRows);

}  // namespace
}  // namespace texport
