#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "driver/texkit.hpp"
#include "io/png.hpp"
#include "io/report.hpp"
#include "platform/console.hpp"
#include "platform/folder.hpp"

namespace texport::texkit {
namespace {

struct Job {
  const FoundSource* source;
  std::shared_ptr<const Place> place;
  Record record;
  bool clean = false;
};

// The place of every folder of sources: its output folder (made below DIR as needed, never
// through a link) and its templates.
class Places {
 public:
  Places(const Arguments& arguments, const platform::Folder* output,
         const platform::Folder* templates)
      : arguments_(arguments), output_(output), templates_(templates) {}

  // The place of `folder`, or none when its output folder cannot be made (`problem` says why).
  std::shared_ptr<const Place> of(const std::shared_ptr<const SourceFolder>& folder,
                                  std::string& problem) {
    auto& place = places_[folder.get()];
    if (place)
      return place;
    auto made = std::make_shared<Place>();
    made->shown_source = folder->shown;
    made->shown_templates =
        arguments_.templates ? shown_folder("", *arguments_.templates) : folder->shown;
    made->templates = arguments_.no_templates ? nullptr
                      : templates_ != nullptr ? templates_
                                              : folder->folder.get();
    if (output_ == nullptr) {
      made->output = folder->folder.get();
      made->shown_output = folder->shown;
    } else {
      // One folder below DIR for every folder below PATH.
      const platform::Folder* at = output_;
      std::string shown = shown_folder("", *arguments_.output);
      const std::string separator(platform::path_separator());
      for (std::size_t start = 0; start < folder->relative.size();) {
        const std::size_t end = folder->relative.find(separator, start);
        const std::string name = folder->relative.substr(start, end - start);
        shown += name + separator;
        auto& below = made_[shown];
        if (!below) {
          auto opened = std::make_shared<platform::Folder>();
          if (const std::error_code error = platform::make_folder(*at, name, *opened)) {
            problem = "cannot make the folder " + shown + ": " + error.message();
            return nullptr;
          }
          below = opened;
        }
        at = below.get();
        start = end + separator.size();
      }
      made->output = at;
      made->shown_output = shown;
    }
    place = made;
    return place;
  }

 private:
  const Arguments& arguments_;
  const platform::Folder* output_;
  const platform::Folder* templates_;
  std::map<const SourceFolder*, std::shared_ptr<const Place>> places_;
  std::map<std::string, std::shared_ptr<platform::Folder>> made_;
};

// One line on a terminal's standard error, redrawn in place.
class Progress {
 public:
  explicit Progress(std::size_t total)
      : shown_(platform::is_terminal(platform::Stream::error)),
        total_(total),
        start_(std::chrono::steady_clock::now()) {}

  void draw(std::size_t done, std::size_t images, std::uint64_t bytes) {
    if (!shown_)
      return;
    // Not for a run that is over at once; then redrawn at most ten times a second.
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::milliseconds(250) ||
        (width_ != 0 && now - drawn_ < std::chrono::milliseconds(100)))
      return;
    drawn_ = now;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char line[160];
    std::snprintf(
        line, sizeof line, "\r%zu of %zu sources, %zu images, %s/s", done, total_, images,
        readable_size(static_cast<std::uint64_t>(bytes / std::max(seconds, 0.001))).c_str());
    clear();
    platform::write_console(platform::Stream::error, line);
    width_ = std::string_view(line).size();
  }

  void clear() {
    if (!shown_ || width_ == 0)
      return;
    std::string blank(width_ + 2, ' ');
    blank.front() = blank.back() = '\r';
    platform::write_console(platform::Stream::error, blank);
    width_ = 0;
  }

 private:
  const bool shown_;
  const std::size_t total_;
  const std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point drawn_;
  std::size_t width_ = 0;
};

}  // namespace

int export_images(const Arguments& arguments) {
  FolderSink folder_sink("texkit", arguments.png ? &kPngEncoder : nullptr);
  const auto fail = [&](const std::string& problem) {
    platform::write_console(platform::Stream::error, "texkit: " + problem + "\n");
    return 2;
  };
  platform::Folder output, templates;
  if (arguments.output)
    if (const std::error_code error = platform::open_folder_path(*arguments.output, true, output))
      return fail(*arguments.output + ": cannot make or open it: " + error.message());
  if (arguments.templates)
    if (const std::error_code error =
            platform::open_folder_path(*arguments.templates, false, templates))
      return fail(*arguments.templates + ": cannot open: " + error.message());
  const Found found =
      find_all(arguments.paths, arguments.recursive, arguments.output ? &output : nullptr);
  if (!found.problem.empty())
    return fail(found.problem);

  Places places(arguments, arguments.output ? &output : nullptr,
                arguments.templates ? &templates : nullptr);
  std::vector<Job> jobs(found.sources.size());
  // Sources that could write one image name form a group, converted in their order by one
  // worker; groups go side by side.
  std::map<std::string, std::vector<std::size_t>> by_key;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const FoundSource& source = found.sources[i];
    std::string problem;
    jobs[i].source = &source;
    jobs[i].place = places.of(source.folder, problem);
    if (!jobs[i].place)
      return fail(problem);
    by_key[jobs[i].place->shown_output + '\0' + collision_key(*source.format, source.name)]
        .push_back(i);
  }
  std::vector<std::vector<std::size_t>> groups;
  for (auto& [key, members] : by_key)
    groups.push_back(std::move(members));
  std::sort(groups.begin(), groups.end());  // by their first source

  std::mutex mutex;
  std::condition_variable finished;
  std::vector<char> done(jobs.size(), 0);
  std::atomic<std::size_t> next_group{0};
  const auto work = [&] {
    for (std::size_t g; (g = next_group++) < groups.size();)
      for (const std::size_t i : groups[g]) {
        Job& job = jobs[i];
        const Sink sink = folder_sink.sink(*job.place, &job.record);
        job.clean =
            convert_file(*job.source->format, *job.source->folder->folder, job.source->name, sink);
        const std::lock_guard lock(mutex);
        done[i] = 1;
        finished.notify_one();
      }
  };
  std::vector<std::thread> workers;
  for (unsigned w = 0; w < std::min<std::size_t>(arguments.jobs, groups.size()); ++w)
    workers.emplace_back(work);

  // The lines of each source are said in the order of the sources, as one worker would.
  Progress progress(jobs.size());
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    std::unique_lock lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return done[i] != 0; })) {
      lock.unlock();
      progress.draw(i, folder_sink.images_written(), folder_sink.bytes_written());
      lock.lock();
    }
    lock.unlock();
    if (!jobs[i].record.empty()) {
      progress.clear();
      folder_sink.say(jobs[i].record);
    }
    folder_sink.count_source(jobs[i].clean);
    jobs[i].record = {};
    progress.draw(i + 1, folder_sink.images_written(), folder_sink.bytes_written());
  }
  for (std::thread& worker : workers)
    worker.join();
  progress.clear();
  folder_sink.say_summary();
  return folder_sink.sources_with_problems() == 0 ? 0 : 1;
}

}  // namespace texport::texkit
