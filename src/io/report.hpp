// How the tool's lines read. Standard output carries only its own console lines; everything else
// is one line on standard error: "PROGRAM: NAME: what happened".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/sink.hpp"

namespace texport {

// A name as it is shown: every byte that is no part of valid UTF-8, and every control character
// (C0, DEL and the C1 range U+0080 to U+009F, which 8-bit terminals obey), as \x0a, so that no
// name can forge a line or steer the terminal. Valid UTF-8 names stay as they are (墙.sfd).
std::string shown(std::string_view name);

// "damaged: what": a problem in the words of its kind.
std::string problem_text(Problem problem, std::string_view what);

// "PROGRAM: NAME: damaged: what\n", the name shown as above.
std::string report_line(std::string_view program, std::string_view name, Problem problem,
                        std::string_view what);

// "SIZE bytes, too few for WHAT (NEEDED needed)": how a source too short for what it holds is
// told.
std::string too_few(std::uint64_t size, std::string_view what, std::uint64_t needed);

// "1 source", "2 sources": a count and its noun.
std::string counted(std::uint64_t count, std::string_view noun);

// A size in bytes as people read it: "950 bytes", "1.7 kB", "3.8 GB".
std::string readable_size(std::uint64_t bytes);

}  // namespace texport
