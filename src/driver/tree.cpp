#include <algorithm>
#include <cctype>

#include "driver/texkit.hpp"
#include "platform/folder.hpp"

namespace texport::texkit {
namespace {

// Adds the sources of `folder` and, with `recursive`, of every folder below it.
void walk(const std::shared_ptr<const SourceFolder>& folder, bool recursive,
          const platform::Folder* skip, Found& found) {
  const std::vector<platform::Entry> entries = platform::list_folder(*folder->folder);
  for (const Format& format : kFormats)
    for (std::string& name : platform::find_sources(entries, format.extension))
      found.sources.push_back({folder, &format, std::move(name)});
  if (!recursive)
    return;
  for (const platform::Entry& entry : entries) {
    platform::Folder below;
    if (entry.kind != platform::EntryKind::folder ||
        (skip != nullptr && platform::same_file(*folder->folder, entry.name, *skip, ".")) ||
        platform::open_folder(*folder->folder, entry.name, below))
      continue;
    const std::string separator(platform::path_separator());
    walk(std::make_shared<const SourceFolder>(SourceFolder{
             std::make_shared<const platform::Folder>(std::move(below)),
             folder->shown + entry.name + separator, folder->relative + entry.name + separator}),
         recursive, skip, found);
  }
}

}  // namespace

std::string shown_folder(const std::string& parent_shown, const std::string& name) {
  if (name.empty() || name == ".")
    return parent_shown;
  const std::string separator(platform::path_separator());
  std::string shown = parent_shown + name;
  if (!shown.ends_with(separator) && !shown.ends_with("/"))
    shown += separator;
  return shown;
}

Found find_all(const std::vector<std::string>& paths, bool recursive,
               const platform::Folder* skip) {
  Found found;
  for (const std::string& path : paths.empty() ? std::vector<std::string>{"."} : paths) {
    const platform::PathKind kind = platform::kind_of_path(path);
    if (kind == platform::PathKind::missing) {
      found.problem = path + ": no such file or folder";
      return found;
    }
    const auto [parent, name] = kind == platform::PathKind::folder
                                    ? std::pair<std::string, std::string>{path, ""}
                                    : platform::split_path(path);
    const Format* format = kind == platform::PathKind::folder ? nullptr : format_of(name);
    if (kind != platform::PathKind::folder && format == nullptr) {
      found.problem = path + ": not a source: its extension is none of .sfd, .tex, .m32, .m8";
      return found;
    }
    platform::Folder opened;
    if (!parent.empty())
      if (const std::error_code error = platform::open_folder_path(parent, false, opened)) {
        found.problem = parent + ": cannot open: " + error.message();
        return found;
      }
    const auto folder = std::make_shared<const SourceFolder>(SourceFolder{
        std::make_shared<const platform::Folder>(std::move(opened)), shown_folder("", parent), ""});
    if (format != nullptr)
      found.sources.push_back({folder, format, name});
    else
      walk(folder, recursive, skip, found);
  }
  return found;
}

std::string collision_key(const Format& format, const std::string& name) {
  std::string key = platform::folded(name);
  if (format.extension != ".tex")
    return key;
  // A texture's image is named by its stem, which may be another source's name, or a frame
  // container's name and a frame number.
  key.resize(key.size() - std::min(key.size(), format.extension.size()));
  const std::size_t digits = key.find_last_not_of("0123456789");
  if (digits != std::string::npos && digits + 1 < key.size() &&
      key.substr(0, digits + 1).ends_with(".sfd"))
    key.resize(digits + 1);
  return key;
}

}  // namespace texport::texkit
