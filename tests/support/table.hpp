// Table-driven tests: each row is named after what it shows, and gtest names its test so.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "io/bytes.hpp"
#include "support/memory_sink.hpp"

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
  std::string test_name = name;
  for (char& c : test_name)
    if (!std::isalnum(static_cast<unsigned char>(c)))
      c = '_';
  return test_name;
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

// What converting one source gives: the converter's console lines, every image written, whole,
// and whether it met a problem; and the sink it met.
struct Conversion {
  std::string source_name;
  std::string out, err;
  std::vector<std::pair<std::string, Bytes>> images;
  bool room = true;                    // the sink finds room for the images
  std::size_t writes_left = SIZE_MAX;  // then the disk is full
};

// Converts the row's source into a memory sink and compares what it gives.
template <typename Convert>
void expect_conversion(Convert convert, const Row<Conversion>& row) {
  const Conversion& want = row.want;
  MemorySink memory;
  memory.room = want.room;
  memory.writes_left = want.writes_left;
  const bool clean = convert(row.source, want.source_name, memory.sink());
  EXPECT_EQ(memory.out, want.out);
  EXPECT_EQ(memory.err, want.err);
  EXPECT_EQ(clean, want.err.empty() && want.room);
  EXPECT_EQ(memory.images, (std::map<std::string, Bytes>(want.images.begin(), want.images.end())));
  // Every image written was among those the sink was told of first.
  for (const auto& [name, bytes] : memory.images)
    EXPECT_NE(std::find(memory.planned.begin(), memory.planned.end(), name), memory.planned.end());
}

}  // namespace testing
}  // namespace texport
