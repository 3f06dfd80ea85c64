#include "io/templates.hpp"

#include <gtest/gtest.h>

#include "support/table.hpp"

#include <algorithm>

namespace texport {
namespace {

// 300 x 258 images: 77400 pixels.
const Bytes kTif = builtin_tif_header(300, 258);
const Bytes kTga = builtin_tga_header(300, 258);
const Bytes kBmp = builtin_bmp_header(300, 258);
const Bytes kGolden{0x11, 0x22, 0x33, 0x44, 0x55};

// A little-endian field of `size` bytes (2 or 4) holding `value`.
struct Row {
  const char* name;
  const Bytes* bytes;
  std::size_t offset, size;
  std::uint32_t value;
  friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

const Row kRows[] = {
    {"u16 low byte first", &kGolden, 3, 2, 0x5544},
    {"u32 low byte first", &kGolden, 0, 4, 0x44332211},
    {"tif byte order II", &kTif, 0, 2, 0x4949},
    {"tif 42", &kTif, 2, 2, 42},
    {"tif directory at 8", &kTif, 4, 4, 8},
    {"tif directory of 13 entries", &kTif, 8, 2, 13},
    {"tif entry 2 tag ImageWidth", &kTif, 22, 2, 256},
    {"tif entry 2 of type SHORT", &kTif, 24, 2, 3},
    {"tif entry 2 of count 1", &kTif, 26, 4, 1},
    {"tif width at 30", &kTif, 30, 4, 300},
    {"tif entry 3 tag ImageLength", &kTif, 34, 2, 257},
    {"tif height at 42", &kTif, 42, 4, 258},
    {"tif entry 7 tag StripOffsets", &kTif, 82, 2, 273},
    {"tif strip at 1706", &kTif, 90, 4, 1706},
    {"tif entry 10 tag StripByteCounts", &kTif, 118, 2, 279},
    {"tif entry 10 of type LONG", &kTif, 120, 2, 4},
    {"tif strip of w*h bytes", &kTif, 126, 4, 77400},
    {"tif entry 11 of type RATIONAL", &kTif, 132, 2, 5},
    {"tif 72 at 170", &kTif, 170, 4, 72},
    {"tif 1 at 174", &kTif, 174, 4, 1},
    {"tif 1 at 182", &kTif, 182, 4, 1},
    {"tga type 2", &kTga, 2, 2, 2},
    {"tga width at 12", &kTga, 12, 2, 300},
    {"tga height at 14", &kTga, 14, 2, 258},
    {"tga 32 bits a pixel, 8 alpha bits, row 0 on top", &kTga, 16, 2, 0x2820},
    {"bmp BM", &kBmp, 0, 2, 0x4D42},
    {"bmp file size 1078 + w*h + 1", &kBmp, 2, 4, 78479},
    {"bmp pixels at 1078", &kBmp, 10, 4, 1078},
    {"bmp information header of 40", &kBmp, 14, 4, 40},
    {"bmp width at 18", &kBmp, 18, 4, 300},
    {"bmp height at 22", &kBmp, 22, 4, 258},
    {"bmp 1 plane", &kBmp, 26, 2, 1},
    {"bmp 8 bits a pixel", &kBmp, 28, 2, 8},
    {"bmp uncompressed", &kBmp, 30, 4, 0},
    {"bmp image of w*h bytes", &kBmp, 34, 4, 77400},
    {"bmp 2835 pixels a metre across", &kBmp, 38, 4, 2835},
    {"bmp 2835 pixels a metre down", &kBmp, 42, 4, 2835},
    {"bmp 256 colours", &kBmp, 46, 4, 256},
};

class Header : public ::testing::TestWithParam<Row> {};

// Reads the field, and writes the value into zeros to get the same bytes back.
TEST_P(Header, HoldsField) {
  const Row& row = GetParam();
  const Bytes& bytes = *row.bytes;
  ASSERT_TRUE(fits(bytes, row.offset, row.size));
  Bytes written(bytes.size(), 0);
  if (row.size == 2) {
    EXPECT_EQ(read_u16le(bytes, row.offset), row.value);
    write_u16le(written, row.offset, static_cast<std::uint16_t>(row.value));
  } else {
    EXPECT_EQ(read_u32le(bytes, row.offset), row.value);
    write_u32le(written, row.offset, row.value);
  }
  const auto field = bytes.begin() + static_cast<std::ptrdiff_t>(row.offset);
  EXPECT_TRUE(std::equal(field, field + row.size, written.begin() + (field - bytes.begin())));
}

TEXPORT_ROWS(Header, kRows);

}  // namespace
}  // namespace texport
