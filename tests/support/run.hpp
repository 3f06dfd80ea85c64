// Running the built tool in a fresh folder, as a user would, and looking at what it left.
#pragma once

#include <sys/resource.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "io/bytes.hpp"

namespace texport::testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

struct RunOptions {
  std::optional<rlim_t> file_size_limit;  // RLIMIT_FSIZE for the child, SIGXFSZ ignored
  std::vector<std::string> extra_environment;
  // Standard input is a pipe held open until the key-press prompt appears; the tool's peak
  // memory is then read from /proc while it waits. (A forked child's rusage would also count
  // the test process's own memory from before the exec.) The pipe is closed after, which reads
  // as end of input, as /dev/null does.
  bool measure_memory = false;
};

struct RunResult {
  int exit_status = -1;  // -1 when the child did not exit normally
  int signal = 0;
  std::string out;  // standard output with the key-press prompt line removed
  std::string raw_out;
  std::string err;
  long peak_rss_kib = 0;  // measure_memory only: the tool's own peak resident memory
  bool prompt_seen = false;
};

// The binaries under test: TEXPORT_EXE / TEXPORT_ALL_PASSES_EXE in the environment override the
// ones this suite was built with; TEXPORT_RUNNER (for instance "wine") prefixes the command.
fs::path default_exe();
fs::path all_passes_exe();

// True when the binaries under test are Windows programs (run through TEXPORT_RUNNER, e.g. wine).
// Windows differs on purpose in a few ways, and the tests that meet them ask this:
//  - the search reports names in the folder's own order, not sorted;
//  - "*.sfd" also matches names whose 8.3 short name ends in .SFD (y.sfdx);
//  - the key-press prompt is the command interpreter's own text;
//  - files cannot be made to vanish by a preloaded library, and the traced build is native only,
//    so those tests skip themselves;
//  - each run costs several times more, so the damage sweep takes an eighth of its inputs.
// Line ends written in text mode ("\r\n") are turned into "\n" before any test looks.
bool windows_semantics();

// Console lines as our own search orders them (by name, letter case folded). Under Windows the
// runtime's order is the folder's own, so the lines are sorted that way before comparing.
std::string in_search_order(const std::string& lines);

RunResult run_in(const fs::path& folder, const fs::path& exe, const RunOptions& options = {});

// run_in with measure_memory set, and the peak memory of the same binary in an empty folder
// (measured once per binary): what the runtime, or wine, costs by itself. A run that never
// reached the prompt reports an impossibly large peak, so that no memory bound passes.
RunResult run_measuring_memory(const fs::path& folder, const fs::path& exe);
long baseline_peak_memory_kib(const fs::path& exe);

void write_file(const fs::path& path, ByteView bytes);
Bytes read_file(const fs::path& path);
// Names in the folder, sorted.
std::vector<std::string> list_folder(const fs::path& folder);

// Pixels of an image as an independent reader (ImageMagick) decodes them, in the given raw
// format ("gray", "rgba"); nullopt when the reader fails or is not installed.
std::optional<Bytes> decode_with_reader(const fs::path& image, const std::string& raw_format);
bool reader_available();

}  // namespace texport::testing
