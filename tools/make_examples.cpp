// Writes the bundled example sources and header templates into a folder (default: examples).
// Every example image is 64 x 48, the size the example templates describe, so the converted
// examples are exact images in any reader.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "encoders.hpp"
#include "io/templates.hpp"
#include "test_cards.hpp"

namespace {

using texport::Bytes;
namespace samples = texport::samples;

constexpr std::uint16_t kWidth = 64;
constexpr std::uint16_t kHeight = 48;

bool save(const std::filesystem::path& folder, const char* name, const Bytes& bytes) {
  std::ofstream file(folder / name, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) {
    std::cerr << "make_examples: cannot write " << (folder / name).string() << "\n";
    return false;
  }
  return true;
}

// Frame i shows the number i, as the converted file's name does.
std::vector<samples::SfdFrame> frames(std::size_t count) {
  std::vector<samples::SfdFrame> out;
  for (std::size_t i = 1; i <= count; ++i)
    out.push_back({kWidth, kHeight, samples::grey_card(kWidth, kHeight, std::to_string(i))});
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "examples";
  std::filesystem::create_directories(folder);
  bool ok = true;

  ok &= save(folder, "HEADER.TIF", texport::builtin_tif_header(kWidth, kHeight));
  ok &= save(folder, "HEADERTGA32", texport::builtin_tga_header(kWidth, kHeight));
  ok &= save(folder, "HEADERBMP", texport::builtin_bmp_header(kWidth, kHeight));

  ok &= save(folder, "walls.sfd", samples::sfd_container(frames(3)));
  ok &= save(folder, "packed.sfd", *samples::sfd_pack(samples::sfd_container(frames(2)), 0xC0));
  // Frame 3 of 4 lies past the end of the file: frames 1 and 2 convert, then one line says so.
  Bytes damaged = samples::sfd_container(frames(4));
  texport::write_u32le(damaged, 12, static_cast<std::uint32_t>(damaged.size() + 100));
  ok &= save(folder, "damaged.sfd", damaged);

  ok &= save(folder, "plain.tex",
             samples::tex_plain(kWidth, kHeight, samples::grey_card(kWidth, kHeight, "T1")));
  // Sign C0: runs use the codes C0 to DD, and lone pixels of those values (or BF) are escaped.
  ok &= save(folder, "packed.tex",
             *samples::tex_pack(kWidth, kHeight, samples::grey_card(kWidth, kHeight, "T2"), 0xC0));

  // One .m32 of each layout, all of the same picture, and one .m8.
  const Bytes rgba = samples::rgba_card(kWidth, kHeight);
  ok &= save(folder, "stone.m32", samples::m32_file(2, kWidth, kHeight, rgba));
  ok &= save(folder, "marble.m32", samples::m32_file(3, kWidth, kHeight, rgba));
  ok &= save(folder, "slate.m32", samples::m32_file(4, kWidth, kHeight, rgba));
  ok &= save(folder, "tile.m8",
             samples::m8_file(kWidth, kHeight, samples::card_palette(),
                              samples::indexed_card(kWidth, kHeight)));

  return ok ? 0 : 1;
}
