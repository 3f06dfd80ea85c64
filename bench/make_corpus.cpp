// Writes a folder of sources for the whole-folder benchmark:
//   200 .sfd containers of 20 frames of 128 x 128 (every fourth one packed),
//   50 .tex textures of 256 x 256 (half packed), 50 .m32 and 50 .m8 images of 256 x 256,
// and the three header templates. Usage: make_corpus FOLDER [SCALE] (SCALE divides the counts).
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "encoders.hpp"
#include "io/templates.hpp"

namespace {

using texport::Bytes;
namespace samples = texport::samples;

void save(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) {
    std::cerr << "make_corpus: cannot write " << path.string() << "\n";
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: make_corpus FOLDER [SCALE]\n";
    return 1;
  }
  const std::filesystem::path folder = argv[1];
  const int scale = argc > 2 ? std::max(1, std::stoi(argv[2])) : 1;
  std::filesystem::create_directories(folder);
  save(folder / "HEADER.TIF", texport::builtin_tif_header(128, 128));
  save(folder / "HEADERTGA32", texport::builtin_tga_header(256, 256));
  save(folder / "HEADERBMP", texport::builtin_bmp_header(256, 256));

  for (int i = 0; i < 200 / scale; ++i) {
    std::vector<samples::SfdFrame> frames;
    for (std::uint32_t f = 0; f < 20; ++f)
      frames.push_back({128, 128, samples::sample_pixels(128 * 128, i * 20 + f)});
    const Bytes container = samples::sfd_container(frames);
    save(folder / ("anim" + std::to_string(i) + ".sfd"),
         i % 4 == 0 ? *samples::sfd_pack(container, 0xC0) : container);
  }
  const Bytes palette = samples::rainbow_palette();
  for (int i = 0; i < 50 / scale; ++i) {
    const Bytes pixels = samples::sample_pixels(256 * 256, 1000 + i);
    save(folder / ("wall" + std::to_string(i) + ".tex"),
         i % 2 == 0 ? *samples::tex_pack(256, 256, pixels, 0xC0)
                    : samples::tex_plain(256, 256, pixels));
    save(folder / ("stone" + std::to_string(i) + ".m32"),
         samples::m32_file(2, 256, 256, samples::picture_rgba(256, 256)));
    save(folder / ("tile" + std::to_string(i) + ".m8"),
         samples::m8_file(256, 256, palette, samples::picture_indices(256, 256)));
  }
  return 0;
}
