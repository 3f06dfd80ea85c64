// The run-length streams of both packed formats share one shape: a byte inside one contiguous
// range of values is a pair code, which takes the byte after it as its value, whatever that value
// is, and stands for a number of copies of it fixed by the code; every other byte is a literal.
//
// Two ways to read such a stream. ByteRange::find_in skips to the next pair code, exact to the
// last byte, for the ends of a stream. The block functions below read 64 bytes at a time at a cost
// that does not depend on how literals and runs alternate: every byte is classified at once (a
// value byte can itself look like a code, so each stretch of code-like bytes is split into code,
// value, code, ... by carry arithmetic on bit masks), then each piece of output is stored with one
// fixed set of 16-byte stores, whatever its kind, and the next piece overwrites what spilled over.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// For each byte value, as the first byte of a piece of output: its copies (0 for a literal), and
// the bytes from it to the literals after it (2 for a pair code, 0 for a literal).
struct PieceTable {
  std::array<std::uint8_t, 256> copies{}, skip{};

  explicit PieceTable(const PairCodes& codes) {
    for (unsigned code = codes.range.low; code <= codes.range.low + codes.range.span; ++code) {
      copies[code] = static_cast<std::uint8_t>(codes.copies(static_cast<std::uint8_t>(code)));
      skip[code] = 2;
    }
  }
};

inline constexpr std::size_t kBlockSize = 64;
// Filling a block reads up to 16 bytes from 2 bytes past its last byte, and writes up to kSpill
// bytes past its output (at most 32 codes of 31 copies), which the next pieces overwrite.
inline constexpr std::size_t kSpill = 48;
inline constexpr std::size_t kFillInput = kBlockSize + 1 + 16;
inline constexpr std::size_t kFillRoom = 32 * 31 + kSpill;

// One block, one bit a byte (bit i for byte i). The bytes that are neither are values.
struct BlockPieces {
  std::uint64_t pair_codes;
  std::uint64_t literals;
};

// Bit i set: byte i is the value of the pair code before it. `carry` (0 or 1) tells whether byte
// 0 is, and receives whether the next block's byte 0 is. In each stretch of code-like bytes the
// odd ones after its start are values, and so is the byte after a stretch of odd length: adding
// each stretch that starts on an odd bit to the stretches carries it past its end, which flips the
// parity that the even-bit pattern gives to that stretch alone.
inline std::uint64_t value_bits(std::uint64_t code_like, std::uint64_t& carry) {
  constexpr std::uint64_t kEven = 0x5555'5555'5555'5555u;
  code_like &= ~carry;
  const std::uint64_t follows_code_like = code_like << 1 | carry;
  const std::uint64_t odd_starts = code_like & ~kEven & ~follows_code_like;
  const std::uint64_t sum = odd_starts + code_like;
  carry = sum < code_like ? 1 : 0;
  return (kEven ^ (sum << 1)) & follows_code_like;
}

#ifdef TEXPORT_HAVE_SSE2
// The 64 bytes at `in` in four vectors, and which of them lie in the pair codes' range.
struct BlockVectors {
  __m128i bytes[4], code_like[4];
  std::uint64_t code_like_bits = 0;

  BlockVectors(const std::uint8_t* in, const ByteRange& range) {
    const __m128i lows = _mm_set1_epi8(static_cast<char>(range.low));
    const __m128i spans = _mm_set1_epi8(static_cast<char>(range.span));
    for (int k = 0; k < 4; ++k) {
      bytes[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * k));
      const __m128i offsets = _mm_sub_epi8(bytes[k], lows);
      code_like[k] = _mm_cmpeq_epi8(_mm_min_epu8(offsets, spans), offsets);
      code_like_bits |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(code_like[k]))}
                        << (16 * k);
    }
  }
};

// Byte j of masks[k] all ones where bit 16k + j of `bits` is set.
inline void byte_masks(std::uint64_t bits, __m128i (&masks)[4]) {
  const __m128i kBit = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&bits));
  const __m128i twice = _mm_unpacklo_epi8(bytes, bytes);      // b0 b0 b1 b1 ... b7 b7
  const __m128i low = _mm_unpacklo_epi16(twice, twice);       // b0 x4 ... b3 x4
  const __m128i high = _mm_unpackhi_epi16(twice, twice);      // b4 x4 ... b7 x4
  const __m128i spread[4] = {_mm_shuffle_epi32(low, 0x50),    // b0 x8, b1 x8
                             _mm_shuffle_epi32(low, 0xFA),    // b2 x8, b3 x8
                             _mm_shuffle_epi32(high, 0x50),   // b4 x8, b5 x8
                             _mm_shuffle_epi32(high, 0xFA)};  // b6 x8, b7 x8
  for (int k = 0; k < 4; ++k)
    masks[k] = _mm_cmpeq_epi8(_mm_and_si128(spread[k], kBit), kBit);
}
#endif

// Classifies the 64 bytes at `in` (all readable); `carry` as for value_bits.
inline BlockPieces read_block(const std::uint8_t* in, const PairCodes& codes,
                              std::uint64_t& carry) {
#ifdef TEXPORT_HAVE_SSE2
  const std::uint64_t code_like = BlockVectors(in, codes.range).code_like_bits;
#else
  std::uint64_t code_like = 0;
  for (std::size_t at = 0; at < kBlockSize; ++at)
    code_like |= std::uint64_t{codes.range.contains(in[at])} << at;
#endif
  const std::uint64_t values = value_bits(code_like, carry);
  return {code_like & ~values, ~(code_like | values)};
}

// The number of bytes the 64 bytes at `in` stand for; `carry` as for value_bits.
inline std::uint64_t block_length(const std::uint8_t* in, const PairCodes& codes,
                                  std::uint64_t& carry) {
#ifdef TEXPORT_HAVE_SSE2
  // Each byte's share, summed in bulk: a literal 1, a pair code its copies, a value 0.
  const BlockVectors block(in, codes.range);
  if ((block.code_like_bits | carry) == 0)
    return kBlockSize;  // literals alone, common enough to pay for the test
  const std::uint64_t values = value_bits(block.code_like_bits, carry);
  const __m128i biases = _mm_set1_epi8(static_cast<char>(codes.bias));
  const __m128i ones = _mm_set1_epi8(1);
  __m128i value_masks[4];
  byte_masks(values, value_masks);
  __m128i sums = _mm_setzero_si128();
  for (int k = 0; k < 4; ++k) {
    const __m128i code_like = block.code_like[k];
    const __m128i share =
        _mm_or_si128(_mm_and_si128(code_like, _mm_sub_epi8(block.bytes[k], biases)),
                     _mm_andnot_si128(code_like, ones));
    const __m128i counted = _mm_andnot_si128(value_masks[k], share);
    sums = _mm_add_epi64(sums, _mm_sad_epu8(counted, _mm_setzero_si128()));
  }
  return static_cast<std::uint64_t>(_mm_cvtsi128_si32(sums)) +
         static_cast<std::uint64_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
#else
  const BlockPieces pieces = read_block(in, codes, carry);
  std::uint64_t length = static_cast<std::uint64_t>(std::popcount(pieces.literals));
  for (std::uint64_t pair_codes = pieces.pair_codes; pair_codes != 0; pair_codes &= pair_codes - 1)
    length += codes.copies(in[std::countr_zero(pair_codes)]);
  return length;
#endif
}

// Sixteen copies of each byte value.
alignas(16) inline constexpr auto kSixteenCopies = [] {
  std::array<std::array<std::uint8_t, 16>, 256> table{};
  for (std::size_t value = 0; value < table.size(); ++value)
    table[value].fill(static_cast<std::uint8_t>(value));
  return table;
}();

// Writes what the block at `in` stands for to `out` and returns its length. `in` must have
// kFillInput bytes readable, `out` kFillRoom bytes writable.
inline std::size_t fill_block(const std::uint8_t* in, std::uint8_t* out, const BlockPieces& pieces,
                              const PieceTable& table) {
  // A piece is a pair code with the literals after it, or literals alone: those that start the
  // block or follow its value in the block before, and those cut off every 16 bytes so that one
  // store holds the literals of any piece.
  constexpr std::uint64_t kCuts = 0x0001'0001'0001'0001u;
  if (pieces.literals == ~std::uint64_t{0}) {  // literals alone, common enough to pay for the test
    std::memcpy(out, in, kBlockSize);
    return kBlockSize;
  }
  const std::uint64_t first_is_value = ~(pieces.pair_codes | pieces.literals) & 1;
  const std::uint64_t starts =
      pieces.pair_codes | (pieces.literals & (kCuts | first_is_value << 1));
  std::size_t at = 0;
  for (std::uint64_t left = starts; left != 0;) {
    const auto i = static_cast<unsigned>(std::countr_zero(left));
    left &= left - 1;
    const std::size_t copies = table.copies[in[i]];
    const std::size_t from = i + table.skip[in[i]];
    // Both kinds store the same way (they alternate unpredictably, so no branch chooses): 32
    // copies of the byte after `in + i`, then the literals from `from` after the run, or over
    // those copies when there is no run.
    const std::uint8_t* const value = kSixteenCopies[in[i + 1]].data();
    std::memcpy(out + at, value, 16);
    std::memcpy(out + at + 16, value, 16);
    std::memcpy(out + at + copies, in + from, 16);
    // The literals run to the next piece or the block's end. A pair code in the last byte, the
    // last piece, has none, but counts -1 here (`from` 65, wrapping): made good after the loop.
    at += copies + (static_cast<std::size_t>(std::countr_zero(left)) - from);
  }
  at += (pieces.pair_codes >> 63) & 1;
  return at;
}

// Fills whole blocks from `in` into `out` while `fits(in, filled)` holds for the next block (the
// bytes at `in` may be read for it, and `filled` bytes into `out` it may be written), and returns
// the bytes filled; `in` and `carry` are left at the first block not filled. Each block is
// classified while the block before is filled: its number of pieces varies, so the end of its loop
// is mispredicted, and the next block's pieces are then ready.
template <typename Fits>
std::size_t fill_blocks(const std::uint8_t*& in, const std::uint8_t* end, std::uint8_t* out,
                        const PairCodes& codes, std::uint64_t& carry, Fits fits) {
  if (!fits(in, std::size_t{0}))
    return 0;
  const PieceTable table(codes);
  std::uint64_t carry_after = carry;
  BlockPieces pieces = read_block(in, codes, carry_after);
  std::size_t filled = 0;
  for (;;) {
    const bool ahead = end - in >= static_cast<std::ptrdiff_t>(2 * kBlockSize);
    std::uint64_t carry_after_next = carry_after;
    const BlockPieces next =
        ahead ? read_block(in + kBlockSize, codes, carry_after_next) : BlockPieces{};
    filled += fill_block(in, out + filled, pieces, table);
    in += kBlockSize;
    carry = carry_after;
    if (!ahead || !fits(in, filled))
      return filled;
    pieces = next;
    carry_after = carry_after_next;
  }
}

}  // namespace texport
