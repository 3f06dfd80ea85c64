// Table-driven tests: each row is named after what it shows, and gtest names its test so.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <regex>
#include <string>
#include <utility>

#include "io/bytes.hpp"

namespace texport {

// `front` followed by `back`: sources written as a sum of their parts.
inline Bytes operator+(Bytes front, const Bytes& back) {
  front.insert(front.end(), back.begin(), back.end());
  return front;
}

namespace testing {

template <typename Want>
struct Row {
  const char* name;
  Bytes source;
  Want want;
  friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

// A row's test name: its name with every character but letters and digits made '_'.
inline std::string row_name(const char* name) {
  return std::regex_replace(name, std::regex("[^A-Za-z0-9]"), "_");
}
#define TEXPORT_ROWS(Suite, rows)                                                         \
  INSTANTIATE_TEST_SUITE_P(Rows, Suite, ::testing::ValuesIn(rows), [](const auto& info) { \
    return ::texport::testing::row_name(info.param.name);                                 \
  })

// `base` grown with 0xEE bytes to hold each piece at its offset.
inline Bytes file_of(std::initializer_list<std::pair<std::size_t, Bytes>> pieces, Bytes base = {}) {
  for (const auto& [offset, bytes] : pieces) {
    base.resize(std::max(base.size(), offset + bytes.size()), 0xEE);
    std::copy(bytes.begin(), bytes.end(), base.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  return base;
}

}  // namespace testing
}  // namespace texport
