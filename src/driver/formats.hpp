// Every format the tools know, in the order the tool made for its users converts them: the
// extension a source is found by, and its converter.
#pragma once

#include <string>
#include <string_view>

#include "convert/m32.hpp"
#include "convert/m8.hpp"
#include "convert/sfd.hpp"
#include "convert/tex.hpp"
#include "io/sink.hpp"
#include "platform/files.hpp"

namespace texport {

struct Format {
  std::string_view extension;
  bool (*convert)(ByteView source, const std::string& name, const Sink& sink);
  std::string (*layout)(ByteView source);  // how a source is stored, in words
};

inline constexpr Format kFormats[] = {
    {".sfd", sfd::convert_sfd, sfd::layout},
    {".tex", tex::convert_tex, tex::layout},
    {".m32", m32::convert_m32, m32::layout},
    {".m8", m8::convert_m8, m8::layout},
};

// The format of a source name (by its own extension, letter case aside), or none.
const Format* format_of(std::string_view name);

// Reads the source `name` whole and converts it: true when it converted without a problem.
bool convert_file(const Format& format, const platform::Folder& folder, const std::string& name,
                  const Sink& sink);

}  // namespace texport
