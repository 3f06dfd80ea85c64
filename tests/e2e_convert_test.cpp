// Sources converted as a user converts them: names, bytes, order, console lines and templates.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "encoders.hpp"
#include "support/expected.hpp"
#include "support/run.hpp"
#include "support/table.hpp"
#include "test_cards.hpp"

namespace texport::testing {
namespace {

constexpr std::uint16_t kW = 64, kH = 48;  // the size of every bundled example

std::multiset<std::string> sorted_lines(const std::string& text) {
  std::multiset<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.insert(line);
  return lines;
}

// On Linux the fault shim watches: every file the tool creates is created exclusively and stays
// private while it is written, or the shim stops the tool.
TEST(Examples, ConvertToTheirExactImagesAndOnlyTheDamagedAndPackedOnesSpeak) {
  TempFolder folder;
  const fs::path examples = TEXPORT_EXAMPLES_DIR;
  for (const std::string& name : list_folder(examples))
    fs::copy_file(examples / name, folder / name);
  RunOptions watched;
  watched.faults = !windows_tool();
  const RunResult run = run_in(folder.path(), all_passes_tool(), watched);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(run.prompt_seen);
  EXPECT_EQ(run.out, "out of range, compressed? frame 3 in file damaged.sfd\npacked.tex\n");
  EXPECT_EQ(run.err,
            "texport: damaged.sfd: damaged: 12340 bytes, too few for frame 3 (12448 needed)\n");
  EXPECT_EQ(run.summary,
            "texport: done: 9 sources read, 13 images written, 1 source with problems\n");

  const Bytes tif = read_file(examples / "HEADER.TIF");
  const auto card = [](const std::string& label) { return samples::grey_card(kW, kH, label); };
  for (const char* name : {"walls.sfd1.tif", "packed.sfd1.tif", "damaged.sfd1.tif"})
    EXPECT_EQ(read_file(folder / name), expected_tif(tif, kW, kH, card("1"))) << name;
  for (const char* name : {"walls.sfd3.tif", "packed.sfd2.tif", "damaged.sfd2.tif"})
    EXPECT_EQ(fs::file_size(folder / name), 1707u + kW * kH) << name;
  EXPECT_FALSE(fs::exists(folder / "damaged.sfd3.tif"));
  EXPECT_EQ(read_file(folder / "plain.TIF"), expected_tif(tif, kW, kH, card("T1")));
  EXPECT_EQ(read_file(folder / "packed.TIF"), expected_tif(tif, kW, kH, card("T2")));
  const Bytes tga =
      expected_tga(read_file(examples / "HEADERTGA32"), kW, kH, samples::rgba_card(kW, kH));
  for (const char* name : {"stone.m32.tga", "marble.m32.tga", "slate.m32.tga"})
    EXPECT_EQ(read_file(folder / name), tga) << name;
  EXPECT_EQ(read_file(folder / "tile.m8.bmp"),
            expected_bmp(read_file(examples / "HEADERBMP"), kW, kH, samples::card_palette(),
                         samples::indexed_card(kW, kH)));
}

TEST(Passes, AsShippedOnlyTheSfdPassRunsThenTheKeyWait) {
  TempFolder folder;
  write_file(folder / "a.sfd", samples::sfd_container({{1, 1, {4}}}));
  write_file(folder / "wall.tex", samples::tex_plain(1, 1, Bytes{4}));
  write_file(folder / "stone.m32", samples::m32_file(2, 1, 1, Bytes{1, 2, 3, 4}));
  write_file(folder / "tile.m8", samples::m8_file(1, 1, Bytes(768, 0), Bytes{4}));
  const RunResult run = run_in(folder.path(), shipped_tool());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(run.prompt_seen);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(list_folder(folder.path()),
            (std::vector<std::string>{"a.sfd", "a.sfd1.tif", "stone.m32", "tile.m8", "wall.tex"}));
  EXPECT_EQ(run.err,
            "texport: HEADER.TIF: none here: built-in TIFF headers\n"
            "texport: not converted: 3 sources of other formats (1 .tex, 1 .m32, 1 .m8); texport "
            "converts .sfd only: texport_all_passes and texkit export convert them\n");
  EXPECT_EQ(run.summary,
            "texport: done: 1 source read, 1 image written, 0 sources with problems\n");

  TempFolder empty;
  const RunResult nothing = run_in(empty.path(), shipped_tool());
  EXPECT_EQ(nothing.exit_status, 0);
  EXPECT_TRUE(nothing.prompt_seen);
  EXPECT_EQ(nothing.out + nothing.err, "");
  EXPECT_TRUE(list_folder(empty.path()).empty());
}

// On Windows the sources of a pass come in the order the system's search gives them.
TEST(Passes, RunSfdTexM32M8EachInNameOrderLetterCaseAside) {
  TempFolder folder;
  const Bytes damaged{0x05, 0x00, 0x00};  // a frame count cut short: frame 1 is out of range
  for (const char* name : {"b.sfd", "A.SFD", "c.Sfd"})
    write_file(folder / name, damaged);
  const Bytes packed = samples::tex_packed_from_stream(1, 1, 0xC0, Bytes{1, 2, 3});
  for (const char* name : {"Y.tex", "x.TEX", "z.tex"})
    write_file(folder / name, packed);
  for (const char* name : {"n.m32", "M.m32"})
    write_file(folder / name, Bytes{7});
  fs::create_directory(folder / "d.sfd");  // a folder is no source
  const RunResult run = run_in(folder.path(), all_passes_tool());
  const std::string out =
      "out of range, compressed? frame 1 in file A.SFD\n"
      "out of range, compressed? frame 1 in file b.sfd\n"
      "out of range, compressed? frame 1 in file c.Sfd\n"
      "x.TEX\nY.tex\nz.tex\nunsupported M.m32\nunsupported n.m32\n";
  if (windows_tool())
    EXPECT_EQ(sorted_lines(run.out), sorted_lines(out));
  else
    EXPECT_EQ(run.out, out);
  for (const char* name : {"x.TIF", "Y.TIF", "z.TIF"})
    EXPECT_EQ(read_file(folder / name), builtin_tif(1, 1, {3})) << name;
  EXPECT_EQ(run.summary,
            "texport: done: 8 sources read, 3 images written, 5 sources with problems\n");
}

// Each template is read for every image; what is said about one is said once a run: that it is
// missing or too short (then the built-in headers serve), and, once for each size, that it
// describes images of another size.
TEST(Templates, AreSaidOnceEachAndServeEveryImage) {
  TempFolder folder;
  const Bytes grey = samples::sample_pixels(8 * 5, 3);
  for (const char* name : {"a.sfd", "b.sfd"})
    write_file(folder / name, samples::sfd_container({{8, 5, grey}}));
  const Bytes rgba = samples::sample_pixels(4 * 8 * 5, 4);
  for (const char* name : {"a.m32", "b.m32"})
    write_file(folder / name, samples::m32_file(2, 8, 5, rgba));
  write_file(folder / "HEADERTGA32", Bytes(17, 0x55));
  const Bytes palette = samples::sample_pixels(768, 5);
  const Bytes bmp = builtin_bmp_header(kW, kH);
  write_file(folder / "HEADERBMP", bmp + samples::sample_pixels(900, 6));
  const Bytes indices = samples::sample_pixels(std::size_t{kW} * kH, 7);
  write_file(folder / "a.m8", samples::m8_file(8, 5, palette, grey));
  write_file(folder / "b.m8", samples::m8_file(8, 5, palette, grey));
  write_file(folder / "c.m8", samples::m8_file(kW, kH, palette, indices));
  const RunResult run = run_in(folder.path(), all_passes_tool());
  EXPECT_EQ(run.err,
            "texport: HEADER.TIF: none here: built-in TIFF headers\n"
            "texport: HEADERTGA32: damaged: 17 bytes, too few for a header (18 needed); built-in "
            "TGA headers instead\n"
            "texport: HEADERBMP: describes 64 x 48 images; 8 x 5 images get a header that readers "
            "misread: leave it out for such images\n");
  for (const char* name : {"a.sfd1.tif", "b.sfd1.tif"})
    EXPECT_EQ(read_file(folder / name), builtin_tif(8, 5, grey)) << name;
  for (const char* name : {"a.m32.tga", "b.m32.tga"})
    EXPECT_EQ(read_file(folder / name), builtin_tga(8, 5, rgba)) << name;
  EXPECT_EQ(read_file(folder / "b.m8.bmp"), expected_bmp(bmp, 8, 5, palette, grey));
  EXPECT_EQ(read_file(folder / "c.m8.bmp"), expected_bmp(bmp, kW, kH, palette, indices));
}

// A build with the .tex trace shows every step of a packed stream, each followed by the key wait,
// and compares each repetition of a run with the file's own byte at the same output offset.
TEST(Trace, ShowsEveryStepAndTheMismatches) {
  SKIP_UNLESS_LINUX_TOOL();  // the traced build is made for this system only
  TempFolder folder;
  const Bytes header = samples::sample_pixels(kTifTemplate.header_length, 8);
  write_file(folder / "HEADER.TIF", header);
  write_file(folder / "p.tex", samples::tex_plain(1, 1, Bytes{5}));  // the plain form says nothing
  // 5 x 1, S = 100: a run fills positions -2, -1 and pixel 0; an escaped 100 is pixel 1, a literal
  // 7 pixel 2; a run of three 9s is cut after pixels 3 and 4; a later run stores nothing; the
  // literal 3 ends the decoding.
  Bytes t =
      samples::tex_packed_from_stream(5, 1, 100, Bytes{101, 0x41, 99, 100, 7, 101, 9, 102, 4, 3});
  t.resize(1710, 0);       // offsets 1704 to 1709 have a counterpart in the file; pixel 4 has none
  t[1704] = header[1704];  // the same: no line
  t[1705] = static_cast<std::uint8_t>(header[1705] ^ 0xFF);  // differs
  t[1706] = 0x41;                                            // pixel 0, the run's value: no line
  t[1709] = 200;                                             // pixel 3 is 9: differs
  write_file(folder / "t.tex", t);
  // 512 wide, so not written, and of height 0, so full at once: its runs are compared all the
  // same, at the two dropped positions with the template's bytes.
  Bytes u = samples::tex_packed_from_stream(512, 0, 100, Bytes{101, 7});
  u.resize(1706, 0);
  u[1704] = header[1704];
  u[1705] = static_cast<std::uint8_t>(header[1705] ^ 0xFF);
  write_file(folder / "u.tex", u);
  const RunResult run = run_in(folder.path(), TEXPORT_TEX_TRACED_EXE);
  EXPECT_EQ(run.err,
            "texport: u.tex: too large: 512 x 0 pixels; textures of 512 or more on a side are not "
            "converted\n");
  const std::string wait = "Press any key to continue . . . \n";
  const auto bug = [](int index, int offset, int got, int required, int sign) {
    return "bug!\n pos cmp" + std::to_string(index) + "\n pos unc " + std::to_string(offset) +
           "\n got " + std::to_string(got) + "\n req " + std::to_string(required) + "\ncmp sign " +
           std::to_string(sign) + "\n";
  };
  EXPECT_EQ(run.out, "100 compression sign t.tex\n" + wait + "t.tex\n101 currentbyte t.tex\n" +
                         wait + "2 difference t.tex\n" + wait +
                         bug(24, 1705, header[1705], header[1705] ^ 0xFF, 101) + wait +
                         "99 currentbyte t.tex\n" + wait + "7 currentbyte t.tex\n" + wait +
                         "101 currentbyte t.tex\n" + wait + "2 difference t.tex\n" + wait +
                         bug(29, 1709, 9, 200, 101) + wait + "102 currentbyte t.tex\n" + wait +
                         "3 difference t.tex\n" + wait + "3 currentbyte t.tex\n" + wait +
                         "100 compression sign u.tex\n" + wait + "u.tex\n101 currentbyte u.tex\n" +
                         wait + "2 difference u.tex\n" + wait +
                         bug(24, 1705, header[1705], header[1705] ^ 0xFF, 101) + wait +
                         "0 currentbyte u.tex\n" + wait);
  EXPECT_EQ(read_file(folder / "t.TIF"), expected_tif(header, 5, 1, {0x41, 100, 7, 9, 9}));
  EXPECT_EQ(read_file(folder / "p.TIF"), expected_tif(header, 1, 1, {5}));
}

}  // namespace
}  // namespace texport::testing
