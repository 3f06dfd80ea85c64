#include "driver/passes.hpp"

#include <new>
#include <optional>

#include "convert/m32.hpp"
#include "convert/m8.hpp"
#include "convert/sfd.hpp"
#include "convert/tex.hpp"
#include "io/file_io.hpp"
#include "io/output.hpp"
#include "io/report.hpp"
#include "platform/folder.hpp"

namespace texport {

bool load_pair(const std::string& name, bool sfd) {
  const std::optional<Bytes> source = read_whole_file(name);
  if (!source)
    return false;
  if (sfd)
    return sfd::convert_sfd(*source, name);
  std::optional<Bytes> reference;
  if constexpr (tex::tex_trace)
    reference = read_whole_file(name);
  return tex::convert_tex(*source, reference ? ByteView(*reference) : ByteView(), name);
}

bool load_m32(const std::string& name) {
  const std::optional<Bytes> source = read_whole_file(name);
  return source && m32::convert_m32(*source, name);
}

bool load_m8(const std::string& name) {
  const std::optional<Bytes> source = read_whole_file(name);
  return source && m8::convert_m8(*source, name);
}

void run_passes(std::initializer_list<Pass> passes) {
  std::size_t sources = 0;
  std::size_t troubled = 0;
  for (const Pass& pass : passes) {
    for (const std::string& name : platform::find_sources(pass.extension)) {
      ++sources;
      try {
        troubled += !pass.load(name);
      } catch (const std::bad_alloc&) {
        report(name, Problem::too_large, "not enough memory to convert it");
        ++troubled;
      }
    }
  }
  const auto count = [](std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  report("done", Problem::note,
         count(sources, "source") + " read, " + count(images_written(), "image") + " written, " +
             count(troubled, "source") + " with problems");
}

}  // namespace texport
