// texkit import as a user runs it: exports of every format and form come back byte for byte,
// edits made with another program come back and nothing else changes, refusals are told, and
// originals are replaced only when asked, and then kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "encoders.hpp"
#include "support/run.hpp"
#include "support/table.hpp"

namespace texport::testing {
namespace {

template <typename... Names>
void copy_file_into(const TempFolder& folder, const Names&... names) {
  (fs::copy_file(fs::path(TEXPORT_EXAMPLES_DIR) / names, folder / names), ...);
}

// Sources of every format and form: the examples, and packed .sfd of one to three layers and
// several signs, packed .tex of several signs, every .m32 layout.
std::map<std::string, Bytes> corpus() {
  std::map<std::string, Bytes> sources;
  for (const std::string& name : list_folder(TEXPORT_EXAMPLES_DIR))
    if (!name.starts_with("HEADER"))
      sources[name] = read_file(fs::path(TEXPORT_EXAMPLES_DIR) / name);
  const Bytes container = samples::sfd_container(
      {{7, 5, samples::sample_pixels(35, 1)}, {3, 2, samples::sample_pixels(6, 2)}});
  // Signs that the first bytes of each layer fit (byte 7 is both the sign and a stream byte).
  Bytes layers = container;
  for (const std::uint8_t sign : {0xC0, 0x10, 0xFF}) {
    layers = samples::sfd_pack(layers, sign).value();
    sources["layers" + std::to_string(sources.size()) + ".sfd"] = layers;
  }
  for (const std::uint8_t sign : {0x01, 0x80, 0xFF})
    sources["sign" + std::to_string(sign) + ".tex"] =
        samples::tex_pack(9, 4, samples::sample_pixels(36, sign), sign).value();
  for (const std::uint8_t type : {2, 3, 4})
    sources["layout" + std::to_string(type) + ".m32"] =
        samples::m32_file(type, 3, 2, samples::sample_pixels(24, type));
  return sources;
}

TEST(Import, AnUneditedExportGivesBackEverySourceByteForByte) {
  for (const char* format : {"native", "png"}) {
    TempFolder folder;
    const std::map<std::string, Bytes> sources = corpus();
    for (const auto& [name, bytes] : sources)
      write_file(folder / name, bytes);
    texkit_in(folder.path(), {"export", "--format", format});
    const RunResult run = texkit_in(folder.path(), {"import"});
    EXPECT_EQ(run.exit_status, 0) << format << run.err;
    EXPECT_EQ(tree_of(folder / "imported"), sources) << format;
  }
}

// Pillow, on the images export wrote: sets one pixel of each and saves it in another kind.
bool edit_with_pillow(const fs::path& folder, const std::string& script) {
  const std::string command = "cd '" + folder.string() +
                              "' && /usr/bin/python3 -c \"from PIL import Image\n" + script +
                              "\" 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

TEST(Import, EditsMadeElsewhereComeBackAndNothingElseChanges) {
  SKIP_WITHOUT_PILLOW();
  TempFolder folder;
  copy_file_into(folder, "walls.sfd", "packed.tex", "stone.m32", "tile.m8");
  const std::map<std::string, Bytes> before = tree_of(folder.path());
  texkit_in(folder.path(), {"export", "--format", "png"});
  // A frame as an LZW TIFF (a PNG where the build reads no TIFF), a texture as PNG, an .m32 as
  // a TGA packed with runs, an .m8 as a BMP, its pixel given the colour of another.
  const std::string frame = windows_tool() ? "walls.sfd2.png" : "walls.sfd2.tif";
  ASSERT_TRUE(edit_with_pillow(
      folder.path(),
      "i = Image.open('walls.sfd2.png'); i.putpixel((3, 4), 200); "
      "i.save('" +
          frame +
          "', compression='tiff_lzw')\n"
          "i = Image.open('packed.png'); i.putpixel((5, 6), 7); "
          "i.save('packed.png')\n"
          "i = Image.open('stone.m32.png'); i.putpixel((1, 2), (1, 2, 3, 4)); "
          "i.save('stone.m32.tga', compression='tga_rle')\n"
          "i = Image.open('tile.m8.png'); i.putpixel((0, 0), i.getpixel((32, 32))); "
          "i.save('tile.m8.bmp')\n"));
  for (const std::string name : {"walls.sfd2.png", "stone.m32.png", "tile.m8.png"})
    if (name != frame)
      fs::remove(folder / name);
  const RunResult run = texkit_in(folder.path(), {"import", "-o", "edited"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  // Exported again, the edited sources show the edits, and every other image is as it was.
  TempFolder first, again;
  for (const auto& [name, bytes] : before) {
    write_file(first / name, bytes);
    write_file(again / name, read_file(folder / "edited" / name));
  }
  texkit_in(first.path(), {"export", "--format", "png"});
  texkit_in(again.path(), {"export", "--format", "png"});
  // Pillow makes the same edits on the first export and says where the two exports differ.
  const fs::path differences = again / "differences";
  ASSERT_TRUE(edit_with_pillow(
      first.path(),
      "edits = {'walls.sfd2.png': ((3, 4), 200), 'packed.png': ((5, 6), 7), "
      "'stone.m32.png': ((1, 2), (1, 2, 3, 4)), 'tile.m8.png': ((0, 0), None)}\n"
      "out = open('" +
          differences.string() +
          "', 'w')\n"
          "for n in ['walls.sfd1.png', 'walls.sfd2.png', 'walls.sfd3.png', 'packed.png', "
          "'stone.m32.png', 'tile.m8.png']:\n"
          " i = Image.open(n)\n"
          " if n in edits: i.putpixel(edits[n][0], edits[n][1] or i.getpixel((32, 32)))\n"
          " got = Image.open('" +
          again.path().string() +
          "/' + n)\n"
          " if got.convert('RGBA').tobytes() != i.convert('RGBA').tobytes(): out.write(n + ' "
          "')\n"));
  EXPECT_EQ(read_file(differences), Bytes{});
}

TEST(Import, WhatASourceCannotHoldIsRefusedOrWithNearestMapped) {
  SKIP_WITHOUT_PILLOW();
  TempFolder folder;
  copy_file_into(folder, "walls.sfd", "tile.m8", "plain.tex");
  texkit_in(folder.path(), {"export", "--format", "png"});
  ASSERT_TRUE(edit_with_pillow(folder.path(),
                               "i = Image.open('walls.sfd1.png').convert('RGB'); "
                               "i.putpixel((2, 1), (10, 20, 30)); i.save('walls.sfd1.png')\n"
                               "i = Image.open('tile.m8.png').convert('RGB'); "
                               "i.putpixel((4, 0), (1, 2, 3)); i.save('tile.m8.png')\n"
                               "Image.new('L', (600, 40)).save('plain.png')\n"
                               "Image.new('L', (1, 65535)).save('walls.sfd3.png')\n"));
  const RunResult refused = texkit_in(folder.path(), {"import"});
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_EQ(
      refused.err,
      "texkit: plain.tex: unsupported: cannot take its images: an image of 600 x 40; "
      "textures stay under 512 on a side\n"
      "texkit: tile.m8.png: unsupported: pixel (4, 0) is red 1, green 2, blue 3, a colour the "
      "palette does not hold (--nearest takes the nearest it holds)\n"
      "texkit: walls.sfd1.png: unsupported: pixel (2, 1) is red 10, green 20, blue 30: one "
      "value a pixel needs red, green and blue equal (--nearest takes their mean)\n");
  EXPECT_EQ(refused.summary,
            "texkit: done: 5 images read, 0 sources written, 3 sources with problems\n");
  EXPECT_FALSE(fs::exists(folder / "imported" / "walls.sfd"));
  fs::remove(folder / "plain.png");
  const RunResult nearest = texkit_in(folder.path(), {"import", "--nearest"});
  EXPECT_EQ(nearest.exit_status, 0);
  EXPECT_EQ(nearest.err,
            "texkit: tile.m8.png: 1 pixel changed to the nearest colour of the palette\n"
            "texkit: walls.sfd1.png: 1 pixel changed to the nearest grey\n");
  EXPECT_EQ(nearest.summary,
            "texkit: done: 4 images read, 2 sources written, 0 sources with problems\n");
}

// In place, each original is kept as NAME.bak (numbered once that exists); a dry run writes
// nothing and says what it would write.
TEST(Import, InPlaceKeepsTheOriginalAndADryRunWritesNothing) {
  TempFolder folder;
  copy_file_into(folder, "walls.sfd");
  fs::create_directory(folder / "walls.sfd1.png");  // a folder, not an image
  const Bytes original = read_file(folder / "walls.sfd");
  texkit_in(folder.path(), {"export", "--no-templates"});
  Bytes frame = read_file(folder / "walls.sfd2.tif");
  frame[1706 + 10] ^= 0xFF;
  write_file(folder / "walls.sfd2.tif", frame);
  const RunResult dry = texkit_in(folder.path(), {"import", "--in-place", "--dry-run"});
  EXPECT_EQ(dry.out, "walls.sfd: would be replaced\n");
  EXPECT_EQ(read_file(folder / "walls.sfd"), original);
  for (const char* backup : {"walls.sfd.bak", "walls.sfd.2.bak"}) {
    const RunResult run = texkit_in(folder.path(), {"import", "--in-place"});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_TRUE(fs::exists(folder / backup)) << backup;
    frame[1706 + 10] ^= 0x0F;
    write_file(folder / "walls.sfd2.tif", frame);
  }
  EXPECT_EQ(read_file(folder / "walls.sfd.bak"), original);
  EXPECT_NE(read_file(folder / "walls.sfd"), original);
  EXPECT_FALSE(fs::exists(folder / "imported"));
  // Output folders that cannot be made: the whole run fails, or the sources meant for one.
  write_file(folder / "out", {});
  EXPECT_EQ(texkit_in(folder.path(), {"import", "-o", "out/x"}).exit_status, 2);
  fs::create_directories(folder / "sub");
  for (const char* name : {"walls.sfd", "walls.sfd2.tif"})
    fs::copy_file(folder / name, folder / "sub" / name);
  fs::create_directories(folder / "o");
  write_file(folder / "o" / "sub", {});
  const RunResult blocked = texkit_in(folder.path(), {"import", "-r", "-o", "o"});
  EXPECT_NE(blocked.err.find("walls.sfd: cannot make its folder: "), std::string::npos);
  EXPECT_EQ(std::ranges::count(blocked.err, '\n'), 1) << blocked.err;
}

}  // namespace
}  // namespace texport::testing
