// Writes a folder of sources for the whole-folder benchmark (bench/folder_bench.py), with the
// header templates its outputs use. The default corpus:
//   200 .sfd containers of 20 frames of 128 x 128 (every fourth one packed),
//   50 .tex textures of 256 x 256 (half packed), 50 .m32 and 50 .m8 images of 256 x 256.
// With --large, .sfd containers of large frames only:
//   50 .sfd containers of 20 frames of 512 x 512 (half packed).
// Usage: make_corpus FOLDER [SCALE] [--large] (SCALE divides the counts).
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "encoders.hpp"
#include "io/templates.hpp"

namespace {

using texport::Bytes;
namespace samples = texport::samples;

void save(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) {
    std::cerr << "make_corpus: cannot write " << path.string() << "\n";
    std::exit(1);
  }
}

// `count` containers of 20 frames of side x side, every `packed_every`-th one packed.
void save_sfd(const std::filesystem::path& folder, int count, std::uint16_t side,
              int packed_every) {
  for (int i = 0; i < count; ++i) {
    std::vector<samples::SfdFrame> frames;
    for (std::uint32_t f = 0; f < 20; ++f)
      frames.push_back({side, side, samples::sample_pixels(std::size_t{side} * side, i * 20 + f)});
    const Bytes container = samples::sfd_container(frames);
    save(folder / ("anim" + std::to_string(i) + ".sfd"),
         i % packed_every == 0 ? *samples::sfd_pack(container, 0xC0) : container);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path folder;
  int scale = 1;
  bool large = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--large")
      large = true;
    else if (folder.empty())
      folder = argument;
    else
      scale = std::max(1, std::stoi(std::string(argument)));
  }
  if (folder.empty()) {
    std::cerr << "usage: make_corpus FOLDER [SCALE] [--large]\n";
    return 1;
  }
  std::filesystem::create_directories(folder);
  const std::uint16_t side = large ? 512 : 128;
  save(folder / "HEADER.TIF", texport::builtin_tif_header(side, side));
  if (large) {
    save_sfd(folder, 50 / scale, side, 2);
    return 0;
  }
  save(folder / "HEADERTGA32", texport::builtin_tga_header(256, 256));
  save(folder / "HEADERBMP", texport::builtin_bmp_header(256, 256));
  save_sfd(folder, 200 / scale, side, 4);
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
