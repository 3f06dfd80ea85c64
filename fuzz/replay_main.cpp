// Replays inputs through a fuzz target's LLVMFuzzerTestOneInput, with any compiler: every regular
// file of each folder argument (in name order), or each file argument. The target's checks stop
// the program on the first failure; an argument that cannot be read fails it too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool replay(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  // A buffer of exactly the file's length, so that a sanitizer sees any read past it.
  const auto data = std::make_unique<std::uint8_t[]>(error ? 1 : std::max<std::uintmax_t>(size, 1));
  std::ifstream file(path, std::ios::binary);
  if (error ||
      !file.read(reinterpret_cast<char*>(data.get()), static_cast<std::streamsize>(size))) {
    std::cerr << "replay: cannot read " << path.string() << "\n";
    return false;
  }
  LLVMFuzzerTestOneInput(data.get(), static_cast<std::size_t>(size));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path argument = argv[i];
    std::error_code error;
    std::vector<fs::path> inputs;
    if (fs::is_directory(argument, error)) {
      for (const fs::directory_entry& entry : fs::directory_iterator(argument, error))
        if (entry.is_regular_file())
          inputs.push_back(entry.path());
      std::sort(inputs.begin(), inputs.end());
    } else if (fs::is_regular_file(argument, error)) {
      inputs.push_back(argument);
    } else {
      std::cerr << "replay: no such file or folder: " << argument.string() << "\n";
      return 1;
    }
    if (error) {
      std::cerr << "replay: cannot list " << argument.string() << ": " << error.message() << "\n";
      return 1;
    }
    for (const fs::path& input : inputs) {
      if (!replay(input))
        return 1;
      ++replayed;
    }
  }
  std::cout << "replayed " << replayed << " inputs\n";
  return 0;
}
