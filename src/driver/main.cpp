// texport: converts the legacy texture files of the working folder into images beside them.
// Arguments are ignored.
#include <iterator>
#include <span>
#include <string>

#include "driver/formats.hpp"
#include "io/folder_sink.hpp"
#include "io/report.hpp"
#include "platform/console.hpp"
#include "platform/folder.hpp"

#ifndef TEXPORT_ALL_PASSES
#define TEXPORT_ALL_PASSES 0
#endif

namespace {

using namespace texport;

// The tool made for its users converts the first format only.
constexpr std::span<const Format> kPasses =
    TEXPORT_ALL_PASSES ? std::span<const Format>(kFormats) : std::span<const Format>(kFormats, 1);

// What lies here that the passes leave alone, and which program converts it: "" when nothing.
std::string others_left(const platform::Folder& folder) {
  if (kPasses.size() == std::size(kFormats))
    return "";  // every format had its pass: no need to list the folder again
  const auto entries = platform::list_folder(folder);
  std::string counts;
  std::size_t kinds = 0, left = 0;
  for (const Format& format : std::span(kFormats).subspan(kPasses.size())) {
    const std::size_t found = platform::find_sources(entries, format.extension).size();
    if (found == 0)
      continue;
    counts +=
        (kinds++ == 0 ? "" : ", ") + std::to_string(found) + " " + std::string(format.extension);
    left += found;
  }
  if (left == 0)
    return "";
  return counted(left, "source") + " of other formats (" + counts +
         "); texport converts .sfd only: texport_all_passes and texkit export convert them";
}

}  // namespace

int main() {
  platform::prepare_process();
  FolderSink folder_sink("texport");
  const platform::Folder here;
  const Sink sink = folder_sink.sink({.output = &here, .templates = &here});
  for (const Format& format : kPasses)
    for (const std::string& name :
         platform::find_sources(platform::list_folder(here), format.extension))
      folder_sink.count_source(convert_file(format, here, name, sink));
  if (const std::string left = others_left(here); !left.empty())
    sink.report("not converted", Problem::note, left);
  folder_sink.say_summary();
  platform::wait_for_key();
  return 0;
}
