// PNG reading (libpng, or stb_image where libpng is absent): whatever the file, a result that
// holds together. Fuzz builds skip the checksums, so that mutated files reach the image data.
#include <cstdint>

#include "fuzz_read_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  texport::fuzz::check_read(texport::read_image(texport::ByteView(data, size), "image.png"));
  return 0;
}
