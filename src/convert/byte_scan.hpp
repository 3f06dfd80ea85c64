// Finding the next run code (or escape) of a run-length stream: both packed formats keep them to
// one contiguous range of byte values. Literal stretches are the common case, so they are skipped
// sixteen bytes at a time where the processor has SSE2 (every x86-64 processor does).
#pragma once

#include <bit>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define TEXPORT_HAVE_SSE2 1
#endif

namespace texport {

// Bytes b with low <= b <= low + span (no 8-bit wrap: low + span <= 255).
struct ByteRange {
  std::uint8_t low;
  std::uint8_t span;

  bool contains(std::uint8_t byte) const { return static_cast<std::uint8_t>(byte - low) <= span; }

  // The first byte in [from, end) inside the range, or end.
  const std::uint8_t* find_in(const std::uint8_t* from, const std::uint8_t* end) const {
    if (from != end && contains(*from))
      return from;  // run codes often follow each other
#ifdef TEXPORT_HAVE_SSE2
    const __m128i lows = _mm_set1_epi8(static_cast<char>(low));
    const __m128i spans = _mm_set1_epi8(static_cast<char>(span));
    while (end - from >= 16) {
      const __m128i offsets =
          _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)), lows);
      const __m128i inside = _mm_cmpeq_epi8(_mm_min_epu8(offsets, spans), offsets);
      if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(inside)); mask != 0)
        return from + std::countr_zero(mask);
      from += 16;
    }
#endif
    while (from != end && !contains(*from))
      ++from;
    return from;
  }
};

}  // namespace texport
