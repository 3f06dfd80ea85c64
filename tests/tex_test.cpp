#include "convert/tex.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "encoders.hpp"
#include "support/expected.hpp"
#include "support/guarded.hpp"
#include "support/table.hpp"

namespace texport::tex {
namespace {

Bytes packed(std::uint16_t width, std::uint8_t sign, const Bytes& stream) {
  return samples::tex_packed_from_stream(width, 1, sign, stream);
}

struct Want {
  Layout layout;
  Bytes pixels = {};  // plain or packed: the image decoded into zeros
  StreamEnd end = StreamEnd::source_exhausted;
};
using Row = testing::Row<Want>;
Want decodes(Bytes pixels, StreamEnd end = StreamEnd::source_exhausted) {
  return {Layout::packed, std::move(pixels), end};
}

// A * B = 0xFFFF^2; 17 x 2 at 6 and 8; S = 100 at 15: escape 99, run codes 100 to 129.
const Bytes kWorked = Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 17, 0, 2, 0, 0, 0, 0, 0, 0, 100} +
                      Bytes(7, 0) + Bytes{5, 100, 7, 99, 101, 129, 42, 130};
// A * B = 5 * 6 = 30 bytes: plain, its pixels from 20.
const Bytes kPlain = Bytes{5, 0, 6, 0} + Bytes(16, 0) + Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
// A run of 3, then 62 literals outside the codes of S = 100: one block, not all literals.
const Bytes kBlock = [] {
  Bytes out{101, 9};
  for (std::uint8_t i = 1; i <= 62; ++i)
    out.push_back(i);
  return out;
}();
const Bytes kBlockDecoded = Bytes{9, 9, 9} + Bytes(kBlock.begin() + 2, kBlock.end());

// Long enough to be read in blocks of 64 bytes (from stream byte 2, after the dropped run): a
// literal, then 100 runs of 31 whose values look like escapes or codes, one code ending the first
// block and its value starting the next; the image ends 10 pixels into the last run, then a
// literal meets it full.
const auto kBlockRunValue = [](int k) { return static_cast<std::uint8_t>(99 + k % 31); };
Bytes blocks_stream() {
  Bytes stream{100, 0, 1};
  for (int k = 0; k < 100; ++k)
    stream = stream + Bytes{129, kBlockRunValue(k)};
  return stream + Bytes{5};
}
Bytes blocks_pixels() {
  Bytes out{1};
  for (int k = 0; k < 100; ++k)
    out = out + Bytes(31, kBlockRunValue(k));
  out.resize(out.size() - 10);
  return out;
}

constexpr auto kFull = StreamEnd::image_full;
constexpr auto kMissing = StreamEnd::byte_missing;

const Row kRows[] = {
    {"worked example fills 17x2 as the source ends", kWorked,
     decodes(Bytes{7, 101} + Bytes(31, 42) + Bytes{130})},
    {"run S+1 first fills -2, -1 and pixel 0", packed(2, 100, {101, 9, 3}), decodes({9, 3})},
    {"run code at -1 after one literal reaches pixels 0 and 1", packed(3, 100, {1, 101, 9, 3}),
     decodes({9, 9, 3})},
    {"S 0 has no escape: codes 0 to 29, 30 and 255 literal",
     packed(35, 0, {0, 9, 29, 5, 30, 255, 0, 8}), decodes(Bytes(31, 5) + Bytes{30, 255, 8, 8})},
    {"S 255: escape 254, code 255 gives 2 copies, 16 literal",
     packed(5, 255, {255, 1, 254, 255, 255, 7, 16, 254, 254}), decodes({255, 7, 7, 16, 254})},
    {"escape stores an escape value or a run code, S-2 is literal",
     packed(4, 100, {100, 0, 99, 99, 99, 100, 99, 129, 98}), decodes({99, 100, 129, 98})},
    {"run cut at the image end, later runs store nothing, a literal ends",
     packed(4, 100, {100, 0, 105, 7, 102, 9, 3, 104, 1}), decodes({7, 7, 7, 7}, kFull)},
    {"blocks with a code across their end, then the rest exactly to the full image",
     packed(static_cast<std::uint16_t>(blocks_pixels().size()), 100, blocks_stream()),
     decodes(blocks_pixels(), kFull)},
    {"a block is not read where the rest of the stream is too short to write over its spill",
     packed(2000, 100,
            Bytes{100, 0} + kBlock + Bytes{99, 7, 99, 7, 99, 7, 99, 7} +
                Bytes{99, 7, 99, 7, 99, 7, 99, 7, 5}),
     decodes(kBlockDecoded + Bytes(8, 7) + Bytes{5} + Bytes(2000 - 74, 0))},
    {"literals past the end are cut", packed(2, 100, {100, 0, 1, 2, 3}), decodes({1, 2}, kFull)},
    {"escape meeting the full image ends", packed(2, 100, {100, 0, 103, 7, 99, 5, 6}),
     decodes({7, 7}, kFull)},
    {"escape as the last byte", packed(3, 100, {100, 0, 1, 99}), decodes({1, 0, 0}, kMissing)},
    {"run code as the last byte, a block's length after the dropped run",
     packed(100, 100, Bytes{100, 0, 63} + Bytes(kBlock.begin() + 2, kBlock.end()) + Bytes{105}),
     decodes(Bytes{63} + Bytes(kBlock.begin() + 2, kBlock.end()) + Bytes(37, 0), kMissing)},
    {"packed source of 16 bytes has an empty stream",
     Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0, 1} + Bytes(7, 0), decodes({0, 0})},
    {"length equal to A*B is plain, copies the pixels it holds", kPlain,
     Want{Layout::plain, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10} + Bytes(20, 0)}},
    {"length one below A*B is packed", Bytes(kPlain.begin(), kPlain.end() - 1), decodes({})},
    {"packed 5 bytes, byte 4 zero", Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0}, {Layout::packed_too_short}},
    {"packed 15 bytes", Bytes{0xFF, 0xFF, 0xFF, 0xFF} + Bytes(11, 0), {Layout::packed_too_short}},
    {"packed, byte 5 set, 6 bytes", Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 1}, {Layout::packed_rejected}},
};

class Tex : public ::testing::TestWithParam<Row> {};

TEST_P(Tex, Decodes) {
  const Row& row = GetParam();
  const testing::AtEndOfReadable guarded(row.source);  // nothing may read past the source
  const ByteView source = guarded.view();
  const Header header = read_header(source);
  ASSERT_EQ(header.layout, row.want.layout);
  const std::size_t length = std::size_t{header.width} * header.height;
  Bytes out = Bytes(length, 0) + Bytes(16, 0xEE);  // nor write past the image
  const MutableBytes pixels = MutableBytes(out).first(length);
  if (header.layout == Layout::plain)
    copy_plain_pixels(source, pixels);
  if (header.layout == Layout::packed) {
    const DecodeResult stored = decode_stream(source, header.sign, length, pixels);
    const DecodeResult followed = decode_stream(source, header.sign, length, {});
    EXPECT_EQ(stored.end, row.want.end);
    EXPECT_EQ(std::tie(followed.end, followed.position), std::tie(stored.end, stored.position));
    EXPECT_LE(stored.position, std::ssize(pixels));  // no run stores past the image
  }
  EXPECT_EQ(out, row.want.pixels + Bytes(16, 0xEE));
}

TEXPORT_ROWS(Tex, kRows);

using testing::builtin_tif;
using testing::Conversion;
const std::string kLarge = " pixels; textures of 512 or more on a side are not converted\n";

const testing::Row<Conversion> kConversions[] = {
    {"plain as NAME with TIF for its last three letters",
     kPlain,
     {"wall.tex",
      "",
      "",
      {{"wall.TIF", builtin_tif(5, 6, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10} + Bytes(20, 0))}}}},
    {"packed: its name on the console",
     kWorked,
     {"w.Tex",
      "w.Tex\n",
      "",
      {{"w.TIF", builtin_tif(17, 2, Bytes{7, 101} + Bytes(31, 42) + Bytes{130})}}}},
    {"short packed stream leaves zeros",
     packed(4, 0xC0, {0, 0, 5, 6}),
     {"a.tex", "a.tex\n", "", {{"a.TIF", builtin_tif(4, 1, {5, 6, 0, 0})}}}},
    {"511 on a side is written",
     samples::tex_plain(511, 1, Bytes(511, 6)),
     {"a.tex", "", "", {{"a.TIF", builtin_tif(511, 1, Bytes(511, 6))}}}},
    {"512 on a side: named, not written",
     packed(512, 0xC0, {1, 2, 3}),
     {"a.tex", "a.tex\n", "texport: a.tex: too large: 512 x 1" + kLarge}},
    {"zero width: a header only",
     packed(0, 0xC0, {1, 2, 3}),
     {"a.tex", "a.tex\n", "", {{"a.TIF", builtin_tif(0, 1, {})}}}},
    {"under 4 bytes",
     Bytes{1, 0, 1},
     {"a.tex", "", "texport: a.tex: damaged: 3 bytes, too few for a texture (4 needed)\n"}},
    {"packed under 16 bytes",
     Bytes{9, 0, 9, 0, 0, 0, 1, 0, 1, 0},
     {"a.tex", "",
      "texport: a.tex: damaged: 10 bytes, too few for a packed texture (16 needed)\n"}},
    {"packed with byte 4 set: no console line, named on the error stream",
     Bytes{9, 0, 9, 0, 1, 0},
     {"a.tex", "",
      "texport: a.tex: unsupported: a packed texture whose bytes 4 and 5 are not both 0\n"}},
    {"no room: named, not written", kWorked, {"w.tex", "w.tex\n", "", {}, false}},
};

class TexConversion : public ::testing::TestWithParam<testing::Row<Conversion>> {};

TEST_P(TexConversion, Converts) {
  if (traced())  // the trace's lines are those of its own test
    GTEST_SKIP() << "a build with the .tex trace";
  testing::expect_conversion(convert_tex, GetParam());
}

TEXPORT_ROWS(TexConversion, kConversions);

}  // namespace
}  // namespace texport::tex
