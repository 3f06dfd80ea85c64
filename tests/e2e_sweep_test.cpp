// Every bundled example cut at every length, and thousands of seeded single-byte mutations of
// each, converted end to end by the all-passes binary. Whatever the damage: exit status 0, no
// crash, standard output made only of the tool's own lines, no temporary or partial file left.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

#include "support/run.hpp"

namespace texport::testing {
namespace {

constexpr std::size_t kMutationsPerExample = 2000;
constexpr std::size_t kSourcesPerRun = 500;

// Under a Windows runner (wine) every file costs several times more; there the sweep takes every
// eighth length and an eighth of the mutations, which keeps CI's whole run in bounds.
std::size_t sweep_step() {
  return windows_semantics() ? 8 : 1;
}

std::string extension_of(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (char& c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

std::vector<std::string> example_sources() {
  std::vector<std::string> names;
  for (const std::string& name : list_folder(TEXPORT_EXAMPLES_DIR))
    if (name.rfind("HEADER", 0) != 0)
      names.push_back(name);
  return names;
}

// The lines the tool may print for the sources of one folder.
bool allowed_line(const std::string& line, const std::set<std::string>& sources) {
  const std::string out_of_range = "out of range, compressed? frame ";
  if (line.rfind(out_of_range, 0) == 0) {
    const std::size_t in_file = line.find(" in file ");
    if (in_file == std::string::npos)
      return false;
    const std::string number = line.substr(out_of_range.size(), in_file - out_of_range.size());
    const std::string name = line.substr(in_file + 9);
    return !number.empty() && number.find_first_not_of("0123456789") == std::string::npos &&
           sources.count(name) == 1 && extension_of(name) == "sfd";
  }
  if (line.rfind("unsupported ", 0) == 0) {
    const std::string name = line.substr(12);
    return sources.count(name) == 1 && extension_of(name) == "m32";
  }
  return sources.count(line) == 1 && extension_of(line) == "tex";  // a packed texture's name
}

// The smallest file each kind of output can be: header plus final byte, no pixels.
std::uint64_t smallest_output(const std::string& name) {
  const std::string extension = extension_of(name);
  if (extension == "tif")
    return 1707;
  if (extension == "tga")
    return 18;
  if (extension == "bmp")
    return 1079;
  return 0;
}

void convert_and_check(const std::vector<std::pair<std::string, Bytes>>& sources) {
  TempFolder folder;
  for (const std::string& name : list_folder(TEXPORT_EXAMPLES_DIR))
    if (name.rfind("HEADER", 0) == 0)
      fs::copy_file(fs::path(TEXPORT_EXAMPLES_DIR) / name, folder / name);
  std::set<std::string> names;
  for (const auto& [name, bytes] : sources) {
    write_file(folder / name, bytes);
    names.insert(name);
  }
  const RunResult run = run_in(folder.path(), all_passes_exe());
  ASSERT_EQ(run.signal, 0) << run.err;
  ASSERT_EQ(run.exit_status, 0) << run.err;
  ASSERT_TRUE(run.prompt_seen);
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);)
    ASSERT_TRUE(allowed_line(line, names)) << "unexpected line: " << line;
  for (const std::string& name : list_folder(folder.path())) {
    ASSERT_EQ(name.find(".texport-"), std::string::npos) << "temporary left: " << name;
    if (names.count(name) == 0 && name.rfind("HEADER", 0) != 0) {
      ASSERT_GE(fs::file_size(folder / name), smallest_output(name)) << name;
    }
  }
}

class Sweep : public ::testing::TestWithParam<std::string> {
 protected:
  void run_batches(const std::vector<std::pair<std::string, Bytes>>& all) {
    for (std::size_t start = 0; start < all.size(); start += kSourcesPerRun) {
      const std::size_t end = std::min(all.size(), start + kSourcesPerRun);
      convert_and_check({all.begin() + static_cast<std::ptrdiff_t>(start),
                         all.begin() + static_cast<std::ptrdiff_t>(end)});
      if (HasFatalFailure())
        return;
    }
  }
};

TEST_P(Sweep, EveryTruncation) {
  const Bytes whole = read_file(fs::path(TEXPORT_EXAMPLES_DIR) / GetParam());
  std::vector<std::pair<std::string, Bytes>> cuts;
  for (std::size_t length = 0; length < whole.size(); length += sweep_step())
    cuts.emplace_back("cut" + std::to_string(length) + "_" + GetParam(),
                      Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
  run_batches(cuts);
  RecordProperty("inputs", std::to_string(cuts.size()));
}

TEST_P(Sweep, SeededSingleByteMutations) {
  const Bytes whole = read_file(fs::path(TEXPORT_EXAMPLES_DIR) / GetParam());
  ASSERT_FALSE(whole.empty());
  std::mt19937 random(static_cast<std::uint32_t>(std::hash<std::string>{}(GetParam())));
  std::vector<std::pair<std::string, Bytes>> mutants;
  for (std::size_t k = 0; k < kMutationsPerExample / sweep_step(); ++k) {
    Bytes mutant = whole;
    // Half the mutations hit the first 1 KiB, where the headers and tables are.
    const std::size_t span = k % 2 == 0 ? std::min<std::size_t>(whole.size(), 1024) : whole.size();
    mutant[random() % span] = static_cast<std::uint8_t>(random());
    mutants.emplace_back("mut" + std::to_string(k) + "_" + GetParam(), std::move(mutant));
  }
  run_batches(mutants);
}

// Inputs that once misbehaved (found by fuzzing or by hand) stay here for good.
TEST(Regressions, EveryKeptInputConvertsCleanly) {
  std::vector<std::pair<std::string, Bytes>> inputs;
  for (const std::string& name : list_folder(TEXPORT_REGRESSIONS_DIR))
    inputs.emplace_back(name, read_file(fs::path(TEXPORT_REGRESSIONS_DIR) / name));
  ASSERT_FALSE(inputs.empty());
  convert_and_check(inputs);
}

INSTANTIATE_TEST_SUITE_P(Examples, Sweep, ::testing::ValuesIn(example_sources()),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c)))
                               c = '_';
                           return name;
                         });

}  // namespace
}  // namespace texport::testing
