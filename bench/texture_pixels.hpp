// Pixels like those of real textures, for the benchmarks: runs of 2 to 11 between stretches of 1 to
// 7 literals. Each literal differs from the byte before it and each run from the last literal, so
// that an encoder keeps those lengths.
#pragma once

#include <cstdint>
#include <random>

#include "io/bytes.hpp"

namespace texport::bench {

inline Bytes texture_pixels(std::size_t count, std::uint32_t seed) {
  std::mt19937 random(seed);
  const auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  Bytes out(count);
  std::uint8_t last = 0;
  for (std::size_t at = 0; at < count;) {
    for (unsigned n = 1 + below(7); n != 0 && at < count; --n)
      out[at++] = last = static_cast<std::uint8_t>(last + 1 + below(255));
    const auto value = static_cast<std::uint8_t>(last + 1 + below(255));
    for (unsigned n = 2 + below(10); n != 0 && at < count; --n)
      out[at++] = last = value;
  }
  return out;
}

}  // namespace texport::bench
