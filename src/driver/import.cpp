#include "driver/import.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <map>

#include "convert/rebuild.hpp"
#include "driver/capture.hpp"
#include "driver/texkit.hpp"
#include "io/file_io.hpp"
#include "io/report.hpp"
#include "platform/console.hpp"
#include "platform/folder.hpp"

namespace texport::texkit {
namespace {

constexpr std::string_view kImageExtensions[] = {".png", ".tif", ".tiff", ".tga", ".bmp"};

// The red, green and blue of a pixel of any image; its alpha, 255 where it has none.
std::array<std::uint8_t, 3> colour_at(const ReadImage& image, std::size_t pixel) {
  const std::uint8_t* at = image.pixels.data() + pixel * bytes_per_pixel(image.channels);
  switch (image.channels) {
    case Channels::grey:
    case Channels::grey_alpha:
      return {at[0], at[0], at[0]};
    case Channels::indexed:
      return {image.palette[3 * at[0]], image.palette[3 * at[0] + 1], image.palette[3 * at[0] + 2]};
    case Channels::rgb:
    case Channels::rgba:
      break;
  }
  return {at[0], at[1], at[2]};
}

std::optional<std::uint8_t> alpha_at(const ReadImage& image, std::size_t pixel) {
  const std::size_t size = bytes_per_pixel(image.channels);
  if (image.channels == Channels::grey_alpha || image.channels == Channels::rgba)
    return image.pixels[pixel * size + size - 1];
  return std::nullopt;
}

std::string pixel_text(const ReadImage& image, std::size_t pixel) {
  const auto [red, green, blue] = colour_at(image, pixel);
  return "pixel (" + std::to_string(pixel % image.width) + ", " +
         std::to_string(pixel / image.width) + ") is red " + std::to_string(red) + ", green " +
         std::to_string(green) + ", blue " + std::to_string(blue);
}

}  // namespace

Mapped to_values(const ReadImage& image, bool nearest) {
  Mapped mapped;
  const std::size_t count = std::size_t{image.width} * image.height;
  mapped.pixels.resize(count);
  for (std::size_t pixel = 0; pixel < count; ++pixel) {
    if (image.channels == Channels::indexed) {
      mapped.pixels[pixel] = image.pixels[pixel];
      continue;
    }
    const auto [red, green, blue] = colour_at(image, pixel);
    if (red == green && green == blue) {
      mapped.pixels[pixel] = red;
    } else if (nearest) {
      mapped.pixels[pixel] = static_cast<std::uint8_t>((red + green + blue + 1) / 3);
      ++mapped.changed;
    } else {
      mapped.problem = pixel_text(image, pixel) +
                       ": one value a pixel needs red, green and blue equal (--nearest takes "
                       "their mean)";
      return mapped;
    }
  }
  return mapped;
}

Mapped to_rgba(const ReadImage& image, ByteView original) {
  Mapped mapped;
  const std::size_t count = std::size_t{image.width} * image.height;
  mapped.pixels.resize(4 * count);
  const bool same_size = original.size() == 4 * count;
  for (std::size_t pixel = 0; pixel < count; ++pixel) {
    const auto colour = colour_at(image, pixel);
    std::copy(colour.begin(), colour.end(), mapped.pixels.begin() + 4 * pixel);
    mapped.pixels[4 * pixel + 3] =
        alpha_at(image, pixel).value_or(same_size ? original[4 * pixel + 3] : 255);
  }
  return mapped;
}

Mapped to_indices(const ReadImage& image, ByteView palette, ByteView original, bool nearest) {
  Mapped mapped;
  const std::size_t count = std::size_t{image.width} * image.height;
  if (image.channels == Channels::indexed) {
    mapped.pixels = image.pixels;
    mapped.palette.assign(kPaletteLength, 0);
    if (palette.size() == kPaletteLength)
      std::copy(palette.begin(), palette.end(), mapped.palette.begin());
    std::copy_n(image.palette.begin(), std::min(image.palette.size(), kPaletteLength),
                mapped.palette.begin());
    return mapped;
  }
  // The entries of each colour, first the lowest; a colour the palette lacks is found once.
  std::map<std::array<std::uint8_t, 3>, std::uint8_t> first_entry, nearest_entry;
  for (std::size_t entry = kPaletteEntries; entry-- > 0;)
    first_entry[{palette[3 * entry], palette[3 * entry + 1], palette[3 * entry + 2]}] =
        static_cast<std::uint8_t>(entry);
  const bool same_size = original.size() == count;
  mapped.pixels.resize(count);
  for (std::size_t pixel = 0; pixel < count; ++pixel) {
    const auto colour = colour_at(image, pixel);
    if (same_size) {
      const std::size_t kept = original[pixel];
      if (std::equal(colour.begin(), colour.end(), palette.begin() + 3 * kept)) {
        mapped.pixels[pixel] = original[pixel];
        continue;
      }
    }
    if (const auto found = first_entry.find(colour); found != first_entry.end()) {
      mapped.pixels[pixel] = found->second;
      continue;
    }
    if (!nearest) {
      mapped.problem = pixel_text(image, pixel) +
                       ", a colour the palette does not hold (--nearest takes the nearest it "
                       "holds)";
      return mapped;
    }
    auto [slot, added] = nearest_entry.try_emplace(colour, 0);
    if (added) {
      unsigned best = UINT32_MAX;
      for (std::size_t entry = 0; entry < kPaletteEntries; ++entry) {
        unsigned distance = 0;
        for (std::size_t c = 0; c < 3; ++c) {
          const int difference = int{colour[c]} - palette[3 * entry + c];
          distance += static_cast<unsigned>(difference * difference);
        }
        if (distance < best) {
          best = distance;
          slot->second = static_cast<std::uint8_t>(entry);
        }
      }
    }
    mapped.pixels[pixel] = slot->second;
    ++mapped.changed;
  }
  return mapped;
}

bool is_image_name(std::string_view name) {
  return std::any_of(
      std::begin(kImageExtensions), std::end(kImageExtensions),
      [&](std::string_view extension) { return platform::has_extension(name, extension); });
}

std::optional<ImageOf> source_of(
    const std::string& image_name,
    const std::function<std::optional<std::string>(const std::string& folded)>& exists) {
  if (!is_image_name(image_name))
    return std::nullopt;
  const std::string stem = platform::folded(image_name.substr(0, image_name.rfind('.')));
  // The formats in the order export writes them, the last first: its image is the one there.
  if (stem.ends_with(".m8") || stem.ends_with(".m32"))
    if (const auto source = exists(stem))
      return ImageOf{*source};
  if (const auto source = exists(stem + ".tex"))
    return ImageOf{*source};
  const std::size_t digits = stem.find_last_not_of("0123456789");
  if (digits == std::string::npos || digits + 1 == stem.size() ||
      !stem.substr(0, digits + 1).ends_with(".sfd") || stem.size() - digits > 10)
    return std::nullopt;
  const std::uint64_t frame = std::stoull(stem.substr(digits + 1));
  if (frame == 0)
    return std::nullopt;
  if (const auto source = exists(stem.substr(0, digits + 1)))
    return ImageOf{*source, frame};
  return std::nullopt;
}

namespace {

// One source to rebuild and the images that go into it.
struct ImageIn {
  std::shared_ptr<const SourceFolder> folder;
  std::string name;
  std::uint64_t frame;
};
struct Import {
  std::shared_ptr<const platform::Folder> originals;  // the original's folder
  std::string shown_original;                         // its name as shown
  std::string name;                                   // the original's
  std::string relative;                               // its images' folder below PATH
  const Format* format;
  std::vector<ImageIn> images;
};

// Says one line on standard error; counts the problems.
struct Console {
  std::size_t problems = 0;
  void report(std::string_view name, Problem problem, std::string_view what) {
    platform::write_console(platform::Stream::error, report_line("texkit", name, problem, what));
    problems += problem != Problem::note;
  }
};

// Opens, and makes when `make`, the folder `relative` below `root` (never through a link).
std::error_code folder_below(const platform::Folder& root, const std::string& relative, bool make,
                             std::shared_ptr<const platform::Folder>& folder) {
  const std::string separator(platform::path_separator());
  auto at = std::make_shared<platform::Folder>();
  const platform::Folder* parent = &root;
  if (relative.empty()) {
    folder = std::shared_ptr<const platform::Folder>(&root, [](const platform::Folder*) {});
    return {};
  }
  for (std::size_t start = 0; start < relative.size();) {
    const std::size_t end = relative.find(separator, start);
    const std::string name = relative.substr(start, end - start);
    auto next = std::make_shared<platform::Folder>();
    if (const std::error_code error = make ? platform::make_folder(*parent, name, *next)
                                           : platform::open_folder(*parent, name, *next))
      return error;
    at = next;
    parent = at.get();
    start = end == std::string::npos ? relative.size() : end + separator.size();
  }
  folder = at;
  return {};
}

// A name for the original beside it that nothing holds: NAME.bak, else NAME.2.bak, ...
std::string backup_name(const platform::Folder& folder, const std::string& name) {
  for (int n = 1;; ++n) {
    const std::string backup = n == 1 ? name + ".bak" : name + "." + std::to_string(n) + ".bak";
    if (!platform::look_before_replacing(folder, backup).present)
      return backup;
  }
}

// The images of one source made into replacements, or the problem of the first that cannot be.
bool replacements_of(const Import& job, const Capture& capture, bool nearest, Console& console,
                     std::vector<Bytes>& storage, std::vector<Replacement>& replacements) {
  storage.reserve(2 * job.images.size());
  for (const ImageIn& image : job.images) {
    const std::string shown_image = image.folder->shown + image.name;
    const Sink quiet = {
        .write = {},
        .print = {},
        .report = [&](std::string_view, Problem problem,
                      std::string_view what) { console.report(shown_image, problem, what); },
        .make_room = {}};
    const std::optional<FilledBytes> file =
        read_whole_file(*image.folder->folder, image.name, quiet);
    if (!file)
      return false;
    const ReadResult read = read_image(*file, image.name);
    if (!read.image) {
      console.report(shown_image, Problem::unsupported, read.problem);
      return false;
    }
    const ReadImage& picture = *read.image;
    // What the original holds for this image, to keep what the image does not carry: its
    // pictures are captured in order, frame 1 first.
    const CapturedPicture* before =
        image.frame <= capture.pictures.size() ? &capture.pictures[image.frame - 1] : nullptr;
    const bool same_size =
        before != nullptr && before->width == picture.width && before->height == picture.height;
    Mapped mapped;
    switch (job.format->kind) {
      case PixelKind::rgba:
        mapped = to_rgba(picture, same_size ? ByteView(before->pixels) : ByteView());
        break;
      case PixelKind::indexed:
        mapped = before == nullptr
                     ? Mapped{{}, {}, 0, "its source holds no image to take a palette from"}
                     : to_indices(picture, before->palette,
                                  same_size ? ByteView(before->pixels) : ByteView(), nearest);
        break;
      case PixelKind::grey:
        mapped = to_values(picture, nearest);
        break;
    }
    if (!mapped.problem.empty()) {
      console.report(shown_image, Problem::unsupported, mapped.problem);
      return false;
    }
    if (mapped.changed != 0)
      console.report(
          shown_image, Problem::note,
          counted(mapped.changed, "pixel") + " changed to the nearest " +
              (job.format->kind == PixelKind::indexed ? "colour of the palette" : "grey"));
    if (picture.width > 65535 || picture.height > 65535) {
      console.report(shown_image, Problem::too_large, "more than 65535 on a side");
      return false;
    }
    storage.push_back(std::move(mapped.pixels));
    const ByteView pixels = storage.back();
    storage.push_back(std::move(mapped.palette));
    replacements.push_back({image.frame, static_cast<std::uint16_t>(picture.width),
                            static_cast<std::uint16_t>(picture.height), pixels, storage.back()});
  }
  return true;
}

}  // namespace

int import_images(const Arguments& arguments) {
  Console console;
  const auto fail = [](const std::string& problem) {
    platform::write_console(platform::Stream::error, "texkit: " + problem + "\n");
    return 2;
  };
  platform::Folder originals_root, output_root;
  if (arguments.originals)
    if (const std::error_code error =
            platform::open_folder_path(*arguments.originals, false, originals_root))
      return fail(*arguments.originals + ": cannot open: " + error.message());
  const std::string output = arguments.output.value_or("imported");
  if (!arguments.in_place && !arguments.dry_run)
    if (const std::error_code error = platform::open_folder_path(output, true, output_root))
      return fail(output + ": cannot make or open it: " + error.message());

  // The images, each given to the source export would have made it from.
  std::vector<Import> imports;
  std::map<std::pair<const platform::Folder*, std::string>, std::size_t> import_of;
  std::string problem;
  const auto visit = [&](const std::shared_ptr<const SourceFolder>& folder,
                         const std::vector<platform::Entry>& entries) {
    std::shared_ptr<const platform::Folder> originals = folder->folder;
    if (arguments.originals)
      if (folder_below(originals_root, folder->relative, false, originals))
        return;
    const std::string shown_originals =
        arguments.originals ? shown_folder("", *arguments.originals) + folder->relative
                            : folder->shown;
    std::map<std::string, std::string> sources;  // by folded name
    for (const platform::Entry& entry : platform::list_folder(*originals))
      if (entry.kind == platform::EntryKind::other && format_of(entry.name) != nullptr)
        sources.emplace(platform::folded(entry.name), entry.name);
    const auto exists = [&](const std::string& folded) -> std::optional<std::string> {
      const auto found = sources.find(folded);
      return found == sources.end() ? std::nullopt : std::optional(found->second);
    };
    for (const platform::Entry& entry : entries) {
      if (entry.kind != platform::EntryKind::other || !is_image_name(entry.name))
        continue;
      const std::optional<ImageOf> of = source_of(entry.name, exists);
      if (!of)
        continue;
      const auto [slot, added] =
          import_of.try_emplace({originals.get(), of->source}, imports.size());
      if (added)
        imports.push_back({originals,
                           shown_originals + of->source,
                           of->source,
                           folder->relative,
                           format_of(of->source),
                           {}});
      imports[slot->second].images.push_back({folder, entry.name, of->frame});
    }
  };
  problem = walk_paths(
      arguments.paths, arguments.recursive, nullptr,
      [](const std::string& name) {
        return is_image_name(name) ? ""
                                   : "not an image: its extension is none of .png, .tif, "
                                     ".tiff, .tga, .bmp";
      },
      visit);
  if (!problem.empty())
    return fail(problem);

  std::size_t images = 0, written = 0, troubled = 0;
  for (const Import& job : imports) {
    images += job.images.size();
    const std::size_t problems_before = console.problems;
    const Sink about_original = {
        .write = {},
        .print = {},
        .report = [&](std::string_view, Problem kind,
                      std::string_view what) { console.report(job.shown_original, kind, what); },
        .make_room = {}};
    const std::optional<FilledBytes> original =
        read_whole_file(*job.originals, job.name, about_original);
    Capture capture;
    std::vector<Bytes> storage;
    std::vector<Replacement> replacements;
    std::optional<Bytes> bytes;
    if (original) {
      job.format->convert(*original, job.name, capture.sink());
      if (replacements_of(job, capture, arguments.nearest, console, storage, replacements)) {
        Rebuilt rebuilt = job.format->rebuild(*original, replacements);
        if (!rebuilt.bytes)
          console.report(job.shown_original, Problem::unsupported,
                         "cannot take its images: " + rebuilt.problem);
        bytes = std::move(rebuilt.bytes);
      }
    }
    if (bytes) {
      const ByteView before = *original;
      const bool unchanged = std::ranges::equal(*bytes, before);
      std::shared_ptr<const platform::Folder> into = job.originals;
      std::string shown_into = job.shown_original;
      if (!arguments.in_place) {
        shown_into = shown_folder("", output) + job.relative + job.name;
        if (!arguments.dry_run)
          if (const std::error_code error = folder_below(output_root, job.relative, true, into)) {
            console.report(shown_into, Problem::cannot, "make its folder: " + error.message());
            into = nullptr;
          }
      }
      if (into && !arguments.in_place && !arguments.dry_run &&
          platform::same_file(*into, job.name, *job.originals, job.name)) {
        console.report(shown_into, Problem::cannot,
                       "write it: it is the original (--in-place replaces originals)");
      } else if (into && arguments.dry_run) {
        platform::write_console(platform::Stream::output, shown(shown_into) + ": would be " +
                                                              (unchanged ? "written as it was"
                                                               : arguments.in_place ? "replaced"
                                                                                    : "written") +
                                                              "\n");
      } else if (into && !(arguments.in_place && unchanged)) {
        std::error_code error;
        if (arguments.in_place)
          error = platform::link_new_name(*into, job.name, backup_name(*into, job.name));
        const Part parts[] = {ByteView(*bytes)};
        const WriteResult result =
            error ? WriteResult{Written::failed, "keep the original: " + error.message()}
                  : write_whole_file(*into, parts, job.name, arguments.in_place);
        if (result.written == Written::yes)
          ++written;
        else
          console.report(shown_into, Problem::cannot, result.failure);
      }
    }
    troubled += console.problems != problems_before || !bytes;
  }
  console.report("done", Problem::note,
                 counted(images, "image") + " read, " + counted(written, "source") + " written, " +
                     counted(troubled, "source") + " with problems");
  return troubled == 0 ? 0 : 1;
}

}  // namespace texport::texkit
