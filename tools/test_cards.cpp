#include "test_cards.hpp"

#include <algorithm>
#include <array>

namespace texport::samples {

namespace {

using Colour = std::array<std::uint8_t, 4>;  // the first `channels` bytes are used

// 3 x 5 glyphs, a row of 3 bits at a time from the top, the high bit on the left.
constexpr std::string_view kGlyphNames = "0123456789RGBT";
constexpr std::uint16_t kGlyphs[] = {
    0b111'101'101'101'111, 0b010'110'010'010'111, 0b111'001'111'100'111, 0b111'001'111'001'111,
    0b101'101'111'001'001, 0b111'100'111'001'111, 0b111'100'111'101'111, 0b111'001'001'001'001,
    0b111'101'111'101'111, 0b111'101'111'001'111, 0b110'101'110'101'101, 0b011'100'101'101'011,
    0b110'101'110'101'110, 0b111'010'010'010'010};

struct Box {
  int x0, y0, x1, y1;  // [x0, x1) by [y0, y1)
};

struct Canvas {
  int width, height, channels;
  Bytes pixels;

  Canvas(int w, int h, int c) : width(w), height(h), channels(c), pixels(std::size_t(w) * h * c) {}

  void fill(Box box, Colour colour) {
    for (int y = std::max(box.y0, 0); y < std::min(box.y1, height); ++y)
      for (int x = std::max(box.x0, 0); x < std::min(box.x1, width); ++x)
        std::copy_n(colour.begin(), channels, &pixels[(std::size_t(y) * width + x) * channels]);
  }

  // Points up: the head widens a pixel a row at 45 degrees, so a flip or a shear is obvious.
  void arrow(Box box, Colour colour) {
    const int centre = (box.x0 + box.x1 - 1) / 2, half = (box.x1 - box.x0) / 2 - 2;
    for (int y = box.y0 + 2; y < box.y1 - 2; ++y) {
      const int w = y - box.y0 - 2 <= half ? y - box.y0 - 2 : half / 3;
      fill({centre - w, y, centre + w + 1, y + 1}, colour);
    }
  }

  // `text` as large as fits in the box, centred.
  void label(Box box, std::string_view text, Colour colour) {
    const int n = static_cast<int>(text.size());
    const int scale =
        std::max(1, std::min((box.x1 - box.x0 - 2) / (4 * n - 1), (box.y1 - box.y0 - 2) / 5));
    int x = (box.x0 + box.x1 - (4 * n - 1) * scale) / 2;
    const int y = (box.y0 + box.y1 - 5 * scale) / 2;
    for (char c : text) {
      const std::size_t at = kGlyphNames.find(c);
      const std::uint16_t glyph = at == kGlyphNames.npos ? 0 : kGlyphs[at];  // others: a blank
      for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 3; ++col)
          if (glyph >> (14 - 3 * row - col) & 1)
            fill({x + col * scale, y + row * scale, x + (col + 1) * scale, y + (row + 1) * scale},
                 colour);
      x += 4 * scale;
    }
  }
};

constexpr Colour kBlack{0, 0, 0, 255}, kWhite{255, 255, 255, 255};

std::uint8_t ramp(int x, int width) {
  return static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1));
}

}  // namespace

Bytes grey_card(std::uint16_t width, std::uint16_t height, std::string_view label) {
  const int w = width, h = height;
  Canvas card(w, h, 1);
  // Four rows of the gradient hold the 256 levels between them when the card is 64 wide, so the
  // run codes and escapes of the packed forms all turn up as lone bytes.
  const int step = std::max(1, 256 / std::max(w, 1));
  for (int y = 0; y < h * 5 / 6; ++y)
    for (int x = 0; x < w; ++x)
      card.pixels[std::size_t(y) * w + x] =
          static_cast<std::uint8_t>(std::min(255, x * 256 / w + y % step));
  for (int y = h * 5 / 6; y < h; ++y)
    for (int x = 0; x < w; ++x)
      card.pixels[std::size_t(y) * w + x] = (x / 4 + y / 4) % 2 ? 255 : 0;
  const Box left{w / 16, h / 24, w * 3 / 8 + 1, h * 5 / 8},
      right{w * 7 / 16, h / 24, w * 15 / 16, h * 5 / 8};
  card.fill(left, kBlack);
  card.arrow(left, kWhite);
  card.fill(right, kWhite);
  card.label(right, label, kBlack);
  return card.pixels;
}

Bytes rgba_card(std::uint16_t width, std::uint16_t height) {
  const int w = width, h = height, top = h * 3 / 4;
  Canvas card(w, h, 4);
  card.fill({0, 0, w, h}, kBlack);  // alpha 255 everywhere
  card.arrow({0, 0, w / 4, top}, kWhite);
  const Colour blocks[3] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
  for (int i = 0; i < 3; ++i) {
    const Box block{w * (i + 1) / 4, 0, w * (i + 2) / 4, top};
    card.fill(block, blocks[i]);
    card.label({block.x0, block.y0, block.x1, block.y0 + h * 5 / 12},
               std::string_view("RGB").substr(i, 1), i == 1 ? kBlack : kWhite);
  }
  for (int x = 0; x < w; ++x) {
    const std::uint8_t level = ramp(x, w);
    card.fill({x, top, x + 1, (top + h) / 2}, {level, level, level, 255});
    card.fill({x, (top + h) / 2, x + 1, h}, {level, 0, 0, 255});
  }
  return card.pixels;
}

Bytes card_palette() {
  // Entries 0 to 7 are the bars (white, yellow, cyan, green, magenta, red, blue, black), 8 to 255
  // a grey ramp.
  Bytes out = {255, 255, 255, 255, 255, 0, 0, 255, 255, 0, 255, 0,
               255, 0,   255, 255, 0,   0, 0, 0,   255, 0, 0,   0};
  for (int i = 8; i < 256; ++i)
    out.insert(out.end(), 3, ramp(i - 8, 248));
  return out;
}

Bytes indexed_card(std::uint16_t width, std::uint16_t height) {
  const int w = width, h = height, top = h * 5 / 12, bottom = h * 5 / 6;
  Canvas card(w, h, 1);
  card.fill({0, 0, w, top}, {48});  // dark grey, so the black bar still shows
  card.arrow({w * 11 / 32, 0, w * 21 / 32, top}, {0});
  for (int i = 0; i < 8; ++i)
    card.fill({w * i / 8, top, w * (i + 1) / 8, bottom}, {static_cast<std::uint8_t>(i)});
  for (int x = 0; x < w; ++x)
    card.fill({x, bottom, x + 1, h}, {static_cast<std::uint8_t>(8 + ramp(x, w) * 247 / 255)});
  return card.pixels;
}

}  // namespace texport::samples
