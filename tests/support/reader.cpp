#include "support/reader.hpp"

#include <cstdlib>

#include "support/files.hpp"

namespace texport::testing {

bool reader_installed() {
  static const bool installed = std::system("convert -version >/dev/null 2>&1") == 0;
  return installed;
}

std::optional<Bytes> decode_with_reader(const fs::path& image, const std::string& raw_format) {
  const TempFolder scratch;
  const fs::path decoded = scratch / "pixels";
  const std::string command = "convert '" + image.string() + "' -depth 8 " + raw_format + ":'" +
                              decoded.string() + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0 || !fs::exists(decoded))
    return std::nullopt;
  return read_file(decoded);
}

std::optional<Bytes> decode_bytes_with_reader(ByteView image, const std::string& name,
                                              const std::string& raw_format) {
  const TempFolder scratch;
  write_file(scratch / name, image);
  return decode_with_reader(scratch / name, raw_format);
}

}  // namespace texport::testing
