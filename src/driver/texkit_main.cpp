// texkit: the command line for whole archives: export (trees, an output folder, PNG, every
// core), info, and import, the way back from edited images to the game's own files.
#include <string>
#include <vector>

#include "driver/texkit.hpp"
#include "platform/console.hpp"

int main(int argc, char** argv) {
  using namespace texport;
  platform::prepare_process();
  const std::vector<std::string> words = platform::command_line(argc, argv);
  std::vector<const char*> arguments;
  for (const std::string& word : words)
    arguments.push_back(word.c_str());
  const texkit::Parsed parsed =
      texkit::parse_arguments(static_cast<int>(arguments.size()), arguments.data());
  if (parsed.status) {
    platform::write_console(
        *parsed.status == 0 ? platform::Stream::output : platform::Stream::error, parsed.said);
    return *parsed.status;
  }
  switch (parsed.arguments.command) {
    case texkit::Command::info:
      return texkit::info(parsed.arguments);
    case texkit::Command::import_images:
      return texkit::import_images(parsed.arguments);
    case texkit::Command::export_images:
      break;
  }
  return texkit::export_images(parsed.arguments);
}
