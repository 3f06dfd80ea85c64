// texkit's command line and how it finds sources and names their folders, in process.
#include <gtest/gtest.h>

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
    {"export with every option",
     {},
     {{"export", "-r", "-o", "out", "--format", "png", "--templates", "t", "-j", "3", "."},
      {},
      "",
      [] {
        Arguments a = exporting({"."});
        a.recursive = a.png = true;
        a.output = "out";
        a.templates = "t";
        a.jobs = 3;
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
    {"an unknown option", {}, {{"export", "--bogus"}, 2, "Usage: texkit export [OPTIONS]"}},
    {"an unknown format", {}, {{"export", "--format", "gif"}, 2, "--format"}},
    {"templates from a folder and none",
     {},
     {{"export", "--templates", ".", "--no-templates"}, 2, "excludes"}},
    {"no jobs", {}, {{"export", "-j", "0"}, 2, "--jobs"}},
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

TEST(Names, FoldersAreShownBeforeTheirNames) {
  EXPECT_EQ(shown_folder("", "."), "");
  EXPECT_EQ(shown_folder("", ""), "");
  EXPECT_EQ(shown_folder("", "game"), "game/");
  EXPECT_EQ(shown_folder("", "game/"), "game/");
  EXPECT_EQ(shown_folder("game/", "walls"), "game/walls/");
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

}  // namespace
}  // namespace texport::texkit
