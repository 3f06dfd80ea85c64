#include <algorithm>
#include <functional>

#include "driver/texkit.hpp"
#include "platform/folder.hpp"

namespace texport::texkit {
namespace {

using Visit = std::function<void(const std::shared_ptr<const SourceFolder>&,
                                 const std::vector<platform::Entry>&)>;

// Visits `folder` and, with `recursive`, every folder below it.
void walk(const std::shared_ptr<const SourceFolder>& folder, bool recursive,
          const platform::Folder* skip, const Visit& visit) {
  const std::vector<platform::Entry> entries = platform::list_folder(*folder->folder);
  visit(folder, entries);
  if (!recursive)
    return;
  const std::string separator(platform::path_separator());
  for (const platform::Entry& entry : entries) {
    platform::Folder below;
    if (entry.kind != platform::EntryKind::folder ||
        (skip != nullptr && platform::same_file(*folder->folder, entry.name, *skip, ".")) ||
        platform::open_folder(*folder->folder, entry.name, below))
      continue;
    walk(std::make_shared<const SourceFolder>(SourceFolder{
             std::make_shared<const platform::Folder>(std::move(below)),
             folder->shown + entry.name + separator, folder->relative + entry.name + separator}),
         recursive, skip, visit);
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

std::string walk_paths(const std::vector<std::string>& paths, bool recursive,
                       const platform::Folder* skip,
                       const std::function<std::string(const std::string& name)>& refuse_file,
                       const Visit& visit) {
  for (const std::string& path : paths.empty() ? std::vector<std::string>{"."} : paths) {
    const platform::PathKind kind = platform::kind_of_path(path);
    if (kind == platform::PathKind::missing)
      return path + ": no such file or folder";
    const bool folder = kind == platform::PathKind::folder;
    const auto [parent, name] =
        folder ? std::pair<std::string, std::string>{path, ""} : platform::split_path(path);
    if (!folder)
      if (const std::string refusal = refuse_file(name); !refusal.empty())
        return path + ": " + refusal;
    platform::Folder opened;
    if (!parent.empty())
      if (const std::error_code error = platform::open_folder_path(parent, false, opened))
        return parent + ": cannot open: " + error.message();
    const auto at = std::make_shared<const SourceFolder>(SourceFolder{
        std::make_shared<const platform::Folder>(std::move(opened)), shown_folder("", parent), ""});
    if (folder)
      walk(at, recursive, skip, visit);
    else
      visit(at, {{name, platform::EntryKind::other}});
  }
  return "";
}

Found find_all(const std::vector<std::string>& paths, bool recursive,
               const platform::Folder* skip) {
  Found found;
  found.problem = walk_paths(
      paths, recursive, skip,
      [](const std::string& name) {
        return format_of(name) != nullptr
                   ? ""
                   : "not a source: its extension is none of .sfd, .tex, .m32, .m8";
      },
      [&](const std::shared_ptr<const SourceFolder>& folder,
          const std::vector<platform::Entry>& entries) {
        for (const Format& format : kFormats)
          for (std::string& name : platform::find_sources(entries, format.extension))
            found.sources.push_back({folder, &format, std::move(name)});
      });
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
