#include "support/run.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>

namespace texport::testing {

TempFolder::TempFolder() {
  static std::mt19937_64 random{std::random_device{}()};
  for (;;) {
    path_ = fs::temp_directory_path() / ("texport-test-" + std::to_string(random()));
    if (fs::create_directory(path_))
      break;
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (const auto& entry : fs::recursive_directory_iterator(path_, ignored))
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

namespace {

fs::path exe_from_environment(const char* variable, const char* built) {
  const char* value = std::getenv(variable);
  return fs::absolute(value != nullptr && *value != '\0' ? value : built);
}

std::vector<std::string> split_words(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> words;
  for (std::string word; stream >> word;)
    words.push_back(word);
  return words;
}

std::string slurp(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The prompt is the last thing written; whatever its text (ours or the Windows interpreter's),
// it is the final line, ending in the newline printed after the key.
std::string strip_prompt(const std::string& out, bool& seen) {
  std::string text = out;
  if (!text.empty() && text.back() == '\n')
    text.pop_back();
  const std::size_t line_start = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
  const std::string last = text.substr(line_start);
  seen = last.find("ress any key") != std::string::npos;
  if (!seen)
    return out;
  return text.substr(0, line_start);
}

std::string without_carriage_returns(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
      out.push_back(text[i]);
  return out;
}

// VmHWM of a running process: the peak resident memory of its current program image.
long peak_memory_kib(pid_t process) {
  std::ifstream status("/proc/" + std::to_string(process) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stol(line.substr(6));
  return 0;
}

}  // namespace

bool windows_semantics() {
  const char* runner = std::getenv("TEXPORT_RUNNER");
  return (runner != nullptr && *runner != '\0') || default_exe().extension() == ".exe";
}

std::string in_search_order(const std::string& lines) {
  if (!windows_semantics())
    return lines;
  std::vector<std::string> split;
  std::istringstream stream(lines);
  for (std::string line; std::getline(stream, line);)
    split.push_back(line + "\n");
  const auto folded = [](std::string text) {
    for (char& c : text)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::stable_sort(split.begin(), split.end(), [&](const std::string& a, const std::string& b) {
    return folded(a) < folded(b);
  });
  std::string joined;
  for (const std::string& line : split)
    joined += line;
  return joined;
}

fs::path default_exe() {
  return exe_from_environment("TEXPORT_EXE", TEXPORT_EXE);
}
fs::path all_passes_exe() {
  return exe_from_environment("TEXPORT_ALL_PASSES_EXE", TEXPORT_ALL_PASSES_EXE);
}

RunResult run_in(const fs::path& folder, const fs::path& exe, const RunOptions& options) {
  TempFolder capture;
  const fs::path out_path = capture / "stdout";
  const fs::path err_path = capture / "stderr";
  std::vector<std::string> argv_strings;
  if (const char* runner = std::getenv("TEXPORT_RUNNER"))
    argv_strings = split_words(runner);
  argv_strings.push_back(exe.string());

  int input_pipe[2] = {-1, -1};
  if (options.measure_memory && ::pipe(input_pipe) != 0)
    throw std::runtime_error("pipe failed");
  const pid_t child = ::fork();
  if (child < 0)
    throw std::runtime_error("fork failed");
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0)
      _exit(126);
    const int in = options.measure_memory ? input_pipe[0] : ::open("/dev/null", O_RDONLY);
    if (options.measure_memory)
      ::close(input_pipe[1]);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0)
      _exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.file_size_limit) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*options.file_size_limit, *options.file_size_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::string sanitizer_options;
    if (options.measure_memory) {
      // Under AddressSanitizer freed blocks wait in a quarantine before reuse; measure the
      // tool's own memory, not the quarantine's.
      const char* inherited = std::getenv("ASAN_OPTIONS");
      sanitizer_options =
          std::string("ASAN_OPTIONS=") + (inherited ? inherited : "") + ":quarantine_size_mb=0";
      ::putenv(sanitizer_options.data());
    }
    for (const std::string& assignment : options.extra_environment)
      ::putenv(const_cast<char*>(assignment.c_str()));
    std::vector<char*> argv;
    for (std::string& word : argv_strings)
      argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    _exit(127);
  }
  RunResult result;
  int status = 0;
  bool reaped = false;
  if (options.measure_memory) {
    ::close(input_pipe[0]);
    // Wait for the prompt (or the end of the child), then read the high-water mark.
    for (int waited_ms = 0; waited_ms < 600000; ++waited_ms) {
      if (::waitpid(child, &status, WNOHANG) == child) {
        reaped = true;
        break;
      }
      if (slurp(out_path).find("ress any key") != std::string::npos) {
        result.peak_rss_kib = peak_memory_kib(child);
        break;
      }
      ::usleep(1000);
    }
    ::close(input_pipe[1]);
  }
  while (!reaped && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status))
    result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    result.signal = WTERMSIG(status);
  result.raw_out = slurp(out_path);
  result.err = slurp(err_path);
  if (windows_semantics()) {
    result.raw_out = without_carriage_returns(result.raw_out);
    result.err = without_carriage_returns(result.err);
  }
  result.out = strip_prompt(result.raw_out, result.prompt_seen);
  return result;
}

RunResult run_measuring_memory(const fs::path& folder, const fs::path& exe) {
  RunOptions options;
  options.measure_memory = true;
  RunResult result = run_in(folder, exe, options);
  // A tool that never reached its prompt was not measured: no memory bound may pass then.
  if (result.peak_rss_kib <= 0)
    result.peak_rss_kib = std::numeric_limits<long>::max() / 2;
  return result;
}

long baseline_peak_memory_kib(const fs::path& exe) {
  static std::map<fs::path, long> baselines;
  const auto known = baselines.find(exe);
  if (known != baselines.end())
    return known->second;
  TempFolder empty;
  const long baseline = run_measuring_memory(empty.path(), exe).peak_rss_kib;
  baselines.emplace(exe, baseline);
  return baseline;
}

void write_file(const fs::path& path, ByteView bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file.flush())
    throw std::runtime_error("cannot write " + path.string());
}

Bytes read_file(const fs::path& path) {
  const std::string text = slurp(path);
  return Bytes(text.begin(), text.end());
}

std::vector<std::string> list_folder(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool reader_available() {
  return std::system("convert -version >/dev/null 2>&1") == 0;
}

std::optional<Bytes> decode_with_reader(const fs::path& image, const std::string& raw_format) {
  TempFolder scratch;
  const fs::path decoded = scratch / "pixels.raw";
  const std::string command = "convert '" + image.string() + "' -depth 8 " + raw_format + ":'" +
                              decoded.string() + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0 || !fs::exists(decoded))
    return std::nullopt;
  return read_file(decoded);
}

}  // namespace texport::testing
