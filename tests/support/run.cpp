#include "support/run.hpp"

#include "support/table.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace texport::testing {

namespace {

fs::path tool_from(const char* variable, const char* built) {
  const char* value = std::getenv(variable);
  return fs::absolute(value != nullptr && *value != '\0' ? value : built);
}

std::string text_of(const fs::path& path) {
  const Bytes bytes = read_file(path);
  std::string text(bytes.begin(), bytes.end());
  if (windows_tool())  // text-mode line ends
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
      text.erase(at, 1);
  return text;
}

// Takes the last line holding `marker` out of `text`, into `line`.
bool take_last_line(std::string& text, const std::string& marker, std::string& line) {
  const std::size_t at = text.rfind(marker);
  if (at == std::string::npos)
    return false;
  const std::size_t start =
      text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
  const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
  line = text.substr(start, end - start);
  text.erase(start, end - start);
  return true;
}

long peak_memory_kib(pid_t process) {
  std::ifstream status("/proc/" + std::to_string(process) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stol(line.substr(6));
  return 0;
}

RunResult run_once(const fs::path& folder, const fs::path& tool, const RunOptions& options) {
  TempFolder capture;
  const fs::path out_path = capture / "out", err_path = capture / "err";
  std::vector<std::string> words;
  std::istringstream runner(std::getenv("TEXPORT_RUNNER") ? std::getenv("TEXPORT_RUNNER") : "");
  for (std::string word; runner >> word;)
    words.push_back(word);
  words.push_back(tool.string());
  words.insert(words.end(), options.arguments.begin(), options.arguments.end());
  int input[2] = {-1, -1}, output[2] = {-1, -1};
  if ((options.measure_memory && ::pipe(input) != 0) ||
      (options.closed_output && ::pipe(output) != 0))
    throw std::runtime_error("pipe failed");
  if (options.closed_output)
    ::close(std::exchange(output[0], -1));  // nobody ever reads standard output
  const int terminal = options.error_on_terminal ? ::posix_openpt(O_RDWR | O_NOCTTY) : -1;
  if (options.error_on_terminal && (terminal < 0 || ::grantpt(terminal) || ::unlockpt(terminal)))
    throw std::runtime_error("no terminal");
  const pid_t child = ::fork();
  if (child == 0) {
    const int in = options.measure_memory ? input[0] : ::open("/dev/null", O_RDONLY);
    const int out =
        options.closed_output ? output[1] : ::open(out_path.c_str(), O_WRONLY | O_CREAT, 0600);
    const int err = terminal >= 0 ? (::setsid(), ::open(::ptsname(terminal), O_RDWR))
                                  : ::open(err_path.c_str(), O_WRONLY | O_CREAT, 0600);
    if (::chdir(folder.c_str()) != 0 || in < 0 || out < 0 || err < 0)
      _exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (input[1] >= 0)
      ::close(input[1]);  // so that closing it in the test reads as the end of input
    // Whatever the test process does with these, the tool meets them as a user's shell sets them.
    for (const int signal_number : {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM})
      ::signal(signal_number, SIG_DFL);
    const rlimit no_core{0, 0};  // a signal that dumps core leaves nothing in the folder
    ::setrlimit(RLIMIT_CORE, &no_core);
    if (options.file_size_limit) {
      const rlimit limit{*options.file_size_limit, *options.file_size_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<std::string> environment = options.environment;
    // Under AddressSanitizer: the shim comes before the sanitizer's runtime, and the memory of
    // freed blocks held in quarantine is not the tool's.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    environment.push_back(std::string("ASAN_OPTIONS=") + (sanitizer ? sanitizer : "") +
                          ":verify_asan_link_order=0" +
                          (options.measure_memory ? ":quarantine_size_mb=0" : ""));
    if (options.faults)
      environment.push_back(std::string("LD_PRELOAD=") + TEXPORT_FAULT_SHIM);
    for (std::string& assignment : environment)
      ::putenv(assignment.data());
    std::vector<char*> argv;
    for (std::string& word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    _exit(127);
  }
  if (options.closed_output)
    ::close(output[1]);
  RunResult result;
  int status = 0;
  bool reaped = false;
  if (options.measure_memory) {
    ::close(input[0]);
    // Wait for the prompt (or the end of the tool), then read its high-water mark.
    for (int waited_ms = 0; waited_ms < 600000 && !reaped; ++waited_ms) {
      reaped = ::waitpid(child, &status, WNOHANG) == child;
      if (!reaped && text_of(out_path).find("ress any key") != std::string::npos) {
        result.peak_memory_kib = peak_memory_kib(child);
        break;
      }
      ::usleep(1000);
    }
    ::close(input[1]);
  }
  if (terminal >= 0) {  // what the terminal shows, until the tool closes it
    char buffer[512];
    for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;)
      write_file(err_path, read_file(err_path) + Bytes(buffer, buffer + got));
    ::close(terminal);
  }
  while (!reaped && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = text_of(out_path);
  result.err = text_of(err_path);
  std::string prompt;
  result.prompt_seen = take_last_line(result.out, "ress any key", prompt);
  take_last_line(result.err, ": done: ", result.summary);
  return result;
}

}  // namespace

fs::path shipped_tool() {
  return tool_from("TEXPORT_EXE", TEXPORT_EXE);
}

fs::path all_passes_tool() {
  return tool_from("TEXPORT_ALL_PASSES_EXE", TEXPORT_ALL_PASSES_EXE);
}

#ifdef TEXKIT_EXE
fs::path texkit_tool() {
  return tool_from("TEXKIT_EXE", TEXKIT_EXE);
}

RunResult texkit_in(const fs::path& folder, std::vector<std::string> arguments) {
  RunOptions options;
  options.arguments = std::move(arguments);
  return run_in(folder, texkit_tool(), options);
}
#endif

bool windows_tool() {
  return shipped_tool().extension() == ".exe";
}

RunResult run_in(const fs::path& folder, const fs::path& tool, const RunOptions& options) {
  RunResult result = run_once(folder, tool, options);
  if (!options.measure_memory)
    return result;
  // A tool that never reached its prompt was not measured: no bound may pass then.
  static std::map<fs::path, long> baselines;
  if (!baselines.contains(tool)) {
    TempFolder empty;
    baselines[tool] = run_once(empty.path(), tool, options).peak_memory_kib;
  }
  result.peak_memory_kib =
      result.peak_memory_kib > 0 ? result.peak_memory_kib - baselines[tool] : 1L << 40;
  return result;
}

}  // namespace texport::testing
