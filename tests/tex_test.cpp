#include "convert/tex.hpp"

#include <gtest/gtest.h>

#include "encoders.hpp"

namespace texport::tex {
namespace {

Bytes operator+(Bytes front, const Bytes& back) {
  Bytes out(front.size() + back.size());
  std::copy(front.begin(), front.end(), out.begin());
  std::copy(back.begin(), back.end(), out.begin() + static_cast<std::ptrdiff_t>(front.size()));
  return out;
}

Bytes packed(std::uint16_t width, std::uint16_t height, std::uint8_t sign,
             std::initializer_list<std::uint8_t> stream) {
  return samples::tex_packed_from_stream(width, height, sign, Bytes(stream));
}

// A source of exactly `length` bytes whose first bytes are `front`; the rest is 0.
Bytes source_of(std::size_t length, std::initializer_list<std::uint8_t> front) {
  Bytes out(length, 0);
  std::copy(front.begin(), front.end(), out.begin());
  return out;
}

struct Decoded {
  Bytes pixels;
  DecodeResult result;
  std::vector<TraceEvent> events;
};

// Decodes twice: stepwise with a trace attached, and in bulk without one (the way the tool
// converts), and expects both to give the same pixels and end in the same place.
Decoded decode(const Bytes& source) {
  const Header header = read_header(source);
  EXPECT_EQ(header.layout, Layout::packed);
  Decoded out;
  out.pixels.assign(static_cast<std::size_t>(pixel_count(header)), 0);
  out.result = decode_stream(source, header.sign, out.pixels,
                             [&](const TraceEvent& event) { out.events.push_back(event); });
  Bytes bulk(out.pixels.size(), 0);
  const DecodeResult untraced = decode_stream(source, header.sign, bulk);
  EXPECT_EQ(bulk, out.pixels) << "the bulk decoding differs from the stepwise one";
  EXPECT_EQ(untraced.end, out.result.end);
  EXPECT_EQ(untraced.position, out.result.position);
  return out;
}

using Kind = TraceEvent::Kind;
TraceEvent step(std::size_t index, std::uint8_t byte) {
  return {Kind::step, index, byte, 0, 0};
}
TraceEvent run(std::size_t index, std::uint8_t code, unsigned difference) {
  return {Kind::run, index, code, difference, 0};
}
TraceEvent repeat(std::size_t value_index, std::uint8_t code, std::int64_t position) {
  return {Kind::repeat, value_index, code, 0, position};
}

TEST(TexDecode, WorkedExampleWithSignOneHundred) {
  // Escape 99, run codes 100 to 129; 17 x 2 pixels; 31 bytes in all.
  const Bytes source = packed(17, 2, 100, {5, 100, 7, 99, 101, 129, 42, 130});
  ASSERT_EQ(source.size(), 31u);
  const Header header = read_header(source);
  ASSERT_EQ(header.layout, Layout::packed);
  EXPECT_EQ(header.width, 17);
  EXPECT_EQ(header.height, 2);
  EXPECT_EQ(header.sign, 100);
  const Decoded decoded = decode(source);
  EXPECT_EQ(decoded.pixels, (Bytes{7, 101} + Bytes(31, 42) + Bytes{130}));
  EXPECT_EQ(decoded.result.end, StreamEnd::source_exhausted);
  EXPECT_EQ(decoded.result.position, 34);

  std::vector<TraceEvent> expected{step(23, 5),         step(24, 100),      run(24, 100, 1),
                                   repeat(25, 100, -1), repeat(25, 100, 0), step(26, 99),
                                   step(28, 129),       run(28, 129, 30)};
  for (std::int64_t position = 2; position <= 32; ++position)
    expected.push_back(repeat(29, 129, position));
  expected.push_back(step(30, 130));
  EXPECT_EQ(decoded.events, expected);
}

struct StreamCase {
  const char* what;
  std::uint16_t width;
  std::uint8_t sign;
  Bytes stream;
  Bytes pixels;
  StreamEnd end;
};

void PrintTo(const StreamCase& c, std::ostream* out) {
  *out << c.what;
}

class TexStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(TexStream, Decodes) {
  const StreamCase& c = GetParam();
  const Bytes source = samples::tex_packed_from_stream(c.width, 1, c.sign, c.stream);
  const Decoded decoded = decode(source);
  EXPECT_EQ(decoded.pixels, c.pixels);
  EXPECT_EQ(decoded.result.end, c.end);

  // Following the stream without an image sees the same steps and ends the same way.
  std::vector<TraceEvent> events;
  const DecodeResult followed = decode_stream(source, c.sign, c.width, MutableBytes(),
                                              [&](const TraceEvent& e) { events.push_back(e); });
  EXPECT_EQ(followed.end, decoded.result.end);
  EXPECT_EQ(followed.position, decoded.result.position);
  EXPECT_EQ(events, decoded.events);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TexStream,
    ::testing::Values(
        // positions -2 and -1 are dropped, whatever fills them
        StreamCase{"start_dropped_from_literals",
                   3,
                   100,
                   {1, 2, 3, 4, 5},
                   {3, 4, 5},
                   StreamEnd::source_exhausted},
        StreamCase{"start_dropped_from_a_run_of_two",
                   2,
                   100,
                   {100, 9, 3, 4},
                   {3, 4},
                   StreamEnd::source_exhausted},
        StreamCase{"run_of_three_first_gives_pixel_0",
                   2,
                   100,
                   {101, 9, 3},
                   {9, 3},
                   StreamEnd::source_exhausted},
        // an escape makes the next byte one pixel, even an escape value or a run code
        StreamCase{"escaped_escape_value_and_run_codes",
                   4,
                   100,
                   {100, 0, 99, 99, 99, 100, 99, 129, 5},
                   {99, 100, 129, 5},
                   StreamEnd::source_exhausted},
        StreamCase{"value_byte_is_taken_verbatim",
                   3,
                   100,
                   {100, 0, 100, 99, 5},
                   {99, 99, 5},
                   StreamEnd::source_exhausted},
        StreamCase{"literal_just_below_the_escape",
                   1,
                   100,
                   {100, 0, 98},
                   {98},
                   StreamEnd::source_exhausted},
        // S + 29 is the last run code (31 copies); S + 30 is a literal
        StreamCase{"span_29_and_30",
                   32,
                   100,
                   {100, 0, 129, 1, 130},
                   Bytes(31, 1) + Bytes{130},
                   StreamEnd::source_exhausted},
        // S = 0: no escape byte (255 is a literal), run codes 0 to 29, 30 up literals
        StreamCase{"sign_0",
                   35,
                   0,
                   {0, 9, 29, 5, 30, 255, 0, 8},
                   Bytes(31, 5) + Bytes{30, 255, 8, 8},
                   StreamEnd::source_exhausted},
        // S = 255: escape 254, the single run code 255 (2 copies), 0 to 253 literals
        StreamCase{"sign_255",
                   6,
                   255,
                   {255, 1, 254, 255, 255, 7, 253, 254, 254, 0},
                   {255, 7, 7, 253, 254, 0},
                   StreamEnd::source_exhausted},
        // run codes stop at 255: S = 226 keeps all 30, S = 240 keeps 16 (255 gives 17 copies)
        StreamCase{"sign_226_top_code",
                   31,
                   226,
                   {226, 0, 255, 8},
                   Bytes(31, 8),
                   StreamEnd::source_exhausted},
        StreamCase{"sign_240_top_code",
                   18,
                   240,
                   {240, 0, 255, 8, 239, 239},
                   Bytes(17, 8) + Bytes{239},
                   StreamEnd::source_exhausted},
        // a run cut at the last pixel; later runs store nothing; the next literal ends it all
        StreamCase{"cut_run_then_runs_then_literal",
                   4,
                   100,
                   {100, 0, 105, 7, 102, 9, 3, 104, 1},
                   {7, 7, 7, 7},
                   StreamEnd::image_full},
        StreamCase{"cut_run_then_escape",
                   2,
                   100,
                   {100, 0, 103, 7, 99, 5, 6},
                   {7, 7},
                   StreamEnd::image_full},
        StreamCase{"full_from_literals_then_run_then_literal",
                   2,
                   100,
                   {100, 0, 1, 2, 101, 3, 4},
                   {1, 2},
                   StreamEnd::image_full},
        StreamCase{"exactly_full_at_the_end",
                   2,
                   100,
                   {100, 0, 100, 6},
                   {6, 6},
                   StreamEnd::source_exhausted},
        // a short stream leaves the rest of the image as it was
        StreamCase{"stream_shorter_than_the_image",
                   5,
                   100,
                   {100, 0, 1, 101, 2},
                   {1, 2, 2, 2, 0},
                   StreamEnd::source_exhausted},
        // an escape or run code as the last byte has lost its byte: decoding ends
        StreamCase{
            "escape_as_last_byte", 3, 100, {100, 0, 1, 99}, {1, 0, 0}, StreamEnd::byte_missing},
        StreamCase{
            "run_code_as_last_byte", 3, 100, {100, 0, 1, 105}, {1, 0, 0}, StreamEnd::byte_missing},
        StreamCase{"empty_stream", 2, 100, {}, {0, 0}, StreamEnd::source_exhausted},
        // width 0: no pixel at all; the first literal after the dropped two ends decoding
        StreamCase{"width_0", 0, 100, {1, 2, 3, 4}, {}, StreamEnd::image_full}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(TexDecode, CutRunsStillReportTheirDifferenceButNoRepetition) {
  const Decoded decoded = decode(packed(1, 1, 100, {100, 0, 101, 7, 103, 9, 3, 8}));
  EXPECT_EQ(decoded.pixels, Bytes{7});
  EXPECT_EQ(decoded.events, (std::vector<TraceEvent>{
                                step(23, 100), run(23, 100, 1), repeat(24, 100, -2),
                                repeat(24, 100, -1), step(25, 101), run(25, 101, 2),
                                repeat(26, 101, 0), step(27, 103), run(27, 103, 4), step(29, 3)}));
}

TEST(TexDecode, ShortPackedSourcesHaveAnEmptyStream) {
  const Bytes full = packed(3, 2, 100, {100, 0, 1, 2, 3, 4, 5, 6});
  for (const std::size_t length : {16u, 22u, 23u}) {
    const Bytes source(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
    const Decoded decoded = decode(source);
    EXPECT_EQ(decoded.pixels, Bytes(6, 0)) << length;
    EXPECT_EQ(decoded.result.position, kFirstPosition) << length;
    EXPECT_TRUE(decoded.events.empty()) << length;
  }
}

TEST(TexDecode, HeightZeroStoresNothing) {
  const Bytes source = packed(300, 0, 100, {100, 0, 105, 1, 2});
  const Header header = read_header(source);
  ASSERT_EQ(header.layout, Layout::packed);
  EXPECT_EQ(pixel_count(header), 0u);
  EXPECT_EQ(decode_stream(source, header.sign, MutableBytes()).end, StreamEnd::image_full);
}

struct FormCase {
  const char* what;
  Bytes source;
  Layout layout;
};

void PrintTo(const FormCase& c, std::ostream* out) {
  *out << c.what;
}

class TexForm : public ::testing::TestWithParam<FormCase> {};

TEST_P(TexForm, Classifies) {
  EXPECT_EQ(read_header(GetParam().source).layout, GetParam().layout);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TexForm,
    ::testing::Values(
        // A x B = 5 x 6 = 30: a length of 30 is plain, 29 packed
        FormCase{"length_equal_to_product", source_of(30, {5, 0, 6, 0}), Layout::plain},
        FormCase{"length_one_below_product", source_of(29, {5, 0, 6, 0}), Layout::packed},
        FormCase{"length_above_product", source_of(31, {5, 0, 6, 0, 1, 1}), Layout::plain},
        // products of 2^31 and more are taken exactly, never wrapped or made negative
        FormCase{"product_65535_squared", source_of(100, {0xFF, 0xFF, 0xFF, 0xFF}), Layout::packed},
        FormCase{"product_just_past_2_31", source_of(100, {0xFF, 0xFF, 0x01, 0x80}),
                 Layout::packed},
        FormCase{"product_zero", source_of(4, {0, 0, 0xFF, 0xFF}), Layout::plain},
        FormCase{"empty", Bytes{}, Layout::too_short},
        FormCase{"three_bytes", Bytes{0, 0, 0}, Layout::too_short},
        FormCase{"four_bytes_plain", Bytes{2, 0, 2, 0}, Layout::plain},
        FormCase{"packed_15_bytes", source_of(15, {0xFF, 0xFF, 0xFF, 0xFF}),
                 Layout::packed_too_short},
        FormCase{"packed_16_bytes", source_of(16, {0xFF, 0xFF, 0xFF, 0xFF}), Layout::packed},
        FormCase{"packed_byte_4_not_0", source_of(40, {0xFF, 0xFF, 0xFF, 0xFF, 1, 0}),
                 Layout::packed_rejected},
        FormCase{"packed_byte_5_not_0", source_of(40, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0x80}),
                 Layout::packed_rejected},
        FormCase{"plain_bytes_4_5_not_read", source_of(40, {1, 0, 1, 0, 7, 7}), Layout::plain}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(TexHeader, EachFormTakesItsOwnFields) {
  const Header plain = read_header(source_of(30, {5, 0, 6, 0, 0x11, 0x22, 0x33, 0x44, 0x55}));
  EXPECT_EQ(plain.width, 5);
  EXPECT_EQ(plain.height, 6);
  Bytes bytes = source_of(40, {0x10, 0x27, 0x10, 0x27, 0, 0, 0x34, 0x12, 0xCD, 0xAB});
  bytes[kSignOffset] = 0xC7;
  const Header packed_header = read_header(bytes);
  ASSERT_EQ(packed_header.layout, Layout::packed);
  EXPECT_EQ(packed_header.width, 0x1234);
  EXPECT_EQ(packed_header.height, 0xABCD);
  EXPECT_EQ(packed_header.sign, 0xC7);
}

struct LimitCase {
  std::uint16_t width;
  std::uint16_t height;
  bool written;
};

class TexSizeLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(TexSizeLimit, AppliesToBothForms) {
  const LimitCase& c = GetParam();
  const Bytes plain =
      samples::tex_plain(c.width, c.height, Bytes(std::size_t{c.width} * c.height, 3));
  const Bytes packed_source = samples::tex_packed_from_stream(c.width, c.height, 100, Bytes{});
  const Header plain_header = read_header(plain);
  const Header packed_header = read_header(packed_source);
  ASSERT_EQ(plain_header.layout, Layout::plain);
  ASSERT_EQ(packed_header.layout, Layout::packed);
  EXPECT_EQ(within_size_limit(plain_header), c.written);
  EXPECT_EQ(within_size_limit(packed_header), c.written);
}

INSTANTIATE_TEST_SUITE_P(Cases, TexSizeLimit,
                         ::testing::Values(LimitCase{511, 511, true}, LimitCase{512, 1, false},
                                           LimitCase{1, 512, false}, LimitCase{512, 511, false},
                                           LimitCase{511, 512, false}, LimitCase{0, 0, true},
                                           LimitCase{0, 511, true}),
                         [](const auto& info) {
                           return std::to_string(info.param.width) + "x" +
                                  std::to_string(info.param.height);
                         });

TEST(TexPlain, CopiesThePixelsThatExist) {
  const Bytes full = samples::tex_plain(3, 2, Bytes{1, 2, 3, 4, 5, 6}) + Bytes{9, 9};
  struct {
    std::size_t length;
    Bytes pixels;
  } cases[] = {{28, {1, 2, 3, 4, 5, 6}}, {26, {1, 2, 3, 4, 5, 6}}, {24, {1, 2, 3, 4, 0, 0}},
               {21, {1, 0, 0, 0, 0, 0}}, {20, {0, 0, 0, 0, 0, 0}}, {6, {0, 0, 0, 0, 0, 0}}};
  for (const auto& c : cases) {
    const Bytes source(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(c.length));
    ASSERT_EQ(read_header(source).layout, Layout::plain) << c.length;
    Bytes pixels(6, 0);
    copy_plain_pixels(source, pixels);
    EXPECT_EQ(pixels, c.pixels) << c.length;
  }
}

TEST(TexName, LastThreeCharactersBecomeTif) {
  const std::pair<std::string, std::string> renamed[] = {{"wall.tex", "wall.TIF"},
                                                         {"B.TEX", "B.TIF"},
                                                         {"c.Tex", "c.TIF"},
                                                         {"abc", "TIF"},
                                                         {"x.tex.tex", "x.tex.TIF"}};
  for (const auto& [from, to] : renamed) {
    std::string name = from;
    EXPECT_TRUE(rename_to_tif(name)) << from;
    EXPECT_EQ(name, to);
  }
  for (const std::string& too_short : {std::string(), std::string("a"), std::string("ab")}) {
    std::string name = too_short;
    EXPECT_FALSE(rename_to_tif(name));
    EXPECT_EQ(name, too_short);
  }
}

TEST(TexPack, SamplesDecodeBackToTheirPixels) {
  const Bytes pixels = samples::sample_pixels(64 * 48, 5);
  EXPECT_LT(samples::tex_pack(64, 48, pixels, 0xC0)->size(), pixels.size() * 9 / 10);
  for (const std::uint8_t sign : {1, 100, 0xC0, 226, 240, 255}) {
    const std::optional<Bytes> source = samples::tex_pack(64, 48, pixels, sign);
    ASSERT_TRUE(source) << int(sign);
    EXPECT_EQ(decode(*source).pixels, pixels) << int(sign);
  }
  // S = 0 has no escape: a lone pixel below 30 cannot be written.
  EXPECT_FALSE(samples::tex_pack(2, 1, Bytes{5, 6}, 0));
  EXPECT_FALSE(samples::tex_pack(4, 1, Bytes{5, 5, 200, 6}, 0));
  const std::optional<Bytes> fits = samples::tex_pack(4, 1, Bytes{5, 5, 200, 30}, 0);
  ASSERT_TRUE(fits);
  EXPECT_EQ(decode(*fits).pixels, (Bytes{5, 5, 200, 30}));
}

}  // namespace
}  // namespace texport::tex
