#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>

#include "driver/capture.hpp"
#include "driver/texkit.hpp"
#include "io/file_io.hpp"
#include "io/report.hpp"
#include "platform/console.hpp"

namespace texport::texkit {
namespace {

struct ImageInfo {
  std::string name;
  PixelKind kind;
  std::uint16_t width, height;
  std::uint8_t alpha_low = 255, alpha_high = 255;  // rgba
  std::size_t colours = 0;                         // indexed: distinct palette colours
};

ImageInfo info_of(const CapturedPicture& picture) {
  ImageInfo image{picture.name, picture.kind, picture.width, picture.height};
  if (picture.kind == PixelKind::rgba && !picture.pixels.empty()) {
    image.alpha_low = 255;
    image.alpha_high = 0;
    for (std::size_t at = 3; at < picture.pixels.size(); at += 4) {
      image.alpha_low = std::min(image.alpha_low, picture.pixels[at]);
      image.alpha_high = std::max(image.alpha_high, picture.pixels[at]);
    }
  }
  if (picture.kind == PixelKind::indexed) {
    std::set<std::uint32_t> colours;
    for (std::size_t at = 0; at + 2 < picture.palette.size(); at += 3)
      colours.insert(std::uint32_t{picture.palette[at]} << 16 |
                     std::uint32_t{picture.palette[at + 1]} << 8 | picture.palette[at + 2]);
    image.colours = colours.size();
  }
  return image;
}

// What converting a source would write and say, and how it is stored.
struct Description {
  std::string layout;
  std::vector<ImageInfo> images;
  std::vector<std::string> problems;
};

std::string size_text(const ImageInfo& image) {
  return std::to_string(image.width) + " x " + std::to_string(image.height);
}

// "3 frames of 64 x 48", "2 frames: 64 x 48, 32 x 32", "64 x 48, alpha 0 to 255".
std::string images_text(const Format& format, const std::vector<ImageInfo>& images) {
  std::string text;
  if (format.extension == ".sfd") {
    const bool one_size = std::all_of(images.begin(), images.end(), [&](const ImageInfo& image) {
      return size_text(image) == size_text(images[0]);
    });
    text = counted(images.size(), "frame");
    if (images.empty())
      return text;
    if (one_size)
      return text + " of " + size_text(images[0]);
    text += ":";
    for (const ImageInfo& image : images)
      text.append(&image == &images[0] ? " " : ", ").append(size_text(image));
    return text;
  }
  if (images.empty())
    return "no image";
  const ImageInfo& image = images[0];
  text = size_text(image);
  if (image.kind == PixelKind::rgba)
    text += image.alpha_low == image.alpha_high
                ? ", alpha " + std::to_string(image.alpha_low) + " throughout"
                : ", alpha " + std::to_string(image.alpha_low) + " to " +
                      std::to_string(image.alpha_high);
  if (image.kind == PixelKind::indexed)
    text += ", a palette of " + counted(image.colours, "colour");
  return text;
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string json_line(const std::string& source, const Format& format,
                      const Description& description) {
  std::string line = "{\"source\":" + json_string(source) +
                     ",\"format\":" + json_string(format.extension.substr(1)) +
                     ",\"layout\":" + json_string(description.layout) + ",\"images\":[";
  for (const ImageInfo& image : description.images) {
    line += (&image == &description.images[0] ? "" : ",");
    line += "{\"name\":" + json_string(shown(image.name)) +
            ",\"width\":" + std::to_string(image.width) +
            ",\"height\":" + std::to_string(image.height);
    if (image.kind == PixelKind::rgba)
      line += ",\"alpha\":[" + std::to_string(image.alpha_low) + "," +
              std::to_string(image.alpha_high) + "]";
    if (image.kind == PixelKind::indexed)
      line += ",\"palette_colours\":" + std::to_string(image.colours);
    line += "}";
  }
  line += "],\"problems\":[";
  for (const std::string& problem : description.problems)
    line.append(&problem == &description.problems[0] ? "" : ",").append(json_string(problem));
  return line + "]}\n";
}

}  // namespace

int info(const Arguments& arguments) {
  const Found found = find_all(arguments.paths, arguments.recursive);
  if (!found.problem.empty()) {
    platform::write_console(platform::Stream::error, "texkit: " + found.problem + "\n");
    return 2;
  }
  bool clean = true;
  for (const FoundSource& source : found.sources) {
    Capture capture;
    const Sink sink = capture.sink();
    const std::string shown_name = shown(source.folder->shown + source.name);
    Description description;
    if (const std::optional<FilledBytes> bytes =
            read_whole_file(*source.folder->folder, source.name, sink)) {
      description.layout = source.format->layout(*bytes);
      source.format->convert(*bytes, source.name, sink);
    }
    for (const CapturedPicture& picture : capture.pictures)
      description.images.push_back(info_of(picture));
    description.problems = capture.problems;
    clean = clean && description.problems.empty();
    std::string line;
    if (arguments.json) {
      line = json_line(shown_name, *source.format, description);
    } else {
      line = shown_name + ": " + std::string(source.format->extension.substr(1));
      if (!description.layout.empty())
        line += ", " + description.layout + ", " + images_text(*source.format, description.images);
      for (const std::string& problem : description.problems)
        line += "; " + problem;
      line += "\n";
    }
    platform::write_console(platform::Stream::output, line);
  }
  return clean ? 0 : 1;
}

}  // namespace texport::texkit
