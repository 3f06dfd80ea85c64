// Every format the tools know, in the order the tool made for its users converts them: the
// extension a source is found by, and its converter.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "convert/m32.hpp"
#include "convert/m8.hpp"
#include "convert/rebuild.hpp"
#include "convert/sfd.hpp"
#include "convert/tex.hpp"
#include "io/sink.hpp"
#include "platform/files.hpp"

namespace texport {

struct Format {
  std::string_view extension;
  PixelKind kind;  // of its pictures
  bool (*convert)(ByteView source, const std::string& name, const Sink& sink);
  std::string (*layout)(ByteView source);  // how a source is stored, in words
  // The source with the images given in place of its own (import).
  Rebuilt (*rebuild)(ByteView original, std::span<const Replacement> images);
  // Converts a large source from its open file, given its first kHeadLength bytes, where the
  // format can (its pictures' pixels then stay in the file); nullopt where it cannot.
  std::optional<bool> (*convert_in_file)(const platform::File& file, std::uint64_t size,
                                         ByteView head, const std::string& name,
                                         const Sink& sink) = nullptr;
};

// Sources of this many bytes or more are offered to their format's in-file converter first: for
// smaller ones, reading them whole costs less than writing each picture from the file.
inline constexpr std::uint64_t kConvertInFileFrom = std::uint64_t{1} << 20;
inline constexpr std::size_t kHeadLength = std::size_t{1} << 16;
static_assert(kHeadLength <= kConvertInFileFrom);

// A format of one image a source takes one image.
template <Rebuilt (*rebuild)(ByteView, const Replacement&)>
Rebuilt rebuild_one(ByteView original, std::span<const Replacement> images) {
  if (images.size() != 1)
    return {std::nullopt,
            "it holds one image, and " + std::to_string(images.size()) + " are given"};
  return rebuild(original, images[0]);
}

inline Rebuilt rebuild_frames(ByteView original, std::span<const Replacement> frames) {
  return sfd::rebuild(original, frames);
}

inline constexpr Format kFormats[] = {
    {".sfd", PixelKind::grey, sfd::convert_sfd, sfd::layout, rebuild_frames,
     sfd::convert_sfd_in_file},
    {".tex", PixelKind::grey, tex::convert_tex, tex::layout, rebuild_one<tex::rebuild>},
    {".m32", PixelKind::rgba, m32::convert_m32, m32::layout, rebuild_one<m32::rebuild>},
    {".m8", PixelKind::indexed, m8::convert_m8, m8::layout, rebuild_one<m8::rebuild>},
};

// The format of a source name (by its own extension, letter case aside), or none.
const Format* format_of(std::string_view name);

// Converts the source `name`, read whole or from its open file: true when it converted without a
// problem.
bool convert_file(const Format& format, const platform::Folder& folder, const std::string& name,
                  const Sink& sink);

}  // namespace texport
