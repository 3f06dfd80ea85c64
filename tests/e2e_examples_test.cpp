// The bundled examples are exactly what the generator makes, and they convert cleanly.
#include <gtest/gtest.h>

#include <cstdlib>

#include "convert/tex.hpp"
#include "encoders.hpp"
#include "support/expected.hpp"
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
  if (tex::tex_trace)
    GTEST_SKIP() << "the .tex trace adds its own lines";
  TempFolder folder;
  for (const std::string& name : list_folder(TEXPORT_EXAMPLES_DIR))
    fs::copy_file(fs::path(TEXPORT_EXAMPLES_DIR) / name, folder / name);
  const RunResult run = run_in(folder.path(), all_passes_exe());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "");
  // The damaged container's line, then the packed texture's name; everything else is silent.
  EXPECT_EQ(run.out, "out of range, compressed? frame 3 in file damaged.sfd\npacked.tex\n");
  EXPECT_TRUE(fs::exists(folder / "walls.sfd3.tif"));
  EXPECT_TRUE(fs::exists(folder / "packed.sfd2.tif"));
  // The three .m32 layouts hold the same picture, so they give the same file.
  const Bytes stone = read_file(folder / "stone.m32.tga");
  EXPECT_EQ(stone.size(), 18u + 4 * 64 * 48);
  EXPECT_EQ(read_file(folder / "marble.m32.tga"), stone);
  EXPECT_EQ(read_file(folder / "slate.m32.tga"), stone);
  EXPECT_EQ(fs::file_size(folder / "tile.m8.bmp"), 1079u + 64 * 48);
  if (!reader_available())
    return;
  for (const char* image :
       {"walls.sfd1.tif", "packed.sfd2.tif", "damaged.sfd2.tif", "plain.TIF", "packed.TIF"})
    EXPECT_TRUE(decode_with_reader(folder / image, "gray")) << image;
  EXPECT_EQ(decode_with_reader(folder / "stone.m32.tga", "rgba"), samples::picture_rgba(64, 48));
  EXPECT_EQ(decode_with_reader(folder / "tile.m8.bmp", "rgb"),
            colours_of(samples::rainbow_palette(), samples::picture_indices(64, 48)));
}

}  // namespace
}  // namespace texport::testing
