// texkit import: what an edited image gives a source. Pure rules, apart from the command.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "io/bytes.hpp"
#include "io/image_read.hpp"

namespace texport::texkit {

// An image made into what a source holds, or why it cannot be.
struct Mapped {
  Bytes pixels;
  Bytes palette;              // .m8, from a paletted image: 256 entries of red, green, blue
  std::uint64_t changed = 0;  // pixels --nearest moved to what the source can hold
  std::string problem;        // "" when mapped
};

// One 8-bit value a pixel (.sfd frames, .tex textures): a grey image as it is (its alpha
// dropped), a paletted one by its indices, an RGB one only where red, green and blue are equal;
// with `nearest`, their mean.
Mapped to_values(const ReadImage& image, bool nearest);

// Red, green, blue and alpha (.m32): an image without alpha takes the alpha of `original`
// (the source's own pixels, when of the same size), else 255.
Mapped to_rgba(const ReadImage& image, ByteView original);

// Palette indices (.m8): a paletted image gives its indices and its palette (entries it lacks
// keep `palette`'s); any other is mapped onto `palette`, colour by colour, a pixel keeping its
// index in `original` (the source's own, when of the same size) where that entry has its colour
// and others share it; with `nearest`, a colour the palette lacks takes the nearest entry.
Mapped to_indices(const ReadImage& image, ByteView palette, ByteView original, bool nearest);

// The source an image's name is one of, as export names them, letter case aside: NAME.sfdN.*
// (frame N of NAME.sfd), NAME.* (NAME.tex), NAME.m32.*, NAME.m8.*, where * is an image
// extension. `exists` says whether a source of that name, letter case folded, lies there and
// gives its name as it lies; where an image could be of several sources, it is of the one whose
// image export wrote last.
struct ImageOf {
  std::string source;
  std::uint64_t frame = 1;
};
std::optional<ImageOf> source_of(
    const std::string& image_name,
    const std::function<std::optional<std::string>(const std::string& folded)>& exists);

// True for a name with an extension of an image read back (.png, .tif, .tiff, .tga, .bmp).
bool is_image_name(std::string_view name);

}  // namespace texport::texkit
