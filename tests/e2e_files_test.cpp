// What the file system does to a run: outputs that cannot be written, sources that change or go
// after the folder was listed. No earlier output is lost, no temporary file stays behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "encoders.hpp"
#include "support/expected.hpp"
#include "support/run.hpp"

namespace texport::testing {
namespace {

using samples::SfdFrame;

// Every folder here holds a template, so that only the failures under test are told.
const Bytes kTemplate = builtin_tif_header(1, 1);

Bytes tif(const SfdFrame& frame) {
  return expected_tif(kTemplate, frame.width, frame.height, frame.pixels);
}

void expect_no_temporaries(const fs::path& folder) {
  for (const std::string& name : list_folder(folder))
    EXPECT_FALSE(name.starts_with(".texport-")) << name;
}

class Files : public ::testing::Test {
 protected:
  TempFolder folder;
  const std::vector<SfdFrame> frames{
      {100, 100, samples::sample_pixels(10000, 1)}, {2, 2, {1, 2, 3, 4}}, {3, 1, {5, 6, 7}}};
  void SetUp() override {
    write_file(folder / "a.sfd", samples::sfd_container(frames));
    write_file(folder / "HEADER.TIF", kTemplate);
  }
};

TEST_F(Files, ExistingOutputIsReplacedWholeAndKeepsItsPermissions) {
  write_file(folder / "a.sfd2.tif", Bytes(5000, 0xAB));
  fs::permissions(folder / "a.sfd2.tif", fs::perms(0640));
  const RunResult run = run_in(folder.path(), shipped_tool());
  EXPECT_EQ(read_file(folder / "a.sfd2.tif"), tif(frames[1]));
  if (!windows_tool()) {
    EXPECT_EQ(fs::status(folder / "a.sfd2.tif").permissions(), fs::perms(0640));
  }
}

TEST_F(Files, OutputNameTakenByAFolderIsLeftAlone) {
  fs::create_directory(folder / "a.sfd2.tif");
  write_file(folder / "a.sfd2.tif" / "keep", Bytes{1, 2, 3});
  const RunResult run = run_in(folder.path(), shipped_tool());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(run.err.find("texport: a.sfd2.tif: cannot replace it: ") != std::string::npos)
      << run.err;
  EXPECT_EQ(read_file(folder / "a.sfd2.tif" / "keep"), (Bytes{1, 2, 3}));
  EXPECT_EQ(read_file(folder / "a.sfd3.tif"), tif(frames[2]));
  EXPECT_EQ(run.summary,
            "texport: done: 1 source read, 2 images written, 1 source with problems\n");
  expect_no_temporaries(folder.path());
}

TEST_F(Files, ReadOnlyFolderIsReportedForEveryImage) {
  // Root writes anywhere, except into a folder marked immutable.
  const bool root = ::geteuid() == 0;
  const std::string lock = "chattr +i '" + folder.path().string() + "' 2>/dev/null";
  if (root && std::system(lock.c_str()) != 0)
    GTEST_SKIP() << "cannot make a folder read-only for root here";
  if (!root)
    fs::permissions(folder.path(), fs::perms(0555));
  const RunResult run = run_in(folder.path(), shipped_tool());
  std::system(("chattr -i '" + folder.path().string() + "' 2>/dev/null").c_str());
  fs::permissions(folder.path(), fs::perms(0755));
  EXPECT_EQ(run.exit_status, 0);
  for (const char* output : {"a.sfd1.tif", "a.sfd2.tif", "a.sfd3.tif"})
    EXPECT_NE(
        run.err.find("texport: " + std::string(output) + ": cannot create a temporary file: "),
        std::string::npos)
        << run.err;
  EXPECT_EQ(list_folder(folder.path()), (std::vector<std::string>{"HEADER.TIF", "a.sfd"}));
}

TEST_F(Files, WriteCutShortByAFileSizeLimitKeepsTheEarlierFile) {
  SKIP_UNLESS_LINUX_TOOL();
  write_file(folder / "a.sfd1.tif", Bytes{'o', 'l', 'd'});
  RunOptions options;
  options.file_size_limit = 4096;  // frame 1 needs 11,707 bytes, the others fit
  const RunResult run = run_in(folder.path(), shipped_tool(), options);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(run.prompt_seen);
  EXPECT_EQ(run.err, "texport: a.sfd1.tif: cannot write: File too large\n");
  EXPECT_EQ(read_file(folder / "a.sfd1.tif"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(read_file(folder / "a.sfd2.tif"), tif(frames[1]));
  expect_no_temporaries(folder.path());
}

TEST_F(Files, FullDiskStopsTheSourceWithOneLine) {
  SKIP_UNLESS_LINUX_TOOL();
  write_file(folder / "b.sfd", samples::sfd_container(std::vector<SfdFrame>(50, frames[1])));
  RunOptions options;
  options.faults = true;
  options.environment = {"TEXPORT_FAULT_DISK_BYTES=15000"};  // a.sfd takes 15,128
  const RunResult run = run_in(folder.path(), shipped_tool(), options);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err,
            "texport: a.sfd3.tif: cannot write: No space left on device\n"
            "texport: b.sfd1.tif: cannot write: No space left on device\n"
            "texport: b.sfd: cannot write the other 49 frames: the disk is full\n");
  expect_no_temporaries(folder.path());
}

// A source that is deleted or replaced after the folder was listed: named and skipped, or
// converted as it is when read, and never waited on.
TEST_F(Files, SourcesThatChangeAfterTheListing) {
  SKIP_UNLESS_LINUX_TOOL();
  struct Change {
    std::string fault, err;
    std::vector<std::string> written;
  };
  const Change changes[] = {
      {"TEXPORT_FAULT_VANISH=a.sfd",
       "texport: a.sfd: cannot open: No such file or directory\n",
       {}},
      {"TEXPORT_FAULT_REPLACE=a.sfd", "", {"a.sfd1.tif"}},  // by a container of one frame
      {"TEXPORT_FAULT_REPLACE=a.sfd", "texport: a.sfd: cannot open: not a regular file\n", {}},
      {"TEXPORT_FAULT_REPLACE=a.sfd", "texport: a.sfd: cannot open: not a regular file\n", {}},
      {"TEXPORT_FAULT_SHRINK=a.sfd",
       "texport: a.sfd: cannot read: it changed while it was read\n",
       {}},
  };
  for (std::size_t i = 0; i < std::size(changes); ++i) {
    TempFolder scratch;
    write_file(scratch / "a.sfd", samples::sfd_container(frames));
    write_file(scratch / "HEADER.TIF", kTemplate);
    const fs::path with = scratch / "with";
    if (i == 1)
      write_file(with, samples::sfd_container({frames[2]}));
    if (i == 2)
      fs::create_directory(with);
    if (i == 3)
      ::mkfifo(with.c_str(), 0644);
    RunOptions options;
    options.faults = true;
    options.environment = {changes[i].fault, "TEXPORT_FAULT_REPLACE_WITH=" + with.string()};
    const RunResult run = run_in(scratch.path(), shipped_tool(), options);
    EXPECT_EQ(run.exit_status, 0) << i;
    EXPECT_EQ(run.err, changes[i].err) << i;
    for (const std::string& name : changes[i].written)
      EXPECT_EQ(read_file(scratch / name), tif(frames[2])) << i;
    expect_no_temporaries(scratch.path());
  }
}

}  // namespace
}  // namespace texport::testing
