// The one way out for every image.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "io/bytes.hpp"
#include "io/file_io.hpp"
#include "io/templates.hpp"

namespace texport {

// Writes one image as `output_name`: the template's header for `width` x `height`, the payload
// parts where they lie, and the template's final zero bytes, in one gather write. Refused, with a
// line on standard error: an output of 2 GiB or more, and one that would replace a header
// template.
Written write_image(const HeaderTemplate& header_template, std::uint16_t width,
                    std::uint16_t height, std::span<const ByteView> payload,
                    const std::string& output_name);

// Images written so far in this run.
std::size_t images_written();

}  // namespace texport
