#include <CLI/CLI.hpp>

#include <thread>

#include "driver/texkit.hpp"
#include "platform/folder.hpp"

#ifndef TEXPORT_VERSION
#define TEXPORT_VERSION "0"
#endif

namespace texport::texkit {
namespace {

void add_paths(CLI::App& command, Arguments& arguments, const char* what) {
  const CLI::Validator exists(
      [](const std::string& path) {
        return platform::kind_of_path(path) == platform::PathKind::missing
                   ? path + ": no such file or folder"
                   : std::string();
      },
      "");
  command.add_option("PATH", arguments.paths, what)->check(exists);
  command.add_flag("-r,--recursive", arguments.recursive,
                   "also the folders below, never through a link");
}

// A command's help, its usage line naming the program too ("Usage: texkit export ...").
std::string help_of(const CLI::App& command) {
  std::string help = command.help();
  const std::string usage = "Usage: " + command.get_name();
  if (command.get_parent() != nullptr)
    if (const std::size_t at = help.find(usage); at != std::string::npos)
      help.replace(at, usage.size(), "Usage: texkit " + command.get_name());
  return help;
}

std::string usage_of(const CLI::App& command) {
  const std::string help = help_of(command);
  const std::size_t start = std::min(help.find("Usage:"), help.size());
  return help.substr(start, help.find('\n', start) - start);
}

}  // namespace

Parsed parse_arguments(int argc, const char* const* argv) {
  Parsed parsed;
  Arguments& arguments = parsed.arguments;
  arguments.jobs = std::max(1u, std::thread::hardware_concurrency());
  CLI::App app(
      "texkit: legacy game textures (.sfd, .tex, .m32, .m8) to images and back, for whole "
      "archives.",
      "texkit");
  app.set_version_flag("--version", "texkit " TEXPORT_VERSION);
  app.allow_windows_style_options(false);  // "/x" is a path, on Windows too
  app.require_subcommand(1);

  CLI::App& to_images = *app.add_subcommand("export", "convert sources into images");
  add_paths(to_images, arguments, "files and folders of sources (default: the working folder)");
  to_images
      .add_option("-o,--output", arguments.output,
                  "write the images into DIR, in the folders the sources lie in below PATH")
      ->type_name("DIR");
  std::string format = "native";
  to_images
      .add_option("--format", format,
                  "native: the images the tool has always written (TIF, TGA, BMP); png: PNG")
      ->check(CLI::IsMember({"native", "png"}))
      ->capture_default_str();
  CLI::Option* templates =
      to_images
          .add_option("--templates", arguments.templates, "take the header templates from DIR")
          ->type_name("DIR");
  to_images.add_flag("--no-templates", arguments.no_templates, "always the built-in headers")
      ->excludes(templates);
  to_images.add_option("-j,--jobs", arguments.jobs, "sources converted side by side")
      ->check(CLI::Range(1u, 1024u))
      ->capture_default_str();

  CLI::App& describe = *app.add_subcommand("info", "say what each source holds; writes nothing");
  add_paths(describe, arguments, "files and folders of sources (default: the working folder)");
  describe.add_flag("--json", arguments.json, "one JSON object a source (JSON Lines)");

  CLI::App& from_images =
      *app.add_subcommand("import", "put edited images back into copies of their sources");
  add_paths(from_images, arguments, "images and folders of them (default: the working folder)");
  from_images
      .add_option("-o,--output", arguments.output, "write the sources into DIR (default: imported)")
      ->type_name("DIR");
  from_images
      .add_option(
          "--originals", arguments.originals,
          "the original sources are in DIR, in the same folders (default: beside the images)")
      ->type_name("DIR");
  CLI::Option* in_place = from_images.add_flag(
      "--in-place", arguments.in_place, "replace each original, keeping the old one as NAME.bak");
  from_images.get_option("--output")->excludes(in_place);
  from_images.add_flag("--dry-run", arguments.dry_run, "say what would be written, write nothing");
  from_images.add_flag(
      "--nearest", arguments.nearest,
      "map colours the source cannot hold to the nearest it can, and say how many");

  CLI::App* failed_in = &app;
  try {
    for (CLI::App* command : {&to_images, &describe, &from_images})
      command->preparse_callback([&failed_in, command](std::size_t) { failed_in = command; });
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    parsed.status = 0;
    parsed.said = help_of(*failed_in);
  } catch (const CLI::CallForAllHelp&) {
    parsed.status = 0;
    parsed.said = app.help("", CLI::AppFormatMode::All);
  } catch (const CLI::CallForVersion& version) {
    parsed.status = 0;
    parsed.said = std::string(version.what()) + "\n";
  } catch (const CLI::ParseError& error) {
    parsed.status = 2;
    parsed.said = "texkit: " + std::string(error.what()) + "\n" + usage_of(*failed_in) +
                  "\nRun with --help for more information.\n";
  }
  if (parsed.status)
    return parsed;
  arguments.command = describe.parsed()      ? Command::info
                      : from_images.parsed() ? Command::import_images
                                             : Command::export_images;
  arguments.png = format == "png";
  return parsed;
}

}  // namespace texport::texkit
