// What the file system does to a run: outputs that cannot be written, sources that change or go
// after the folder was listed. No earlier output is lost, no temporary file stays behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "encoders.hpp"
#include "support/expected.hpp"
#include "support/run.hpp"

namespace texport::testing {
namespace {

using samples::SfdFrame;

// Every folder here holds a template, so that only the failures under test are told; it is no
// TIFF of a size of its own, which would be told for every other size.
const Bytes kTemplate(kTifTemplate.header_length, 0x11);

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
    EXPECT_NE(run.err.find(output + std::string(": cannot create a temporary file: ")),
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

// Each frame is tried, the disk full or not: a smaller one after a larger may still fit.
TEST_F(Files, FullDiskFailsTheImagesThatDoNotFitWithOneLine) {
  SKIP_UNLESS_LINUX_TOOL();
  RunOptions options;
  options.faults = true;
  options.environment = {"TEXPORT_FAULT_DISK_BYTES=5000"};  // frames 2 and 3 fit, not frame 1
  const RunResult run = run_in(folder.path(), shipped_tool(), options);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err,
            "texport: a.sfd1.tif: cannot write: No space left on device\n"
            "texport: a.sfd: cannot write 1 of 3 frames: the disk is full\n");
  EXPECT_EQ(read_file(folder / "a.sfd3.tif"), tif(frames[2]));
  EXPECT_FALSE(fs::exists(folder / "a.sfd1.tif"));
  expect_no_temporaries(folder.path());
}

// A template is read again once it has changed: a change made during a run holds from the next
// image on.
TEST_F(Files, TemplateChangedDuringARunHoldsFromTheNextImage) {
  SKIP_UNLESS_LINUX_TOOL();
  const Bytes changed(kTifTemplate.header_length, 0x33);
  write_file(folder / "changed", changed);
  RunOptions options;
  options.faults = true;
  options.environment = {"TEXPORT_FAULT_CHANGE=HEADER.TIF",
                         "TEXPORT_FAULT_REPLACE_WITH=" + (folder / "changed").string()};
  run_in(folder.path(), shipped_tool(), options);
  EXPECT_EQ(read_file(folder / "a.sfd1.tif"), tif(frames[0]));
  for (const int frame : {1, 2})
    EXPECT_EQ(
        read_file(folder / ("a.sfd" + std::to_string(frame + 1) + ".tif")),
        expected_tif(changed, frames[frame].width, frames[frame].height, frames[frame].pixels));
}

// However the system lets the tool write (into a file with no name that then takes its name, or
// under a temporary name renamed into place), every image comes out the same: new names with the
// mode of a new file, replaced files of the runner's with their own mode, over new and taken
// names in turn, and nothing else left in the folder. The shim checks that every file is private
// while it is written.
TEST_F(Files, EveryWayOfWritingGivesTheSameFiles) {
  SKIP_UNLESS_LINUX_TOOL();
  // Where Linux has files with no name, new names need no temporary at all.
  RunOptions unnamed_only;
  unnamed_only.faults = true;
  unnamed_only.environment = {"TEXPORT_FAULT_NO_TEMPORARIES=1"};
  EXPECT_EQ(run_in(folder.path(), shipped_tool(), unnamed_only).err, "");
  for (std::size_t frame = 0; frame < frames.size(); ++frame)
    EXPECT_EQ(read_file(folder / ("a.sfd" + std::to_string(frame + 1) + ".tif")),
              tif(frames[frame]));

  const mode_t mask = ::umask(0);
  ::umask(mask);
  const auto mode = [&](const char* name) {
    struct stat info {};
    ::lstat((folder / name).c_str(), &info);
    return info.st_mode & 07777;
  };
  for (const std::string fault : {"", "TEXPORT_FAULT_NO_UNNAMED=1", "TEXPORT_FAULT_NO_NAMING=1"}) {
    for (const char* name : {"a.sfd1.tif", "a.sfd2.tif", "a.sfd3.tif"})
      fs::remove(folder / name);
    write_file(folder / "a.sfd1.tif", Bytes{'o', 'l', 'd'});
    fs::permissions(folder / "a.sfd1.tif", fs::perms(0600));
    write_file(folder / "a.sfd3.tif", Bytes{'o', 'l', 'd'});
    fs::permissions(folder / "a.sfd3.tif", fs::perms(0640));
    RunOptions options;
    options.faults = true;
    if (!fault.empty())
      options.environment = {fault};
    // The second run finds every name taken.
    for (int run_number = 1; run_number <= 2; ++run_number) {
      const RunResult run = run_in(folder.path(), shipped_tool(), options);
      EXPECT_EQ(run.err, "") << fault;
      for (std::size_t frame = 0; frame < frames.size(); ++frame)
        EXPECT_EQ(read_file(folder / ("a.sfd" + std::to_string(frame + 1) + ".tif")),
                  tif(frames[frame]))
            << fault << ", run " << run_number << ", frame " << frame + 1;
      EXPECT_EQ(mode("a.sfd1.tif"), 0600u) << fault;
      EXPECT_EQ(mode("a.sfd2.tif"), 0666 & ~mask) << fault;
      EXPECT_EQ(mode("a.sfd3.tif"), 0640u) << fault;
      EXPECT_EQ(list_folder(folder.path()),
                (std::vector<std::string>{"HEADER.TIF", "a.sfd", "a.sfd1.tif", "a.sfd2.tif",
                                          "a.sfd3.tif"}))
          << fault;
    }
  }
}

// An existing image the runner may not write is left as it is; root may write anything but a
// file marked immutable.
TEST_F(Files, WriteProtectedOutputIsLeftAsItIs) {
  write_file(folder / "a.sfd2.tif", Bytes{'o', 'l', 'd'});
  fs::permissions(folder / "a.sfd2.tif", fs::perms(0444));
  const std::string protect = "chattr +i '" + (folder / "a.sfd2.tif").string() + "' 2>/dev/null";
  if (::geteuid() == 0 && std::system(protect.c_str()) != 0)
    GTEST_SKIP() << "cannot protect a file from root here";
  const RunResult run = run_in(folder.path(), shipped_tool());
  std::system(("chattr -i '" + (folder / "a.sfd2.tif").string() + "' 2>/dev/null").c_str());
  EXPECT_EQ(run.err, "texport: a.sfd2.tif: cannot replace it: it is write-protected\n");
  EXPECT_EQ(read_file(folder / "a.sfd2.tif"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(read_file(folder / "a.sfd3.tif"), tif(frames[2]));
  expect_no_temporaries(folder.path());
}

// A source that is deleted or replaced after the folder was listed: named and skipped, or
// converted as it is when read, and never waited on.
TEST_F(Files, SourcesThatChangeAfterTheListing) {
  SKIP_UNLESS_LINUX_TOOL();
  struct Change {
    std::string fault, err;
    std::vector<std::string> written;
    std::function<void(const fs::path& with)> prepare = [](const fs::path&) {};
  };
  const Change changes[] = {
      {"TEXPORT_FAULT_VANISH=a.sfd", "texport: a.sfd: cannot open: No such file or directory\n"},
      {"TEXPORT_FAULT_REPLACE=a.sfd",
       "",
       {"a.sfd1.tif"},
       [&](const fs::path& with) { write_file(with, samples::sfd_container({frames[2]})); }},
      {"TEXPORT_FAULT_REPLACE=a.sfd",
       "texport: a.sfd: cannot open: not a regular file\n",
       {},
       [](const fs::path& with) { fs::create_directory(with); }},
      {"TEXPORT_FAULT_REPLACE=a.sfd",
       "texport: a.sfd: cannot open: not a regular file\n",
       {},
       [](const fs::path& with) { ::mkfifo(with.c_str(), 0644); }},
      {"TEXPORT_FAULT_SHRINK=a.sfd", "texport: a.sfd: cannot read: it changed while it was read\n"},
  };
  for (const Change& change : changes) {
    TempFolder scratch;
    write_file(scratch / "a.sfd", samples::sfd_container(frames));
    write_file(scratch / "HEADER.TIF", kTemplate);
    change.prepare(scratch / "with");
    RunOptions options;
    options.faults = true;
    options.environment = {change.fault,
                           "TEXPORT_FAULT_REPLACE_WITH=" + (scratch / "with").string()};
    const RunResult run = run_in(scratch.path(), shipped_tool(), options);
    EXPECT_EQ(run.exit_status, 0) << change.fault;
    EXPECT_EQ(run.err, change.err) << change.fault;
    for (const std::string& name : change.written)
      EXPECT_EQ(read_file(scratch / name), tif(frames[2])) << change.fault;
    expect_no_temporaries(scratch.path());
  }
}

// A large plain container is converted from its file, its frames' pixels copied from there: the
// same images where the system copies between files and where it cannot, and a source that
// shrinks while it is converted fails the frames it no longer holds, and no others.
TEST(LargeContainer, FramesAreCopiedFromTheFile) {
  const std::vector<SfdFrame> frames{{800, 800, samples::sample_pixels(640000, 2)},
                                     {2, 2, {1, 2, 3, 4}},
                                     {700, 700, samples::sample_pixels(490000, 3)}};
  const Bytes container = samples::sfd_container(frames);
  ASSERT_GE(container.size(), std::size_t{1} << 20);  // large enough to be left in its file
  // Past the first 64 KiB, which are read first.
  const auto shrunk_inside = [&](std::size_t frame) {
    return "TEXPORT_FAULT_SHRINK_AT=" + std::to_string(read_u32le(container, 4 * frame) + 100000);
  };
  const std::string changed = "cannot read its source: it changed while it was read\n";
  struct Run {
    std::vector<std::string> faults;
    std::string err;
    std::vector<std::size_t> written;  // frames, from 0
  };
  const Run runs[] = {
      {{}, "", {0, 1, 2}},
      {{"TEXPORT_FAULT_NO_COPY=1"}, "", {0, 1, 2}},
      {{"TEXPORT_FAULT_SHRINK=a.sfd", shrunk_inside(3)}, "texport: a.sfd3.tif: " + changed, {0, 1}},
      {{"TEXPORT_FAULT_SHRINK=a.sfd", shrunk_inside(1)},
       "texport: a.sfd1.tif: " + changed +
           "texport: a.sfd: cannot read: it changed while it was read\n",
       {}},
      {{"TEXPORT_FAULT_DISK_BYTES=600000"},
       "texport: a.sfd1.tif: cannot write: No space left on device\n"
       "texport: a.sfd: cannot write 1 of 3 frames: the disk is full\n",
       {1, 2}},
  };
  for (const Run& run : runs) {
    if (windows_tool() && !run.faults.empty())
      continue;  // no shim reaches a Windows program
    TempFolder folder;
    write_file(folder / "a.sfd", container);
    write_file(folder / "HEADER.TIF", kTemplate);
    RunOptions options;
    options.faults = !windows_tool();
    options.environment = run.faults;
    const RunResult result = run_in(folder.path(), shipped_tool(), options);
    const std::string fault = run.faults.empty() ? "no fault" : run.faults.back();
    EXPECT_EQ(result.err, run.err) << fault;
    for (std::size_t frame = 0; frame < frames.size(); ++frame) {
      const fs::path output = folder / ("a.sfd" + std::to_string(frame + 1) + ".tif");
      if (std::ranges::find(run.written, frame) != run.written.end())
        EXPECT_EQ(read_file(output), tif(frames[frame])) << fault << ", frame " << frame + 1;
      else
        EXPECT_FALSE(fs::exists(output)) << fault << ", frame " << frame + 1;
    }
    expect_no_temporaries(folder.path());
  }
  // An encoder reads the pixels from the file first, and tells a source that no longer holds them.
#ifdef TEXKIT_EXE  // texkit is built where its argument parser is installed
  if (windows_tool())
    return;
  TempFolder folder;
  write_file(folder / "a.sfd", container);
  RunOptions options;
  options.faults = true;
  options.arguments = {"export", "--format", "png"};
  options.environment = {"TEXPORT_FAULT_SHRINK=a.sfd", shrunk_inside(3)};
  const RunResult result = run_in(folder.path(), texkit_tool(), options);
  EXPECT_EQ(result.err, "texkit: a.sfd3.png: " + changed);
  EXPECT_NE(result.exit_status, 0);
  EXPECT_TRUE(fs::exists(folder / "a.sfd2.png"));
  EXPECT_FALSE(fs::exists(folder / "a.sfd3.png"));
#endif
}

}  // namespace
}  // namespace texport::testing
