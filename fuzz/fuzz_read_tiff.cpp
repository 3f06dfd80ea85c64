// TIFF reading through libtiff, from memory: whatever the file, a result that holds together.
#include <cstdint>

#include "fuzz_read_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  texport::fuzz::check_read(texport::read_image(texport::ByteView(data, size), "image.tiff"));
  return 0;
}
