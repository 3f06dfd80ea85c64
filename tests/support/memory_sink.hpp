// A sink that keeps everything in memory: each image as the native bytes the tool writes (with
// the built-in headers), each line by stream, as the tool says them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "io/native.hpp"
#include "io/report.hpp"
#include "io/sink.hpp"

namespace texport::testing {

struct MemorySink {
  bool room = true;                    // what make_room finds
  std::size_t writes_left = SIZE_MAX;  // then every write fails for a full disk
  std::map<std::string, Bytes> images;
  std::vector<std::string> planned;  // the names make_room was shown
  std::string out, err;

  Sink sink() {
    return {
        .write =
            [this](const Picture& picture, const std::string& name) {
              if (writes_left == 0)
                return Written::disk_full;
              --writes_left;
              Bytes storage;
              const Bytes header =
                  image_header(native_template(picture.kind), nullptr, picture).bytes;
              Bytes& image = images[name];
              image.clear();
              for (const Part& part : native_parts(picture, header, storage))
                image.insert(image.end(), part.bytes.begin(), part.bytes.end());
              return Written::yes;
            },
        .print = [this](std::string_view text,
                        std::string_view name) { out += std::string(text) + shown(name) + "\n"; },
        .report =
            [this](std::string_view name, Problem problem, std::string_view what) {
              err += report_line("texport", name, problem, what);
            },
        .make_room =
            [this](std::string_view, const EachPicture& pictures) {
              pictures([&](const Picture&, const std::string& name) { planned.push_back(name); });
              return room;
            },
    };
  }
};

}  // namespace texport::testing
