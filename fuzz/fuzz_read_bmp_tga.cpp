// BMP and TGA reading through stb_image (a file without the BMP signature is tried as a TGA):
// whatever the file, a result that holds together.
#include <cstdint>

#include "fuzz_read_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  texport::fuzz::check_read(texport::read_image(texport::ByteView(data, size), "image.bmp"));
  return 0;
}
