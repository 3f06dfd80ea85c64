// The .tex pass as a user meets it: the tool with every pass, in a fresh folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "convert/tex.hpp"
#include "encoders.hpp"
#include "io/templates.hpp"
#include "support/expected.hpp"
#include "support/run.hpp"

namespace texport::testing {
namespace {

Bytes test_template() {
  Bytes header(kTifHeaderLength);
  for (std::size_t i = 0; i < header.size(); ++i)
    header[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return header;
}

// Pixels that use every byte value, so a packed form needs escapes as well as runs.
Bytes texture_pixels(std::uint16_t width, std::uint16_t height, std::uint32_t seed) {
  Bytes pixels = samples::sample_pixels(std::size_t{width} * height, seed);
  for (std::size_t i = 0; i < pixels.size(); i += 7)
    pixels[i] = static_cast<std::uint8_t>(i / 7);
  return pixels;
}

Bytes packed_texture(std::uint16_t width, std::uint16_t height, const Bytes& pixels) {
  return *samples::tex_pack(width, height, pixels, 0xC0);
}

class TexRun : public ::testing::Test {
 protected:
  TempFolder folder;
  Bytes header = test_template();
  void SetUp() override {
    if (tex::tex_trace)
      GTEST_SKIP() << "this build traces the .tex decoder on the console";
    write_file(folder / "HEADER.TIF", header);
  }
};

TEST_F(TexRun, PlainAndPackedSourcesGiveExactImages) {
  const Bytes plain_pixels = texture_pixels(5, 3, 1);
  Bytes plain = samples::tex_plain(5, 3, plain_pixels);
  std::fill(plain.begin() + 4, plain.begin() + 20, 0xEE);  // bytes 4 to 19 are not read
  plain.resize(plain.size() + 9, 0xDD);                    // nor anything behind the pixels
  write_file(folder / "wall.tex", plain);
  const Bytes packed_pixels = texture_pixels(40, 30, 2);
  write_file(folder / "floor.tex", packed_texture(40, 30, packed_pixels));

  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "floor.tex\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(read_file(folder / "wall.TIF"), expected_tif(header, 5, 3, plain_pixels));
  EXPECT_EQ(read_file(folder / "floor.TIF"), expected_tif(header, 40, 30, packed_pixels));
}

TEST_F(TexRun, WorkedExampleGivesA1741ByteImage) {
  write_file(folder / "w.tex",
             samples::tex_packed_from_stream(17, 2, 100, Bytes{5, 100, 7, 99, 101, 129, 42, 130}));
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.out, "w.tex\n");
  Bytes pixels{7, 101};
  pixels.resize(33, 42);
  pixels.resize(34, 130);
  const Bytes image = read_file(folder / "w.TIF");
  EXPECT_EQ(image.size(), 1741u);
  EXPECT_EQ(image, expected_tif(header, 17, 2, pixels));
}

TEST_F(TexRun, OutputNamesEndInTifWhateverTheCaseOfTex) {
  for (const char* name : {"a.tex", "B.TEX", "c.Tex"})
    write_file(folder / name, samples::tex_plain(1, 1, Bytes{9}));
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(list_folder(folder.path()),
            (std::vector<std::string>{"B.TEX", "B.TIF", "HEADER.TIF", "a.TIF", "a.tex", "c.TIF",
                                      "c.Tex"}));
  EXPECT_EQ(read_file(folder / "B.TIF"), expected_tif(header, 1, 1, {9}));
}

TEST_F(TexRun, PackedSourcesAreNamedInOrderAndPlainOnesAreSilent) {
  const Bytes pixels = texture_pixels(4, 4, 3);
  write_file(folder / "b.tex", packed_texture(4, 4, pixels));
  write_file(folder / "A.TEX", packed_texture(4, 4, pixels));
  write_file(folder / "c.Tex", samples::tex_plain(4, 4, pixels));
  write_file(folder / "d.tex", packed_texture(4, 4, pixels));
  write_file(folder / "e.tex", samples::tex_plain(4, 4, pixels));
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "A.TEX\nb.tex\nd.tex\n");
  EXPECT_EQ(run.err, "");
  for (const char* output : {"A.TIF", "b.TIF", "c.TIF", "d.TIF", "e.TIF"})
    EXPECT_EQ(read_file(folder / output), expected_tif(header, 4, 4, pixels)) << output;
}

TEST_F(TexRun, SfdPassRunsFirst) {
  write_file(folder / "a.tex", packed_texture(2, 2, {1, 2, 3, 4}));
  write_file(folder / "z.sfd", Bytes{});
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.out, "out of range, compressed? frame 1 in file z.sfd\na.tex\n");
}

TEST_F(TexRun, ToolAsShippedLeavesTexturesAlone) {
  write_file(folder / "a.tex", packed_texture(2, 2, {1, 2, 3, 4}));
  write_file(folder / "b.tex", samples::tex_plain(1, 1, Bytes{1}));
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(run.prompt_seen);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(list_folder(folder.path()), (std::vector<std::string>{"HEADER.TIF", "a.tex", "b.tex"}));
}

TEST_F(TexRun, DamagedSourcesAreSkippedOrDecodedAsFarAsTheyGo) {
  write_file(folder / "a_tiny.tex", Bytes{9, 0, 9});
  Bytes short_packed(15, 0);
  short_packed[0] = short_packed[2] = 0xFF;  // A x B far above 15: the packed form
  write_file(folder / "b_short.tex", short_packed);
  Bytes odd = packed_texture(2, 2, {1, 2, 3, 4});
  odd[5] = 1;
  write_file(folder / "c_odd.tex", odd);
  // 20 bytes: the header up to the sign, an empty stream.
  Bytes stub = samples::tex_packed_from_stream(3, 2, 100, Bytes{});
  stub.resize(20);
  write_file(folder / "d_stub.tex", stub);
  // The stream ends in an escape that lost its byte: the pixels before it stay.
  write_file(folder / "e_cut.tex",
             samples::tex_packed_from_stream(3, 1, 100, Bytes{100, 0, 100, 8, 99}));
  // A plain form shorter than its pixel block: the pixels there are copied, the rest are 0.
  Bytes short_plain = samples::tex_plain(4, 2, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  short_plain.resize(23);
  write_file(folder / "f_short_plain.tex", short_plain);

  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "d_stub.tex\ne_cut.tex\n");
  EXPECT_EQ(run.err,
            "texport: a_tiny.tex: skipped: 3 bytes is too short for a texture, which needs at "
            "least 4\n"
            "texport: b_short.tex: skipped: 15 bytes is too short for a packed texture, which "
            "needs at least 16\n");
  EXPECT_EQ(read_file(folder / "d_stub.TIF"), expected_tif(header, 3, 2, {}));
  EXPECT_EQ(read_file(folder / "e_cut.TIF"), expected_tif(header, 3, 1, {8, 8, 0}));
  EXPECT_EQ(read_file(folder / "f_short_plain.TIF"), expected_tif(header, 4, 2, {1, 2, 3}));
  EXPECT_FALSE(fs::exists(folder / "a_tiny.TIF"));
  EXPECT_FALSE(fs::exists(folder / "b_short.TIF"));
  EXPECT_FALSE(fs::exists(folder / "c_odd.TIF"));
}

TEST_F(TexRun, OnlyImagesBelow512OnBothSidesAreWritten) {
  const Bytes big = texture_pixels(511, 511, 4);
  write_file(folder / "a_plain_511.tex", samples::tex_plain(511, 511, big));
  write_file(folder / "b_plain_512.tex", samples::tex_plain(512, 1, Bytes(512, 1)));
  write_file(folder / "c_packed_511.tex", packed_texture(511, 511, big));
  write_file(folder / "d_packed_512.tex", packed_texture(3, 512, Bytes(3 * 512, 1)));
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "c_packed_511.tex\nd_packed_512.tex\n");
  EXPECT_EQ(run.err,
            "texport: b_plain_512.tex: not written: 512 x 1 pixels; textures of 512 or more on a "
            "side are not converted\n"
            "texport: d_packed_512.tex: not written: 3 x 512 pixels; textures of 512 or more on a "
            "side are not converted\n");
  EXPECT_EQ(read_file(folder / "a_plain_511.TIF"), expected_tif(header, 511, 511, big));
  EXPECT_EQ(read_file(folder / "c_packed_511.TIF"), expected_tif(header, 511, 511, big));
  EXPECT_FALSE(fs::exists(folder / "b_plain_512.TIF"));
  EXPECT_FALSE(fs::exists(folder / "d_packed_512.TIF"));
}

TEST_F(TexRun, HugeHeaderCostsNoMemory) {
  write_file(folder / "huge.tex",
             samples::tex_packed_from_stream(0xFFFF, 0xFFFF, 100, Bytes(1000, 129)));
  const RunResult run = run_measuring_memory(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "huge.tex\n");
  EXPECT_EQ(run.err.rfind("texport: huge.tex: not written: 65535 x 65535 pixels", 0), 0u)
      << run.err;
  EXPECT_FALSE(fs::exists(folder / "huge.TIF"));
  EXPECT_LT(run.peak_rss_kib - baseline_peak_memory_kib(all_passes_exe()), 64 * 1024);
}

TEST_F(TexRun, ZeroWidthOrHeightGivesA1707ByteFile) {
  write_file(folder / "a.tex", samples::tex_packed_from_stream(0, 300, 100, Bytes{1, 2, 3}));
  write_file(folder / "b.tex", samples::tex_plain(300, 0, {}));
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.out, "a.tex\n");
  EXPECT_EQ(read_file(folder / "a.TIF"), expected_tif(header, 0, 300, {}));
  EXPECT_EQ(read_file(folder / "b.TIF"), expected_tif(header, 300, 0, {}));
}

TEST(TexBuiltInHeader, ReaderSeesThePixelsOfATemplateFreeImage) {
  if (tex::tex_trace)
    GTEST_SKIP() << "this build traces the .tex decoder on the console";
  TempFolder folder;
  const Bytes pixels = texture_pixels(64, 48, 5);
  write_file(folder / "a.tex", packed_texture(64, 48, pixels));
  write_file(folder / "b.tex", samples::tex_plain(64, 48, pixels));
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.out, "a.tex\n");
  EXPECT_EQ(run.err.rfind("texport: HEADER.TIF: cannot open it", 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  for (const char* output : {"a.TIF", "b.TIF"}) {
    EXPECT_EQ(read_file(folder / output), expected_tif(builtin_tif_header(64, 48), 64, 48, pixels));
    if (reader_available()) {
      EXPECT_EQ(decode_with_reader(folder / output, "gray"), pixels) << output;
    }
  }
}

// The trace: every step on the console, each line followed by the key wait (standard input is at
// its end, so each wait prints the prompt and a newline), and run bytes compared with the second
// copy of the file where that copy reaches.
TEST(TexTrace, ReportsEveryStepAndTheMismatches) {
  if (windows_semantics())
    GTEST_SKIP() << "the traced build is made for this system only";
  TempFolder folder;
  const Bytes header = test_template();
  write_file(folder / "HEADER.TIF", header);
  write_file(folder / "p.tex", samples::tex_plain(1, 1, Bytes{5}));  // the plain form says nothing
  // 3 x 1, S = 100: a run fills positions -2 and -1; an escaped 100 is pixel 0; a run of three 9s
  // is cut after pixels 1 and 2; a later run stores nothing; the literal 3 ends the decoding.
  Bytes source =
      samples::tex_packed_from_stream(3, 1, 100, Bytes{100, 0x41, 99, 100, 101, 9, 102, 4, 3});
  // Output offsets 1704 to 1707 have a counterpart in the file; 1708 (pixel 2) has none.
  source.resize(1708, 0);
  source[1704] = header[1704];                                    // same: no line
  source[1705] = static_cast<std::uint8_t>(header[1705] ^ 0xFF);  // differs
  source[1707] = 200;                                             // pixel 1 is 9: differs
  write_file(folder / "t.tex", source);

  const RunResult run = run_in(folder.path(), fs::absolute(TEXPORT_TEX_TRACED_EXE));
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "");
  const std::string wait = "Press any key to continue . . . \n";
  const std::string expected =
      "100 compression sign t.tex\n" + wait + "t.tex\n" + "100 currentbyte t.tex\n" + wait +
      "1 difference t.tex\n" + wait + "bug!\n pos cmp24\n pos unc 1705\n got " +
      std::to_string(header[1705]) + "\n req " + std::to_string(header[1705] ^ 0xFF) +
      "\ncmp sign 100\n" + wait + "99 currentbyte t.tex\n" + wait + "101 currentbyte t.tex\n" +
      wait + "2 difference t.tex\n" + wait +
      "bug!\n pos cmp28\n pos unc 1707\n got 9\n req 200\ncmp sign 101\n" + wait +
      "102 currentbyte t.tex\n" + wait + "3 difference t.tex\n" + wait + "3 currentbyte t.tex\n" +
      wait + wait;
  EXPECT_EQ(run.raw_out, expected);
  EXPECT_EQ(read_file(folder / "t.TIF"), expected_tif(header, 3, 1, {100, 9, 9}));
  EXPECT_EQ(read_file(folder / "p.TIF"), expected_tif(header, 1, 1, {5}));
}

}  // namespace
}  // namespace texport::testing
