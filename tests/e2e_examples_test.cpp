// The bundled examples are exactly what the generator makes, and they convert cleanly.
#include <gtest/gtest.h>

#include <cstdlib>

#include "convert/tex.hpp"
#include "support/run.hpp"

namespace texport::testing {
namespace {

TEST(Examples, CommittedFilesAreWhatTheGeneratorMakes) {
  TempFolder fresh;
  const std::string command =
      std::string("'") + TEXPORT_MAKE_EXAMPLES_EXE + "' '" + fresh.path().string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const fs::path committed = TEXPORT_EXAMPLES_DIR;
  EXPECT_EQ(list_folder(fresh.path()), list_folder(committed));
  for (const std::string& name : list_folder(fresh.path()))
    EXPECT_EQ(read_file(fresh / name), read_file(committed / name)) << name << " is stale";
}

TEST(Examples, ConvertWithEveryPassAndOnlyTheDamagedAndPackedOnesSpeak) {
  TempFolder folder;
  for (const std::string& name : list_folder(TEXPORT_EXAMPLES_DIR))
    fs::copy_file(fs::path(TEXPORT_EXAMPLES_DIR) / name, folder / name);
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("out of range, compressed? frame 3 in file damaged.sfd\n"),
            std::string::npos)
      << run.out;
  // The packed texture's name line; the plain one is converted in silence.
  EXPECT_NE(run.out.find("\npacked.tex\n"), std::string::npos) << run.out;
  if (!tex::tex_trace) {
    EXPECT_EQ(run.out.find("plain.tex"), std::string::npos) << run.out;
  }
  EXPECT_TRUE(fs::exists(folder / "walls.sfd3.tif"));
  EXPECT_TRUE(fs::exists(folder / "packed.sfd2.tif"));
  if (!reader_available())
    return;
  for (const char* image :
       {"walls.sfd1.tif", "packed.sfd2.tif", "damaged.sfd2.tif", "plain.TIF", "packed.TIF"})
    EXPECT_TRUE(decode_with_reader(folder / image, "gray")) << image;
}

}  // namespace
}  // namespace texport::testing
