// Faults that hold for root too: sources that vanish or change after the folder was listed,
// writes cut short by a file-size limit. No run may lose an earlier output or leave a temporary.
#include <gtest/gtest.h>

#include <algorithm>

#include "encoders.hpp"
#include "io/templates.hpp"
#include "support/run.hpp"

namespace texport::testing {
namespace {

using samples::SfdFrame;

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    if (windows_semantics())
      GTEST_SKIP() << "the fault shim is preloaded into Linux binaries";
  }
  TempFolder folder;
  RunResult run_with(std::vector<std::string> environment, const RunOptions& base = {}) {
    RunOptions options = base;
    options.extra_environment = std::move(environment);
    options.extra_environment.push_back(std::string("LD_PRELOAD=") + TEXPORT_FAULT_SHIM);
    options.extra_environment.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1");
    return run_in(folder.path(), default_exe(), options);
  }
  void expect_no_temporaries() {
    for (const std::string& name : list_folder(folder.path()))
      EXPECT_EQ(name.find(".texport-"), std::string::npos) << name;
  }
};

TEST_F(Faults, SourceThatVanishedAfterTheSearchIsNamedAndSkipped) {
  for (const char* name : {"a.sfd", "b.sfd", "c.sfd"})
    write_file(folder / name, samples::sfd_container({{1, 1, {7}}}));
  const RunResult run = run_with({"TEXPORT_FAULT_VANISH=b.sfd"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  // The missing template is reported too; the vanished source gets its own line.
  EXPECT_NE(run.err.find("texport: b.sfd: cannot open: No such file or directory\n"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::exists(folder / "a.sfd1.tif"));
  EXPECT_TRUE(fs::exists(folder / "c.sfd1.tif"));
  EXPECT_FALSE(fs::exists(folder / "b.sfd1.tif"));
  expect_no_temporaries();
}

TEST_F(Faults, SourceReplacedAfterTheSearchIsConvertedAsItIsWhenRead) {
  write_file(folder / "b.sfd", samples::sfd_container({{1, 1, {7}}}));
  write_file(folder / "newer", samples::sfd_container({{2, 1, {1, 2}}, {1, 2, {3, 4}}}));
  const RunResult run =
      run_with({"TEXPORT_FAULT_REPLACE=b.sfd", "TEXPORT_FAULT_REPLACE_WITH=newer"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(fs::file_size(folder / "b.sfd1.tif"), 1709u);
  EXPECT_EQ(fs::file_size(folder / "b.sfd2.tif"), 1709u);
  expect_no_temporaries();
}

TEST_F(Faults, SourceReplacedByAFolderIsNamedAndSkipped) {
  write_file(folder / "a.sfd", samples::sfd_container({{1, 1, {7}}}));
  write_file(folder / "b.sfd", samples::sfd_container({{1, 1, {7}}}));
  fs::create_directory(folder / "dir");
  const RunResult run = run_with({"TEXPORT_FAULT_REPLACE=b.sfd", "TEXPORT_FAULT_REPLACE_WITH=dir"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("texport: b.sfd: cannot read: it is a folder\n"), std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::is_directory(folder / "b.sfd"));
  EXPECT_TRUE(fs::exists(folder / "a.sfd1.tif"));
  expect_no_temporaries();
}

TEST_F(Faults, WritesCutShortKeepEveryEarlierOutputByteForByte) {
  // A first run writes every output; a second run over changed sources, with a file-size limit
  // that only the small outputs fit under, must leave the large earlier outputs as they were.
  std::vector<SfdFrame> frames;
  for (std::uint16_t i = 0; i < 6; ++i) {
    const std::uint16_t side = i % 2 == 0 ? 80 : 4;
    frames.push_back({side, side, samples::sample_pixels(std::size_t{side} * side, i)});
  }
  write_file(folder / "a.sfd", samples::sfd_container(frames));
  write_file(folder / "HEADER.TIF", builtin_tif_header(1, 1));
  ASSERT_EQ(run_in(folder.path(), default_exe()).exit_status, 0);
  std::vector<Bytes> earlier;
  for (int m = 1; m <= 6; ++m)
    earlier.push_back(read_file(folder / ("a.sfd" + std::to_string(m) + ".tif")));

  for (SfdFrame& frame : frames)
    for (std::uint8_t& pixel : frame.pixels)
      pixel ^= 0x5A;
  write_file(folder / "a.sfd", samples::sfd_container(frames));
  RunOptions limited;
  limited.file_size_limit = 4096;  // 80 x 80 frames need 8107 bytes, 4 x 4 frames 1723
  const RunResult run = run_with({}, limited);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  for (int m = 1; m <= 6; ++m) {
    const std::string name = "a.sfd" + std::to_string(m) + ".tif";
    const Bytes now = read_file(folder / name);
    if (m % 2 == 1) {
      EXPECT_EQ(now, earlier[m - 1]) << name;
      EXPECT_NE(run.err.find("texport: " + name + ": cannot write: File too large\n"),
                std::string::npos)
          << run.err;
    } else {
      EXPECT_NE(now, earlier[m - 1]) << name << " should hold the new pixels";
      EXPECT_EQ(now.size(), earlier[m - 1].size());
    }
  }
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 3) << run.err;
  expect_no_temporaries();
}

}  // namespace
}  // namespace texport::testing
