#include "io/report.hpp"

#include <cstdio>

#include "platform/console.hpp"

namespace texport {

std::string shown(std::string_view name) {
  std::string text;
  for (const char c : name) {
    char escaped[5] = {c, '\0'};
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
    text.append(escaped);
  }
  return text;
}

void report(std::string_view name, Problem problem, std::string_view what) {
  static constexpr std::string_view kWords[] = {"damaged: ", "too large: ", "cannot ", ""};
  std::string line = "texport: " + shown(name) + ": ";
  line.append(kWords[static_cast<int>(problem)]).append(what).push_back('\n');
  platform::write_console(platform::Stream::error, line);
}

std::string too_few(std::uint64_t size, std::string_view what, std::uint64_t needed) {
  return std::to_string(size) + " bytes, too few for " + std::string(what) + " (" +
         std::to_string(needed) + " needed)";
}

std::string an_image(bool size_known, std::uint16_t width, std::uint16_t height) {
  return size_known ? "a " + std::to_string(width) + " x " + std::to_string(height) + " image"
                    : "its width and height";
}

void print_line(std::string_view line) {
  // A closed standard output (texport | true) ends nothing: said once, and the run goes on.
  static bool failed = false;
  if (const std::error_code error = platform::write_console(platform::Stream::output, line);
      error && !failed) {
    failed = true;
    report("standard output", Problem::cannot, "write: " + error.message());
  }
}

}  // namespace texport
