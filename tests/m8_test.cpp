#include "convert/m8.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "support/table.hpp"

namespace texport::m8 {
namespace {

Bytes cut(const Bytes& bytes, std::ptrdiff_t length) {
  return Bytes(bytes.begin(), bytes.begin() + length);
}

struct Want {
  ImageStatus status;
  std::uint16_t x = 0, y = 0;
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
    {"fields at 36 100 260 1040", kImage, Want{kFound, 3, 2, {1, 2, 3, 4, 5, 6}}},
    {"file one byte short of its last pixel", cut(kImage, 1045), Want{kTruncated, 3, 2, {}, 1046}},
    {"65535x65535 image", file_of({{36, {0xFF, 0xFF}}, {100, {0xFF, 0xFF}}}, kImage),
     Want{kTruncated, 65535, 65535, {}, 4'294'837'265}},
    {"file ending inside the height field", cut(kImage, 101),
     Want{ImageStatus::truncated_fields, 0, 0, {}, 102}},
    {"width 0, ending at 1040", cut(kNoWidth, 1040), Want{kFound, 0, 2}},
    {"width 0, one byte short of 1040", cut(kNoWidth, 1039), Want{kTruncated, 0, 2, {}, 1040}},
};

class M8 : public ::testing::TestWithParam<Row> {};

TEST_P(M8, FindsImage) {
  const Row& row = GetParam();
  const ImageLookup lookup = find_image(row.source);
  EXPECT_EQ(Bytes(lookup.image.pixels.begin(), lookup.image.pixels.end()), row.want.pixels);
  EXPECT_EQ(std::tie(lookup.status, lookup.image.x, lookup.image.y, lookup.needed),
            std::tie(row.want.status, row.want.x, row.want.y, row.want.needed));
  if (lookup.status != kFound)
    return;
  // Every found image here has kImage's palette: entries 0, 1 and 255 reversed, a 0 appended.
  const BmpPalette bmp = bmp_palette(lookup.image.palette);
  EXPECT_EQ(Bytes(bmp.begin(), bmp.begin() + 8), (Bytes{30, 20, 10, 0, 60, 50, 40, 0}));
  EXPECT_EQ(Bytes(bmp.end() - 4, bmp.end()), (Bytes{0xC3, 0xB2, 0xA1, 0}));
}

TEXPORT_ROWS(M8, kRows);

}  // namespace
}  // namespace texport::m8
