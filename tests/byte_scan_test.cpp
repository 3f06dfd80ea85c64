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

Bytes stream_of(const Pieces& form, std::uint32_t seed) {
  std::mt19937 random(seed);
  const auto between = [&](unsigned least, unsigned most) {
    return least + static_cast<unsigned>(random() % (most - least + 1));
  };
  const ByteRange& range = form.codes.range;
  const auto code_like = [&] {
    return static_cast<std::uint8_t>(range.low + between(0, range.span));
  };
  Bytes stream;
  while (stream.size() < 6000) {
    if (between(1, 100) <= form.code_percent) {
      stream.push_back(static_cast<std::uint8_t>(form.codes.bias +
                                                 between(form.copies_least, form.copies_most)));
      stream.push_back(between(0, 1) != 0 ? code_like() : static_cast<std::uint8_t>(random()));
    } else {
      for (unsigned n = between(form.literals_least, form.literals_most); n != 0; --n) {
        auto literal = static_cast<std::uint8_t>(random());
        while (range.contains(literal))
          ++literal;
        stream.push_back(literal);
      }
    }
  }
  return stream;
}

// What the stream stands for, read byte by byte from byte `carry`, and at each 64th byte, the
// length read so far and whether that byte is a value.
struct Reading {
  Bytes bytes;
  std::vector<std::size_t> length_at;
  std::vector<std::uint64_t> carry_at;
};
Reading read_plainly(const Bytes& stream, const PairCodes& codes, std::uint64_t carry) {
  Reading reading;
  std::size_t at = carry;
  for (std::size_t block = 0; block <= stream.size(); block += kBlockSize) {
    for (; at < block && at + 1 < stream.size(); ++at) {
      if (codes.range.contains(stream[at])) {
        reading.bytes.insert(reading.bytes.end(), codes.copies(stream[at]), stream[at + 1]);
        ++at;
      } else
        reading.bytes.push_back(stream[at]);
    }
    reading.length_at.push_back(reading.bytes.size());
    reading.carry_at.push_back(at > block ? 1 : 0);
  }
  return reading;
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

// Whole blocks, filled or counted, give what the plain reading gives up to the block each stops
// at, and stop where the input, the room or the limit ends, with the carry after the last.
TEST_P(Blocks, StandForWhatAPlainReadingGives) {
  const PairCodes& codes = GetParam().want.codes;
  for (const std::uint32_t seed : {1u, 2u}) {
    const Bytes stream = stream_of(GetParam().want, seed);
    const std::uint8_t* const end = stream.data() + stream.size();
    for (const std::uint64_t carry : {0u, 1u}) {
      const Reading reading = read_plainly(stream, codes, carry);
      for (const std::size_t room : {reading.bytes.size() + kFillRoom, reading.bytes.size() / 2}) {
        std::size_t blocks = 0;
        while (stream.size() - blocks * kBlockSize >= kFillInput + 9 &&
               reading.length_at[blocks] + kFillRoom <= room)
          ++blocks;
        Bytes out(room + 16, 0xEE);
        const std::uint8_t* in = stream.data();
        std::uint64_t carry_after = carry;
        const std::size_t filled =
            fill_blocks(in, end, out.data(), room, codes, carry_after, kFillInput + 9);
        ASSERT_EQ(in, stream.data() + blocks * kBlockSize);
        EXPECT_EQ(carry_after, reading.carry_at[blocks]);
        ASSERT_EQ(filled, reading.length_at[blocks]);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + filled, reading.bytes.begin()));
        EXPECT_EQ(Bytes(out.begin() + room, out.end()), Bytes(16, 0xEE));
      }
      for (const std::uint64_t limit :
           {std::numeric_limits<std::uint64_t>::max(), std::uint64_t{reading.bytes.size() / 2}}) {
        std::size_t blocks = 0;
        while (stream.size() - blocks * kBlockSize > kBlockSize &&
               reading.length_at[blocks + 1] <= limit)
          ++blocks;
        const std::uint8_t* in = stream.data();
        std::uint64_t carry_after = carry;
        EXPECT_EQ(count_blocks(in, end, codes, carry_after, limit), reading.length_at[blocks]);
        EXPECT_EQ(in, stream.data() + blocks * kBlockSize);
        EXPECT_EQ(carry_after, reading.carry_at[blocks]);
      }
    }
  }
}

TEXPORT_ROWS(Blocks, kRows);

}  // namespace
}  // namespace texport
