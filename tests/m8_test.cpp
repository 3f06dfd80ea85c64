#include "convert/m8.hpp"

#include <gtest/gtest.h>

#include "encoders.hpp"
#include "io/templates.hpp"
#include "support/expected.hpp"
#include "support/scratch.hpp"

namespace texport::m8 {
namespace {

using testing::ScratchFolder;

Bytes some_palette(std::uint32_t seed) {
  return samples::sample_pixels(768, seed);
}

TEST(M8Image, FieldsAreReadAtTheirOffsets) {
  // Built by hand: width at 36, height at 100, palette at 260, pixels at 1040.
  Bytes source(1040 + 6, 0xEE);
  write_u16le(source, 36, 3);
  write_u16le(source, 100, 2);
  for (std::size_t i = 0; i < 768; ++i)
    source[260 + i] = static_cast<std::uint8_t>(i * 7);
  for (std::size_t i = 0; i < 6; ++i)
    source[1040 + i] = static_cast<std::uint8_t>(i + 1);
  const ImageLookup lookup = find_image(source);
  ASSERT_EQ(lookup.status, ImageStatus::found);
  EXPECT_EQ(lookup.image.x, 3);
  EXPECT_EQ(lookup.image.y, 2);
  EXPECT_EQ(lookup.image.palette.data(), source.data() + 260);
  EXPECT_EQ(lookup.image.palette.size(), 768u);
  EXPECT_EQ(lookup.image.pixels.data(), source.data() + 1040);
  EXPECT_EQ(Bytes(lookup.image.pixels.begin(), lookup.image.pixels.end()),
            (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST(M8Image, EncoderAgreesWithTheOffsets) {
  const Bytes palette = some_palette(4);
  const Bytes indices = samples::sample_pixels(5 * 3, 2);
  const Bytes source = samples::m8_file(5, 3, palette, indices);
  ASSERT_EQ(source.size(), 1040u + indices.size());
  const ImageLookup lookup = find_image(source);
  ASSERT_EQ(lookup.status, ImageStatus::found);
  EXPECT_EQ(Bytes(lookup.image.palette.begin(), lookup.image.palette.end()), palette);
  EXPECT_EQ(Bytes(lookup.image.pixels.begin(), lookup.image.pixels.end()), indices);
}

struct LengthCase {
  const char* what;
  std::uint16_t x;
  std::uint16_t y;
  std::size_t length;
  ImageStatus expected;
  std::uint64_t needed;
};

class M8Length : public ::testing::TestWithParam<LengthCase> {};

TEST_P(M8Length, SourceMustHoldFieldsPaletteAndPixels) {
  const LengthCase& c = GetParam();
  Bytes source = samples::m8_file(1, 1, some_palette(1), Bytes{7});
  source.resize(std::max<std::size_t>(source.size(), c.length), 0xEE);
  write_u16le(source, 36, c.x);
  write_u16le(source, 100, c.y);
  source.resize(c.length);
  const ImageLookup lookup = find_image(source);
  EXPECT_EQ(lookup.status, c.expected);
  if (c.expected != ImageStatus::found) {
    EXPECT_EQ(lookup.needed, c.needed);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, M8Length,
    ::testing::Values(LengthCase{"empty", 4, 2, 0, ImageStatus::truncated_fields, 102},
                      LengthCase{"width_only", 4, 2, 38, ImageStatus::truncated_fields, 102},
                      LengthCase{"no_palette", 4, 2, 102, ImageStatus::truncated_pixels, 1048},
                      LengthCase{"half_a_palette", 0, 0, 700, ImageStatus::truncated_pixels, 1040},
                      LengthCase{"ends_before_the_pixels", 0, 5, 1039,
                                 ImageStatus::truncated_pixels, 1040},
                      LengthCase{"empty_image", 0, 5, 1040, ImageStatus::found, 0},
                      LengthCase{"one_byte_short", 4, 2, 1047, ImageStatus::truncated_pixels, 1048},
                      LengthCase{"exact", 4, 2, 1048, ImageStatus::found, 0},
                      LengthCase{"trailing_bytes", 4, 2, 1100, ImageStatus::found, 0},
                      LengthCase{"largest_image_no_wrap", 0xFFFF, 0xFFFF, 2000,
                                 ImageStatus::truncated_pixels, 1040 + 65535ull * 65535}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(M8Palette, EntriesAreReversedWithAZeroAppended) {
  Bytes palette = some_palette(8);
  palette[0] = 0x10;
  palette[1] = 0x20;
  palette[2] = 0x30;
  const BmpPalette pal = bmp_palette(palette);
  EXPECT_EQ(pal[0], 0x30);
  EXPECT_EQ(pal[1], 0x20);
  EXPECT_EQ(pal[2], 0x10);
  EXPECT_EQ(pal[3], 0x00);
  for (std::size_t i = 0; i < 256; ++i) {
    ASSERT_EQ(pal[4 * i], palette[3 * i + 2]) << i;
    ASSERT_EQ(pal[4 * i + 1], palette[3 * i + 1]) << i;
    ASSERT_EQ(pal[4 * i + 2], palette[3 * i]) << i;
    ASSERT_EQ(pal[4 * i + 3], 0) << i;
  }
}

struct RowsCase {
  const char* what;
  std::uint16_t x;
  std::uint16_t y;
  Bytes pixels;
  Bytes expected;
};

class M8Rows : public ::testing::TestWithParam<RowsCase> {};

TEST_P(M8Rows, BottomRowFirstWithNoFill) {
  const RowsCase& c = GetParam();
  Bytes out(c.pixels.size(), 0xEE);
  rows_bottom_first(c.pixels, c.x, c.y, out);
  EXPECT_EQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, M8Rows,
    ::testing::Values(
        RowsCase{"width_4_height_2", 4, 2, {1, 2, 3, 4, 5, 6, 7, 8}, {5, 6, 7, 8, 1, 2, 3, 4}},
        RowsCase{"width_3_height_2", 3, 2, {1, 2, 3, 4, 5, 6}, {4, 5, 6, 1, 2, 3}},
        RowsCase{"width_1_height_3", 1, 3, {1, 2, 3}, {3, 2, 1}},
        RowsCase{"one_row", 5, 1, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}},
        RowsCase{"no_rows", 5, 0, {}, {}}, RowsCase{"no_columns", 0, 4, {}, {}}),
    [](const auto& info) { return std::string(info.param.what); });

// The converter itself, in a scratch folder with a template of recognisable bytes.
class M8Convert : public ::testing::Test {
 protected:
  ScratchFolder folder;
  Bytes header = [] {
    Bytes bytes(kBmpHeaderLength);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(0x80 + 3 * i);
    return bytes;
  }();
  void SetUp() override { ScratchFolder::save("HEADERBMP", header); }

  // What the BMP must hold: the template's 54 bytes with width and height patched in, the
  // reversed palette, the rows bottom first and a final zero byte.
  Bytes expected_bmp(std::uint16_t x, std::uint16_t y, const Bytes& palette, const Bytes& rows) {
    return testing::expected_bmp(header, x, y, palette, rows);
  }
};

TEST_F(M8Convert, WidthFourHeightTwo) {
  const Bytes palette = some_palette(3);
  const Bytes source = samples::m8_file(4, 2, palette, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  convert_m8(source, "tile.m8");
  const Bytes out = ScratchFolder::load("tile.m8.bmp");
  EXPECT_EQ(out, expected_bmp(4, 2, palette, {1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_EQ(out.size(), 1087u);
  EXPECT_EQ(Bytes(out.begin() + 1078, out.end()), (Bytes{5, 6, 7, 8, 1, 2, 3, 4, 0}));
  EXPECT_EQ(folder.out(), "");
  EXPECT_EQ(folder.err(), "");
}

TEST_F(M8Convert, TemplateFieldsPassThroughUnchanged) {
  const Bytes palette = some_palette(5);
  const Bytes indices = samples::sample_pixels(3 * 2, 5);
  convert_m8(samples::m8_file(3, 2, palette, indices), "a.m8");
  const Bytes out = ScratchFolder::load("a.m8.bmp");
  ASSERT_EQ(out.size(), 1079u + 6);
  // File size, the high halves of width and height, image size, and all the rest.
  for (std::size_t i = 0; i < 54; ++i) {
    if (i == 18 || i == 19 || i == 22 || i == 23)
      continue;
    ASSERT_EQ(out[i], header[i]) << i;
  }
  EXPECT_EQ(read_u16le(out, 18), 3);
  EXPECT_EQ(read_u16le(out, 22), 2);
  // Width 3: the rows sit 3 bytes apart with no fill.
  EXPECT_EQ(Bytes(out.begin() + 1078, out.begin() + 1081),
            Bytes(indices.begin() + 3, indices.end()));
  EXPECT_EQ(Bytes(out.begin() + 1081, out.begin() + 1084),
            Bytes(indices.begin(), indices.begin() + 3));
  EXPECT_EQ(out.back(), 0);
}

TEST_F(M8Convert, ZeroWidthOrHeightGivesA1079ByteFile) {
  const Bytes palette = some_palette(6);
  for (const auto& [x, y] : {std::pair<std::uint16_t, std::uint16_t>{0, 300}, {300, 0}}) {
    convert_m8(samples::m8_file(x, y, palette, Bytes{}), "e.m8");
    const Bytes out = ScratchFolder::load("e.m8.bmp");
    EXPECT_EQ(out.size(), 1079u);
    EXPECT_EQ(out, expected_bmp(x, y, palette, {})) << x << " x " << y;
  }
}

TEST_F(M8Convert, LongTemplateWithAColourTableGivesTheSameFile) {
  const Bytes palette = some_palette(7);
  const Bytes source = samples::m8_file(4, 4, palette, samples::sample_pixels(16, 7));
  convert_m8(source, "a.m8");
  const Bytes with_short_template = ScratchFolder::load("a.m8.bmp");
  Bytes long_template = header;
  long_template.resize(3000, 0x99);
  ScratchFolder::save("HEADERBMP", long_template);
  convert_m8(source, "a.m8");
  EXPECT_EQ(ScratchFolder::load("a.m8.bmp"), with_short_template);
}

TEST_F(M8Convert, BytesOutsideTheFieldsAreIgnored) {
  const Bytes palette = some_palette(9);
  const Bytes indices = samples::sample_pixels(8 * 3, 9);
  convert_m8(samples::m8_file(8, 3, palette, indices, 0x00), "a.m8");
  Bytes other = samples::m8_file(8, 3, palette, indices, 0xFF);
  for (std::size_t i = 1028; i < 1040; ++i)
    other[i] = static_cast<std::uint8_t>(i);
  convert_m8(other, "b.m8");
  EXPECT_EQ(ScratchFolder::load("a.m8.bmp"), ScratchFolder::load("b.m8.bmp"));
  EXPECT_EQ(ScratchFolder::load("a.m8.bmp"), expected_bmp(8, 3, palette, indices));
}

TEST_F(M8Convert, TruncatedSourcesAreNamedOnStandardErrorAndWriteNothing) {
  const Bytes full = samples::m8_file(4, 2, some_palette(1), Bytes(8, 3));
  convert_m8(Bytes{}, "empty.m8");
  convert_m8(ByteView(full).first(full.size() - 1), "short.m8");
  EXPECT_EQ(folder.out(), "");
  EXPECT_EQ(folder.err(),
            "texport: empty.m8: not converted: it has 0 bytes, too few for its width and height "
            "(102 needed)\n"
            "texport: short.m8: not converted: it has 1047 bytes, too few for a 4 x 2 image "
            "(1048 needed)\n");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"HEADERBMP"});
}

}  // namespace
}  // namespace texport::m8
