// The sink of the tools: images into folders, lines onto the console. It keeps what a run
// remembers: the images written and their names (so that a second source writing one of them is
// told), the templates and notes already said, a standard output that failed, and the closing
// count. One FolderSink serves a whole run; each source gets its own Sink from it.
#pragma once

#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "io/sink.hpp"
#include "io/templates.hpp"
#include "platform/console.hpp"
#include "platform/files.hpp"

namespace texport {

// A format to write instead of the native one: the extension that takes the place of the
// native image's, the most bytes an image can take, and its encoder (false, with the reason, when
// a picture has no image in it).
struct Encoder {
  std::string_view extension;
  std::uint64_t (*length_bound)(const Picture& picture);
  bool (*encode)(const Picture& picture, Bytes& out, std::string& problem);
};

// Where one source's images go, where its templates come from, and how names are shown.
struct Place {
  const platform::Folder* output = nullptr;     // the folder its images go to
  const platform::Folder* templates = nullptr;  // none: the built-in headers, by choice
  std::string shown_source;                     // shown before names beside the source: "a/b/"
  std::string shown_output;                     // the same for the images
  std::string shown_templates;                  // the same for the templates
};

// The lines of one source, kept to be said in the order of the sources when several are
// converted at once. A line with a `once` key is said only for the first of them.
struct Said {
  platform::Stream stream;
  std::string text;
  std::string once;
};
using Record = std::vector<Said>;

class FolderSink {
 public:
  // Native images, or those of `encoder`.
  explicit FolderSink(std::string_view program, const Encoder* encoder = nullptr);

  // The sink of one source. With a record, its lines are kept there until say(record); without,
  // they are said at once. Writing images may go on from several threads at a time.
  Sink sink(const Place& place, Record* record = nullptr);
  void say(const Record& record);

  // One source done (clean: without a problem), and the closing line of the run.
  void count_source(bool clean);
  void say_summary();
  std::size_t sources_with_problems() const { return troubled_; }
  std::size_t images_written();
  std::uint64_t bytes_written();

 private:
  Written write(const Place& place, Record* record, const Picture& picture,
                const std::string& native_name);
  bool make_room(const Place& place, Record* record, std::string_view name,
                 const EachPicture& pictures);
  std::string output_name(const std::string& native_name) const;
  TemplateRead template_of(const Place& place, const HeaderTemplate& header_template);
  std::uint64_t length_of(const Picture& picture) const;
  bool replaces_template(const Place& place, const std::string& name) const;
  void say(Record* record, platform::Stream stream, std::string text, std::string once = {});
  void report(Record* record, std::string_view name, Problem problem, std::string_view what,
              std::string once = {});

  const std::string program_;
  const Encoder* const encoder_;
  std::mutex mutex_;  // guards all that follows, for sources written side by side
  std::size_t sources_ = 0, troubled_ = 0, images_written_ = 0;
  std::uint64_t bytes_written_ = 0;
  // The names written in this run, by output folder and letter case folded.
  std::unordered_map<std::string, std::vector<std::string>> written_;
  std::set<std::string> said_once_;
  // The templates read, by folder as shown and name, with the version of the file they were
  // read from: a template is read again only once it has changed.
  struct ReadTemplate {
    platform::FileVersion version;
    TemplateRead read;
  };
  std::unordered_map<std::string, ReadTemplate> templates_read_;
  bool output_failed_ = false;
};

}  // namespace texport
