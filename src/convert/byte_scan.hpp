// The run-length streams of both packed formats share one shape: a byte inside one contiguous
// range of values is a pair code, which takes the byte after it as its value, whatever that value
// is, and stands for a number of copies of it fixed by the code; every other byte is a literal.
//
// Two ways to read such a stream. ByteRange::find_in skips to the next pair code, exact to the
// last byte, for the ends of a stream. The block functions read 64 bytes at a time: every byte is
// classified at once (a value byte can itself look like a code, so each stretch of code-like bytes
// is split into code, value, code, ... by carry arithmetic on bit masks), with no branch on any one
// byte, and the output is stored with wide stores, each overwriting what the one before spilled.
// Their form is chosen at run time (byte_scan.cpp).
#pragma once

#include <bit>
#include <cstddef>
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

// The pair codes of one stream: code c stands for (c - bias) mod 256 copies of its value, 1 to 31.
struct PairCodes {
  ByteRange range;
  std::uint8_t bias;

  std::size_t copies(std::uint8_t code) const { return static_cast<std::uint8_t>(code - bias); }
};

inline constexpr std::size_t kBlockSize = 64;
// Filling a block reads up to 16 bytes from 2 bytes past its last byte, and writes up to kSpill
// bytes past its output (at most 32 codes of 31 copies), which the next pieces overwrite.
inline constexpr std::size_t kSpill = 64;
inline constexpr std::size_t kFillInput = kBlockSize + 1 + 16;
inline constexpr std::size_t kFillRoom = 32 * 31 + kSpill;

// Fills whole blocks from `in` into `out` while `input_margin` bytes (kFillInput at least) are
// left at `in` for the next block and kFillRoom bytes of `room` after what was filled, and returns
// the bytes filled; `in` and `carry` are left at the first block not filled. `carry` (0 or 1)
// tells whether the byte at `in` is the value of a pair code before it.
std::size_t fill_blocks(const std::uint8_t*& in, const std::uint8_t* end, std::uint8_t* out,
                        std::uint64_t room, const PairCodes& codes, std::uint64_t& carry,
                        std::size_t input_margin);

// Adds up what whole blocks from `in` stand for while more than a block is left at `in` (a pair
// code in a block's last byte has its value) and the sum stays within `limit`, and returns the
// sum; `in` and `carry` as for fill_blocks.
std::uint64_t count_blocks(const std::uint8_t*& in, const std::uint8_t* end, const PairCodes& codes,
                           std::uint64_t& carry, std::uint64_t limit);

}  // namespace texport
