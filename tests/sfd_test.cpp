#include "convert/sfd.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "encoders.hpp"
#include "support/expected.hpp"
#include "support/guarded.hpp"
#include "support/table.hpp"

namespace texport::sfd {
namespace {

using samples::sfd_container;
const auto packed = [](const Bytes& stream) { return samples::sfd_packed_from_stream(stream); };

// Either the bytes one packed layer unpacks to (frame 0), or the lookup of a frame.
struct Want {
  std::uint64_t frame;
  FrameStatus status;
  std::uint16_t width, height;
  Bytes bytes;  // the unpacked bytes, or the frame's pixels
};
Want unpacks(Bytes bytes) {
  return {0, FrameStatus::found, 0, 0, std::move(bytes)};
}
Want frame(std::uint64_t number, FrameStatus status, std::uint16_t width = 0,
           std::uint16_t height = 0, Bytes pixels = {}) {
  return {number, status, width, height, std::move(pixels)};
}

using Row = testing::Row<Want>;

// S = C0: C2 00 is three zeros, C3 00 four; the container holds one 2x2 frame at offset 8.
const Bytes kWorked{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0xC2, 0x00, 0x08, 0xC2,
                    0x00, 0x02, 0x00, 0x02, 0x00, 0xC3, 0x00, 0xC2, 0x05, 0x07};
const Bytes kOneFrame = sfd_container({{3, 2, {1, 2, 3, 4, 5, 6}}});
const Bytes kSeventeen{0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28,
                       0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30};

// Long enough to be read in blocks of 64 bytes: a literal and three 05, then 100 runs of 31 whose
// values look like run codes, the first code at stream byte 3, so that one code ends the first
// block and its value starts the next; then 15 literals and a dropped run code for the rest.
const auto kBlockRunValue = [](int k) { return static_cast<std::uint8_t>(0xC0 + k % 31); };
Bytes blocks_stream() {
  Bytes stream{0x09, 0xC2, 0x05};
  for (int k = 0; k < 100; ++k)
    stream = stream + Bytes{0xDE, kBlockRunValue(k)};
  return stream + Bytes(15, 0x10) + Bytes{0xDE};
}
Bytes blocks_unpacked() {
  Bytes out{0x09, 0x05, 0x05, 0x05};
  for (int k = 0; k < 100; ++k)
    out = out + Bytes(31, kBlockRunValue(k));
  return out + Bytes(15, 0x10);
}
constexpr auto kFound = FrameStatus::found;
constexpr auto kOut = FrameStatus::out_of_range;

const Row kRows[] = {
    {"worked example unpacks to its container", kWorked,
     unpacks({0x01, 0, 0, 0, 0x08, 0, 0, 0, 0x02, 0, 0x02, 0, 0, 0, 0, 0, 5, 5, 5, 7})},
    {"byte 7 00 gives S 254: code 254 one copy, 255 two, FD literal",
     packed({9, 0, 0xFE, 0x33, 0xFF, 0x44, 0xFD}), unpacks({9, 0, 0x33, 0x44, 0x44, 0xFD})},
    {"byte 7 01 gives S 255: code 255 one copy, FE literal", packed({0x09, 0x01, 0xFF, 0xFF, 0xFE}),
     unpacks({0x09, 0x01, 0xFF, 0xFE})},
    {"byte 7 02 gives S 0: it is code 2, 31 and FF literal, 30 gives 31 copies of code 3",
     packed({0x20, 0x02, 0x07, 0x1F, 0xFF, 0x1E, 0x03}),
     unpacks(Bytes{0x20, 7, 7, 7, 0x1F, 0xFF} + Bytes(31, 3))},
    {"run code found after 20 literals, 15 literals end the output",
     packed(Bytes{0x09, 0x00} + Bytes(20, 0x10) + Bytes{0xFF, 0x44} + Bytes(15, 0x20) +
            Bytes{0xFE}),
     unpacks(Bytes{0x09, 0x00} + Bytes(20, 0x10) + Bytes{0x44, 0x44} + Bytes(15, 0x20))},
    {"a run, then 15 literals end the stream",
     packed(Bytes{0x09, 0x00, 0xFF, 0x44} + Bytes(15, 0x20)),
     unpacks(Bytes{0x09, 0x00, 0x44, 0x44} + Bytes(15, 0x20))},
    {"17 literals between two runs, one more than a 16-byte copy holds",
     packed(Bytes{0x09, 0x00, 0xFF, 0x44} + kSeventeen + Bytes{0xFF, 0x55}),
     unpacks(Bytes{0x09, 0x00, 0x44, 0x44} + kSeventeen + Bytes{0x55, 0x55})},
    {"blocks with a code across their end, then the rest exactly", packed(blocks_stream()),
     unpacks(blocks_unpacked())},
    {"trailing run code dropped", packed({1, 0x42, 0, 7, 0x45}), unpacks({1, 0, 0, 0, 7})},
    {"packed form of 7 bytes unpacks to nothing", Bytes{0, 1, 0, 0, 0, 0, 5}, unpacks({})},
    {"packed form of 8 bytes unpacks", packed({0x05, 0x00}), unpacks({0x05, 0x00})},
    {"worked example packed again gives its 2x2 frame", *samples::sfd_pack(kWorked, 0xFF),
     frame(1, kFound, 2, 2, {5, 5, 5, 7})},
    {"frame ending at the container end", kOneFrame, frame(1, kFound, 3, 2, {1, 2, 3, 4, 5, 6})},
    {"frame one byte past the end", sfd_container({{3, 2, {1, 2, 3, 4, 5}}}), frame(1, kOut, 3, 2)},
    {"frame offset equal to the length", Bytes{1, 0, 0, 0, 8, 0, 0, 0}, frame(1, kOut)},
    {"table entry past the end", Bytes{1, 0, 0, 0, 8, 0, 0}, frame(1, kOut)},
    {"65535x65535 frame in a tiny file", sfd_container({{0xFFFF, 0xFFFF, {5}}}),
     frame(1, kOut, 0xFFFF, 0xFFFF)},
    {"width 0 frame at the end", sfd_container({{0, 7, {}}}), frame(1, kFound, 0, 7)},
};

class Sfd : public ::testing::TestWithParam<Row> {};

TEST_P(Sfd, Decodes) {
  const Row& row = GetParam();
  const Want& want = row.want;
  if (want.frame == 0) {
    const testing::AtEndOfReadable source(row.source);     // nor read past the source
    Bytes out(unpacked_length(source.view()) + 16, 0xEE);  // nothing may be written past the output
    unpack_into(source.view(), MutableBytes(out).first(out.size() - 16));
    EXPECT_EQ(out, want.bytes + Bytes(16, 0xEE));
    return;
  }
  LayerStorage storage;
  const FrameLookup lookup = find_frame(unpack_layers(row.source, storage).container, want.frame);
  EXPECT_EQ(std::tie(lookup.status, lookup.frame.width, lookup.frame.height),
            std::tie(want.status, want.width, want.height));
  EXPECT_EQ(Bytes(lookup.frame.pixels.begin(), lookup.frame.pixels.end()), want.bytes);
}

TEXPORT_ROWS(Sfd, kRows);

using testing::builtin_tif;
using testing::Conversion;
const std::string kOutOfRange = "out of range, compressed? frame ";

const std::vector<samples::SfdFrame> kThree{
    {3, 2, {1, 2, 3, 4, 5, 6}}, {2, 2, {7, 8, 9, 10}}, {1, 1, {11}}};
Bytes frame_three_outside() {
  Bytes container = sfd_container(kThree);
  write_u32le(container, 12, static_cast<std::uint32_t>(container.size()));
  return container;
}
const std::vector<std::pair<std::string, Bytes>> kThreeImages{
    {"a.sfd1.tif", builtin_tif(3, 2, kThree[0].pixels)},
    {"a.sfd2.tif", builtin_tif(2, 2, kThree[1].pixels)},
    {"a.sfd3.tif", builtin_tif(1, 1, kThree[2].pixels)}};

const testing::Row<Conversion> kConversions[] = {
    {"every frame as NAME<m>.tif", sfd_container(kThree), {"a.sfd", "", "", kThreeImages}},
    {"frame 3 outside: frames 1 and 2, then the line",
     frame_three_outside(),
     {"a.sfd",
      kOutOfRange + "3 in file a.sfd\n",
      "texport: a.sfd: damaged: 51 bytes, too few for frame 3 (59 needed)\n",
      {kThreeImages[0], kThreeImages[1]}}},
    {"3 bytes, one short of the frame count: frame 1 out of range",
     Bytes{1, 0, 0},
     {"e.sfd", kOutOfRange + "1 in file e.sfd\n",
      "texport: e.sfd: damaged: 3 bytes, too few for its frame count (4 needed)\n"}},
    {"packed, unpacking short of frame 1",
     packed({0x05, 0x00, 0, 0, 8, 0, 0, 0}),
     {"p.sfd", kOutOfRange + "1 in file p.sfd\n",
      "texport: p.sfd: damaged: unpacked to 8 bytes, too few for frame 1 (16 needed)\n"}},
    {"count 0: nothing and no line", Bytes{0, 0, 0, 0}, {"z.sfd"}},
    {"width 0 frame: a header only",
     sfd_container({{0, 7, {}}}),
     {"a.sfd", "", "", {{"a.sfd1.tif", builtin_tif(0, 7, {})}}}},
    {"no room: nothing written", sfd_container(kThree), {"a.sfd", "", "", {}, false}},
    {"full disk: every frame tried, one line",
     sfd_container(kThree),
     {"a.sfd",
      "",
      "texport: a.sfd: cannot write 2 of 3 frames: the disk is full\n",
      {kThreeImages[0]},
      true,
      1}},
};

class SfdConversion : public ::testing::TestWithParam<testing::Row<Conversion>> {};

TEST_P(SfdConversion, Converts) {
  testing::expect_conversion(convert_sfd, GetParam());
}

TEXPORT_ROWS(SfdConversion, kConversions);

}  // namespace
}  // namespace texport::sfd
