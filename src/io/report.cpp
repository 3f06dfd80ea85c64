#include "io/report.hpp"

#include <iostream>
#include <string>

namespace texport {

void report_problem(std::string_view name, std::string_view what) {
  std::string line = "texport: ";
  line.append(name).append(": ").append(what).push_back('\n');
  std::cerr << line << std::flush;
}

void report_too_short(std::string_view name, std::uint64_t size, std::string_view what,
                      std::uint64_t needed) {
  std::string text = "not converted: it has " + std::to_string(size) + " bytes, too few for ";
  text.append(what).append(" (").append(std::to_string(needed)).append(" needed)");
  report_problem(name, text);
}

}  // namespace texport
