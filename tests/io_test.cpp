// What every output shares: the built-in headers, the templates' rules, what is said about an
// image, and how names are shown.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "encoders.hpp"
#include "io/native.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"
#include "support/expected.hpp"
#include "support/files.hpp"
#include "support/reader.hpp"
#include "support/table.hpp"

namespace texport {
namespace {

Bytes golden(const std::string& name) {
  return testing::read_file(std::filesystem::path(TEXPORT_GOLDEN_DIR) / name);
}

// The built-in headers of a 300 x 258 image, byte for byte as a reader not ours accepted them.
TEST(BuiltinHeaders, AreTheGoldenOnes) {
  EXPECT_EQ(builtin_tif_header(300, 258), golden("builtin-300x258.tif-header"));
  EXPECT_EQ(builtin_tga_header(300, 258), golden("builtin-300x258.tga-header"));
  EXPECT_EQ(builtin_bmp_header(300, 258), golden("builtin-300x258.bmp-header"));
}

// Images with the built-in headers, decoded pixel for pixel by a reader nobody here wrote.
TEST(BuiltinHeaders, AreReadByAnIndependentReader) {
  if (!testing::reader_installed())
    GTEST_SKIP() << "no independent reader (ImageMagick's convert) installed";
  const Bytes grey = samples::sample_pixels(8 * 5, 3);
  const Bytes rgba = samples::sample_pixels(4 * 8 * 5, 4);
  const Bytes palette = samples::sample_pixels(768, 5);
  const std::tuple<const char*, Bytes, const char*, Bytes> images[] = {
      {"a.tif", testing::builtin_tif(8, 5, grey), "gray", grey},
      {"b.tga", testing::builtin_tga(8, 5, rgba), "rgba", rgba},
      {"c.bmp", testing::builtin_bmp(8, 5, palette, grey), "rgb", testing::coloured(grey, palette)},
  };
  for (const auto& [name, bytes, raw_format, pixels] : images)
    EXPECT_EQ(testing::decode_bytes_with_reader(bytes, name, raw_format), pixels) << name;
}

struct HeaderWant {
  std::optional<TemplateRead> read;  // none: the built-in header by choice
  bool builtin;
  std::string unusable;
};
using HeaderRow = testing::Row<HeaderWant>;
const Bytes kLong = samples::sample_pixels(1706 + 900, 9);
const Bytes kTaken(kLong.begin(), kLong.begin() + 1706);  // what is read of it
const TemplateRead kMissing{{}, 0, std::make_error_code(std::errc::no_such_file_or_directory)};

const HeaderRow kHeaderRows[] = {
    {"a long template gives its first bytes", {}, {TemplateRead{kTaken, kLong.size()}, false, ""}},
    {"a short one the built-in header",
     {},
     {TemplateRead{{}, 1705}, true,
      "1705 bytes, too few for a header (1706 needed); built-in TIFF headers instead"}},
    {"a missing one the built-in header, as a note",
     {},
     {kMissing, true, "none here: built-in TIFF headers"}},
    {"an unreadable one the built-in header",
     {},
     {TemplateRead{{}, 0, std::make_error_code(std::errc::permission_denied)}, true,
      "use it: Permission denied; built-in TIFF headers instead"}},
    {"none by choice the built-in header, silently", {}, {std::nullopt, true, ""}},
};

class TemplateHeader : public ::testing::TestWithParam<HeaderRow> {};

TEST_P(TemplateHeader, GivesTheHeader) {
  const HeaderWant& want = GetParam().want;
  const Picture picture{.width = 300, .height = 258};
  const ImageHeader header = image_header(kTifTemplate, want.read ? &*want.read : nullptr, picture);
  Bytes expected = want.builtin ? builtin_tif_header(300, 258) : kTaken;
  write_u16le(expected, 30, 300);
  write_u16le(expected, 42, 258);
  EXPECT_EQ(header.bytes, expected);
  EXPECT_EQ(header.unusable, want.unusable);
}

TEXPORT_ROWS(TemplateHeader, kHeaderRows);

// A template whose own fields describe another size than the image's.
struct MisfitWant {
  const HeaderTemplate* header_template;
  Picture picture;
  std::string misfit;
};
using MisfitRow = testing::Row<MisfitWant>;
const std::string kReadersMisread =
    " get a header that readers misread: leave it out for such images";

const MisfitRow kMisfitRows[] = {
    {"tif of its own size fits", {}, {&kTifTemplate, {.width = 64, .height = 48}, ""}},
    {"tif of another strip misfits",
     {},
     {&kTifTemplate,
      {.width = 96, .height = 64, .noun = "frames"},
      "describes 64 x 48 images; 96 x 64 frames" + kReadersMisread}},
    {"tif of as many pixels but more rows misfits",
     {},
     {&kTifTemplate,
      {.width = 32, .height = 96},
      "describes 64 x 48 images; 32 x 96 images" + kReadersMisread}},
    {"bmp of its own size fits",
     {},
     {&kBmpTemplate, {.kind = PixelKind::indexed, .width = 64, .height = 48}, ""}},
    {"bmp of another size misfits",
     {},
     {&kBmpTemplate,
      {.kind = PixelKind::indexed, .width = 60, .height = 40},
      "describes 64 x 48 images; 60 x 40 images" + kReadersMisread}},
};

class TemplateFit : public ::testing::TestWithParam<MisfitRow> {};

TEST_P(TemplateFit, IsToldWhenItMisfits) {
  const MisfitWant& want = GetParam().want;
  const Bytes bytes = want.header_template->builtin_header(64, 48);
  const TemplateRead read{bytes, bytes.size()};
  EXPECT_EQ(image_header(*want.header_template, &read, want.picture).misfit, want.misfit);
}

TEXPORT_ROWS(TemplateFit, kMisfitRows);

TEST(Templates, AreNamedWithLetterCaseFolded) {
  EXPECT_EQ(template_named("HEADER.TIF"), &kTifTemplate);
  EXPECT_EQ(template_named("header.tif"), &kTifTemplate);
  EXPECT_EQ(template_named("HeaderBmp"), &kBmpTemplate);
  EXPECT_EQ(template_named("headertga32"), &kTgaTemplate);
  for (const char* other : {"HEADER.TIFF", "HEADER.TI", "HEADERTGA3", "xHEADERBMP", ""})
    EXPECT_EQ(template_named(other), nullptr) << other;
}

TEST(NativeImages, AreToldWhenMostReadersRefuseThem) {
  const std::string zero = "its width or height is 0; most readers refuse such an image";
  EXPECT_EQ(native_caveat({.width = 0, .height = 5}), zero);
  EXPECT_EQ(native_caveat({.kind = PixelKind::rgba, .width = 5, .height = 0}), zero);
  EXPECT_EQ(native_caveat({.kind = PixelKind::indexed, .width = 3, .height = 2}),
            "its rows of 3 bytes are not padded to a multiple of 4; most BMP readers refuse such "
            "a file");
  EXPECT_EQ(native_caveat({.kind = PixelKind::indexed, .width = 6, .height = 2}),
            "its rows of 6 bytes are not padded to a multiple of 4; most BMP readers refuse such "
            "a file");
  EXPECT_EQ(native_caveat({.kind = PixelKind::indexed, .width = 8, .height = 2}), "");
  EXPECT_EQ(native_caveat({.kind = PixelKind::grey, .width = 3, .height = 2}), "");
}

TEST(Names, AreShownWithEveryControlAndInvalidByteEscaped) {
  const std::pair<std::string, std::string> names[] = {
      {"墙.sfd", "墙.sfd"},
      {"smile\xf0\x9f\x98\x80", "smile\xf0\x9f\x98\x80"},  // U+1F600, four bytes from F0
      {"\xed\x95\x9c", "\xed\x95\x9c"},                    // U+D55C, from ED below the surrogates
      {"last\xf4\x8f\xbf\xbf", "last\xf4\x8f\xbf\xbf"},    // U+10FFFF
      {"a\nb", "a\\x0ab"},
      {"\x1b[31m", "\\x1b[31m"},
      {"del\x7f", "del\\x7f"},
      {"csi\xc2\x9b", "csi\\xc2\\x9b"},  // U+009B, a C1 control in UTF-8
      {"nbsp\xc2\xa0", "nbsp\xc2\xa0"},  // U+00A0 is no control
      {"lone\x9b", "lone\\x9b"},
      {"overlong\xc0\xaf", "overlong\\xc0\\xaf"},
      {"overlong\xe0\x80\xaf", "overlong\\xe0\\x80\\xaf"},
      {"overlong\xf0\x80\x80\xaf", "overlong\\xf0\\x80\\x80\\xaf"},
      {"surrogate\xed\xa0\x80", "surrogate\\xed\\xa0\\x80"},
      {"past\xf4\x90\x80\x80", "past\\xf4\\x90\\x80\\x80"},
      {"cut\xe5\xa2", "cut\\xe5\\xa2"},
  };
  for (const auto& [name, expected] : names)
    EXPECT_EQ(shown(name), expected);
}

TEST(Sizes, ReadAsPeopleReadThem) {
  EXPECT_EQ(readable_size(1), "1 byte");
  EXPECT_EQ(readable_size(999), "999 bytes");
  EXPECT_EQ(readable_size(1707), "1.7 kB");
  EXPECT_EQ(readable_size(999'960), "1.0 MB");
  EXPECT_EQ(readable_size(3'805'000'000), "3.8 GB");
}

}  // namespace
}  // namespace texport
