// A source's pictures as converting it would write them, kept in memory with its problems;
// nothing is written. info tells them; import compares edited images with them.
#pragma once

#include <string>
#include <vector>

#include "io/bytes.hpp"
#include "io/report.hpp"
#include "io/sink.hpp"

namespace texport {

struct CapturedPicture {
  std::string name;  // the native image's
  PixelKind kind = PixelKind::grey;
  std::uint16_t width = 0, height = 0;
  Bytes pixels, palette;
};

struct Capture {
  std::vector<CapturedPicture> pictures;
  std::vector<std::string> problems;  // in the converter's words: "damaged: ..."

  Sink sink() {
    return {
        .write =
            [this](const Picture& picture, const std::string& name) {
              pictures.push_back({name, picture.kind, picture.width, picture.height,
                                  Bytes(picture.pixels.begin(), picture.pixels.end()),
                                  Bytes(picture.palette.begin(), picture.palette.end())});
              return Written::yes;
            },
        .print = [](std::string_view, std::string_view) {},
        .report = [this](
                      std::string_view, Problem problem,
                      std::string_view what) { problems.push_back(problem_text(problem, what)); },
        .make_room = [](std::string_view, const EachPicture&) { return true; },
    };
  }
};

}  // namespace texport
