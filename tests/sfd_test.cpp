#include "convert/sfd.hpp"

#include <gtest/gtest.h>

#include "encoders.hpp"

namespace texport::sfd {
namespace {

Bytes operator+(Bytes front, const Bytes& back) {
  front.insert(front.end(), back.begin(), back.end());
  return front;
}

Bytes packed(std::initializer_list<std::uint8_t> stream) {
  return samples::sfd_packed_from_stream(Bytes(stream));
}

TEST(SfdUnpack, WorkedExampleGivesOneTwoByTwoFrame) {
  const Bytes source{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0xC2, 0x00, 0x08, 0xC2,
                     0x00, 0x02, 0x00, 0x02, 0x00, 0xC3, 0x00, 0xC2, 0x05, 0x07};
  ASSERT_TRUE(is_packed(source));
  EXPECT_EQ(unpacked_length(source), 20u);
  const Bytes data = unpack(source);
  EXPECT_EQ(data, (Bytes{0x01, 0, 0, 0, 0x08, 0, 0, 0, 0x02, 0, 0x02, 0, 0, 0, 0, 0, 5, 5, 5, 7}));
  const FrameLookup first = find_frame(data, 1);
  ASSERT_EQ(first.status, FrameStatus::found);
  EXPECT_EQ(first.frame.width, 2);
  EXPECT_EQ(first.frame.height, 2);
  EXPECT_EQ(Bytes(first.frame.pixels.begin(), first.frame.pixels.end()), (Bytes{5, 5, 5, 7}));
  EXPECT_EQ(find_frame(data, 2).status, FrameStatus::no_more_frames);
}

struct StreamCase {
  const char* what;
  Bytes source;
  Bytes expected;
};

class SfdStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(SfdStream, Unpacks) {
  const StreamCase& c = GetParam();
  EXPECT_EQ(unpacked_length(c.source), c.expected.size());
  EXPECT_EQ(unpack(c.source), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SfdStream,
    ::testing::Values(
        // byte 7 = 00: S = 254, codes 254 (one copy) and 255 (two copies); 00 is a literal
        StreamCase{"sign_254",
                   packed({0x09, 0x00, 0xFE, 0x33, 0xFF, 0x44, 0xFD}),
                   {0x09, 0x00, 0x33, 0x44, 0x44, 0xFD}},
        // byte 7 = 01: S = 255, the single code 255 (one copy)
        StreamCase{"sign_255", packed({0x09, 0x01, 0xFF, 0xFF, 0xFE}), {0x09, 0x01, 0xFF, 0xFE}},
        // byte 7 = 02: S = 0, codes 0..30; byte 7 itself is the code 2 (three copies)
        StreamCase{"sign_0", packed({0x20, 0x02, 0x07, 0x1E, 0x08, 0x1F}),
                   Bytes{0x20, 7, 7, 7} + Bytes(31, 8) + Bytes{0x1F}},
        // S = 0x40: 5E 11 is 31 copies, 5F and 3F literals, 41 40 two copies of 40
        StreamCase{"sign_40_bounds", packed({0x01, 0x42, 0x00, 0x5E, 0x11, 0x5F, 0x3F, 0x41, 0x40}),
                   Bytes{0x01, 0, 0, 0} + Bytes(31, 0x11) + Bytes{0x5F, 0x3F, 0x40, 0x40}},
        // value bytes are copied, never decoded, even when they are run codes
        StreamCase{"value_byte_is_a_code",
                   packed({0x01, 0x42, 0x42, 0x40, 0x42}),
                   {0x01, 0x42, 0x42, 0x42, 0x42}},
        // a run code as the very last byte has no value byte: dropped
        StreamCase{
            "trailing_run_code", packed({0x01, 0x42, 0x00, 0x07, 0x45}), {0x01, 0, 0, 0, 0x07}},
        StreamCase{"shorter_than_8_bytes", Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x05}, {}},
        StreamCase{"exactly_8_bytes", packed({0x05, 0x00}), {0x05, 0x00}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(SfdForm, OnlyByteOneEqualToOneMeansPacked) {
  EXPECT_TRUE(is_packed(Bytes{0x00, 0x01}));
  for (const std::uint8_t other : {0x00, 0x02, 0xFF})
    EXPECT_FALSE(is_packed(Bytes{0x00, other, 0x00, 0x00})) << int(other);
  EXPECT_FALSE(is_packed(Bytes{0x01}));
  EXPECT_FALSE(is_packed(Bytes{}));
  // 256 frames: byte 1 of the count is 1, so the container reads as a packed form.
  std::vector<samples::SfdFrame> frames(256, samples::SfdFrame{1, 1, {7}});
  EXPECT_TRUE(is_packed(samples::sfd_container(frames)));
}

TEST(SfdFrames, WalkStopsAtTheFirstFrameOutsideTheData) {
  std::vector<samples::SfdFrame> frames;
  for (std::uint8_t i = 0; i < 5; ++i)
    frames.push_back({2, 1, {i, i}});
  Bytes data = samples::sfd_container(frames);
  write_u32le(data, 12, static_cast<std::uint32_t>(data.size()));  // frame 3 starts at the end
  EXPECT_EQ(find_frame(data, 1).status, FrameStatus::found);
  EXPECT_EQ(find_frame(data, 2).status, FrameStatus::found);
  EXPECT_EQ(find_frame(data, 3).status, FrameStatus::out_of_range);
}

struct FrameCase {
  const char* what;
  std::int64_t length_change;  // added to the container's length after building it
  FrameStatus expected;
};

class SfdFrameBounds : public ::testing::TestWithParam<FrameCase> {};

TEST_P(SfdFrameBounds, LastFrameAgainstTheEnd) {
  const FrameCase& c = GetParam();
  Bytes data = samples::sfd_container({{3, 2, Bytes(6, 9)}});
  const std::size_t exact = data.size();
  data.resize(static_cast<std::size_t>(static_cast<std::int64_t>(exact) + c.length_change), 9);
  EXPECT_EQ(find_frame(data, 1).status, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SfdFrameBounds,
                         ::testing::Values(FrameCase{"ends_exactly_at_end", 0, FrameStatus::found},
                                           FrameCase{"one_byte_past", -1,
                                                     FrameStatus::out_of_range},
                                           FrameCase{"trailing_bytes", 5, FrameStatus::found}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(SfdFrames, DamagedHeadersAreOutOfRange) {
  const Bytes base = samples::sfd_container({{2, 2, Bytes(4, 1)}, {1, 1, {2}}});
  {
    Bytes data = base;  // offset equal to the length: the frame header lies outside
    write_u32le(data, 8, static_cast<std::uint32_t>(data.size()));
    EXPECT_EQ(find_frame(data, 2).status, FrameStatus::out_of_range);
  }
  {
    Bytes data = base;  // offset near 2^32: offset + 8 must not wrap
    write_u32le(data, 8, 0xFFFFFFFCu);
    EXPECT_EQ(find_frame(data, 2).status, FrameStatus::out_of_range);
  }
  {
    Bytes data = base;  // the count promises a third frame whose table entry is missing
    write_u32le(data, 0, 1000);
    EXPECT_EQ(find_frame(data, 2).status, FrameStatus::found);
    EXPECT_NE(find_frame(data, 3).status, FrameStatus::found);
  }
  for (const Bytes& tiny : {Bytes{}, Bytes{1}, Bytes{1, 0, 0}})
    EXPECT_EQ(find_frame(tiny, 1).status, FrameStatus::out_of_range) << tiny.size();
  EXPECT_EQ(find_frame(Bytes{0, 0, 0, 0}, 1).status, FrameStatus::no_more_frames);
}

TEST(SfdFrames, HugeFrameInATinyFileIsOutOfRange) {
  Bytes data = samples::sfd_container({{1, 1, {5}}});
  write_u16le(data, 8, 0xFFFF);
  write_u16le(data, 10, 0xFFFF);
  EXPECT_EQ(find_frame(data, 1).status, FrameStatus::out_of_range);
}

TEST(SfdFrames, ZeroSizedFramesAreFound) {
  const Bytes data = samples::sfd_container({{0, 7, {}}, {7, 0, {}}});
  for (std::uint64_t m : {1, 2}) {
    const FrameLookup lookup = find_frame(data, m);
    ASSERT_EQ(lookup.status, FrameStatus::found);
    EXPECT_TRUE(lookup.frame.pixels.empty());
  }
}

TEST(SfdPack, EncoderRoundTripsThroughManyNestedLayers) {
  const Bytes container = samples::sfd_container({{8, 4, samples::sample_pixels(32, 3)}});
  Bytes layer = container;
  for (int depth = 0; depth < 3000; ++depth) {
    auto next = samples::sfd_pack(layer, depth == 0 ? 0xC0 : 0xFF);
    ASSERT_TRUE(next) << depth;
    layer = std::move(*next);
  }
  int unpacked = 0;
  while (is_packed(layer)) {
    layer = unpack(layer);
    ++unpacked;
  }
  EXPECT_EQ(unpacked, 3000);
  EXPECT_EQ(layer, container);
}

}  // namespace
}  // namespace texport::sfd
