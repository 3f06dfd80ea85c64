// Messages for the user that are not part of the console output proper.
#pragma once

#include <string_view>

namespace texport {

// Writes "texport: NAME: what" as one line to standard error.
void report_problem(std::string_view name, std::string_view what);

}  // namespace texport
