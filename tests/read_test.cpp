// Images read back: the tool's own images, images other programs made of our pixels, refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "encoders.hpp"
#include "io/image_read.hpp"
#include "io/native.hpp"
#include "io/png.hpp"
#include "support/expected.hpp"
#include "support/files.hpp"
#include "support/reader.hpp"
#include "support/table.hpp"

namespace texport {

void PrintTo(const ReadImage& image, std::ostream* out) {
  *out << image.width << " x " << image.height << ", channels " << static_cast<int>(image.channels)
       << ", pixels " << ::testing::PrintToString(image.pixels) << ", palette "
       << ::testing::PrintToString(image.palette);
}

namespace {

using testing::coloured;

constexpr std::uint16_t kW = 5, kH = 3;
const Bytes kGrey = samples::sample_pixels(kW * kH, 1);
const Bytes kGreyAlpha = samples::sample_pixels(2 * kW * kH, 2);
const Bytes kRgb = samples::sample_pixels(3 * kW * kH, 3);
const Bytes kRgba = samples::sample_pixels(4 * kW * kH, 4);
const Bytes kPalette = samples::sample_pixels(kPaletteLength, 5);
const Bytes kPalette16(kPalette.begin(), kPalette.begin() + 48);
const Bytes kIndices16 = [] {
  Bytes indices = kGrey;
  for (std::uint8_t& index : indices)
    index %= 16;
  return indices;
}();
const Bytes kGrey16 = [] {  // each value times 257, little-endian: the same at 8 bits
  Bytes samples;
  for (const std::uint8_t value : kGrey)
    samples.insert(samples.end(), {value, value});
  return samples;
}();

Picture picture(PixelKind kind, std::uint16_t width, std::uint16_t height, const Bytes& pixels,
                const Bytes& palette = {}) {
  return {.kind = kind, .width = width, .height = height, .pixels = pixels, .palette = palette};
}

ReadResult image(Channels channels, const Bytes& pixels, const Bytes& palette = {},
                 std::uint32_t width = kW, std::uint32_t height = kH) {
  return {ReadImage{width, height, channels, pixels, palette}, ""};
}

// A paletted PNG: its own indices and palette through libpng, its colours through stb_image.
ReadResult paletted_png(const Bytes& indices, const Bytes& palette) {
  return TEXPORT_READ_PNG_LIBPNG ? image(Channels::indexed, indices, palette)
                                 : image(Channels::rgb, coloured(indices, palette));
}

// The native image of `picture` with its built-in header, as the tool writes it.
Bytes native_file(const Picture& picture) {
  Bytes storage, file;
  const Bytes header = native_template(picture.kind).builtin_header(picture.width, picture.height);
  for (const Part& part : native_parts(picture, header, storage))
    file.insert(file.end(), part.bytes.begin(), part.bytes.end());
  return file;
}

Bytes png_file(const Picture& picture) {
  Bytes png;
  std::string problem;
  EXPECT_TRUE(encode_png(picture, png, problem)) << problem;
  return png;
}

std::uint32_t u32be(ByteView bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
}

// `png` with its first chunk of `type` holding `data` instead.
Bytes with_chunk(const Bytes& png, std::string_view type, const Bytes& data) {
  std::size_t at = 8;
  while (std::string_view(reinterpret_cast<const char*>(&png[at + 4]), 4) != type)
    at += 12 + u32be(png, at);
  Bytes chunk = {0, 0, static_cast<std::uint8_t>(data.size() >> 8),
                 static_cast<std::uint8_t>(data.size())};
  chunk.insert(chunk.end(), type.begin(), type.end());
  chunk.insert(chunk.end(), data.begin(), data.end());
  std::uint32_t crc = ~0u;
  for (std::size_t i = 4; i < chunk.size(); ++i) {
    crc ^= chunk[i];
    for (int bit = 0; bit < 8; ++bit)
      crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  for (const int shift : {24, 16, 8, 0})
    chunk.push_back(static_cast<std::uint8_t>(~crc >> shift));
  return Bytes(png.begin(), png.begin() + at) + chunk +
         Bytes(png.begin() + at + 12 + u32be(png, at), png.end());
}

// A PNG whose header says width x height, its image data that of one grey pixel.
Bytes png_claiming(std::uint32_t width, std::uint32_t height) {
  const Bytes png = png_file(picture(PixelKind::grey, 1, 1, kGrey));
  Bytes header(png.begin() + 16, png.begin() + 29);
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
    header[4 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
  }
  return with_chunk(png, "IHDR", header);
}

Bytes cut(Bytes file, std::size_t count) {
  file.resize(file.size() - count);
  return file;
}

Bytes patched_u16(Bytes file, std::size_t offset, std::uint16_t value) {
  write_u16le(file, offset, value);
  return file;
}

struct Read {
  std::string name;  // the file's name, as read_image is told it
  ReadResult want;
};
using ReadRow = testing::Row<Read>;

void expect_read(ByteView file, const Read& read) {
  const ReadResult got = read_image(file, read.name);
  EXPECT_EQ(got.problem, read.want.problem);
  EXPECT_EQ(got.image, read.want.image);
}

const Bytes kIndices3x2(kGrey.begin(), kGrey.begin() + 6);
const ReadRow kOwnRows[] = {
    {"native tif",
     native_file(picture(PixelKind::grey, kW, kH, kGrey)),
     {"a.tif", image(Channels::grey, kGrey)}},
    {"native tga",
     native_file(picture(PixelKind::rgba, kW, kH, kRgba)),
     {"a.tga", image(Channels::rgba, kRgba)}},
    {"native bmp of width 3, its rows unpadded",
     native_file(picture(PixelKind::indexed, 3, 2, kIndices3x2, kPalette)),
     {"a.bmp", image(Channels::indexed, kIndices3x2, kPalette, 3, 2)}},
    {"native bmp behind a template of another size, named in capitals",
     testing::expected_bmp(builtin_bmp_header(64, 48), 3, 2, kPalette, kIndices3x2),
     {"A.BMP", image(Channels::indexed, kIndices3x2, kPalette, 3, 2)}},
    {"native tif behind a template of another size",
     testing::expected_tif(builtin_tif_header(64, 48), kW, kH, kGrey),
     {"a.tiff", image(Channels::grey, kGrey)}},
    {"native tga of no pixels",
     testing::builtin_tga(0, 4, {}),
     {"a.tga", image(Channels::rgba, {}, {}, 0, 4)}},
    {"png grey, named tga",
     png_file(picture(PixelKind::grey, kW, kH, kGrey)),
     {"a.tga", image(Channels::grey, kGrey)}},
    {"png rgba",
     png_file(picture(PixelKind::rgba, kW, kH, kRgba)),
     {"a.png", image(Channels::rgba, kRgba)}},
    {"png paletted",
     png_file(picture(PixelKind::indexed, kW, kH, kGrey, kPalette)),
     {"a.png", paletted_png(kGrey, kPalette)}},
};

class OwnImage : public ::testing::TestWithParam<ReadRow> {};
TEST_P(OwnImage, ReadsExactly) {
  expect_read(GetParam().source, GetParam().want);
}
TEXPORT_ROWS(OwnImage, kOwnRows);

TEST(OwnPng, HoldsNoImageOfWidthOrHeightZero) {
  for (const auto& [width, height] : {std::pair<std::uint16_t, std::uint16_t>{0, 7}, {7, 0}}) {
    Bytes png;
    std::string problem;
    EXPECT_FALSE(encode_png(picture(PixelKind::grey, width, height, {}), png, problem));
    EXPECT_EQ(problem, "a PNG holds no image of " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels");
  }
}

const ReadRow kRefusalRows[] = {
    {"garbage",
     Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'},
     {"a.png", {{}, "not a PNG, TIFF, TGA or BMP"}}},
    {"png cut after its signature",
     Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'},
     {"a.png", {{}, "the PNG ends early"}}},
    {"tif cut short",
     cut(testing::builtin_tif(kW, kH, kGrey), 2),
     {"a.tif", {{}, "the TIFF ends early"}}},
    {"bmp cut short",
     cut(testing::builtin_bmp(4, 2, kPalette, kIndices3x2 + Bytes{1, 2}), 3),
     {"a.bmp", {{}, "the BMP ends early"}}},
    {"tga cut short",
     cut(testing::builtin_tga(kW, kH, kRgba), 1),
     {"a.tga", {{}, "the TGA ends early"}}},
    {"png too wide",
     png_claiming(65536, 3),
     {"a.png", {{}, "65536 x 3 pixels, more than 65535 on a side"}}},
    {"png larger than its file holds",
     png_claiming(16000, 16000),
     {"a.png", {{}, "16000 x 16000 pixels, more than the file can hold"}}},
    {"tga larger than its file holds",
     builtin_tga_header(16000, 16000) + kRgba,
     {"a.tga", {{}, "16000 x 16000 pixels, more than the file can hold"}}},
    {"tif of too many pixels",
     patched_u16(patched_u16(testing::builtin_tif(kW, kH, kGrey), 30, 20000), 42, 20000),
     {"a.tif", {{}, "20000 x 20000 pixels, more than 268435456 in all"}}},
    {"tif of 16 bits",
     cut(patched_u16(testing::builtin_tif(kW, kH, kGrey), 54, 16), 1),
     {"a.tif", {{}, "a TIFF of 16 bits a sample"}}},
#if TEXPORT_READ_PNG_LIBPNG
    {"png index past its palette",
     with_chunk(png_file(picture(PixelKind::indexed, kW, kH, kGrey, kPalette)), "PLTE", kPalette16),
     {"a.png",
      {{},
       "pixel index " + std::to_string(*std::max_element(kGrey.begin(), kGrey.end())) +
           " past the palette's 16 entries"}}},
#endif
};

class Refusal : public ::testing::TestWithParam<ReadRow> {};
TEST_P(Refusal, SaysWhy) {
  if (!TEXPORT_READ_TIFF && GetParam().want.name.ends_with(".tif"))
    GTEST_SKIP() << "this build reads no TIFF";
  expect_read(GetParam().source, GetParam().want);
}
TEXPORT_ROWS(Refusal, kRefusalRows);

// Images saved by Pillow or ImageMagick from our pixels (5 x 3), all made at once before the rows
// run (a program started for each would cost more than the rows themselves).
struct Resaved {
  bool pillow;          // else ImageMagick's convert
  std::string format;   // Pillow's mode ("L"), or convert's raw format ("gray")
  std::string options;  // Pillow's save() arguments, or convert's options
  Bytes palette;
  Read read;
  std::string out_prefix = "";  // convert's output format, where the name does not say it
};
using ResavedRow = testing::Row<Resaved>;

const std::string kLzw = R"("compression": "tiff_lzw")";
const std::string kDeflate = R"("compression": "tiff_adobe_deflate")";
const std::string kRle = R"("compression": "tga_rle")";

const ResavedRow kResavedRows[] = {
    {"tiff uncompressed", kGrey, {true, "L", "", {}, {"a.tif", image(Channels::grey, kGrey)}}},
    {"tiff lzw", kGrey, {true, "L", kLzw, {}, {"a.tif", image(Channels::grey, kGrey)}}},
    {"tiff deflate", kGrey, {true, "L", kDeflate, {}, {"a.tif", image(Channels::grey, kGrey)}}},
    {"tiff min is white",
     kGrey,
     {false,
      "gray",
      "-define tiff:photometric=min-is-white",
      {},
      {"a.tif", image(Channels::grey, kGrey)}}},
    {"tiff paletted",
     kGrey,
     {true, "P", "", kPalette, {"a.tif", image(Channels::indexed, kGrey, kPalette)}}},
    {"tiff rgb", kRgb, {true, "RGB", kLzw, {}, {"a.tif", image(Channels::rgb, kRgb)}}},
    {"tiff rgba", kRgba, {true, "RGBA", "", {}, {"a.tif", image(Channels::rgba, kRgba)}}},
    {"tiff in tiles",
     kGrey,
     {false, "gray", "-define tiff:tile-geometry=16x16", {}, {"a.tif", {{}, "a TIFF in tiles"}}}},
    {"tiff in planes",
     kRgb,
     {false,
      "rgb",
      "-interlace plane",
      {},
      {"a.tif", {{}, "a TIFF with its samples in separate planes"}}}},
    {"tiff cmyk",
     kRgb,
     {false,
      "rgb",
      "-colorspace CMYK",
      {},
      {"a.tif", {{}, "a TIFF of photometric interpretation 5 with 4 samples a pixel"}}}},
    {"tga rle grey", kGrey, {true, "L", kRle, {}, {"a.tga", image(Channels::grey, kGrey)}}},
    {"tga uncompressed by ImageMagick, in the tool's own layout",
     kRgba,
     {false, "rgba", "-compress none", {}, {"a.tga", image(Channels::rgba, kRgba)}}},
    {"bmp v3 24 bits", kRgb, {true, "RGB", "", {}, {"a.bmp", image(Channels::rgb, kRgb)}}},
    {"bmp v3 8 bits",
     kGrey,
     {true, "P", "", kPalette, {"a.bmp", image(Channels::rgb, coloured(kGrey, kPalette))}}},
    {"bmp v5 32 bits", kRgba, {false, "rgba", "", {}, {"a.bmp", image(Channels::rgba, kRgba)}}},
    {"png paletted 4 bits",
     kIndices16,
     {true, "P", "", kPalette16, {"a.png", paletted_png(kIndices16, kPalette16)}}},
    {"png 16 bits", kGrey16, {true, "I;16", "", {}, {"a.png", image(Channels::grey, kGrey)}}},
    {"png grey and alpha",
     kGreyAlpha,
     {true, "LA", "", {}, {"a.png", image(Channels::grey_alpha, kGreyAlpha)}}},
    {"png interlaced",
     kRgb,
     {false, "rgb", "-interlace PNG", {}, {"a.png", image(Channels::rgb, kRgb)}, "PNG24:"}},
};

class ResavedImage : public ::testing::TestWithParam<ResavedRow> {
 protected:
  // Row i's input as i.in (and i.pal), its image as i.NAME.
  static void SetUpTestSuite() {
    folder_ = std::make_unique<testing::TempFolder>();
    pillow_ = std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
    std::string script = "from PIL import Image\n", magick = "true";
    for (std::size_t i = 0; i < std::size(kResavedRows); ++i) {
      const ResavedRow& row = kResavedRows[i];
      const Resaved& how = row.want;
      const std::string at = (*folder_ / std::to_string(i)).string();
      testing::write_file(at + ".in", row.source);
      testing::write_file(at + ".pal", how.palette);
      if (how.pillow)
        script +=
            "i = Image.frombytes('" + how.format + "', (5, 3), open('" + at +
            ".in', 'rb').read())\n" +
            (how.palette.empty() ? "" : "i.putpalette(open('" + at + ".pal', 'rb').read())\n") +
            "i.save('" + at + "." + how.read.name + "', **{" + how.options + "})\n";
      else
        magick += "; convert -size 5x3 -depth 8 " + how.format + ":'" + at + ".in' " + how.options +
                  " '" + how.out_prefix + at + "." + how.read.name + "'";
    }
    testing::write_file(*folder_ / "save.py", Bytes(script.begin(), script.end()));
    if (pillow_)
      std::system(
          ("/usr/bin/python3 '" + (*folder_ / "save.py").string() + "' 2>/dev/null").c_str());
    if (testing::reader_installed())
      std::system((magick + " 2>/dev/null").c_str());
  }
  static void TearDownTestSuite() { folder_.reset(); }

  static std::unique_ptr<testing::TempFolder> folder_;
  static bool pillow_;
};
std::unique_ptr<testing::TempFolder> ResavedImage::folder_;
bool ResavedImage::pillow_ = false;

TEST_P(ResavedImage, ReadsExactly) {
  const ResavedRow& row = GetParam();
  if (row.want.pillow ? !pillow_ : !testing::reader_installed())
    GTEST_SKIP() << (row.want.pillow ? "Pillow (python3-pil)" : "ImageMagick's convert")
                 << " is not installed";
  if (!TEXPORT_READ_TIFF && row.want.read.name.ends_with(".tif"))
    GTEST_SKIP() << "this build reads no TIFF";
  const auto index = std::find_if(std::begin(kResavedRows), std::end(kResavedRows),
                                  [&](const ResavedRow& each) { return each.name == row.name; }) -
                     std::begin(kResavedRows);
  const std::filesystem::path image = *folder_ / (std::to_string(index) + "." + row.want.read.name);
  ASSERT_TRUE(std::filesystem::exists(image)) << image;
  expect_read(testing::read_file(image), row.want.read);
}
TEXPORT_ROWS(ResavedImage, kResavedRows);

}  // namespace
}  // namespace texport
