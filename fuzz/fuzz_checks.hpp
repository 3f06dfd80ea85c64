// Checks shared by the fuzz targets. A failed check stops the program with std::abort, which
// libFuzzer reports as a crash and the replay programs as a failed test.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "io/bytes.hpp"

// The plain references are left out of the coverage that guides the fuzzer (clang only): only the
// code under test should steer it, and the byte loops run much faster without the tracing.
#if defined(__clang__)
#define TEXPORT_FUZZ_REFERENCE __attribute__((no_sanitize("coverage")))
#else
#define TEXPORT_FUZZ_REFERENCE
#endif

namespace texport::fuzz {

inline void check(bool holds) {
  if (!holds)
    std::abort();
}

// True when `part` lies wholly inside `whole`.
inline bool inside(ByteView part, ByteView whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

// True when `part` is exactly `length` bytes of `whole` from `offset`.
inline bool is_at(ByteView part, ByteView whole, std::size_t offset, std::size_t length) {
  return part.size() == length && part.data() == whole.data() + offset;
}

// Little-endian u16 and u32, read independently of the code under test.
inline unsigned u16_at(ByteView bytes, std::size_t offset) {
  return bytes[offset] | unsigned{bytes[offset + 1]} << 8;
}
inline std::uint32_t u32_at(ByteView bytes, std::size_t offset) {
  return u16_at(bytes, offset) | std::uint32_t{u16_at(bytes, offset + 2)} << 16;
}

}  // namespace texport::fuzz
