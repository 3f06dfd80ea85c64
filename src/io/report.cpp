#include "io/report.hpp"

#include <iostream>
#include <string>

namespace texport {

void report_problem(std::string_view name, std::string_view what) {
  std::string line = "texport: ";
  line.append(name).append(": ").append(what).push_back('\n');
  std::cerr << line << std::flush;
}

}  // namespace texport
