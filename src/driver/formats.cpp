#include "driver/formats.hpp"

#include <new>
#include <optional>

#include "io/file_io.hpp"
#include "platform/folder.hpp"

namespace texport {

const Format* format_of(std::string_view name) {
  for (const Format& format : kFormats)
    if (platform::has_extension(name, format.extension))
      return &format;
  return nullptr;
}

bool convert_file(const Format& format, const platform::Folder& folder, const std::string& name,
                  const Sink& sink) {
  if (!platform::is_plain_name(name)) {
    sink.report(name, Problem::unsupported,
                "a name holding \\, / or :, which the system reads as a path; not a source");
    return false;
  }
  try {
    const std::optional<OpenFile> open = open_file(folder, name, sink);
    if (!open)
      return false;
    if (format.convert_in_file != nullptr && open->size >= kConvertInFileFrom) {
      const std::optional<FilledBytes> head = read_file(*open, name, sink, kHeadLength);
      if (!head)
        return false;
      if (const std::optional<bool> converted =
              format.convert_in_file(open->file, open->size, *head, name, sink))
        return *converted;
    }
    const std::optional<FilledBytes> source = read_file(*open, name, sink);
    return source && format.convert(*source, name, sink);
  } catch (const std::bad_alloc&) {
    sink.report(name, Problem::too_large, "not enough memory to convert it");
    return false;
  }
}

}  // namespace texport
