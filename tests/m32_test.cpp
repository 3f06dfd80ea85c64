#include "convert/m32.hpp"

#include <gtest/gtest.h>

#include "encoders.hpp"
#include "io/templates.hpp"
#include "support/scratch.hpp"

namespace texport::m32 {
namespace {

using testing::ScratchFolder;

// Where each layout keeps its fields, written out here rather than taken from the code.
struct LayoutCase {
  const char* what;
  std::uint8_t type;
  std::size_t width_at;
  std::size_t height_at;
  std::size_t pixels_at;
};

const LayoutCase kLayoutCases[] = {
    {"type_2", 2, 132, 196, 376},
    {"type_3", 3, 388, 452, 632},
    {"type_4", 4, 516, 580, 968},
};

class M32Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(M32Layout, ReadsItsOwnFieldsAndNotTheOtherLayouts) {
  const LayoutCase& c = GetParam();
  const Bytes rgba = samples::sample_pixels(4 * 3 * 2, c.type);
  Bytes source(std::max<std::size_t>(c.pixels_at + rgba.size(), 1000), 0xEE);
  // The other layouts' fields hold decoys first; where they fall inside this layout's pixel
  // area the pixels written afterwards take their place.
  for (const LayoutCase& other : kLayoutCases) {
    if (other.type == c.type)
      continue;
    write_u16le(source, other.width_at, 7);
    write_u16le(source, other.height_at, 5);
  }
  source[0] = c.type;
  write_u16le(source, c.width_at, 3);
  write_u16le(source, c.height_at, 2);
  std::copy(rgba.begin(), rgba.end(), source.begin() + static_cast<std::ptrdiff_t>(c.pixels_at));

  const ImageLookup lookup = find_image(source);
  ASSERT_EQ(lookup.status, ImageStatus::found);
  EXPECT_EQ(lookup.image.x, 3);
  EXPECT_EQ(lookup.image.y, 2);
  EXPECT_EQ(lookup.image.pixels.data(), source.data() + c.pixels_at);
  EXPECT_EQ(Bytes(lookup.image.pixels.begin(), lookup.image.pixels.end()), rgba);
}

TEST_P(M32Layout, EncoderAgreesWithTheTable) {
  const LayoutCase& c = GetParam();
  const Bytes rgba = samples::sample_pixels(4 * 5 * 4, 9);
  const Bytes source = samples::m32_file(c.type, 5, 4, rgba);
  ASSERT_EQ(source.size(), c.pixels_at + rgba.size());
  EXPECT_EQ(read_u16le(source, c.width_at), 5);
  EXPECT_EQ(read_u16le(source, c.height_at), 4);
  const ImageLookup lookup = find_image(source);
  ASSERT_EQ(lookup.status, ImageStatus::found);
  EXPECT_EQ(Bytes(lookup.image.pixels.begin(), lookup.image.pixels.end()), rgba);
}

TEST_P(M32Layout, SourceEndingAnywhereShortOfItsImageIsTruncated) {
  const LayoutCase& c = GetParam();
  const Bytes full = samples::m32_file(c.type, 4, 3, samples::sample_pixels(48, 1));
  const std::size_t fields_end = std::max(c.width_at, c.height_at) + 2;
  for (const std::size_t length : {std::size_t{1}, fields_end - 1}) {
    const ImageLookup lookup = find_image(ByteView(full).first(length));
    EXPECT_EQ(lookup.status, ImageStatus::truncated_fields) << length;
    EXPECT_EQ(lookup.needed, fields_end) << length;
  }
  for (const std::size_t length : {fields_end, c.pixels_at, full.size() - 1}) {
    const ImageLookup lookup = find_image(ByteView(full).first(length));
    EXPECT_EQ(lookup.status, ImageStatus::truncated_pixels) << length;
    EXPECT_EQ(lookup.needed, full.size()) << length;
  }
  EXPECT_EQ(find_image(full).status, ImageStatus::found);
  Bytes longer = full;
  longer.resize(full.size() + 100, 0x55);
  EXPECT_EQ(find_image(longer).status, ImageStatus::found);
}

TEST_P(M32Layout, LargestImageInASmallFileIsTruncatedWithoutWrapping) {
  const LayoutCase& c = GetParam();
  Bytes source = samples::m32_file(c.type, 1, 1, Bytes(4, 0));
  write_u16le(source, c.width_at, 0xFFFF);
  write_u16le(source, c.height_at, 0xFFFF);
  const ImageLookup lookup = find_image(source);
  EXPECT_EQ(lookup.status, ImageStatus::truncated_pixels);
  EXPECT_EQ(lookup.needed, c.pixels_at + 4ull * 65535 * 65535);  // 17,179,344,900 + offset
}

TEST_P(M32Layout, ZeroWidthOrHeightIsAnEmptyImage) {
  const LayoutCase& c = GetParam();
  for (const auto& [x, y] : {std::pair<int, int>{0, 9}, {9, 0}, {0, 0}}) {
    const Bytes source = samples::m32_file(c.type, static_cast<std::uint16_t>(x),
                                           static_cast<std::uint16_t>(y), Bytes{});
    const ImageLookup lookup = find_image(source);
    EXPECT_EQ(lookup.status, ImageStatus::found) << x << " x " << y;
    EXPECT_TRUE(lookup.image.pixels.empty());
    // A file that ends before its pixel offset is short even for no pixels.
    EXPECT_EQ(find_image(ByteView(source).first(source.size() - 1)).status,
              ImageStatus::truncated_pixels);
  }
}

INSTANTIATE_TEST_SUITE_P(All, M32Layout, ::testing::ValuesIn(kLayoutCases),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(M32Type, OnlyTwoThreeAndFourAreSupported) {
  for (int type = 0; type < 256; ++type) {
    const bool supported = type == 2 || type == 3 || type == 4;
    EXPECT_EQ(layout_of(static_cast<std::uint8_t>(type)).has_value(), supported) << type;
  }
  // A well-formed layout-2 file with another type byte is unsupported, whatever follows.
  Bytes source = samples::m32_file(2, 2, 2, samples::sample_pixels(16, 3));
  for (const std::uint8_t type : {0, 1, 5, 255}) {
    source[0] = type;
    EXPECT_EQ(find_image(source).status, ImageStatus::unsupported) << int(type);
  }
  EXPECT_EQ(find_image(Bytes{}).status, ImageStatus::unsupported);
}

TEST(M32Exchange, SwapsBytesZeroAndTwoOfEveryPixel) {
  const Bytes pixels{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  Bytes out(pixels.size(), 0xEE);
  exchange_red_blue(pixels, out);
  EXPECT_EQ(out, (Bytes{0x33, 0x22, 0x11, 0x44, 0x77, 0x66, 0x55, 0x88}));
  EXPECT_EQ(pixels, (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
}

TEST(M32Exchange, LeavesBytesOneAndThreeAloneForEveryValue) {
  const Bytes pixels = samples::sample_pixels(4 * 1000, 42);
  Bytes out(pixels.size());
  exchange_red_blue(pixels, out);
  for (std::size_t at = 0; at < pixels.size(); at += 4) {
    ASSERT_EQ(out[at], pixels[at + 2]) << at;
    ASSERT_EQ(out[at + 1], pixels[at + 1]) << at;
    ASSERT_EQ(out[at + 2], pixels[at]) << at;
    ASSERT_EQ(out[at + 3], pixels[at + 3]) << at;
  }
  Bytes none;
  exchange_red_blue(Bytes{}, none);
}

// The converter itself, in a scratch folder with a template of recognisable bytes.
class M32Convert : public ::testing::Test {
 protected:
  ScratchFolder folder;
  Bytes header = [] {
    Bytes bytes(kTgaHeaderLength);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
    return bytes;
  }();
  void SetUp() override { ScratchFolder::save("HEADERTGA32", header); }
};

TEST_F(M32Convert, TwoByOneImageGivesTheHeaderAndTwoExchangedPixels) {
  const Bytes source =
      samples::m32_file(2, 2, 1, Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
  const Bytes before = source;
  convert_m32(source, "stone.m32");
  Bytes expected(header.begin(), header.begin() + 12);
  const Bytes rest{0x02, 0x00, 0x01, 0x00, header[16], header[17], 0x33,
                   0x22, 0x11, 0x44, 0x77, 0x66,       0x55,       0x88};
  expected.resize(12 + rest.size());
  std::copy(rest.begin(), rest.end(), expected.begin() + 12);
  EXPECT_EQ(ScratchFolder::load("stone.m32.tga"), expected);
  EXPECT_EQ(source, before);
  EXPECT_EQ(folder.out(), "");
  EXPECT_EQ(folder.err(), "");
}

TEST_F(M32Convert, ZeroWidthOrHeightGivesTheEighteenByteHeader) {
  for (const auto& [x, y] : {std::pair<std::uint16_t, std::uint16_t>{0, 300}, {300, 0}}) {
    convert_m32(samples::m32_file(4, x, y, Bytes{}), "empty.m32");
    Bytes expected = header;
    write_u16le(expected, 12, x);
    write_u16le(expected, 14, y);
    EXPECT_EQ(ScratchFolder::load("empty.m32.tga"), expected) << x << " x " << y;
  }
}

TEST_F(M32Convert, OnlyTheFirstEighteenBytesOfALongTemplateAreUsed) {
  Bytes long_template = header;
  long_template.resize(4000, 0x77);
  ScratchFolder::save("HEADERTGA32", long_template);
  const Bytes rgba = samples::sample_pixels(4 * 3 * 3, 5);
  convert_m32(samples::m32_file(3, 3, 3, rgba), "a.m32");
  const Bytes out = ScratchFolder::load("a.m32.tga");
  ASSERT_EQ(out.size(), 18u + rgba.size());
  EXPECT_TRUE(std::equal(header.begin(), header.begin() + 12, out.begin()));
  EXPECT_EQ(out[16], header[16]);
  EXPECT_EQ(out[17], header[17]);
  Bytes pixels(rgba.size());
  exchange_red_blue(rgba, pixels);
  EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), out.begin() + 18));
}

TEST_F(M32Convert, UnsupportedTypesPrintOneLineAndWriteNothing) {
  for (const std::uint8_t type : {0, 1, 5, 255}) {
    Bytes source = samples::m32_file(2, 1, 1, Bytes(4, 9));
    source[0] = type;
    convert_m32(source, "odd.m32");
  }
  convert_m32(Bytes{}, "empty.m32");
  EXPECT_EQ(folder.out(),
            "unsupported odd.m32\nunsupported odd.m32\nunsupported odd.m32\nunsupported odd.m32\n"
            "unsupported empty.m32\n");
  EXPECT_EQ(folder.err(), "");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"HEADERTGA32"});
}

TEST_F(M32Convert, TruncatedSourcesAreNamedOnStandardErrorAndWriteNothing) {
  const Bytes full = samples::m32_file(2, 4, 3, samples::sample_pixels(48, 1));
  convert_m32(ByteView(full).first(100), "cut.m32");
  convert_m32(ByteView(full).first(full.size() - 1), "short.m32");
  EXPECT_EQ(folder.out(), "");
  EXPECT_EQ(folder.err(),
            "texport: cut.m32: not converted: it has 100 bytes, too few for its width and height "
            "(198 needed)\n"
            "texport: short.m32: not converted: it has 423 bytes, too few for a 4 x 3 image "
            "(424 needed)\n");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"HEADERTGA32"});
}

}  // namespace
}  // namespace texport::m32
