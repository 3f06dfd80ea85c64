// The tool as started by a user: a fresh folder, no arguments, standard input at end of file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "encoders.hpp"
#include "io/templates.hpp"
#include "support/expected.hpp"
#include "support/run.hpp"

namespace texport::testing {
namespace {

using samples::SfdFrame;

Bytes test_template() {
  Bytes header(kTifHeaderLength);
  for (std::size_t i = 0; i < header.size(); ++i)
    header[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return header;
}

// What a frame's TIF must hold: the template's first 1706 bytes, width and height patched in,
// the pixels, and a final zero byte.
Bytes expected_tif(const Bytes& header, const SfdFrame& frame) {
  return testing::expected_tif(header, frame.width, frame.height, frame.pixels);
}

std::vector<SfdFrame> some_frames(std::size_t count, std::uint32_t seed) {
  std::vector<SfdFrame> frames;
  for (std::size_t i = 0; i < count; ++i) {
    const auto width = static_cast<std::uint16_t>(3 + i * 5);
    const auto height = static_cast<std::uint16_t>(2 + i);
    frames.push_back(
        {width, height, samples::sample_pixels(std::size_t{width} * height, seed + i)});
  }
  return frames;
}

class SfdRun : public ::testing::Test {
 protected:
  TempFolder folder;
  Bytes header = test_template();
  void SetUp() override { write_file(folder / "HEADER.TIF", header); }
};

TEST_F(SfdRun, EmptyFolderWritesNothingWaitsAndExitsZero) {
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(run.prompt_seen);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(list_folder(folder.path()), std::vector<std::string>{"HEADER.TIF"});
}

TEST_F(SfdRun, ConvertsPlainPackedAndDamagedSourcesInOneRun) {
  const auto plain = some_frames(3, 1);
  const auto packed = some_frames(2, 7);
  auto damaged = some_frames(5, 20);
  write_file(folder / "plain.sfd", samples::sfd_container(plain));
  write_file(folder / "packed.sfd", *samples::sfd_pack(samples::sfd_container(packed), 0xC0));
  Bytes damaged_bytes = samples::sfd_container(damaged);
  write_u32le(damaged_bytes, 12, static_cast<std::uint32_t>(damaged_bytes.size()));  // frame 3
  write_file(folder / "damaged.sfd", damaged_bytes);
  write_file(folder / "stone.m32", Bytes(400, 2));
  write_file(folder / "wall.tex", Bytes(40, 1));
  write_file(folder / "tile.m8", Bytes(1100, 0));

  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "out of range, compressed? frame 3 in file damaged.sfd\n");
  EXPECT_EQ(run.err, "");
  for (std::size_t i = 0; i < plain.size(); ++i)
    EXPECT_EQ(read_file(folder / ("plain.sfd" + std::to_string(i + 1) + ".tif")),
              expected_tif(header, plain[i]));
  for (std::size_t i = 0; i < packed.size(); ++i)
    EXPECT_EQ(read_file(folder / ("packed.sfd" + std::to_string(i + 1) + ".tif")),
              expected_tif(header, packed[i]));
  for (std::size_t i = 0; i < 2; ++i)
    EXPECT_EQ(read_file(folder / ("damaged.sfd" + std::to_string(i + 1) + ".tif")),
              expected_tif(header, damaged[i]));
  // The run as started converts .sfd only.
  EXPECT_EQ(list_folder(folder.path()),
            (std::vector<std::string>{
                "HEADER.TIF", "damaged.sfd", "damaged.sfd1.tif", "damaged.sfd2.tif", "packed.sfd",
                "packed.sfd1.tif", "packed.sfd2.tif", "plain.sfd", "plain.sfd1.tif",
                "plain.sfd2.tif", "plain.sfd3.tif", "stone.m32", "tile.m8", "wall.tex"}));
}

TEST_F(SfdRun, ConsoleLinesFollowTheSortedOrderOfNames) {
  // Every source is damaged at frame 1 in its own way; the lines come in name order.
  write_file(folder / "b.sfd", Bytes{});
  write_file(folder / "A.SFD", Bytes{0x01});
  write_file(folder / "c.Sfd", Bytes{0x00, 0x01, 0x00, 0x00, 0x00});  // packed, under 8 bytes
  write_file(folder / "d.sfd", Bytes{0x05, 0x00, 0x00});
  Bytes table_cut = samples::sfd_container(some_frames(2, 3));
  write_u32le(table_cut, 0, 0x00FF0000);  // a count whose table runs past the end
  write_file(folder / "e.sfd", table_cut);
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(in_search_order(run.out),
            "out of range, compressed? frame 1 in file A.SFD\n"
            "out of range, compressed? frame 1 in file b.sfd\n"
            "out of range, compressed? frame 1 in file c.Sfd\n"
            "out of range, compressed? frame 1 in file d.sfd\n"
            "out of range, compressed? frame 3 in file e.sfd\n");
  EXPECT_TRUE(fs::exists(folder / "e.sfd1.tif"));
  EXPECT_TRUE(fs::exists(folder / "e.sfd2.tif"));
}

TEST_F(SfdRun, TwelveFramesAreNamedWithoutLeadingZerosAndZeroSizesWork) {
  std::vector<SfdFrame> frames(12, SfdFrame{1, 1, {9}});
  frames[4] = {0, 300, {}};
  frames[5] = {300, 0, {}};
  write_file(folder / "a.sfd", samples::sfd_container(frames));
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.out, "");
  for (int m = 1; m <= 12; ++m) {
    const fs::path output = folder / ("a.sfd" + std::to_string(m) + ".tif");
    ASSERT_TRUE(fs::exists(output)) << output;
    EXPECT_EQ(fs::file_size(output), (m == 5 || m == 6) ? 1707u : 1708u);
  }
  EXPECT_FALSE(fs::exists(folder / "a.sfd01.tif"));
}

TEST_F(SfdRun, FoldersAndOtherExtensionsAreNotSources) {
  fs::create_directory(folder / "x.sfd");
  write_file(folder / "x.sfd" / "inner.sfd", samples::sfd_container(some_frames(1, 1)));
  write_file(folder / "y.sfdx", samples::sfd_container(some_frames(1, 1)));
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  std::vector<std::string> expected{"HEADER.TIF", "x.sfd", "y.sfdx"};
  if (windows_semantics())
    expected.push_back("y.sfdx1.tif");  // its 8.3 name ends in .SFD
  EXPECT_EQ(list_folder(folder.path()), expected);
  EXPECT_EQ(list_folder(folder / "x.sfd"), std::vector<std::string>{"inner.sfd"});
}

TEST_F(SfdRun, SymbolicLinkToASourceIsConverted) {
  write_file(folder / "real.bin", samples::sfd_container({{1, 1, {4}}}));
  fs::create_symlink("real.bin", folder / "link.sfd");
  fs::create_symlink("missing.bin", folder / "dangling.sfd");
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(fs::exists(folder / "link.sfd1.tif"));
}

TEST_F(SfdRun, UnreadableSourceIsSkippedAndNamed) {
  if (::geteuid() == 0)
    GTEST_SKIP() << "root reads every file";
  write_file(folder / "locked.sfd", samples::sfd_container({{1, 1, {4}}}));
  write_file(folder / "open.sfd", samples::sfd_container({{1, 1, {4}}}));
  fs::permissions(folder / "locked.sfd", fs::perms::none);
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("texport: locked.sfd: cannot open"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::exists(folder / "open.sfd1.tif"));
}

TEST_F(SfdRun, OutputNameTakenByAFolderIsReportedAndLeftAlone) {
  const auto frames = some_frames(3, 5);
  write_file(folder / "a.sfd", samples::sfd_container(frames));
  fs::create_directory(folder / "a.sfd2.tif");
  write_file(folder / "a.sfd2.tif" / "keep", Bytes{1, 2, 3});
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("texport: a.sfd2.tif: cannot replace it: ", 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
  EXPECT_EQ(read_file(folder / "a.sfd1.tif"), expected_tif(header, frames[0]));
  EXPECT_EQ(read_file(folder / "a.sfd3.tif"), expected_tif(header, frames[2]));
  EXPECT_EQ(read_file(folder / "a.sfd2.tif" / "keep"), (Bytes{1, 2, 3}));
  EXPECT_EQ(
      list_folder(folder.path()),
      (std::vector<std::string>{"HEADER.TIF", "a.sfd", "a.sfd1.tif", "a.sfd2.tif", "a.sfd3.tif"}));
}

TEST_F(SfdRun, FailedWriteKeepsTheEarlierFileAndLeavesNoTemporary) {
  const std::vector<SfdFrame> frames{{100, 100, samples::sample_pixels(10000, 1)},
                                     {2, 2, {1, 2, 3, 4}}};
  write_file(folder / "a.sfd", samples::sfd_container(frames));
  const Bytes earlier{'o', 'l', 'd'};
  write_file(folder / "a.sfd1.tif", earlier);
  RunOptions options;
  options.file_size_limit = 4096;  // the 11707-byte frame 1 cannot be written, frame 2 can
  const RunResult run = run_in(folder.path(), default_exe(), options);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("texport: a.sfd1.tif: cannot write: ", 0), 0u) << run.err;
  EXPECT_EQ(read_file(folder / "a.sfd1.tif"), earlier);
  EXPECT_EQ(read_file(folder / "a.sfd2.tif"), expected_tif(header, frames[1]));
  EXPECT_EQ(list_folder(folder.path()),
            (std::vector<std::string>{"HEADER.TIF", "a.sfd", "a.sfd1.tif", "a.sfd2.tif"}));
}

TEST_F(SfdRun, ExistingOutputIsReplacedWhole) {
  write_file(folder / "a.sfd", samples::sfd_container({{1, 1, {4}}}));
  write_file(folder / "a.sfd1.tif", Bytes(5000, 0xAB));
  run_in(folder.path(), default_exe());
  EXPECT_EQ(read_file(folder / "a.sfd1.tif"), expected_tif(header, {1, 1, {4}}));
}

TEST_F(SfdRun, LongTemplateContributesOnlyItsHeaderBytes) {
  Bytes long_template = header;
  long_template.resize(4000, 0x77);
  write_file(folder / "HEADER.TIF", long_template);
  write_file(folder / "a.sfd", samples::sfd_container({{2, 1, {4, 5}}}));
  run_in(folder.path(), default_exe());
  EXPECT_EQ(read_file(folder / "a.sfd1.tif"), expected_tif(header, {2, 1, {4, 5}}));
}

TEST_F(SfdRun, TwoGibibyteSourceIsRefusedFromItsSize) {
  { std::ofstream sparse(folder / "huge.sfd", std::ios::binary); }
  fs::resize_file(folder / "huge.sfd", std::uint64_t{1} << 31);
  write_file(folder / "small.sfd", samples::sfd_container({{1, 1, {4}}}));
  const RunResult run = run_measuring_memory(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("texport: huge.sfd: refused: 2147483648 bytes", 0), 0u) << run.err;
  EXPECT_TRUE(fs::exists(folder / "small.sfd1.tif"));
  EXPECT_LT(run.peak_rss_kib - baseline_peak_memory_kib(default_exe()), 64 * 1024)
      << "the source must not be read";
}

TEST_F(SfdRun, NestedLayersUnpackingPastTwoGibibytesAreRefusedInBoundedMemory) {
  const Bytes bomb = samples::sfd_nested_bomb(6, 76);  // six layers, the innermost 2.18 GB
  ASSERT_LT(bomb.size(), 4096u);
  write_file(folder / "bomb.sfd", bomb);
  const RunResult run = run_measuring_memory(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "texport: bomb.sfd: refused: a packed layer unpacks to 2175815480 bytes, "
            "2 GiB or more\n");
  // The last layer held is 140 MB (the largest that can unpack past 2 GiB); nothing beyond.
  EXPECT_LT(run.peak_rss_kib - baseline_peak_memory_kib(default_exe()), 256 * 1024);
  RecordProperty("peak_rss_kib", std::to_string(run.peak_rss_kib));
}

TEST_F(SfdRun, ThousandsOfNestedLayersConvertInMemoryOfTheLargestLayer) {
  // Bytes below 0xFE are all literals for the signs 254 and 255, so packing with them only puts
  // a 6-byte header in front: 3000 layers of about 200 kB, built here in one go.
  std::vector<SfdFrame> frames = some_frames(4, 30);
  for (SfdFrame& frame : frames)
    for (std::uint8_t& pixel : frame.pixels)
      pixel = std::min<std::uint8_t>(pixel, 0xFD);
  Bytes container = samples::sfd_container(frames);
  const Bytes padding = samples::sample_pixels(200000, 99);
  for (const std::uint8_t byte : padding)
    container.push_back(std::min<std::uint8_t>(byte, 0xFD));
  const Bytes one_layer = *samples::sfd_pack(container, 0xFE);
  const Bytes two_layers = *samples::sfd_pack(one_layer, 0xFF);
  const std::size_t layer_header = one_layer.size() - container.size();
  ASSERT_EQ(Bytes(two_layers.begin() + layer_header, two_layers.end()), one_layer);
  Bytes layer(3000 * layer_header + container.size());
  for (std::size_t depth = 0; depth < 3000; ++depth)
    std::copy_n(two_layers.begin(), layer_header,
                layer.begin() + static_cast<std::ptrdiff_t>(depth * layer_header));
  std::copy(container.begin(), container.end(), layer.end() - container.size());
  write_file(folder / "deep.sfd", layer);
  const RunResult run = run_measuring_memory(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  for (std::size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(read_file(folder / ("deep.sfd" + std::to_string(i + 1) + ".tif")),
              expected_tif(header, frames[i]));
  // Holding every layer would take 3000 x 200 kB = 600 MB; two at a time take under 1 MB.
  EXPECT_LT(run.peak_rss_kib - baseline_peak_memory_kib(default_exe()), 16 * 1024);
  RecordProperty("peak_rss_kib", std::to_string(run.peak_rss_kib));
}

TEST(SfdBuiltInHeader, MissingTemplateGivesReadableTiffsAndOneMessage) {
  TempFolder folder;
  const auto frames = some_frames(3, 9);
  write_file(folder / "a.sfd", samples::sfd_container(frames));
  write_file(folder / "b.sfd", samples::sfd_container({frames[0]}));
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("texport: HEADER.TIF: cannot open it", 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const fs::path output = folder / ("a.sfd" + std::to_string(i + 1) + ".tif");
    EXPECT_EQ(read_file(output),
              expected_tif(builtin_tif_header(frames[i].width, frames[i].height), frames[i]));
    if (!reader_available())
      continue;
    EXPECT_EQ(decode_with_reader(output, "gray"), frames[i].pixels) << output;
  }
}

TEST(SfdBuiltInHeader, ShortTemplateIsReplacedToo) {
  TempFolder folder;
  write_file(folder / "HEADER.TIF", Bytes(1705, 0x11));
  write_file(folder / "a.sfd", samples::sfd_container({{2, 2, {1, 2, 3, 4}}}));
  const RunResult run = run_in(folder.path(), default_exe());
  EXPECT_EQ(run.err.rfind("texport: HEADER.TIF: it has 1705 bytes", 0), 0u) << run.err;
  EXPECT_EQ(read_file(folder / "a.sfd1.tif"),
            expected_tif(builtin_tif_header(2, 2), {2, 2, {1, 2, 3, 4}}));
}

}  // namespace
}  // namespace texport::testing
