// texkit as a user runs it on whole archives: the images texport_all_passes writes, trees into
// another folder, PNG, sources side by side, info, and its exit statuses.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "encoders.hpp"
#include "support/expected.hpp"
#include "support/run.hpp"
#include "support/table.hpp"

namespace texport::testing {
namespace {

void copy_into(const fs::path& from, const fs::path& to) {
  fs::copy(from, to, fs::copy_options::recursive);
}

// Damaged and unusual sources of every format, as a user's folder may hold them.
void write_unusual_sources(const fs::path& folder) {
  const Bytes palette = samples::sample_pixels(768, 2);
  Bytes outside = samples::sfd_container({{3, 2, {1, 2, 3, 4, 5, 6}}, {1, 1, {7}}});
  write_u32le(outside, 8, static_cast<std::uint32_t>(outside.size()));
  const std::pair<const char*, Bytes> sources[] = {
      {"empty.sfd", {}},
      {"outside.sfd", outside},
      {"short.tex", {1, 0, 1}},
      {"rejected.tex", {9, 0, 9, 0, 1, 0}},
      {"wide.tex", samples::tex_packed_from_stream(512, 1, 0xC0, Bytes{1, 2, 3})},
      {"zero.tex", samples::tex_packed_from_stream(0, 5, 0xC0, Bytes{1, 2, 3})},
      {"x.tex", samples::tex_packed_from_stream(1, 1, 0xC0, Bytes{0, 0, 9})},
      {"x.TEX", samples::tex_packed_from_stream(1, 1, 0xC0, Bytes{0, 0, 8})},
      {"HEADER.tex", samples::tex_plain(1, 1, Bytes{3})},
      {"unknown.m32", Bytes(400, 5)},
      {"short.m32", Bytes(197, 2)},
      {"three.m8", samples::m8_file(3, 2, palette, Bytes{1, 2, 3, 4, 5, 6})},
      {"a.sfd", samples::sfd_container({{2, 1, {1, 2}}})},
      {"a.sfd1.tex", samples::tex_plain(2, 1, Bytes{3, 4})},
  };
  for (const auto& [name, bytes] : sources)
    write_file(folder / name, bytes);
}

// texkit's lines are texport's, said by another program.
std::string as_texport(std::string text) {
  for (std::size_t at = 0; (at = text.find("texkit: ", at)) != std::string::npos;)
    text.replace(at, 8, "texport: ");
  return text;
}

struct Folders {
  std::string what;
  std::function<void(const fs::path&)> fill;
};

// Native images, one source at a time or side by side (sources that give one image name among
// them), are texport_all_passes's, with its lines in its order.
TEST(Texkit, NativeExportWritesWhatTexportAllPassesWrites) {
  const Folders folders[] = {
      {"the examples", [](const fs::path& to) { copy_into(TEXPORT_EXAMPLES_DIR, to); }},
      {"the examples without templates",
       [](const fs::path& to) {
         copy_into(TEXPORT_EXAMPLES_DIR, to);
         for (const char* name : {"HEADER.TIF", "HEADERTGA32", "HEADERBMP"})
           fs::remove(to / name);
       }},
      {"unusual sources", write_unusual_sources},
  };
  for (const Folders& folder : folders) {
    for (const char* jobs : {"1", "4"}) {
      TempFolder by_texport, by_texkit;
      folder.fill(by_texport.path());
      folder.fill(by_texkit.path());
      const RunResult expected = run_in(by_texport.path(), all_passes_tool());
      const RunResult run = texkit_in(by_texkit.path(), {"export", "-j", jobs});
      EXPECT_EQ(tree_of(by_texkit.path()), tree_of(by_texport.path())) << folder.what;
      EXPECT_EQ(run.out, expected.out) << folder.what;
      EXPECT_EQ(as_texport(run.err), expected.err) << folder.what;
      EXPECT_EQ(as_texport(run.summary), expected.summary) << folder.what;
    }
  }
}

// A tree of three levels into another folder: mirrored there, nothing beside the sources, the
// output folder itself never taken for sources.
TEST(Texkit, TreeIsMirroredIntoTheOutputFolder) {
  TempFolder folder;
  const fs::path game = folder / "游戏";
  fs::create_directories(game / "墙" / "b" / "c");
  const Bytes frame = samples::sfd_container({{2, 2, {1, 2, 3, 4}}});
  write_file(game / "top.sfd", frame);
  write_file(game / "墙" / "mur_é.tex", samples::tex_plain(1, 1, Bytes{9}));
  write_file(game / "墙" / "b" / "glass.m32", samples::m32_file(2, 1, 1, Bytes{4, 5, 6, 0}));
  write_file(game / "墙" / "b" / "stone.m32", samples::m32_file(2, 1, 1, Bytes{1, 2, 3, 255}));
  write_file(game / "墙" / "b" / "c" / "tile.m8",
             samples::m8_file(4, 1, samples::sample_pixels(768, 3), Bytes{1, 2, 3, 4}));
  const std::map<std::string, Bytes> sources = tree_of(game);
  const RunResult run =
      texkit_in(folder.path(), {"export", "-r", "-o", (game / "out").string(), game.string()});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  std::map<std::string, Bytes> written = tree_of(game / "out");
  EXPECT_EQ(
      written,
      (std::map<std::string, Bytes>{
          {"top.sfd1.tif", builtin_tif(2, 2, {1, 2, 3, 4})},
          {"墙/mur_é.TIF", builtin_tif(1, 1, {9})},
          {"墙/b/glass.m32.tga", builtin_tga(1, 1, {4, 5, 6, 0})},
          {"墙/b/stone.m32.tga", builtin_tga(1, 1, {1, 2, 3, 255})},
          {"墙/b/c/tile.m8.bmp", builtin_bmp(4, 1, samples::sample_pixels(768, 3), {1, 2, 3, 4})},
      }));
  fs::remove_all(game / "out");
  EXPECT_EQ(tree_of(game), sources);

  const RunResult told = texkit_in(folder.path(), {"info", "-r", game.string()});
  const std::string separator = windows_tool() ? "\\" : "/";
  const std::string at = game.string() + separator;
  EXPECT_EQ(told.out, at + "top.sfd: sfd, plain, 1 frame of 2 x 2\n" + at + "墙" + separator +
                          "mur_é.tex: tex, plain, 1 x 1\n" + at + "墙" + separator + "b" +
                          separator + "glass.m32: m32, layout 2, 1 x 1, alpha 0 throughout\n" + at +
                          "墙" + separator + "b" + separator +
                          "stone.m32: m32, layout 2, 1 x 1, alpha 255 throughout\n" + at + "墙" +
                          separator + "b" + separator + "c" + separator +
                          "tile.m8: m8, plain, 4 x 1, a palette of 84 colours\n");
}

TEST(Texkit, OutputFoldersAreNeverMadeThroughALink) {
  SKIP_UNLESS_LINUX_TOOL();
  TempFolder folder, elsewhere;
  fs::create_directories(folder / "game" / "a");
  write_file(folder / "game" / "a" / "x.sfd", samples::sfd_container({{1, 1, {4}}}));
  fs::create_directories(folder / "out");
  fs::create_directory_symlink(elsewhere.path(), folder / "out" / "a");
  const RunResult run = texkit_in(folder.path(), {"export", "-r", "-o", "out", "game"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err, "texkit: cannot make the folder out/a/: not a folder\n");
  EXPECT_TRUE(list_folder(elsewhere.path()).empty());
}

// Each image as Pillow reads it: "MODE WIDTH HEIGHT\n", its pixels, and its palette if it has
// one; nullopt without Python's imaging library.
std::optional<Bytes> read_with_pillow(const fs::path& folder,
                                      const std::vector<std::string>& names) {
  std::string command = "cd '" + folder.string() +
                        "' && /usr/bin/python3 -c \"import sys; from PIL import Image\n"
                        "for n in sys.argv[1:]:\n i = Image.open(n); p = i.getpalette() or []\n"
                        " sys.stdout.buffer.write(f'{i.mode} {i.size[0]} {i.size[1]}\\n'.encode() "
                        "+ i.tobytes() + bytes(p[:768]))\"";
  for (const std::string& name : names)
    command += " '" + name + "'";
  command += " > said 2>/dev/null";
  if (std::system(command.c_str()) != 0)
    return std::nullopt;
  return read_file(folder / "said");
}

TEST(Texkit, PngImagesHoldTheSourcesPixelsAndPalette) {
  SKIP_WITHOUT_PILLOW();
  TempFolder folder;
  const Bytes grey = samples::sample_pixels(5 * 3, 1);
  const Bytes rgba = samples::sample_pixels(4 * 5 * 3, 2);
  const Bytes palette = samples::sample_pixels(768, 3);
  const Bytes indices = samples::sample_pixels(5 * 3, 4);
  // A second frame of 1 MiB leaves the container in its file: the first frame's pixels are read
  // from there for the encoder.
  write_file(folder / "walls.sfd",
             samples::sfd_container({{5, 3, grey}, {1024, 1024, Bytes(1 << 20, 7)}}));
  write_file(folder / "wall.tex", samples::tex_plain(5, 3, grey));
  write_file(folder / "stone.m32", samples::m32_file(3, 5, 3, rgba));
  write_file(folder / "tile.m8", samples::m8_file(5, 3, palette, indices));
  const RunResult run = texkit_in(folder.path(), {"export", "--format", "png"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "");  // no note of what BMP readers make of rows of 5 bytes
  const auto text = [](const std::string& line) { return Bytes(line.begin(), line.end()); };
  EXPECT_EQ(read_with_pillow(folder.path(),
                             {"walls.sfd1.png", "wall.png", "stone.m32.png", "tile.m8.png"}),
            text("L 5 3\n") + grey + text("L 5 3\n") + grey + text("RGBA 5 3\n") + rgba +
                (windows_tool() ? text("RGB 5 3\n") + coloured(indices, palette)
                                : text("P 5 3\n") + indices + palette));
}

TEST(Texkit, TemplatesFromAnotherFolderOrNone) {
  TempFolder folder;
  fs::create_directories(folder / "templates");
  const Bytes header(kTifTemplate.header_length, 0x11);
  write_file(folder / "templates" / "HEADER.TIF", header);
  write_file(folder / "HEADER.TIF", Bytes(kTifTemplate.header_length, 0x22));
  write_file(folder / "a.sfd", samples::sfd_container({{1, 1, {4}}}));
  EXPECT_EQ(texkit_in(folder.path(), {"export", "--templates", "templates"}).err, "");
  EXPECT_EQ(read_file(folder / "a.sfd1.tif"), expected_tif(header, 1, 1, {4}));
  EXPECT_EQ(texkit_in(folder.path(), {"export", "--no-templates"}).err, "");
  EXPECT_EQ(read_file(folder / "a.sfd1.tif"), builtin_tif(1, 1, {4}));
}

TEST(Texkit, ExitStatusTellsWhetherAnythingFailed) {
  TempFolder folder;
  write_file(folder / "a.sfd", samples::sfd_container({{1, 1, {4}}}));
  EXPECT_EQ(texkit_in(folder.path(), {"export", "--no-templates"}).exit_status, 0);
  write_file(folder / "b.sfd", {});
  EXPECT_EQ(texkit_in(folder.path(), {"export", "--no-templates"}).exit_status, 1);
  const RunResult usage = texkit_in(folder.path(), {"export", "--frobnicate"});
  EXPECT_EQ(usage.exit_status, 2);
  EXPECT_EQ(usage.err,
            "texkit: The following argument was not expected: --frobnicate\n"
            "Usage: texkit export [OPTIONS] [PATH...]\nRun with --help for more information.\n");
}

// One JSON object a source, which a JSON reader parses, naming the images export writes.
TEST(Texkit, InfoInJsonAgreesWithWhatExportWrites) {
  if (std::system("/usr/bin/python3 -c 'import json' 2>/dev/null") != 0)
    GTEST_SKIP() << "no JSON reader (python3) installed";
  TempFolder folder, images;
  copy_into(TEXPORT_EXAMPLES_DIR, folder.path());
  if (!windows_tool())  // a quote and a backslash in a name, escaped in its JSON string
    fs::copy_file(folder / "packed.tex", folder / "say \"hi\" \\ now.tex");
  const RunResult told = texkit_in(folder.path(), {"info", "--json"});
  EXPECT_EQ(told.exit_status, 1);  // damaged.sfd
  write_file(images / "told", Bytes(told.out.begin(), told.out.end()));
  const std::string command =
      "cd '" + images.path().string() +
      "' && /usr/bin/python3 -c \"import json\n"
      "for i in sorted(i['name'] + ' ' + str(i['width']) + ' ' + str(i['height']) for l in "
      "open('told') for i in json.loads(l)['images']): print(i)\" > listed";
  ASSERT_EQ(std::system(command.c_str()), 0);
  texkit_in(folder.path(), {"export", "-o", images.path().string()});
  std::string expected;
  for (const std::string& name : list_folder(images.path()))
    if (name != "told" && name != "listed")
      expected += name + " 64 48\n";
  const Bytes listed = read_file(images / "listed");
  EXPECT_EQ(std::string(listed.begin(), listed.end()), expected);
}

// On a terminal, one line of progress, redrawn in place and gone at the end; on anything else,
// none.
TEST(Texkit, ProgressIsShownOnATerminalOnly) {
  SKIP_UNLESS_LINUX_TOOL();
  TempFolder folder;
  for (int i = 0; i < 7; ++i)
    write_file(folder / (std::to_string(i) + ".sfd"), samples::sfd_container({{1, 1, {4}}}));
  RunOptions piped;
  piped.arguments = {"export", "-j", "1", "--no-templates"};
  piped.faults = true;
  piped.environment = {"TEXPORT_FAULT_SLOW_MS=45"};
  EXPECT_EQ(run_in(folder.path(), texkit_tool(), piped).err, "");

  RunOptions on_terminal = piped;
  on_terminal.error_on_terminal = true;
  const RunResult shown = run_in(folder.path(), texkit_tool(), on_terminal);
  std::string seen = shown.err + shown.summary;
  EXPECT_NE(seen.find(" of 7 sources, "), std::string::npos) << seen;
  // What is left on the line at the end is the closing line alone.
  ASSERT_TRUE(seen.ends_with("\r\n")) << seen;
  seen.resize(seen.size() - 2);
  EXPECT_EQ(seen.substr(seen.rfind('\r') + 1),
            "texkit: done: 7 sources read, 7 images written, 0 sources with problems");
}

}  // namespace
}  // namespace texport::testing
