#include <io.h>

#include "platform/folder.hpp"
#include "platform/wide.hpp"

namespace texport::platform {

bool is_plain_name(std::string_view name) {
  return name.find_first_of("\\/:") == std::string_view::npos;
}

std::string_view path_separator() {
  return "\\";
}

PathKind kind_of_path(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(to_wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return PathKind::missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::folder : PathKind::other;
}

std::pair<std::string, std::string> split_path(const std::string& path) {
  const std::size_t last = path.find_last_of("\\/:");
  if (last == std::string::npos)
    return {"", path};
  // "C:\a.sfd" and "C:a.sfd" keep what names the drive's folder.
  const bool keep = last == 0 || path[last] == ':' || (last == 2 && path[1] == ':');
  return {path.substr(0, keep ? last + 1 : last), path.substr(last + 1)};
}

std::vector<Entry> list_folder(const Folder& folder) {
  std::vector<Entry> entries;
  _wfinddata64i32_t record{};
  const std::wstring pattern = folder.path() + L"*";
  const std::intptr_t search = _wfindfirst64i32(pattern.c_str(), &record);
  for (int found = search == -1 ? -1 : 0; found == 0; found = _wfindnext64i32(search, &record)) {
    const std::wstring name = record.name;
    if (name == L"." || name == L"..")
      continue;
    // A folder that is a reparse point (a link or junction) is never followed into.
    const bool is_folder = (record.attrib & _A_SUBDIR) != 0;
    const bool is_link = is_folder && (GetFileAttributesW((folder.path() + name).c_str()) &
                                       FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries.push_back({to_utf8(name), is_link     ? EntryKind::folder_link
                                      : is_folder ? EntryKind::folder
                                                  : EntryKind::other});
  }
  if (search != -1)
    _findclose(search);
  return entries;
}

}  // namespace texport::platform
