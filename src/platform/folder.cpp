#include "platform/folder.hpp"

#include <algorithm>

namespace texport::platform {

std::string folded(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool has_extension(std::string_view name, std::string_view extension) {
  return name.size() >= extension.size() &&
         folded(name.substr(name.size() - extension.size())) == folded(extension);
}

std::vector<std::string> find_sources(const std::vector<Entry>& entries,
                                      std::string_view extension) {
  std::vector<std::string> names;
  // A source's own name ends in the extension: the Windows search by pattern would also match
  // names whose short 8.3 form does (x.sfdx), and those are no sources.
  for (const Entry& entry : entries)
    if (entry.kind != EntryKind::folder && entry.kind != EntryKind::folder_link &&
        has_extension(entry.name, extension))
      names.push_back(entry.name);
  return names;
}

}  // namespace texport::platform
