#include "io/folder_sink.hpp"

#include <algorithm>

#include "io/file_io.hpp"
#include "io/native.hpp"
#include "io/report.hpp"
#include "io/templates.hpp"
#include "platform/folder.hpp"

namespace texport {
namespace {

// An encoder reads every pixel: pixels left in the source file are read in first.
std::error_code read_in(const Picture& picture, Picture& in_memory, Bytes& pixels) {
  in_memory = picture;
  if (picture.stored.file == nullptr)
    return {};
  pixels.resize(static_cast<std::size_t>(pixel_length(picture)));
  in_memory.pixels = pixels;
  in_memory.stored = {};
  return platform::read_at(*picture.stored.file, picture.stored.offset, pixels);
}

}  // namespace

FolderSink::FolderSink(std::string_view program, const Encoder* encoder)
    : program_(program), encoder_(encoder) {}

Sink FolderSink::sink(const Place& place, Record* record) {
  return {
      .write = [this, place, record](
                   const Picture& picture,
                   const std::string& name) { return write(place, record, picture, name); },
      .print =
          [this, place, record](std::string_view text, std::string_view name) {
            say(record, platform::Stream::output,
                std::string(text) + shown(place.shown_source + std::string(name)) + "\n");
          },
      .report =
          [this, place, record](std::string_view name, Problem problem, std::string_view what) {
            report(record, place.shown_source + std::string(name), problem, what);
          },
      .make_room =
          [this, place, record](std::string_view name, const EachPicture& pictures) {
            return make_room(place, record, name, pictures);
          },
  };
}

std::string FolderSink::output_name(const std::string& native_name) const {
  // Every native name ends in a three-letter image extension.
  if (encoder_ != nullptr && native_name.size() >= 3)
    return native_name.substr(0, native_name.size() - 3) + std::string(encoder_->extension);
  return native_name;
}

std::uint64_t FolderSink::length_of(const Picture& picture) const {
  return encoder_ != nullptr ? encoder_->length_bound(picture) : native_length(picture);
}

bool FolderSink::replaces_template(const Place& place, const std::string& name) const {
  const HeaderTemplate* header_template = template_named(name);
  if (header_template == nullptr)
    return false;
  // Named as a template in the folder written to, or the very file of one.
  const std::string template_name(header_template->file_name);
  return name == template_name ||
         platform::same_file(*place.output, name, *place.output, template_name) ||
         (place.templates != nullptr &&
          platform::same_file(*place.output, name, *place.templates, template_name));
}

Written FolderSink::write(const Place& place, Record* record, const Picture& picture,
                          const std::string& native_name) {
  const std::string name = output_name(native_name);
  const std::string shown_name = place.shown_output + name;
  const std::uint64_t length = length_of(picture);
  if (length > kMaxLength) {
    report(record, shown_name, Problem::too_large,
           std::to_string(length) + " bytes would be 2 GiB or more");
    return Written::failed;
  }
  if (replaces_template(place, name)) {
    report(record, shown_name, Problem::cannot, "write it: it would replace a header template");
    return Written::failed;
  }
  Bytes storage;
  ImageHeader header;
  std::vector<Part> parts;
  if (encoder_ != nullptr) {
    Picture in_memory;
    Bytes pixels;
    if (const std::error_code error = read_in(picture, in_memory, pixels)) {
      report(record, shown_name, Problem::cannot, "read its source: " + error.message());
      return Written::failed;
    }
    std::string problem;
    if (!encoder_->encode(in_memory, storage, problem)) {
      report(record, shown_name, Problem::cannot, "write it: " + problem);
      return Written::failed;
    }
    parts.emplace_back(storage);
  } else {
    const HeaderTemplate& header_template = native_template(picture.kind);
    const std::string shown_template =
        place.shown_templates + std::string(header_template.file_name);
    TemplateRead read;
    if (place.templates != nullptr)
      read = template_of(place, header_template);
    header = image_header(header_template, place.templates != nullptr ? &read : nullptr, picture);
    // A template missing from every folder of a tree is said once, not once a folder.
    if (!header.unusable.empty())
      report(record, shown_template, header.unusable_kind, header.unusable,
             header.unusable_kind == Problem::note ? std::string(header_template.file_name)
                                                   : shown_template);
    if (!header.misfit.empty())
      report(record, shown_template, Problem::note, header.misfit,
             shown_template + " " + std::to_string(picture.width) + " x " +
                 std::to_string(picture.height));
    parts = native_parts(picture, header.bytes, storage);
  }
  const WriteResult result = write_whole_file(*place.output, parts, name);
  if (result.written != Written::yes) {
    report(record, shown_name, Problem::cannot, result.failure);
    return result.written;
  }
  bool again = false;
  {
    const std::lock_guard lock(mutex_);
    ++images_written_;
    for (const Part& part : parts)
      bytes_written_ += part.size();
    std::vector<std::string>& names = written_[place.shown_output + '/' + platform::folded(name)];
    // The same name, or in a folder that ignores letter case, the same file.
    again = std::any_of(names.begin(), names.end(), [&](const std::string& earlier) {
      return earlier == name || platform::same_file(*place.output, earlier, *place.output, name);
    });
    if (std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(name);
  }
  if (again)
    report(record, shown_name, Problem::note, "written again, over the image of an earlier source");
  if (encoder_ == nullptr)
    if (const std::string caveat = native_caveat(picture); !caveat.empty())
      report(record, shown_name, Problem::note, caveat);
  return Written::yes;
}

TemplateRead FolderSink::template_of(const Place& place, const HeaderTemplate& header_template) {
  const std::string name(header_template.file_name);
  const std::string key = place.shown_templates + '/' + name;
  const std::optional<platform::FileVersion> version = platform::version_of(*place.templates, name);
  if (version) {
    const std::lock_guard lock(mutex_);
    if (const auto found = templates_read_.find(key);
        found != templates_read_.end() && found->second.version == *version)
      return found->second.read;
  }
  TemplateRead read = read_template(header_template, *place.templates);
  if (version && !read.error) {
    const std::lock_guard lock(mutex_);
    templates_read_[key] = {*version, read};
  }
  return read;
}

bool FolderSink::make_room(const Place& place, Record* record, std::string_view name,
                           const EachPicture& pictures) {
  const platform::Room room = platform::free_room(*place.output);
  // Sums of lengths below 2 GiB each, over fewer than 2^30 images: no sum here can wrap.
  std::uint64_t needed = 0, largest = 0, images = 0;
  pictures([&](const Picture& picture, const std::string&) {
    const std::uint64_t length = std::min(length_of(picture), kMaxLength + 1);
    const std::uint64_t blocks = (length + room.block - 1) / room.block * room.block;
    needed += blocks;
    largest = std::max(largest, blocks);
    ++images;
  });
  if (needed <= room.bytes && images <= room.files)
    return true;
  // Images that replace files give back those files' room once they are in place (one at a
  // time: the largest needs its room beside its old file). Only the images up to the first one
  // that replaces nothing are counted, so that a source of millions of images asks for no more
  // than a look at its first few.
  std::uint64_t freed = 0, replaced = 0;
  bool counting = true;
  pictures([&](const Picture&, const std::string& native_name) {
    const std::uint64_t old =
        counting ? platform::disk_use(*place.output, output_name(native_name)) : 0;
    counting = old != 0;
    freed += old;
    replaced += counting;
  });
  const std::uint64_t bytes = std::max(needed - std::min(freed, needed), largest);
  const std::uint64_t files = images - replaced + (replaced != 0);
  if (bytes <= room.bytes && files <= room.files)
    return true;
  const std::string images_text = counted(images, "image");
  report(record, place.shown_source + std::string(name), Problem::cannot,
         bytes > room.bytes ? "write its " + images_text + ": they need " + readable_size(bytes) +
                                  " and " + readable_size(room.bytes) + " is free"
                            : "write its " + images_text + ": they need " + counted(files, "file") +
                                  " and " + std::to_string(room.files) + " more can be made");
  return false;
}

void FolderSink::report(Record* record, std::string_view name, Problem problem,
                        std::string_view what, std::string once) {
  say(record, platform::Stream::error, report_line(program_, name, problem, what), std::move(once));
}

void FolderSink::say(Record* record, platform::Stream stream, std::string text, std::string once) {
  if (record != nullptr) {
    record->push_back({stream, std::move(text), std::move(once)});
    return;
  }
  say(Record{{stream, std::move(text), std::move(once)}});
}

void FolderSink::say(const Record& record) {
  for (const Said& said : record) {
    bool output_failed = false;
    std::error_code error;
    {
      const std::lock_guard lock(mutex_);
      if (!said.once.empty() && !said_once_.insert(said.once).second)
        continue;
      error = platform::write_console(said.stream, said.text);
      // A closed standard output (texport | true) ends nothing: said once, and the run goes on.
      output_failed = error && said.stream == platform::Stream::output && !output_failed_;
      output_failed_ = output_failed_ || output_failed;
    }
    if (output_failed)
      platform::write_console(
          platform::Stream::error,
          report_line(program_, "standard output", Problem::cannot, "write: " + error.message()));
  }
}

std::size_t FolderSink::images_written() {
  const std::lock_guard lock(mutex_);
  return images_written_;
}

std::uint64_t FolderSink::bytes_written() {
  const std::lock_guard lock(mutex_);
  return bytes_written_;
}

void FolderSink::count_source(bool clean) {
  const std::lock_guard lock(mutex_);
  ++sources_;
  troubled_ += !clean;
}

void FolderSink::say_summary() {
  report(nullptr, "done", Problem::note,
         counted(sources_, "source") + " read, " + counted(images_written_, "image") +
             " written, " + counted(troubled_, "source") + " with problems");
}

}  // namespace texport
