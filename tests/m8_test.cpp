#include "convert/m8.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "support/expected.hpp"
#include "support/table.hpp"

namespace texport::m8 {
namespace {

Bytes cut(const Bytes& bytes, std::ptrdiff_t length) {
  return Bytes(bytes.begin(), bytes.begin() + length);
}

struct Want {
  ImageStatus status;
  std::uint16_t width = 0, height = 0;
  Bytes pixels = {};
  std::uint64_t needed = 0;
};
using Row = testing::Row<Want>;
using testing::file_of;

// A 3x2 image; palette entries 0 and 1 are 10 20 30 and 40 50 60, entry 255 A1 B2 C3.
const Bytes kImage =
    file_of({{36, {3, 0}}, {100, {2, 0}}, {1040, {1, 2, 3, 4, 5, 6}}},
            file_of({{260, {10, 20, 30, 40, 50, 60}}, {1025, {0xA1, 0xB2, 0xC3}}}));
const Bytes kNoWidth = file_of({{36, {0, 0}}}, kImage);
constexpr auto kFound = ImageStatus::found;
constexpr auto kTruncated = ImageStatus::truncated_pixels;

const Row kRows[] = {
    {"65535x65535 image", file_of({{36, {0xFF, 0xFF}}, {100, {0xFF, 0xFF}}}, kImage),
     Want{kTruncated, 65535, 65535, {}, 4'294'837'265}},
    {"width 0, ending with its palette", cut(kNoWidth, 1028), Want{kFound, 0, 2}},
    {"width 0, one byte short of its palette", cut(kNoWidth, 1027),
     Want{kTruncated, 0, 2, {}, 1028}},
};

class M8 : public ::testing::TestWithParam<Row> {};

TEST_P(M8, FindsImage) {
  const Row& row = GetParam();
  const ImageLookup lookup = find_image(row.source);
  EXPECT_EQ(Bytes(lookup.image.pixels.begin(), lookup.image.pixels.end()), row.want.pixels);
  EXPECT_EQ(std::tie(lookup.status, lookup.image.width, lookup.image.height, lookup.needed),
            std::tie(row.want.status, row.want.width, row.want.height, row.want.needed));
}

TEXPORT_ROWS(M8, kRows);

using testing::builtin_bmp;
using testing::Conversion;
const Bytes kPalette(kImage.begin() + 260, kImage.begin() + 1028);

const testing::Row<Conversion> kConversions[] = {
    {"NAME.bmp, rows bottom first and unpadded",
     kImage,
     {"t.m8", "", "", {{"t.m8.bmp", builtin_bmp(3, 2, kPalette, {1, 2, 3, 4, 5, 6})}}}},
    {"width 0 with its whole palette: a header and the palette",
     cut(kNoWidth, 1028),
     {"z.m8", "", "", {{"z.m8.bmp", builtin_bmp(0, 2, kPalette, {})}}}},
    {"cut before its last pixel",
     cut(kImage, 1045),
     {"c.m8", "", "texport: c.m8: damaged: 1045 bytes, too few for a 3 x 2 image (1046 needed)\n"}},
    {"cut inside its height",
     cut(kImage, 101),
     {"c.m8", "",
      "texport: c.m8: damaged: 101 bytes, too few for its width and height (102 needed)\n"}},
};

class M8Conversion : public ::testing::TestWithParam<testing::Row<Conversion>> {};

TEST_P(M8Conversion, Converts) {
  testing::expect_conversion(convert_m8, GetParam());
}

TEXPORT_ROWS(M8Conversion, kConversions);

}  // namespace
}  // namespace texport::m8
