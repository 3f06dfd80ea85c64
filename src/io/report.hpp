// What the tool says. Standard output carries only its own console lines; everything else is one
// line on standard error: "texport: NAME: what happened".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace texport {

// The three kinds of failure, each told with its own word, and notes that are no failure.
enum class Problem {
  damaged,    // the source is malformed: "damaged: ..."
  too_large,  // the source is over a limit of ours: "too large: ..."
  cannot,     // the file system said no: "cannot open: ...", "cannot write: ..."
  note,       // anything else worth knowing
};

void report(std::string_view name, Problem problem, std::string_view what);

// How a source too short for what it holds is told: "SIZE bytes, too few for WHAT (NEEDED needed)";
// an image is "its width and height" until they are read, then "a WIDTH x HEIGHT image".
std::string too_few(std::uint64_t size, std::string_view what, std::uint64_t needed);
std::string an_image(bool size_known, std::uint16_t width, std::uint16_t height);

// One console line of the tool's own on standard output (`line` ends in "\n").
void print_line(std::string_view line);

// A name as it is shown: control bytes (below 0x20, and 0x7F) escaped as \x0a, so that no name
// can forge a line or steer the terminal; every other byte as it is.
std::string shown(std::string_view name);

}  // namespace texport
