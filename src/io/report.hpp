// Messages for the user that are not part of the console output proper.
#pragma once

#include <cstdint>
#include <string_view>

namespace texport {

// Writes "texport: NAME: what" as one line to standard error.
void report_problem(std::string_view name, std::string_view what);

// A source too short for what it describes: "not converted: it has SIZE bytes, too few for
// WHAT (NEEDED needed)".
void report_too_short(std::string_view name, std::uint64_t size, std::string_view what,
                      std::uint64_t needed);

}  // namespace texport
