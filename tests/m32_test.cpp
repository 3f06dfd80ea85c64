#include "convert/m32.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "encoders.hpp"
#include "support/expected.hpp"
#include "support/table.hpp"

namespace texport::m32 {
namespace {

struct Want {
  ImageStatus status;
  std::uint16_t width = 0, height = 0;
  Bytes pixels = {};  // the pixels found
  std::uint64_t needed = 0;
};
using Row = testing::Row<Want>;
using testing::file_of;

// Two pixels.
const Bytes kRgba{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const Bytes kLayout2 = file_of({{0, {2}}, {132, {2, 0}}, {196, {1, 0}}, {376, kRgba}});
const Bytes kLayout3 = file_of({{0, {3}}, {388, {1, 0}}, {452, {2, 0}}, {632, kRgba}});
const Bytes kLayout4 = file_of({{0, {4}}, {516, {1, 0}}, {580, {1, 0}}, {968, {1, 2, 3, 4}}});
constexpr auto kFound = ImageStatus::found;
constexpr auto kTruncated = ImageStatus::truncated_pixels;
constexpr auto kUnsupported = ImageStatus::unsupported;

const Row kRows[] = {
    {"layout 2 at 132 196 376", kLayout2, Want{kFound, 2, 1, kRgba}},
    {"layout 3 at 388 452 632", kLayout3, Want{kFound, 1, 2, kRgba}},
    {"layout 4 at 516 580 968", kLayout4, Want{kFound, 1, 1, {1, 2, 3, 4}}},
    {"65535x65535 image", file_of({{0, {2}}, {132, {0xFF, 0xFF}}, {196, {0xFF, 0xFF}}}),
     Want{kTruncated, 65535, 65535, {}, 17'179'345'276}},
    {"width 0 found though the file ends after its height",
     file_of({{0, {2}}, {132, {0, 0}}, {196, {5, 0}}}), Want{kFound, 0, 5}},
    {"height 0 found though the file ends after its height",
     file_of({{0, {4}}, {516, {5, 0}}, {580, {0, 0}}}), Want{kFound, 5, 0}},
    {"type 1", Bytes(1000, 1), {kUnsupported}},
};

class M32 : public ::testing::TestWithParam<Row> {};

TEST_P(M32, FindsImage) {
  const Row& row = GetParam();
  const ImageLookup lookup = find_image(row.source);
  EXPECT_EQ(std::tie(lookup.status, lookup.image.width, lookup.image.height, lookup.needed),
            std::tie(row.want.status, row.want.width, row.want.height, row.want.needed));
  EXPECT_EQ(Bytes(lookup.image.pixels.begin(), lookup.image.pixels.end()), row.want.pixels);
}

TEXPORT_ROWS(M32, kRows);

using testing::builtin_tga;
using testing::Conversion;

const testing::Row<Conversion> kConversions[] = {
    {"NAME.tga", kLayout2, {"s.m32", "", "", {{"s.m32.tga", builtin_tga(2, 1, kRgba)}}}},
    {"width 0 ending at its height: a header only",
     file_of({{0, {2}}, {132, {0, 0}}, {196, {5, 0}}}),
     {"z.m32", "", "", {{"z.m32.tga", builtin_tga(0, 5, {})}}}},
    {"unknown layout: the console line, and why",
     Bytes(400, 5),
     {"u.m32", "unsupported u.m32\n",
      "texport: u.m32: unsupported: layout type 5; the known ones are 2, 3 and 4\n"}},
    {"empty: the console line, and why",
     Bytes{},
     {"e.m32", "unsupported e.m32\n",
      "texport: e.m32: unsupported: an empty file, without a layout type\n"}},
    {"cut before its height",
     file_of({{0, {4}}, {516, {1, 0}}, {580, {1}}}),
     {"c.m32", "",
      "texport: c.m32: damaged: 581 bytes, too few for its width and height (582 needed)\n"}},
    {"cut before its last pixel",
     file_of({{0, {3}}, {388, {1, 0}}, {452, {2, 0}}, {632, {1, 2, 3, 4, 5, 6, 7}}}),
     {"c.m32", "", "texport: c.m32: damaged: 639 bytes, too few for a 1 x 2 image (640 needed)\n"}},
};

class M32Conversion : public ::testing::TestWithParam<testing::Row<Conversion>> {};

TEST_P(M32Conversion, Converts) {
  testing::expect_conversion(convert_m32, GetParam());
}

TEXPORT_ROWS(M32Conversion, kConversions);

}  // namespace
}  // namespace texport::m32
