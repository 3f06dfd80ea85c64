#include "io/report.hpp"

#include <cstdio>

namespace texport {
namespace {

// The length of the valid UTF-8 sequence starting at `at` (overlong forms, surrogates and code
// points past U+10FFFF are not valid), or 0.
std::size_t utf8_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(at);
  if (lead < 0x80)
    return 1;
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || text.size() - at < length)
    return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((byte(at + i) & 0xC0) != 0x80)
      return 0;
  const unsigned second = byte(at + 1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
    return 0;
  return length;
}

}  // namespace

std::string shown(std::string_view name) {
  std::string text;
  for (std::size_t at = 0; at < name.size();) {
    std::size_t length = utf8_length(name, at);
    const auto lead = static_cast<unsigned char>(name[at]);
    // C0 controls and DEL are one byte; the C1 controls are C2 80 to C2 9F.
    const bool control =
        lead < 0x20 || lead == 0x7F ||
        (length == 2 && lead == 0xC2 && static_cast<unsigned char>(name[at + 1]) < 0xA0);
    if (length != 0 && !control) {
      text.append(name.substr(at, length));
    } else {
      length = length == 0 ? 1 : length;
      for (std::size_t i = 0; i < length; ++i) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(name[at + i]));
        text.append(escaped);
      }
    }
    at += length;
  }
  return text;
}

std::string problem_text(Problem problem, std::string_view what) {
  static constexpr std::string_view kWords[] = {"damaged: ", "too large: ", "cannot ",
                                                "unsupported: ", ""};
  return std::string(kWords[static_cast<int>(problem)]) + std::string(what);
}

std::string report_line(std::string_view program, std::string_view name, Problem problem,
                        std::string_view what) {
  return std::string(program) + ": " + shown(name) + ": " + problem_text(problem, what) + "\n";
}

std::string too_few(std::uint64_t size, std::string_view what, std::uint64_t needed) {
  return std::to_string(size) + " bytes, too few for " + std::string(what) + " (" +
         std::to_string(needed) + " needed)";
}

std::string counted(std::uint64_t count, std::string_view noun) {
  std::string text = std::to_string(count) + " " + std::string(noun);
  if (count != 1)
    text.push_back('s');
  return text;
}

std::string readable_size(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  if (bytes < 1000)
    return counted(bytes, "byte");
  double value = static_cast<double>(bytes) / 1000;
  std::size_t unit = 0;
  for (; value >= 999.95 && unit + 1 < std::size(kUnits); ++unit)
    value /= 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace texport
