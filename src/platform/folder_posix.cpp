#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>
#include <utility>

#include "platform/folder.hpp"

namespace texport::platform {

bool is_plain_name(std::string_view name) {
  return name.find('/') == std::string_view::npos;
}

std::string_view path_separator() {
  return "/";
}

PathKind kind_of_path(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return PathKind::missing;
  return S_ISDIR(info.st_mode) ? PathKind::folder : PathKind::other;
}

std::pair<std::string, std::string> split_path(const std::string& path) {
  const std::size_t last = path.rfind('/');
  if (last == std::string::npos)
    return {"", path};
  return {path.substr(0, last == 0 ? 1 : last), path.substr(last + 1)};
}

std::vector<Entry> list_folder(const Folder& folder) {
  std::vector<Entry> entries;
  // A descriptor of its own for the listing: closedir closes it, the folder keeps its own.
  const int descriptor = folder.descriptor() < 0 ? AT_FDCWD : folder.descriptor();
  const int listing = ::openat(descriptor, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* const stream = listing < 0 ? nullptr : ::fdopendir(listing);
  if (stream == nullptr) {
    if (listing >= 0)
      ::close(listing);
    return entries;
  }
  while (const dirent* entry = ::readdir(stream)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    EntryKind kind = EntryKind::other;
    if (entry->d_type == DT_DIR) {
      kind = EntryKind::folder;
    } else if (entry->d_type != DT_REG) {
      // A link, or a file system that does not say: look, first at the entry, then where a
      // link leads.
      struct stat info {};
      if (::fstatat(descriptor, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(info.st_mode))
          kind = EntryKind::folder;
        else if (S_ISLNK(info.st_mode) && ::fstatat(descriptor, entry->d_name, &info, 0) == 0 &&
                 S_ISDIR(info.st_mode))
          kind = EntryKind::folder_link;
      }
    }
    entries.push_back({std::string(name), kind});
  }
  ::closedir(stream);
  std::vector<std::pair<std::string, Entry>> keyed;
  for (Entry& entry : entries)
    keyed.emplace_back(folded(entry.name), std::move(entry));
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first, a.second.name) < std::tie(b.first, b.second.name);
  });
  for (std::size_t i = 0; i < keyed.size(); ++i)
    entries[i] = std::move(keyed[i].second);
  return entries;
}

}  // namespace texport::platform
