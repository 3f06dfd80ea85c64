// The one seam between a converter and the world. A converter makes pictures and says what it
// met; it hands both to the sink its caller gives it, and never opens, writes or prints anything
// itself. The tools' sink writes into folders and prints (io/folder_sink.hpp); the tests' keeps
// everything in memory. Names given to a sink are names beside the source, as found.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "io/picture.hpp"

namespace texport {

// The three kinds of failure, each told with its own word, and notes that are no failure.
enum class Problem {
  damaged,      // the source is malformed: "damaged: ..."
  too_large,    // the source is over a limit of ours: "too large: ..."
  cannot,       // the file system said no: "cannot open: ...", "cannot write: ..."
  unsupported,  // the source is of a kind this tool does not know: "unsupported: ..."
  note,         // anything else worth knowing
};

enum class Written { yes, failed, disk_full };

// Calls `visit` with each picture a source will write and the name it will write it under.
using EachPicture = std::function<void(
    const std::function<void(const Picture& picture, const std::string& output_name)>& visit)>;

struct Sink {
  // Writes `picture` as the image `output_name`: the native name of its image, ending in its
  // image extension (".tif", ".TIF", ".tga", ".bmp"); a sink writing another format puts that
  // format's extension in its place.
  std::function<Written(const Picture& picture, const std::string& output_name)> write;
  // One console line of the tool's own on standard output: `text`, then `name` as shown, then
  // the end of the line.
  std::function<void(std::string_view text, std::string_view name)> print;
  // One line on standard error about `name`.
  std::function<void(std::string_view name, Problem problem, std::string_view what)> report;
  // Called once before a source's first image, with every image it will write: true when they
  // fit where they go; otherwise the sink has said so, and none of them is to be written.
  std::function<bool(std::string_view name, const EachPicture& pictures)> make_room;
};

// Writes the one picture of the source `name` as `output_name`, once there is room for it.
inline bool write_only_picture(const Sink& sink, std::string_view name, const Picture& picture,
                               const std::string& output_name) {
  const EachPicture only = [&](const auto& visit) { visit(picture, output_name); };
  return sink.make_room(name, only) && sink.write(picture, output_name) == Written::yes;
}

}  // namespace texport
