// Oversized and damaged sources in a real run: nothing crashes, hangs or grows without bound.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

#include "encoders.hpp"
#include "support/expected.hpp"
#include "support/run.hpp"

namespace texport::testing {
namespace {

TEST(Limits, TwoGibibyteSourceIsRefusedUnread) {
  TempFolder folder;
  write_file(folder / "huge.sfd", {});
  fs::resize_file(folder / "huge.sfd", std::uint64_t{1} << 31);
  write_file(folder / "small.sfd", samples::sfd_container({{1, 1, {4}}}));
  RunOptions options;
  options.measure_memory = !windows_tool();
  const RunResult run = run_in(folder.path(), shipped_tool(), options);
  EXPECT_NE(run.err.find("texport: huge.sfd: too large: 2147483648 bytes, 2 GiB or more\n"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::exists(folder / "small.sfd1.tif"));
  EXPECT_LT(run.peak_memory_kib, 64 * 1024);
}

TEST(Limits, NestedLayersPastTwoGibibytesAreRefusedInBoundedMemory) {
  SKIP_UNLESS_LINUX_TOOL();  // memory is measured on Linux
  TempFolder folder;
  write_file(folder / "bomb.sfd", samples::sfd_nested_bomb(6, 76));  // 2.5 kB; 2.18 GB inside
  RunOptions options;
  options.measure_memory = true;
  const RunResult run = run_in(folder.path(), shipped_tool(), options);
  EXPECT_EQ(
      run.err,
      "texport: bomb.sfd: too large: a packed layer unpacks to 2175815480 bytes, 2 GiB or more\n");
  // The last layer held is 140 MB, the smallest that can unpack past 2 GiB.
  EXPECT_LT(run.peak_memory_kib, 256 * 1024);
}

TEST(Limits, ThousandsOfLayersConvertHoldingTwoAtATime) {
  SKIP_UNLESS_LINUX_TOOL();  // memory is measured on Linux
  // Bytes below 0xFE are literals for the signs 254 and 255, so each packing only puts a 6-byte
  // header in front: 3000 layers of about 200 kB.
  Bytes container = samples::sfd_container({{40, 30, samples::sample_pixels(1200, 7)}});
  container.resize(200000, 0x33);
  for (std::uint8_t& byte : container)
    byte = std::min<std::uint8_t>(byte, 0xFD);
  const Bytes two_layers = *samples::sfd_pack(*samples::sfd_pack(container, 0xFE), 0xFF);
  const std::size_t header = (two_layers.size() - container.size()) / 2;
  Bytes deep;
  for (int depth = 0; depth < 3000; ++depth)
    deep.insert(deep.end(), two_layers.begin(), two_layers.begin() + header);
  deep.insert(deep.end(), container.begin(), container.end());
  TempFolder folder;
  write_file(folder / "deep.sfd", deep);
  RunOptions options;
  options.measure_memory = true;
  const RunResult run = run_in(folder.path(), shipped_tool(), options);
  EXPECT_EQ(read_file(folder / "deep.sfd1.tif"),
            expected_tif(builtin_tif_header(40, 30), 40, 30,
                         Bytes(container.begin() + 16, container.begin() + 16 + 1200)));
  EXPECT_LT(run.peak_memory_kib, 16 * 1024);  // all layers at once would take 600 MB
}

TEST(Limits, WorkOnNestedLayersIsBoundedAtFourGibibytes) {
  // Two MiB of 0x01 pack themselves minus 6 bytes: 350,000 layers, each scanned whole.
  TempFolder folder;
  write_file(folder / "ones.sfd", Bytes(2 << 20, 0x01));
  write_file(folder / "next.sfd", samples::sfd_container({{1, 1, {4}}}));
  const RunResult run = run_in(folder.path(), shipped_tool());
  EXPECT_NE(
      run.err.find(
          "texport: ones.sfd: too large: its packed layers unpack to more than 4 GiB in all\n"),
      std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::exists(folder / "next.sfd1.tif"));
}

TEST(Limits, HugeTextureHeaderCostsNoMemory) {
  TempFolder folder;
  write_file(folder / "a.tex", samples::tex_packed_from_stream(65535, 65535, 0xC0, Bytes(100, 1)));
  RunOptions options;
  options.measure_memory = !windows_tool();
  const RunResult run = run_in(folder.path(), all_passes_tool(), options);
  EXPECT_EQ(run.out, "a.tex\n");
  EXPECT_LT(run.peak_memory_kib, 16 * 1024);
}

// Whatever the damage: exit 0, only the tool's own console lines, no temporary file left. Cuts of
// one small source of each format (at every byte of its first 64 and its last 32, every 32nd in
// between), and seeded mutations of each (the fuzzers go further).
TEST(Sweep, EveryCutAndSeededMutationsOfEachFormat) {
  const std::pair<std::string, Bytes> sources[] = {
      {"s.sfd", *samples::sfd_pack(samples::sfd_container({{4, 3, samples::sample_pixels(12, 1)},
                                                           {2, 2, {1, 1, 1, 1}}}),
                                   0xC0)},
      {"t.tex", *samples::tex_pack(5, 4, samples::sample_pixels(20, 2), 0xC0)},
      {"p.tex", samples::tex_plain(3, 2, samples::sample_pixels(6, 3))},
      {"m.m32", samples::m32_file(3, 2, 2, samples::sample_pixels(16, 4))},
      {"i.m8",
       samples::m8_file(4, 2, samples::sample_pixels(768, 5), samples::sample_pixels(8, 6))}};
  std::mt19937 random(1);
  for (const bool cuts : {true, false}) {
    TempFolder folder;
    for (const auto& [name, bytes] : sources) {
      for (std::size_t i = 0; i < (cuts ? bytes.size() : 80); ++i) {
        if (cuts && i >= 64 && i + 32 < bytes.size() && i % 32 != 0)
          continue;
        Bytes damaged = bytes;
        if (cuts)
          damaged.resize(i);
        else
          for (std::uint32_t k = 0, count = 1 + random() % 3; k < count; ++k)
            damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        write_file(folder / (std::to_string(i) + name), damaged);
      }
    }
    for (const fs::path& regression : fs::directory_iterator(TEXPORT_REGRESSIONS_DIR))
      fs::copy_file(regression, folder / regression.filename());
    const std::vector<std::string> names = list_folder(folder.path());
    const std::set<std::string> given(names.begin(), names.end());
    const RunResult run = run_in(folder.path(), all_passes_tool());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_TRUE(run.prompt_seen);
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      std::string name = line;
      if (line.starts_with("unsupported "))
        name = line.substr(12);
      else if (line.starts_with("out of range, compressed? frame "))
        name = line.substr(line.find(" in file ") + 9);
      EXPECT_TRUE(given.contains(name)) << line;
    }
    for (const std::string& name : list_folder(folder.path()))
      EXPECT_FALSE(name.starts_with(".texport-")) << name;
  }
}

}  // namespace
}  // namespace texport::testing
