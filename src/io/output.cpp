#include "io/output.hpp"

#include <algorithm>
#include <vector>

#include "io/report.hpp"
#include "platform/files.hpp"

namespace texport {
namespace {

std::size_t written_count = 0;

// Whether writing `output_name` would replace a template: the same name, or, in a folder that
// ignores letter case, the same file.
bool is_a_template(const std::string& output_name) {
  const auto folded_equal = [](char a, char b) { return (a | 0x20) == (b | 0x20); };
  for (const HeaderTemplate& header_template : kTemplates) {
    const std::string template_name(header_template.file_name);
    if (std::equal(output_name.begin(), output_name.end(), template_name.begin(),
                   template_name.end(), folded_equal) &&
        (output_name == template_name || platform::same_file(output_name, template_name)))
      return true;
  }
  return false;
}

}  // namespace

Written write_image(const HeaderTemplate& header_template, std::uint16_t width,
                    std::uint16_t height, std::span<const ByteView> payload,
                    const std::string& output_name) {
  std::uint64_t length = header_template.header_length + header_template.final_zeros;
  for (const ByteView part : payload)
    length += part.size();
  if (length > kMaxLength) {
    report(output_name, Problem::too_large,
           std::to_string(length) + " bytes would be 2 GiB or more");
    return Written::failed;
  }
  if (is_a_template(output_name)) {
    report(output_name, Problem::cannot, "write it: it would replace a header template");
    return Written::failed;
  }
  const Bytes header = load_template(header_template, width, height);
  static constexpr std::uint8_t kZeros[1] = {};
  std::vector<ByteView> parts{header};
  parts.insert(parts.end(), payload.begin(), payload.end());
  parts.push_back(ByteView(kZeros, header_template.final_zeros));
  const Written written = write_whole_file(parts, output_name);
  written_count += written == Written::yes;
  return written;
}

std::size_t images_written() {
  return written_count;
}

}  // namespace texport
