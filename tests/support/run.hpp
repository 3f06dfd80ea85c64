// The built tools run as a user runs them: in a fresh folder, standard input at end of file; and
// the files they leave.
#pragma once

#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "io/bytes.hpp"
#include "support/files.hpp"
#include "support/reader.hpp"

namespace texport::testing {

struct RunOptions {
  std::vector<std::string> arguments;     // texkit's; the other tools take none
  std::optional<rlim_t> file_size_limit;  // RLIMIT_FSIZE; SIGXFSZ left as it is
  std::vector<std::string> environment;   // added to the tool's environment
  bool faults = false;          // the fault shim preloaded (Linux builds only; see fault_shim.cpp)
  bool measure_memory = false;  // peak memory read while the tool waits at its prompt
  bool closed_output = false;   // standard output a pipe whose reader has gone
  bool error_on_terminal = false;  // standard error a terminal, all it shows kept in `err`
};

struct RunResult {
  int exit_status = -1;  // -1 when the tool did not exit normally
  int signal = 0;
  std::string out;      // standard output without the key-press prompt
  std::string err;      // standard error without the closing "texport: done: ..." line
  std::string summary;  // that closing line
  bool prompt_seen = false;
  long peak_memory_kib = 0;  // measure_memory: above what the same tool takes in an empty folder
};

// The programs under test: TEXPORT_EXE / TEXPORT_ALL_PASSES_EXE in the environment override the
// ones built with this suite; TEXPORT_RUNNER (for instance "wine") prefixes the command.
fs::path shipped_tool();
fs::path all_passes_tool();
fs::path texkit_tool();  // TEXKIT_EXE overrides it
// True when those are Windows programs run through a runner: no preloaded shim reaches them, the
// prompt is the command interpreter's, and files stay unlocked only on the Linux side.
bool windows_tool();

// For a test that needs what only a Linux build of the tool has (a preloaded shim, signals, a
// terminal, ownership of links).
#define SKIP_UNLESS_LINUX_TOOL()          \
  if (::texport::testing::windows_tool()) \
  GTEST_SKIP() << "needs a Linux build of the tool"
#define SKIP_WITHOUT_PILLOW()                                           \
  if (std::system("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) \
  GTEST_SKIP() << "no independent image reader (Python's imaging library) installed"

RunResult run_in(const fs::path& folder, const fs::path& tool, const RunOptions& options = {});

// texkit with these arguments, in `folder`.
RunResult texkit_in(const fs::path& folder, std::vector<std::string> arguments);

}  // namespace texport::testing
