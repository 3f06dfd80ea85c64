#include "convert/byte_scan.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "support/table.hpp"

namespace texport {
namespace {

// Streams of pieces at random: with `code_percent` a pair code of `copies_least` to
// `copies_most` copies and a value (code-like half the time), else a stretch of `literals_least`
// to `literals_most` literals.
struct Pieces {
  PairCodes codes;
  unsigned code_percent, copies_least, copies_most, literals_least, literals_most;
};

Bytes stream_of(const Pieces& form) {
  std::mt19937 random(1);
  const auto between = [&](unsigned least, unsigned most) {
    return least + static_cast<unsigned>(random() % (most - least + 1));
  };
  const ByteRange& range = form.codes.range;
  Bytes stream;
  while (stream.size() < 6000) {
    if (between(1, 100) <= form.code_percent) {
      stream.push_back(static_cast<std::uint8_t>(form.codes.bias +
                                                 between(form.copies_least, form.copies_most)));
      stream.push_back(static_cast<std::uint8_t>(
          between(0, 1) != 0 ? range.low + between(0, range.span) : random()));
      continue;
    }
    for (unsigned n = between(form.literals_least, form.literals_most); n != 0; --n) {
      auto literal = static_cast<std::uint8_t>(random());
      while (range.contains(literal))
        ++literal;
      stream.push_back(literal);
    }
  }
  return stream;
}

const PairCodes kRunCodes{{0xC0, 30}, 0xBF};     // C0 to DE, 1 to 31 copies
const PairCodes kEscapeFirst{{0xBF, 30}, 0xBE};  // BF one copy, then C0 to DD, 2 to 31
const PairCodes kFromZero{{0x00, 29}, 0xFE};     // 00 to 1D, 2 to 31

const testing::Row<Pieces> kRows[] = {
    {"literals alone", {}, {kRunCodes, 0, 1, 1, 1, 64}},
    {"runs of 31 back to back", {}, {kRunCodes, 100, 31, 31, 1, 1}},
    {"runs of 2 to 11 between 1 to 7 literals", {}, {kEscapeFirst, 50, 2, 11, 1, 7}},
    {"runs then 30 to 63 literals, pieces longer than a store", {}, {kFromZero, 50, 2, 31, 30, 63}},
    {"codes alone, every value code-like or not", {}, {kFromZero, 100, 2, 31, 1, 1}},
    {"one-copy codes between 1 to 3 literals", {}, {kRunCodes, 30, 1, 1, 1, 3}},
    {"one copy to 31 at random, single literals", {}, {kEscapeFirst, 40, 1, 31, 1, 1}},
};

class Blocks : public ::testing::TestWithParam<testing::Row<Pieces>> {};

// Whole blocks, filled or counted, give what a plain byte-by-byte reading from byte `carry` gives
// up to the block each stops at, and stop where the input, the room or the limit ends, with the
// carry after the last.
TEST_P(Blocks, StandForWhatAPlainReadingGives) {
  const PairCodes& codes = GetParam().want.codes;
  const Bytes stream = stream_of(GetParam().want);
  const std::uint8_t* const end = stream.data() + stream.size();
  for (const std::uint64_t carry : {0u, 1u}) {
    Bytes plain;
    std::vector<std::pair<std::size_t, std::uint64_t>> at_block;  // length so far, carry
    for (std::size_t at = carry, block = 0; block <= stream.size(); block += kBlockSize) {
      for (; at < block && at + 1 < stream.size(); ++at) {
        const bool code = codes.range.contains(stream[at]);
        plain.insert(plain.end(), code ? codes.copies(stream[at]) : 1, stream[at + code]);
        at += code ? 1 : 0;
      }
      at_block.emplace_back(plain.size(), at > block ? 1 : 0);
    }
    const auto blocks_while = [&](auto next_fits) {
      std::size_t blocks = 0;
      while (next_fits(blocks, stream.size() - blocks * kBlockSize))
        ++blocks;
      return blocks;
    };
    for (const std::size_t room : {plain.size() + kFillRoom, plain.size() / 2}) {
      const std::size_t blocks = blocks_while([&](std::size_t block, std::size_t left) {
        return left >= kFillInput + 9 && at_block[block].first + kFillRoom <= room;
      });
      Bytes out(room + 16, 0xEE);
      const std::uint8_t* in = stream.data();
      std::uint64_t carry_after = carry;
      const std::size_t filled =
          fill_blocks(in, end, out.data(), room, codes, carry_after, kFillInput + 9);
      ASSERT_EQ(in, stream.data() + blocks * kBlockSize);
      ASSERT_EQ(std::pair(filled, carry_after), at_block[blocks]);
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + filled, plain.begin()));
      EXPECT_EQ(Bytes(out.begin() + room, out.end()), Bytes(16, 0xEE));
    }
    for (const std::uint64_t limit :
         {std::numeric_limits<std::uint64_t>::max(), plain.size() / 2}) {
      const std::size_t blocks = blocks_while([&](std::size_t block, std::size_t left) {
        return left > kBlockSize && at_block[block + 1].first <= limit;
      });
      const std::uint8_t* in = stream.data();
      std::uint64_t carry_after = carry;
      const std::uint64_t length = count_blocks(in, end, codes, carry_after, limit);
      EXPECT_EQ(in, stream.data() + blocks * kBlockSize);
      EXPECT_EQ(std::pair(length, carry_after), at_block[blocks]);
    }
  }
}

TEXPORT_ROWS(Blocks, kRows);

}  // namespace
}  // namespace texport
