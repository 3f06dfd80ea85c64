#include "convert/m32.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "support/table.hpp"

namespace texport::m32 {
namespace {

struct Want {
  ImageStatus status;
  std::uint16_t x = 0, y = 0;
  Bytes tga = {};  // the found pixels, red and blue exchanged
  std::uint64_t needed = 0;
};
using Row = testing::Row<Want>;
using testing::file_of;

// Two pixels, and the same with red and blue exchanged.
const Bytes kRgba{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const Bytes kBgra{0x33, 0x22, 0x11, 0x44, 0x77, 0x66, 0x55, 0x88};
const Bytes kLayout2 = file_of({{0, {2}}, {132, {2, 0}}, {196, {1, 0}}, {376, kRgba}});
const Bytes kLayout3 = file_of({{0, {3}}, {388, {1, 0}}, {452, {2, 0}}, {632, kRgba}});
const Bytes kLayout4 = file_of({{0, {4}}, {516, {1, 0}}, {580, {1, 0}}, {968, {1, 2, 3, 4}}});
constexpr auto kFound = ImageStatus::found;
constexpr auto kTruncated = ImageStatus::truncated_pixels;
constexpr auto kUnsupported = ImageStatus::unsupported;

const Row kRows[] = {
    {"layout 2 at 132 196 376, red and blue exchanged", kLayout2, Want{kFound, 2, 1, kBgra}},
    {"layout 3 at 388 452 632", kLayout3, Want{kFound, 1, 2, kBgra}},
    {"layout 4 at 516 580 968", kLayout4, Want{kFound, 1, 1, {3, 2, 1, 4}}},
    {"file one byte short of its last pixel byte",
     file_of({{0, {3}}, {388, {1, 0}}, {452, {2, 0}}, {632, {1, 2, 3, 4, 5, 6, 7}}}),
     Want{kTruncated, 1, 2, {}, 640}},
    {"65535x65535 image", file_of({{0, {2}}, {132, {0xFF, 0xFF}}, {196, {0xFF, 0xFF}}}),
     Want{kTruncated, 65535, 65535, {}, 17'179'345'276}},
    {"file ending inside the height field", file_of({{0, {4}}, {516, {1, 0}}, {580, {1}}}),
     Want{ImageStatus::truncated_fields, 0, 0, {}, 582}},
    {"width 0 found though the file ends after its height",
     file_of({{0, {2}}, {132, {0, 0}}, {196, {5, 0}}}), Want{kFound, 0, 5}},
    {"height 0 found though the file ends after its height",
     file_of({{0, {4}}, {516, {5, 0}}, {580, {0, 0}}}), Want{kFound, 5, 0}},
    {"type 0", Bytes(1000, 0), {kUnsupported}},
    {"type 1", Bytes(1000, 1), {kUnsupported}},
    {"type 5", Bytes(1000, 5), {kUnsupported}},
    {"type 255", Bytes(1000, 255), {kUnsupported}},
    {"empty file", Bytes{}, {kUnsupported}},
};

class M32 : public ::testing::TestWithParam<Row> {};

TEST_P(M32, FindsImage) {
  const Row& row = GetParam();
  const ImageLookup lookup = find_image(row.source);
  EXPECT_EQ(std::tie(lookup.status, lookup.image.x, lookup.image.y, lookup.needed),
            std::tie(row.want.status, row.want.x, row.want.y, row.want.needed));
  Bytes tga(lookup.image.pixels.size());
  exchange_red_blue(lookup.image.pixels, tga);
  EXPECT_EQ(tga, row.want.tga);
}

TEXPORT_ROWS(M32, kRows);

}  // namespace
}  // namespace texport::m32
