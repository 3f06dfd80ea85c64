// Test cards for the bundled examples: pictures whose way up, colour order and frame number show
// at a glance, so a wrong decode (flipped rows, swapped channels, a shifted byte) is plain to see.
#pragma once

#include <cstdint>
#include <string_view>

#include "io/bytes.hpp"

namespace texport::samples {

// A grey card of width * height bytes: an up arrow, `label` (digits, R, G, B or T) drawn large,
// a gradient over every level from 0 to 255 and a checkerboard band. Flat panels give long runs,
// the gradient gives literals, and the sharp edges shear visibly when a byte goes missing.
Bytes grey_card(std::uint16_t width, std::uint16_t height, std::string_view label);

// An opaque RGBA card (4 bytes a pixel, red first): an up arrow, pure red, green and blue blocks
// labelled R, G and B from left to right, and grey and red ramps along the bottom.
Bytes rgba_card(std::uint16_t width, std::uint16_t height);

// The indexed card's palette (256 red, green, blue triples) and its width * height indices: an up
// arrow over eight colour bars (white, yellow, cyan, green, magenta, red, blue, black) and a grey
// ramp at the bottom.
Bytes card_palette();
Bytes indexed_card(std::uint16_t width, std::uint16_t height);

}  // namespace texport::samples
