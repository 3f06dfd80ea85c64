// An independent reader (ImageMagick's convert), to decode the tool's images with code nobody
// here wrote.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "io/bytes.hpp"

namespace texport::testing {

// Whether the reader is installed; a test that needs it is skipped, and says so, without it.
bool reader_installed();

// The pixels the reader decodes from an image, in a raw format ("gray", "rgba", "rgb"); nullopt
// when the reader fails.
std::optional<Bytes> decode_with_reader(const std::filesystem::path& image,
                                        const std::string& raw_format);

// The same for an image held in memory, its format told by `name`'s extension.
std::optional<Bytes> decode_bytes_with_reader(ByteView image, const std::string& name,
                                              const std::string& raw_format);

}  // namespace texport::testing
