// The block functions in three forms, one chosen at run time: the portable one (SSE2 where the
// target has it), a step for each piece of output; on processors with AVX-512 VBMI2, one that
// drops a block's value bytes and packs what the others stand for into one vector with a single
// instruction, then needs a step for each run alone; and on processors with AVX2, one that packs
// the same way with shuffles chosen from a table, 16 bytes at a time, then a step for each run.
#include "convert/byte_scan.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

// (Neither wide form on Windows: MinGW-w64's compiler does not align the stack for spilled 32- and
// 64-byte vectors.)
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#include <immintrin.h>
#ifndef TEXPORT_NO_AVX512
#define TEXPORT_HAVE_AVX512 1
#define TEXPORT_AVX512_TARGET \
  __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")))
#endif
#ifndef TEXPORT_NO_AVX2
#define TEXPORT_HAVE_AVX2 1
#define TEXPORT_AVX2_TARGET __attribute__((target("avx2,bmi,bmi2,popcnt")))
#endif
#endif

#if defined(__GNUC__) || defined(__clang__)
#define TEXPORT_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#define TEXPORT_ALWAYS_INLINE inline
#endif

namespace texport {
namespace {

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
std::uint64_t value_bits(std::uint64_t code_like, std::uint64_t& carry) {
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
void byte_masks(std::uint64_t bits, __m128i (&masks)[4]) {
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
BlockPieces read_block(const std::uint8_t* in, const PairCodes& codes, std::uint64_t& carry) {
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
std::uint64_t block_length(const std::uint8_t* in, const PairCodes& codes, std::uint64_t& carry) {
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
alignas(16) constexpr auto kSixteenCopies = [] {
  std::array<std::array<std::uint8_t, 16>, 256> table{};
  for (std::size_t value = 0; value < table.size(); ++value)
    table[value].fill(static_cast<std::uint8_t>(value));
  return table;
}();

// Writes what the block at `in` stands for to `out` and returns its length. `in` must have
// kFillInput bytes readable, `out` kFillRoom bytes writable.
std::size_t fill_block(const std::uint8_t* in, std::uint8_t* out, const BlockPieces& pieces,
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

// Where whole blocks stop: at the first whose input is short of `input_margin` bytes, or whose
// output may outgrow the room.
struct BlockLimits {
  const std::uint8_t* end;
  std::uint64_t room;
  std::size_t input_margin;

  bool input_at(const std::uint8_t* from) const {
    return static_cast<std::size_t>(end - from) >= input_margin;
  }
  bool room_after(std::size_t filled) const { return room - filled >= kFillRoom; }
};

// Fills whole blocks from `in`, each read (`read(in, carry)` gives its pieces) while the block
// before is filled (`fill(in, out, pieces)` gives its length): the number of pieces varies, so the
// end of a fill's loop is mispredicted, and the next block's pieces are then ready. Inlined into
// each form, so that the form's instruction set reaches its steps.
template <typename Read, typename Fill>
TEXPORT_ALWAYS_INLINE std::size_t fill_ahead(const std::uint8_t*& in, std::uint8_t* out,
                                             std::uint64_t& carry, const BlockLimits& limits,
                                             Read read, Fill fill) {
  std::uint64_t carry_after = carry;
  auto pieces = read(in, carry_after);
  std::size_t filled = 0;
  for (;;) {
    const bool ahead = limits.input_at(in + kBlockSize);
    std::uint64_t carry_after_next = carry_after;
    const auto next = ahead ? read(in + kBlockSize, carry_after_next) : pieces;
    filled += fill(in, out + filled, pieces);
    in += kBlockSize;
    carry = carry_after;
    if (!ahead || !limits.room_after(filled))
      return filled;
    pieces = next;
    carry_after = carry_after_next;
  }
}

// Adds up whole blocks from `in` (`length(in, carry)` gives one block's) while more than a block
// is left and the sum stays within `limit`.
template <typename Length>
TEXPORT_ALWAYS_INLINE std::uint64_t count_while(const std::uint8_t*& in, const std::uint8_t* end,
                                                std::uint64_t& carry, std::uint64_t limit,
                                                Length length) {
  std::uint64_t sum = 0;
  for (; end - in > static_cast<std::ptrdiff_t>(kBlockSize); in += kBlockSize) {
    std::uint64_t carry_after = carry;
    const std::uint64_t block = length(in, carry_after);
    if (block > limit - sum)
      break;
    sum += block;
    carry = carry_after;
  }
  return sum;
}

std::size_t fill_blocks_portable(const std::uint8_t*& in, std::uint8_t* out, const PairCodes& codes,
                                 std::uint64_t& carry, const BlockLimits& limits) {
  const PieceTable table(codes);
  return fill_ahead(
      in, out, carry, limits,
      [&](const std::uint8_t* from, std::uint64_t& carry_in) {
        return read_block(from, codes, carry_in);
      },
      [&](const std::uint8_t* from, std::uint8_t* to, const BlockPieces& pieces) {
        return fill_block(from, to, pieces, table);
      });
}

#ifdef TEXPORT_HAVE_AVX512
// (The masked forms of some instructions below take every lane: the plain ones start from an
// undefined vector, which GCC 12 warns of.)

// Lane i of the result is lane index[i] of `bytes`.
TEXPORT_AVX512_TARGET __m512i permuted(__m512i index, __m512i bytes) {
  return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, bytes);
}

// The sum of the 64 bytes.
TEXPORT_AVX512_TARGET std::uint64_t sum_of(__m512i bytes) {
  const __m512i sums = _mm512_sad_epu8(bytes, _mm512_setzero_si512());
  const __m256i half = _mm256_add_epi64(_mm512_maskz_extracti64x4_epi64(0xFF, sums, 0),
                                        _mm512_maskz_extracti64x4_epi64(0xFF, sums, 1));
  const __m128i quarter =
      _mm_add_epi64(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1));
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(quarter)) +
         static_cast<std::uint64_t>(_mm_extract_epi64(quarter, 1));
}

// The 64 bytes at `in`, which of them lie in the pair codes' range, and, from those and `carry`
// (as for value_bits), which are values.
struct WideBlock {
  __m512i bytes;
  std::uint64_t code_like, values;

  TEXPORT_AVX512_TARGET WideBlock(const std::uint8_t* in, const ByteRange& range,
                                  std::uint64_t& carry)
      : bytes(_mm512_loadu_si512(in)),
        code_like(_mm512_cmple_epu8_mask(
            _mm512_sub_epi8(bytes, _mm512_set1_epi8(static_cast<char>(range.low))),
            _mm512_set1_epi8(static_cast<char>(range.span)))),
        values(value_bits(code_like, carry)) {}

  // What each byte stands for in number of bytes: a literal 1, a pair code its copies, a value 0.
  TEXPORT_AVX512_TARGET __m512i lengths(const PairCodes& codes) const {
    return _mm512_maskz_mov_epi8(
        ~values, _mm512_mask_sub_epi8(_mm512_set1_epi8(1), code_like, bytes,
                                      _mm512_set1_epi8(static_cast<char>(codes.bias))));
  }
};

// The bytes of a block that a value does not drop, each standing for itself or, as a pair code,
// for its value byte, packed into one vector, and what each stands for in number of bytes.
struct WidePieces {
  __m512i packed, lengths;  // lanes past `count` 0
  std::uint64_t runs;       // bit i: packed byte i is a run, a pair code of 2 copies or more
  std::size_t count;

  // From the block at `in`, 65 bytes readable; `carry` as for value_bits.
  TEXPORT_AVX512_TARGET WidePieces(const std::uint8_t* in, const PairCodes& codes,
                                   std::uint64_t& carry) {
    const WideBlock block(in, codes.range, carry);
    const std::uint64_t kept = ~block.values;
    const __m512i stands_for =
        _mm512_mask_mov_epi8(block.bytes, block.code_like & kept, _mm512_loadu_si512(in + 1));
    packed = _mm512_maskz_compress_epi8(kept, stands_for);
    lengths = _mm512_maskz_compress_epi8(kept, block.lengths(codes));
    runs = _mm512_cmpgt_epu8_mask(lengths, _mm512_set1_epi8(1));
    count = static_cast<std::size_t>(_mm_popcnt_u64(kept));
  }
};

// Writes what a block stands for to `out`, kFillRoom bytes writable, and returns its length: the
// packed bytes stored once, then over them, from each run on (and from packed byte 32, so that no
// piece outgrows one store), 64 bytes: the run's copies, then the packed bytes after it. Each
// store overwrites what the one before spilled.
TEXPORT_AVX512_TARGET std::size_t fill_block_wide(std::uint8_t* out, const WidePieces& pieces) {
  _mm512_storeu_si512(out, pieces.packed);
  std::uint64_t starts = pieces.runs | std::uint64_t{pieces.runs != 0 && pieces.count > 32} << 32;
  const __m512i following = _mm512_set_epi8(
      64, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42,
      41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19,
      18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  std::size_t added = 0;  // bytes that the runs before add to the packed bytes
  while (starts != 0) {
    const auto start = static_cast<std::size_t>(_tzcnt_u64(starts));
    starts = _blsr_u64(starts);
    const __m512i index = _mm512_set1_epi8(static_cast<char>(start));
    const __m512i copies = permuted(index, pieces.lengths);
    // Lane i takes packed byte start + (i + 1 - copies, or 0 where that is negative).
    _mm512_storeu_si512(
        out + start + added,
        permuted(_mm512_add_epi8(index, _mm512_subs_epu8(following, copies)), pieces.packed));
    added += static_cast<std::size_t>(_mm512_cvtsi512_si32(copies) & 0xFF) - 1;
  }
  return pieces.count + added;
}

TEXPORT_AVX512_TARGET std::size_t fill_blocks_wide(const std::uint8_t*& in, std::uint8_t* out,
                                                   const PairCodes& codes, std::uint64_t& carry,
                                                   const BlockLimits& limits) {
  return fill_ahead(
      in, out, carry, limits,
      [&](const std::uint8_t* from, std::uint64_t& carry_in)
          TEXPORT_AVX512_TARGET { return WidePieces(from, codes, carry_in); },
      [&](const std::uint8_t*, std::uint8_t* to, const WidePieces& pieces)
          TEXPORT_AVX512_TARGET { return fill_block_wide(to, pieces); });
}

TEXPORT_AVX512_TARGET std::uint64_t count_blocks_wide(const std::uint8_t*& in,
                                                      const std::uint8_t* end,
                                                      const PairCodes& codes, std::uint64_t& carry,
                                                      std::uint64_t limit) {
  return count_while(in, end, carry, limit,
                     [&](const std::uint8_t* from, std::uint64_t& carry_in) TEXPORT_AVX512_TARGET {
                       return sum_of(WideBlock(from, codes.range, carry_in).lengths(codes));
                     });
}

bool have_avx512() {
  // Each feature TEXPORT_AVX512_TARGET names.
  static const bool have = __builtin_cpu_supports("avx512f") &&
                           __builtin_cpu_supports("avx512bw") &&
                           __builtin_cpu_supports("avx512vbmi") &&
                           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi") &&
                           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
  return have;
}
#endif

#ifdef TEXPORT_HAVE_AVX2
// For each 8 bits, the places of those set, in order, then 0s.
alignas(8) constexpr auto kPackOrder = [] {
  std::array<std::array<std::uint8_t, 8>, 256> table{};
  for (std::size_t bits = 0; bits < table.size(); ++bits) {
    std::size_t count = 0;
    for (std::uint8_t place = 0; place < 8; ++place)
      if ((bits >> place & 1) != 0)
        table[bits][count++] = place;
  }
  return table;
}();

// For each k from 0 to 8, a shuffle that moves bytes k places up, 0s below.
alignas(16) constexpr auto kMoveUp = [] {
  std::array<std::array<std::uint8_t, 16>, 9> table{};
  for (std::size_t k = 0; k < table.size(); ++k)
    for (std::size_t lane = 0; lane < 16; ++lane)
      table[k][lane] = lane < k ? 0x80 : static_cast<std::uint8_t>(lane - k);
  return table;
}();

// Lanes 0 to 31.
alignas(32) constexpr auto kLanes = [] {
  std::array<std::uint8_t, 32> lanes{};
  for (std::size_t lane = 0; lane < lanes.size(); ++lane)
    lanes[lane] = static_cast<std::uint8_t>(lane);
  return lanes;
}();

TEXPORT_ALWAYS_INLINE TEXPORT_AVX2_TARGET __m256i load(const std::uint8_t* from) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
}

TEXPORT_ALWAYS_INLINE TEXPORT_AVX2_TARGET void store(std::uint8_t* to, __m256i bytes) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), bytes);
}

// Bit i: byte i of the 32 lies in the range; and byte i all ones where it does.
struct InRange {
  __m256i lanes;
  std::uint32_t bits;

  TEXPORT_AVX2_TARGET InRange(__m256i bytes, const ByteRange& range) {
    const __m256i offsets = _mm256_sub_epi8(bytes, _mm256_set1_epi8(static_cast<char>(range.low)));
    lanes = _mm256_cmpeq_epi8(
        _mm256_min_epu8(offsets, _mm256_set1_epi8(static_cast<char>(range.span))), offsets);
    bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(lanes));
  }
};

// The 64 bytes at `in` in two halves, and which of them lie in the pair codes' range.
struct Avx2Block {
  __m256i halves[2];
  InRange code_like[2];
  std::uint64_t code_like_bits;

  TEXPORT_AVX2_TARGET Avx2Block(const std::uint8_t* in, const ByteRange& range)
      : halves{load(in), load(in + 32)},
        code_like{{halves[0], range}, {halves[1], range}},
        code_like_bits(code_like[0].bits | std::uint64_t{code_like[1].bits} << 32) {}

  // What each byte of a half stands for in number of bytes, values aside: a literal 1, a pair
  // code its copies.
  TEXPORT_AVX2_TARGET __m256i lengths(std::size_t half, const PairCodes& codes) const {
    return _mm256_blendv_epi8(
        _mm256_set1_epi8(1),
        _mm256_sub_epi8(halves[half], _mm256_set1_epi8(static_cast<char>(codes.bias))),
        code_like[half].lanes);
  }
};

// Byte i all ones where bit i is set.
TEXPORT_AVX2_TARGET __m256i lane_masks(std::uint32_t bits) {
  const __m256i spread = _mm256_shuffle_epi8(
      _mm256_set1_epi32(static_cast<int>(bits)),
      _mm256_set_epi64x(0x0303030303030303, 0x0202020202020202, 0x0101010101010101, 0));
  const __m256i bit = _mm256_set1_epi64x(static_cast<std::int64_t>(0x8040201008040201u));
  return _mm256_cmpeq_epi8(_mm256_and_si256(spread, bit), bit);
}

// The shuffle that packs the bytes of a 16 whose bits are set in `bits` to its start.
TEXPORT_AVX2_TARGET __m128i pack_order(std::uint32_t bits) {
  const auto order = [](std::uint32_t of) TEXPORT_AVX2_TARGET {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackOrder[of & 0xFF].data()));
  };
  // The second 8's places count from 8, and move up past the first's.
  const __m128i second = _mm_shuffle_epi8(_mm_add_epi8(order(bits >> 8), _mm_set1_epi8(8)),
                                          _mm_load_si128(reinterpret_cast<const __m128i*>(
                                              kMoveUp[_mm_popcnt_u32(bits & 0xFF)].data())));
  return _mm_or_si128(order(bits), second);
}

// A block read: the bytes that a value does not drop, packed, each standing for itself or, as a
// pair code, for its value (`packed`), with the number of bytes each stands for (`lengths`); and
// the packed bytes to store from (`starts`): each run, a pair code of 2 copies or more, and, when
// there is one, packed byte 32, so that no start is more than 32 packed bytes after the one before.
struct Avx2Pieces {
  std::uint64_t starts;
  std::size_t count;  // packed bytes
  const std::uint8_t* packed;
  const std::uint8_t* lengths;
};

// Packed bytes and lengths, written a block ahead of their use: a load from them then finds them
// in the cache, not in stores still under way (which do not forward to wider loads). A start reads
// from up to 30 bytes before its place to 64 after it.
struct PackedBuffers {
  static constexpr std::size_t kBefore = 32, kSize = kBefore + 2 * kBlockSize + 32;
  alignas(32) std::uint8_t packed[2][kSize] = {}, lengths[2][kBlockSize + 16] = {};
  std::size_t next = 0;
};

// From the block at `in`, kFillInput bytes readable; `carry` as for value_bits.
TEXPORT_ALWAYS_INLINE TEXPORT_AVX2_TARGET Avx2Pieces read_block_avx2(const std::uint8_t* in,
                                                                     const PairCodes& codes,
                                                                     std::uint64_t& carry,
                                                                     PackedBuffers& buffers) {
  buffers.next ^= 1;
  std::uint8_t* const packed = buffers.packed[buffers.next] + PackedBuffers::kBefore;
  std::uint8_t* const lengths = buffers.lengths[buffers.next];
  const Avx2Block block(in, codes.range);
  if ((block.code_like_bits | carry) == 0)  // literals alone, common enough to pay for the test
    return {0, kBlockSize, in, nullptr};
  const std::uint64_t kept = ~value_bits(block.code_like_bits, carry);
  std::size_t count = 0;
  std::uint64_t runs = 0;
  for (std::size_t half = 0; half < 2; ++half) {
    const auto kept_here = static_cast<std::uint32_t>(kept >> (32 * half));
    const __m256i stands_for =
        _mm256_blendv_epi8(block.halves[half], load(in + 32 * half + 1),
                           _mm256_and_si256(block.code_like[half].lanes, lane_masks(kept_here)));
    const __m256i length = block.lengths(half, codes);
    const __m256i order = _mm256_inserti128_si256(_mm256_castsi128_si256(pack_order(kept_here)),
                                                  pack_order(kept_here >> 16), 1);
    const __m256i packed_here = _mm256_shuffle_epi8(stands_for, order);
    const __m256i lengths_here = _mm256_shuffle_epi8(length, order);
    const auto runs_here = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpgt_epi8(lengths_here, _mm256_set1_epi8(1))));
    for (std::size_t lane = 0; lane < 2; ++lane) {
      const std::uint32_t kept_lane = kept_here >> (16 * lane) & 0xFFFF;
      const __m128i bytes = lane == 0 ? _mm256_castsi256_si128(packed_here)
                                      : _mm256_extracti128_si256(packed_here, 1);
      const __m128i lane_lengths = lane == 0 ? _mm256_castsi256_si128(lengths_here)
                                             : _mm256_extracti128_si256(lengths_here, 1);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(packed + count), bytes);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lengths + count), lane_lengths);
      const auto kept_count = static_cast<unsigned>(_mm_popcnt_u32(kept_lane));
      runs |= std::uint64_t{_bzhi_u32(runs_here >> (16 * lane), kept_count)} << count;
      count += kept_count;
    }
  }
  return {runs | std::uint64_t{runs != 0 && count > 32} << 32, count, packed, lengths};
}

// Writes what the block at `in` stands for to `out`, kFillRoom bytes writable, and returns its
// length: the packed bytes, then over them, from each start, 32 bytes: its copies of what it
// stands for, then the packed bytes after it; and 32 more of those where the next start is further
// away than that covers. Each store overwrites what the one before spilled.
TEXPORT_ALWAYS_INLINE TEXPORT_AVX2_TARGET std::size_t fill_block_avx2(std::uint8_t* out,
                                                                      const Avx2Pieces& pieces) {
  store(out, load(pieces.packed));
  store(out + 32, load(pieces.packed + 32));
  const __m256i lanes = load(kLanes.data());
  std::size_t added = 0;  // bytes that the starts before add to the packed bytes
  std::uint64_t left = pieces.starts;
  if (left == 0)
    return pieces.count;
  // The packed bytes after the last start run to the block's end: it always stores both.
  const std::uint8_t* after = nullptr;
  std::uint8_t* to = nullptr;
  for (std::size_t place = _tzcnt_u64(left); left != 0;) {
    left = _blsr_u64(left);
    const std::size_t next = _tzcnt_u64(left);
    const std::size_t copies = pieces.lengths[place];
    to = out + place + added;
    // Lanes below `copies` the value, then the packed bytes from place + 1.
    after = pieces.packed + place + 1 - copies;
    store(to, _mm256_blendv_epi8(
                  load(after), _mm256_set1_epi8(static_cast<char>(pieces.packed[place])),
                  _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(copies)), lanes)));
    if (left != 0 && next - place > 33 - copies)
      store(to + 32, load(after + 32));
    added += copies - 1;
    place = next;
  }
  store(to + 32, load(after + 32));
  return pieces.count + added;
}

__attribute__((flatten)) TEXPORT_AVX2_TARGET std::size_t fill_blocks_avx2(
    const std::uint8_t*& in, std::uint8_t* out, const PairCodes& codes, std::uint64_t& carry,
    const BlockLimits& limits) {
  PackedBuffers buffers;
  return fill_ahead(
      in, out, carry, limits,
      [&](const std::uint8_t* from, std::uint64_t& carry_in)
          TEXPORT_AVX2_TARGET { return read_block_avx2(from, codes, carry_in, buffers); },
      [&](const std::uint8_t*, std::uint8_t* to, const Avx2Pieces& pieces)
          TEXPORT_AVX2_TARGET { return fill_block_avx2(to, pieces); });
}

// The number of bytes the 64 at `in` stand for: a literal 1, a pair code its copies, a value 0;
// `carry` as for value_bits.
TEXPORT_ALWAYS_INLINE TEXPORT_AVX2_TARGET std::uint64_t block_length_avx2(const std::uint8_t* in,
                                                                          const PairCodes& codes,
                                                                          std::uint64_t& carry) {
  const Avx2Block block(in, codes.range);
  if ((block.code_like_bits | carry) == 0)  // literals alone, common enough to pay for the test
    return kBlockSize;
  const std::uint64_t values = value_bits(block.code_like_bits, carry);
  __m256i sums = _mm256_setzero_si256();
  for (std::size_t half = 0; half < 2; ++half) {
    const __m256i counted = _mm256_andnot_si256(
        lane_masks(static_cast<std::uint32_t>(values >> (32 * half))), block.lengths(half, codes));
    sums = _mm256_add_epi64(sums, _mm256_sad_epu8(counted, _mm256_setzero_si256()));
  }
  const __m128i quarter =
      _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(quarter)) +
         static_cast<std::uint64_t>(_mm_extract_epi64(quarter, 1));
}

__attribute__((flatten)) TEXPORT_AVX2_TARGET std::uint64_t count_blocks_avx2(
    const std::uint8_t*& in, const std::uint8_t* end, const PairCodes& codes, std::uint64_t& carry,
    std::uint64_t limit) {
  return count_while(in, end, carry, limit,
                     [&](const std::uint8_t* from, std::uint64_t& carry_in)
                         TEXPORT_AVX2_TARGET { return block_length_avx2(from, codes, carry_in); });
}

bool have_avx2() {
  // Each feature TEXPORT_AVX2_TARGET names.
  static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
  return have;
}
#endif

}  // namespace

std::size_t fill_blocks(const std::uint8_t*& in, const std::uint8_t* end, std::uint8_t* out,
                        std::uint64_t room, const PairCodes& codes, std::uint64_t& carry,
                        std::size_t input_margin) {
  const BlockLimits limits{end, room, input_margin};
  if (!limits.input_at(in) || !limits.room_after(0))
    return 0;
#ifdef TEXPORT_HAVE_AVX512
  if (have_avx512())
    return fill_blocks_wide(in, out, codes, carry, limits);
#endif
#ifdef TEXPORT_HAVE_AVX2
  if (have_avx2())
    return fill_blocks_avx2(in, out, codes, carry, limits);
#endif
  return fill_blocks_portable(in, out, codes, carry, limits);
}

std::uint64_t count_blocks(const std::uint8_t*& in, const std::uint8_t* end, const PairCodes& codes,
                           std::uint64_t& carry, std::uint64_t limit) {
#ifdef TEXPORT_HAVE_AVX512
  if (have_avx512())
    return count_blocks_wide(in, end, codes, carry, limit);
#endif
#ifdef TEXPORT_HAVE_AVX2
  if (have_avx2())
    return count_blocks_avx2(in, end, codes, carry, limit);
#endif
  return count_while(in, end, carry, limit, [&](const std::uint8_t* from, std::uint64_t& carry_in) {
    return block_length(from, codes, carry_in);
  });
}

}  // namespace texport
