// texkit: the command line for whole archives, on the tools' own conversion core.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/formats.hpp"
#include "io/folder_sink.hpp"
#include "platform/files.hpp"
#include "platform/folder.hpp"

namespace texport::texkit {

enum class Command { export_images, info, import_images };

struct Arguments {
  Command command = Command::export_images;
  std::vector<std::string> paths;  // files and folders; none: "."
  bool recursive = false;
  std::optional<std::string> output;  // -o DIR
  bool png = false;                   // --format png
  std::optional<std::string> templates;
  bool no_templates = false;
  unsigned jobs = 1;
  bool json = false;                     // info --json
  std::optional<std::string> originals;  // import --originals DIR
  bool in_place = false, dry_run = false, nearest = false;
};

// What a command line asks for. Help, the version and usage errors are told at once (`said`,
// for standard output with status 0, for standard error with status 2); otherwise nullopt.
struct Parsed {
  Arguments arguments;
  std::optional<int> status;
  std::string said;
};
Parsed parse_arguments(int argc, const char* const* argv);

// A folder of sources as found under a PATH given, and where its images go.
struct SourceFolder {
  std::shared_ptr<const platform::Folder> folder;
  std::string shown;     // how its names are shown: "" for ".", else the path and a separator
  std::string relative;  // its path under the PATH given, "" for the PATH itself
};

// One source found, in the order sources are converted and told: PATH by PATH, in each folder
// the sources format by format in name order, then its sub-folders.
struct FoundSource {
  std::shared_ptr<const SourceFolder> folder;
  const Format* format = nullptr;
  std::string name;
};

// The sources under the paths: every format, and sub-folders with `recursive` (never through a
// link, so no loop can form; never `skip`, the folder images go to). A PATH that does not exist,
// or a file of no known format, is a usage error: `problem` then says which.
struct Found {
  std::vector<FoundSource> sources;
  std::string problem;
};
Found find_all(const std::vector<std::string>& paths, bool recursive,
               const platform::Folder* skip = nullptr);

// Visits every folder reached from the paths with its listing (with `recursive`, the folders
// below too, never through a link, never `skip`); a PATH that is a file, with its folder and
// itself alone, unless `refuse_file` says why not. The problem that stopped it, or "".
std::string walk_paths(const std::vector<std::string>& paths, bool recursive,
                       const platform::Folder* skip,
                       const std::function<std::string(const std::string& name)>& refuse_file,
                       const std::function<void(const std::shared_ptr<const SourceFolder>&,
                                                const std::vector<platform::Entry>&)>& visit);

// The key under which sources whose images could take one name (x.tex and x.TEX; a.sfd and
// a.sfd1.tex; x.m8 and x.m8.tex as PNG) fall together, to be converted one after the other.
std::string collision_key(const Format& format, const std::string& name);

// A folder as shown before the names in it: "game" then "walls" give "game/walls/" ("\" on
// Windows); "." and "" give "".
std::string shown_folder(const std::string& parent_shown, const std::string& name);

// Commands; each returns the exit status.
int export_images(const Arguments& arguments);
int info(const Arguments& arguments);
int import_images(const Arguments& arguments);

}  // namespace texport::texkit
