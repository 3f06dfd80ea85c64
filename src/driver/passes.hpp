// The batch passes: each searches the working folder for the sources of one format and hands
// every one, in name order, to its loader, which finishes the file before the next.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace texport {

struct Pass {
  std::string_view extension;
  bool (*load)(const std::string& name);  // true when the source converted without a problem
};

// Read one source whole and hand it to its converter. A .tex source is read a second time, as the
// reference of the decoder's trace, only in a build with the trace.
bool load_pair(const std::string& name, bool sfd);
bool load_m32(const std::string& name);
bool load_m8(const std::string& name);

// Every format the tool knows: the sources its pass searches for, and their loader.
inline constexpr Pass scan_sfd{".sfd",
                               [](const std::string& name) { return load_pair(name, true); }};
inline constexpr Pass scan_tex{".tex",
                               [](const std::string& name) { return load_pair(name, false); }};
inline constexpr Pass scan_m32{".m32", load_m32};
inline constexpr Pass scan_m8{".m8", load_m8};

// Runs the passes in order, then says on standard error what the run did.
void run_passes(std::initializer_list<Pass> passes);

}  // namespace texport
