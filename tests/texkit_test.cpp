// texkit's command line and how it finds sources and names their folders, in process.
#include <gtest/gtest.h>

#include <set>

#include "driver/import.hpp"
#include "driver/texkit.hpp"
#include "encoders.hpp"
#include "support/files.hpp"
#include "support/table.hpp"

namespace texport::texkit {
namespace {

using testing::TempFolder;
namespace fs = std::filesystem;

struct ParseWant {
  std::vector<const char*> words;  // after "texkit"
  std::optional<int> status;       // help, version or a usage error
  std::string said;                // a part of what is said then
  Arguments arguments = {};        // otherwise
};
using ParseRow = testing::Row<ParseWant>;

Arguments exporting(std::vector<std::string> paths = {}) {
  Arguments arguments;
  arguments.paths = std::move(paths);
  arguments.jobs = std::max(1u, std::thread::hardware_concurrency());
  return arguments;
}

const ParseRow kParseRows[] = {
    {"export takes the working folder, every core, native images",
     {},
     {{"export"}, {}, "", exporting()}},
    {"export with every option, as many jobs as it takes",
     {},
     {{"export", "-r", "-o", "out", "--format", "png", "--templates", "t", "-j", "1024", "."},
      {},
      "",
      [] {
        Arguments a = exporting({"."});
        a.recursive = a.png = true;
        a.output = "out";
        a.templates = "t";
        a.jobs = 1024;
        return a;
      }()}},
    {"info with json",
     {},
     {{"info", "--json", "-r"},
      {},
      "",
      [] {
        Arguments a = exporting();
        a.command = Command::info;
        a.json = a.recursive = true;
        return a;
      }()}},
    {"help", {}, {{"--help"}, 0, "Subcommands:"}},
    {"help of a command names the program", {}, {{"export", "--help"}, 0, "Usage: texkit export"}},
    {"version", {}, {{"--version"}, 0, "texkit "}},
    {"no command", {}, {{}, 2, "Usage: texkit"}},
    {"an unknown format", {}, {{"export", "--format", "gif"}, 2, "--format"}},
    {"more jobs than it takes", {}, {{"export", "-j", "1025"}, 2, "1025"}},
    {"templates from a folder and none",
     {},
     {{"export", "--templates", ".", "--no-templates"}, 2, "excludes"}},
    {"a path that does not exist", {}, {{"info", "nowhere"}, 2, "nowhere: no such file or folder"}},
    {"in place and an output folder", {}, {{"import", "--in-place", "-o", "x"}, 2, "excludes"}},
};

class Parse : public ::testing::TestWithParam<ParseRow> {};

TEST_P(Parse, ReadsTheCommandLine) {
  const ParseWant& want = GetParam().want;
  std::vector<const char*> words{"texkit"};
  words.insert(words.end(), want.words.begin(), want.words.end());
  const Parsed parsed = parse_arguments(static_cast<int>(words.size()), words.data());
  EXPECT_EQ(parsed.status, want.status);
  EXPECT_NE(parsed.said.find(want.said), std::string::npos) << parsed.said;
  if (want.status)
    return;
  const Arguments& got = parsed.arguments;
  const Arguments& expected = want.arguments;
  EXPECT_EQ(
      std::tie(got.command, got.paths, got.recursive, got.output, got.png, got.templates,
               got.no_templates, got.jobs, got.json),
      std::tie(expected.command, expected.paths, expected.recursive, expected.output, expected.png,
               expected.templates, expected.no_templates, expected.jobs, expected.json));
}

TEXPORT_ROWS(Parse, kParseRows);

TEST(Names, SourcesThatCouldWriteOneImageShareAKey) {
  const Format& sfd = kFormats[0];
  const Format& tex = kFormats[1];
  const Format& m8 = kFormats[3];
  EXPECT_EQ(collision_key(tex, "x.tex"), collision_key(tex, "X.TEX"));
  EXPECT_EQ(collision_key(tex, "a.sfd1.tex"), collision_key(sfd, "a.sfd"));
  EXPECT_EQ(collision_key(tex, "A.SFD12.Tex"), collision_key(sfd, "a.sfd"));
  EXPECT_EQ(collision_key(tex, "x.m8.tex"), collision_key(m8, "X.m8"));
  EXPECT_NE(collision_key(tex, "a1.tex"), collision_key(tex, "a.tex"));
  EXPECT_NE(collision_key(tex, "a.sfdx1.tex"), collision_key(sfd, "a.sfdx"));
  EXPECT_NE(collision_key(sfd, "b.sfd"), collision_key(sfd, "a.sfd"));
}

// Sources in order: PATH by PATH, a folder's own format by format in name order, then its
// folders; never a linked folder, nor the folder images go to.
TEST(Sources, AreFoundInTheirOrder) {
  TempFolder tree;
  const Bytes source = samples::sfd_container({{1, 1, {4}}});
  fs::create_directories(tree / "a" / "b");
  fs::create_directories(tree / "out");
  for (const char* name :
       {"z.sfd", "y.tex", "B.sfd", "a/x.m8", "a/b/w.m32", "out/o.sfd", "notes.txt"})
    testing::write_file(tree / name, source);
  fs::create_directory_symlink(tree / "a", tree / "linked");
  platform::Folder output;
  ASSERT_FALSE(platform::open_folder_path((tree / "out").string(), false, output));
  const Found found = find_all({tree.path().string()}, true, &output);
  std::vector<std::string> names;
  for (const FoundSource& found_source : found.sources)
    names.push_back(found_source.folder->relative + found_source.name);
  EXPECT_EQ(names, (std::vector<std::string>{"B.sfd", "z.sfd", "y.tex", "a/x.m8", "a/b/w.m32"}));
  EXPECT_EQ(found.sources[3].folder->shown, tree.path().string() + "/a/");

  EXPECT_EQ(find_all({tree.path().string()}, false).sources.size(), 3u);
  EXPECT_EQ(find_all({(tree / "a" / "x.m8").string()}, false).sources.size(), 1u);
  EXPECT_EQ(find_all({(tree / "notes.txt").string()}, false).problem,
            (tree / "notes.txt").string() +
                ": not a source: its extension is none of .sfd, .tex, .m32, .m8");
}

ReadImage image_of(Channels channels, Bytes pixels, Bytes palette = {}) {
  const std::size_t count = pixels.size() / bytes_per_pixel(channels);
  return {static_cast<std::uint32_t>(count), 1, channels, std::move(pixels), std::move(palette)};
}

// One value a pixel: the mapping, or the first pixel that has none, and what --nearest makes.
TEST(Import, ImagesGiveOneValueAPixelWhereTheyHoldOne) {
  EXPECT_EQ(to_values(image_of(Channels::grey, {1, 2, 3}), false).pixels, (Bytes{1, 2, 3}));
  EXPECT_EQ(to_values(image_of(Channels::grey_alpha, {1, 9, 2, 9}), false).pixels, (Bytes{1, 2}));
  EXPECT_EQ(to_values(image_of(Channels::indexed, {4, 0}, Bytes(6, 7)), false).pixels,
            (Bytes{4, 0}));
  EXPECT_EQ(to_values(image_of(Channels::rgba, {5, 5, 5, 0, 6, 6, 6, 1}), false).pixels,
            (Bytes{5, 6}));
  const ReadImage coloured = image_of(Channels::rgb, {5, 5, 5, 2, 2, 6});  // two alike are not grey
  EXPECT_EQ(to_values(coloured, false).problem,
            "pixel (1, 0) is red 2, green 2, blue 6: one value a pixel needs red, green and blue "
            "equal (--nearest takes their mean)");
  const Mapped nearest = to_values(coloured, true);
  EXPECT_EQ(nearest.pixels, (Bytes{5, 3}));
  EXPECT_EQ(nearest.changed, 1u);
}

TEST(Import, ImagesWithoutAlphaKeepTheOriginalsAlpha) {
  const Bytes original{0, 0, 0, 10, 0, 0, 0, 20};
  EXPECT_EQ(to_rgba(image_of(Channels::rgb, {1, 2, 3, 4, 5, 6}), original).pixels,
            (Bytes{1, 2, 3, 10, 4, 5, 6, 20}));
  EXPECT_EQ(to_rgba(image_of(Channels::rgb, {1, 2, 3}), original).pixels, (Bytes{1, 2, 3, 255}));
  EXPECT_EQ(to_rgba(image_of(Channels::rgba, {1, 2, 3, 4}), {}).pixels, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(to_rgba(image_of(Channels::grey_alpha, {7, 8}), {}).pixels, (Bytes{7, 7, 7, 8}));
}

// Entries 1 and 2 share a colour; entry 3 is another.
Bytes palette_sharing() {
  Bytes palette(kPaletteLength, 0);
  for (std::size_t entry : {1, 2})
    std::copy_n(Bytes{50, 60, 70}.begin(), 3, palette.begin() + 3 * entry);
  std::copy_n(Bytes{200, 0, 0}.begin(), 3, palette.begin() + 9);
  return palette;
}

TEST(Import, ColoursAreMappedOntoThePaletteKeepingEachPixelsIndex) {
  const Bytes palette = palette_sharing();
  const ReadImage shared = image_of(Channels::rgb, {50, 60, 70, 50, 60, 70, 200, 0, 0});
  EXPECT_EQ(to_indices(shared, palette, Bytes{2, 9, 3}, false).pixels, (Bytes{2, 1, 3}));
  EXPECT_EQ(to_indices(shared, palette, {}, false).pixels, (Bytes{1, 1, 3}));
  const ReadImage off = image_of(Channels::rgb, {60, 50, 70});
  EXPECT_EQ(to_indices(off, palette, {}, false).problem,
            "pixel (0, 0) is red 60, green 50, blue 70, a colour the palette does not hold "
            "(--nearest takes the nearest it holds)");
  const Mapped nearest = to_indices(off, palette, {}, true);
  EXPECT_EQ(nearest.pixels, Bytes{1});
  EXPECT_EQ(nearest.changed, 1u);
  // A paletted image brings its indices and its own palette, the entries it lacks kept.
  const Mapped own =
      to_indices(image_of(Channels::indexed, {0, 1}, {9, 9, 9, 8, 8, 8}), palette, {}, false);
  EXPECT_EQ(own.pixels, (Bytes{0, 1}));
  EXPECT_EQ(Bytes(own.palette.begin(), own.palette.begin() + 12),
            (Bytes{9, 9, 9, 8, 8, 8, 50, 60, 70, 200, 0, 0}));
}

TEST(Import, ImagesAreMatchedToTheSourcesTheirNamesComeFrom) {
  const std::set<std::string> here{"walls.sfd", "WALL.TEX", "stone.m32", "tile.m8",
                                   "a.m8",      "a.m8.tex", "x.sfd",     "x.sfd1.tex"};
  const auto exists = [&](const std::string& folded) -> std::optional<std::string> {
    for (const std::string& name : here)
      if (platform::folded(name) == folded)
        return name;
    return std::nullopt;
  };
  const auto of = [&](const char* image) {
    const std::optional<ImageOf> found = source_of(image, exists);
    return found ? found->source + " " + std::to_string(found->frame) : "none";
  };
  EXPECT_EQ(of("walls.sfd3.png"), "walls.sfd 3");
  EXPECT_EQ(of("WALLS.SFD12.TIF"), "walls.sfd 12");
  EXPECT_EQ(of("wall.TIF"), "WALL.TEX 1");
  EXPECT_EQ(of("wall.png"), "WALL.TEX 1");
  EXPECT_EQ(of("stone.m32.tga"), "stone.m32 1");
  EXPECT_EQ(of("tile.m8.bmp"), "tile.m8 1");
  EXPECT_EQ(of("a.m8.png"), "a.m8 1");          // export writes the .m8's image last
  EXPECT_EQ(of("x.sfd1.png"), "x.sfd1.tex 1");  // and a texture's after a frame's
  for (const char* image : {"walls.sfd0.png", "walls.sfd.png", "notes.png", "walls.sfd3.txt"})
    EXPECT_EQ(of(image), "none") << image;
}

}  // namespace
}  // namespace texport::texkit
