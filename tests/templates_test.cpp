#include "io/templates.hpp"

#include <gtest/gtest.h>

namespace texport {
namespace {

struct TemplateCase {
  const char* what;
  const HeaderTemplate* header_template;
};

class Templates : public ::testing::TestWithParam<TemplateCase> {};

TEST_P(Templates, OnlyTheHeaderBytesOfALongTemplateArePlacedAndPatched) {
  const HeaderTemplate& header_template = *GetParam().header_template;
  Bytes long_template(header_template.header_length + 500);
  for (std::size_t i = 0; i < long_template.size(); ++i)
    long_template[i] = static_cast<std::uint8_t>(i * 7 + 1);
  Bytes out(header_template.header_length + 10, 0xEE);
  EXPECT_TRUE(place_header(header_template, long_template, out, 300, 0x0201));
  for (std::size_t i = 0; i < header_template.header_length; ++i) {
    if (i == header_template.width_offset || i == header_template.width_offset + 1 ||
        i == header_template.height_offset || i == header_template.height_offset + 1)
      continue;
    ASSERT_EQ(out[i], long_template[i]) << i;
  }
  EXPECT_EQ(out[header_template.width_offset], 0x2C);
  EXPECT_EQ(out[header_template.width_offset + 1], 0x01);
  EXPECT_EQ(out[header_template.height_offset], 0x01);
  EXPECT_EQ(out[header_template.height_offset + 1], 0x02);
  for (std::size_t i = header_template.header_length; i < out.size(); ++i)
    ASSERT_EQ(out[i], 0xEE) << i;
}

TEST_P(Templates, MissingOrShortTemplateGivesTheBuiltInHeader) {
  const HeaderTemplate& header_template = *GetParam().header_template;
  const Bytes builtin = header_template.builtin_header(64, 48);
  ASSERT_EQ(builtin.size(), header_template.header_length);
  for (const std::optional<Bytes>& template_bytes :
       {std::optional<Bytes>{},
        std::optional<Bytes>{Bytes(header_template.header_length - 1, 0x55)}}) {
    Bytes out(header_template.header_length, 0xEE);
    EXPECT_FALSE(place_header(header_template, template_bytes, out, 64, 48));
    EXPECT_EQ(out, builtin);
  }
}

INSTANTIATE_TEST_SUITE_P(All, Templates,
                         ::testing::Values(TemplateCase{"tif", &kTifTemplate},
                                           TemplateCase{"tga", &kTgaTemplate},
                                           TemplateCase{"bmp", &kBmpTemplate}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(BuiltInTif, DirectoryPutsWidthAndLengthAtThePatchPlaces) {
  const Bytes header = builtin_tif_header(300, 7);
  EXPECT_EQ(header[0], 'I');
  EXPECT_EQ(read_u16le(header, 2), 42);
  EXPECT_EQ(read_u32le(header, 4), 8u);
  EXPECT_EQ(read_u16le(header, 10 + 12), 256);  // second entry: ImageWidth
  EXPECT_EQ(read_u16le(header, 10 + 24), 257);  // third entry: ImageLength
  EXPECT_EQ(read_u16le(header, 30), 300);
  EXPECT_EQ(read_u16le(header, 42), 7);
  // StripOffsets points at the first pixel, StripByteCounts covers them all.
  bool saw_offsets = false, saw_counts = false;
  for (std::size_t entry = 10; entry < 10 + 12u * read_u16le(header, 8); entry += 12) {
    if (read_u16le(header, entry) == 273)
      saw_offsets = read_u32le(header, entry + 8) == 1706;
    if (read_u16le(header, entry) == 279)
      saw_counts = read_u32le(header, entry + 8) == 2100;
  }
  EXPECT_TRUE(saw_offsets);
  EXPECT_TRUE(saw_counts);
}

TEST(OutputLength, MatchesTheImageLayouts) {
  EXPECT_EQ(output_length(kTifTemplate, 0), 1707u);
  EXPECT_EQ(output_length(kTgaTemplate, 0), 18u);
  EXPECT_EQ(output_length(kBmpTemplate, 1024), 1079u);
  EXPECT_EQ(output_length(kTifTemplate, 65535ull * 65535ull), 65535ull * 65535ull + 1707);
}

}  // namespace
}  // namespace texport
