// The search of the working folder for the sources of one pass.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace texport::platform {

// Names in the working folder that end in `extension` (".sfd"), letter case aside, and are not
// folders, sorted by name with ASCII letter case folded (ties in byte order) so that runs repeat.
// The folder is listed once, when this is called. Names are UTF-8.
std::vector<std::string> find_sources(std::string_view extension);

}  // namespace texport::platform
