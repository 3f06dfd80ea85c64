// Writes a folder of sources for the whole-folder benchmark (bench/folder_bench.py), with the
// header templates its outputs use. Frames hold pixels like real textures (runs of 2 to 11 between
// stretches of 1 to 7 literals), and every other container is packed.
//   default          200 .sfd containers of 20 frames of 128 x 128
//   --large          50 .sfd containers of 20 frames of 512 x 512
//   --other-formats  50 .tex textures of 256 x 256 (half packed), 50 .m32 and 50 .m8 images of
//                    256 x 256, no .sfd
// Usage: make_corpus FOLDER [SCALE] [--large | --other-formats] (SCALE divides the counts).
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
#include "texture_pixels.hpp"

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

// `count` containers of 20 frames of side x side, every other one packed.
void save_sfd(const std::filesystem::path& folder, int count, std::uint16_t side) {
  for (int i = 0; i < count; ++i) {
    std::vector<samples::SfdFrame> frames;
    for (std::uint32_t f = 0; f < 20; ++f)
      frames.push_back({side, side,
                        texport::bench::texture_pixels(std::size_t{side} * side,
                                                       static_cast<std::uint32_t>(i) * 20 + f)});
    const Bytes container = samples::sfd_container(frames);
    save(folder / ("anim" + std::to_string(i) + ".sfd"),
         i % 2 == 0 ? *samples::sfd_pack(container, 0xC0) : container);
  }
}

void save_other_formats(const std::filesystem::path& folder, int count) {
  constexpr std::uint16_t kSide = 256;
  save(folder / "HEADERTGA32", texport::builtin_tga_header(kSide, kSide));
  save(folder / "HEADERBMP", texport::builtin_bmp_header(kSide, kSide));
  const Bytes palette = samples::rainbow_palette();
  for (int i = 0; i < count; ++i) {
    const Bytes pixels =
        texport::bench::texture_pixels(kSide * kSide, static_cast<std::uint32_t>(1000 + i));
    save(folder / ("wall" + std::to_string(i) + ".tex"),
         i % 2 == 0 ? *samples::tex_pack(kSide, kSide, pixels, 0xC0)
                    : samples::tex_plain(kSide, kSide, pixels));
    save(folder / ("stone" + std::to_string(i) + ".m32"),
         samples::m32_file(2, kSide, kSide, samples::picture_rgba(kSide, kSide)));
    save(folder / ("tile" + std::to_string(i) + ".m8"),
         samples::m8_file(kSide, kSide, palette, samples::picture_indices(kSide, kSide)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path folder;
  int scale = 1;
  bool large = false, other_formats = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--large")
      large = true;
    else if (argument == "--other-formats")
      other_formats = true;
    else if (folder.empty())
      folder = argument;
    else
      scale = std::max(1, std::stoi(std::string(argument)));
  }
  if (folder.empty() || (large && other_formats)) {
    std::cerr << "usage: make_corpus FOLDER [SCALE] [--large | --other-formats]\n";
    return 1;
  }
  std::filesystem::create_directories(folder);
  const std::uint16_t side = large ? 512 : other_formats ? 256 : 128;
  save(folder / "HEADER.TIF", texport::builtin_tif_header(side, side));
  if (other_formats)
    save_other_formats(folder, 50 / scale);
  else
    save_sfd(folder, (large ? 50 : 200) / scale, side);
  return 0;
}
