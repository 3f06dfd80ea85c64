#include "platform/folder.hpp"

#include <algorithm>

#ifdef _WIN32
#include <io.h>

#include "platform/files.hpp"
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace texport::platform {
namespace {

char fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A source's own name ends in the extension: the Windows search by pattern also matches names
// whose short 8.3 form does (x.sfdx), and those are no sources.
bool ends_in(std::string_view name, std::string_view extension) {
  return name.size() >= extension.size() &&
         std::equal(extension.begin(), extension.end(), name.end() - extension.size(),
                    [](char a, char b) { return fold(a) == fold(b); });
}

}  // namespace

std::vector<std::string> find_sources(std::string_view extension) {
  std::vector<std::string> names;
#ifdef _WIN32
  _wfinddata64i32_t record{};
  const std::wstring pattern = L"*" + to_wide(std::string(extension));
  const std::intptr_t search = _wfindfirst64i32(pattern.c_str(), &record);
  for (int found = search == -1 ? -1 : 0; found == 0; found = _wfindnext64i32(search, &record)) {
    std::string name = to_utf8(record.name);
    if ((record.attrib & _A_SUBDIR) == 0 && ends_in(name, extension))
      names.push_back(std::move(name));
  }
  if (search != -1)
    _findclose(search);
#else
  if (DIR* folder = ::opendir(".")) {
    while (const dirent* entry = ::readdir(folder)) {
      // Anything but a folder is handed on, so that a FIFO or a broken link gets its line.
      struct stat info {};
      if (ends_in(entry->d_name, extension) && entry->d_type != DT_DIR &&
          (entry->d_type == DT_REG || ::stat(entry->d_name, &info) != 0 || !S_ISDIR(info.st_mode)))
        names.emplace_back(entry->d_name);
    }
    ::closedir(folder);
  }
#endif
  const auto folded = [](std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), fold);
    return name;
  };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    return std::pair(folded(a), a) < std::pair(folded(b), b);
  });
  return names;
}

}  // namespace texport::platform
