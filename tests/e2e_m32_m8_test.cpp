// The .m32 and .m8 passes of the all-passes build, run as a user would.
#include <gtest/gtest.h>

#include <algorithm>

#include "encoders.hpp"
#include "io/templates.hpp"
#include "support/expected.hpp"
#include "support/run.hpp"

namespace texport::testing {
namespace {

Bytes recognisable(std::size_t length, std::uint8_t seed) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(seed + 11 * i);
  return bytes;
}

std::size_t line_count(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class M32M8Run : public ::testing::Test {
 protected:
  TempFolder folder;
  Bytes tga_header = recognisable(kTgaHeaderLength, 0x10);
  Bytes bmp_header = recognisable(kBmpHeaderLength, 0x20);
  void SetUp() override {
    write_file(folder / "HEADERTGA32", tga_header);
    write_file(folder / "HEADERBMP", bmp_header);
  }
};

TEST_F(M32M8Run, BothPassesConvertEveryLayoutAndLeaveTheSourcesAsTheyWere) {
  const Bytes rgba2 = samples::sample_pixels(4 * 5 * 3, 2);
  const Bytes rgba3 = samples::sample_pixels(4 * 2 * 7, 3);
  const Bytes rgba4 = samples::sample_pixels(4 * 9 * 1, 4);
  const Bytes palette = samples::sample_pixels(768, 5);
  const Bytes indices = samples::sample_pixels(6 * 4, 6);
  const Bytes stone = samples::m32_file(2, 5, 3, rgba2);
  const Bytes marble = samples::m32_file(3, 2, 7, rgba3);
  const Bytes slate = samples::m32_file(4, 9, 1, rgba4);
  const Bytes tile = samples::m8_file(6, 4, palette, indices);
  write_file(folder / "stone.m32", stone);
  write_file(folder / "marble.m32", marble);
  write_file(folder / "slate.m32", slate);
  write_file(folder / "tile.m8", tile);

  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(read_file(folder / "stone.m32.tga"), expected_tga(tga_header, 5, 3, rgba2));
  EXPECT_EQ(read_file(folder / "marble.m32.tga"), expected_tga(tga_header, 2, 7, rgba3));
  EXPECT_EQ(read_file(folder / "slate.m32.tga"), expected_tga(tga_header, 9, 1, rgba4));
  EXPECT_EQ(read_file(folder / "tile.m8.bmp"), expected_bmp(bmp_header, 6, 4, palette, indices));
  EXPECT_EQ(read_file(folder / "stone.m32"), stone);
  EXPECT_EQ(read_file(folder / "tile.m8"), tile);
  EXPECT_EQ(list_folder(folder.path()),
            (std::vector<std::string>{"HEADERBMP", "HEADERTGA32", "marble.m32", "marble.m32.tga",
                                      "slate.m32", "slate.m32.tga", "stone.m32", "stone.m32.tga",
                                      "tile.m8", "tile.m8.bmp"}));
}

TEST_F(M32M8Run, ExistingOutputsAreReplacedWhole) {
  const Bytes rgba = samples::sample_pixels(4, 1);
  const Bytes palette = samples::sample_pixels(768, 2);
  write_file(folder / "stone.m32", samples::m32_file(2, 1, 1, rgba));
  write_file(folder / "tile.m8", samples::m8_file(1, 1, palette, Bytes{9}));
  write_file(folder / "stone.m32.tga", Bytes(5000, 0xAB));
  write_file(folder / "tile.m8.bmp", Bytes(5000, 0xAB));
  run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(read_file(folder / "stone.m32.tga"), expected_tga(tga_header, 1, 1, rgba));
  EXPECT_EQ(read_file(folder / "tile.m8.bmp"), expected_bmp(bmp_header, 1, 1, palette, {9}));
}

TEST_F(M32M8Run, TruncatedSourcesAreNamedOnStandardErrorAndSkipped) {
  const Bytes m32 = samples::m32_file(4, 3, 3, samples::sample_pixels(36, 1));
  const Bytes m8 = samples::m8_file(4, 4, samples::sample_pixels(768, 1), Bytes(16, 1));
  write_file(folder / "a.m32", ByteView(m32).first(m32.size() - 1));
  write_file(folder / "b.m32", ByteView(m32).first(200));
  write_file(folder / "c.m32", m32);
  write_file(folder / "a.m8", Bytes{});
  write_file(folder / "b.m8", ByteView(m8).first(1039));
  write_file(folder / "c.m8", m8);
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "texport: a.m32: not converted: it has 1003 bytes, too few for a 3 x 3 image "
            "(1004 needed)\n"
            "texport: b.m32: not converted: it has 200 bytes, too few for its width and height "
            "(582 needed)\n"
            "texport: a.m8: not converted: it has 0 bytes, too few for its width and height "
            "(102 needed)\n"
            "texport: b.m8: not converted: it has 1039 bytes, too few for a 4 x 4 image "
            "(1056 needed)\n");
  EXPECT_EQ(list_folder(folder.path()),
            (std::vector<std::string>{"HEADERBMP", "HEADERTGA32", "a.m32", "a.m8", "b.m32", "b.m8",
                                      "c.m32", "c.m32.tga", "c.m8", "c.m8.bmp"}));
}

TEST_F(M32M8Run, PassesRunInTheOrderSfdThenM32ThenM8) {
  write_file(folder / "z.sfd", Bytes{0x05});  // out of range at frame 1
  Bytes odd = samples::m32_file(2, 1, 1, Bytes(4, 0));
  odd[0] = 7;
  write_file(folder / "a.m32", odd);
  write_file(folder / "0.m8", Bytes(10, 0));
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.out, "out of range, compressed? frame 1 in file z.sfd\nunsupported a.m32\n");
  EXPECT_EQ(run.err.rfind("texport: 0.m8: not converted", 0), 0u) << run.err;
}

TEST_F(M32M8Run, TheDefaultBuildLeavesThemAlone) {
  write_file(folder / "stone.m32", samples::m32_file(2, 1, 1, Bytes(4, 1)));
  write_file(folder / "odd.m32", Bytes{0x09});
  write_file(folder / "tile.m8", samples::m8_file(1, 1, Bytes(768, 1), Bytes{1}));
  write_file(folder / "cut.m8", Bytes(10, 0));
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(run.prompt_seen);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(list_folder(folder.path()),
            (std::vector<std::string>{"HEADERBMP", "HEADERTGA32", "cut.m8", "odd.m32", "stone.m32",
                                      "tile.m8"}));
}

TEST(M32Unsupported, OneLineEachInNameOrderWithoutAnyTemplate) {
  TempFolder folder;
  const Bytes good = samples::m32_file(2, 2, 2, samples::sample_pixels(16, 1));
  const std::uint8_t types[] = {0, 1, 5, 255};
  const char* names[] = {"a.m32", "B.M32", "c.m32", "d.m32"};
  for (std::size_t i = 0; i < 4; ++i) {
    Bytes source = good;
    source[0] = types[i];
    write_file(folder / names[i], source);
  }
  write_file(folder / "e.m32", Bytes{});
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out,
            "unsupported a.m32\nunsupported B.M32\nunsupported c.m32\nunsupported d.m32\n"
            "unsupported e.m32\n");
  EXPECT_EQ(run.err, "") << "no template is looked for";
  EXPECT_EQ(list_folder(folder.path()),
            (std::vector<std::string>{"B.M32", "a.m32", "c.m32", "d.m32", "e.m32"}));
}

// With no templates in the folder the built-in headers stand in; a real reader must then see
// exactly the source's pixels.
TEST(M32M8BuiltInHeaders, OutputsReadBackPixelForPixel) {
  TempFolder folder;
  const Bytes rgba = samples::sample_pixels(4 * 7 * 5, 11);  // every alpha value differs
  const Bytes palette = samples::sample_pixels(768, 12);
  const Bytes indices = samples::sample_pixels(12 * 5, 13);  // a width that is a multiple of 4
  write_file(folder / "stone.m32", samples::m32_file(3, 7, 5, rgba));
  write_file(folder / "other.m32", samples::m32_file(2, 1, 1, Bytes(4, 0)));
  write_file(folder / "tile.m8", samples::m8_file(12, 5, palette, indices));
  write_file(folder / "other.m8", samples::m8_file(4, 1, palette, Bytes(4, 0)));
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(line_count(run.err), 2u) << run.err;  // once per template name
  EXPECT_NE(run.err.find("texport: HEADERTGA32: cannot open it"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("texport: HEADERBMP: cannot open it"), std::string::npos) << run.err;

  const fs::path tga = folder / "stone.m32.tga";
  const fs::path bmp = folder / "tile.m8.bmp";
  EXPECT_EQ(read_file(tga), expected_tga(builtin_tga_header(7, 5), 7, 5, rgba));
  EXPECT_EQ(read_file(bmp), expected_bmp(builtin_bmp_header(12, 5), 12, 5, palette, indices));
  EXPECT_EQ(read_u32le(read_file(bmp), 2), 1079u + 60);  // file size
  EXPECT_EQ(read_u32le(read_file(bmp), 34), 60u);        // image size
  if (!reader_available())
    GTEST_SKIP() << "no image reader installed";
  EXPECT_EQ(decode_with_reader(tga, "rgba"), rgba);
  EXPECT_EQ(decode_with_reader(bmp, "rgb"), colours_of(palette, indices));
}

}  // namespace
}  // namespace texport::testing
