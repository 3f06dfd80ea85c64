#include "support/files.hpp"

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>

namespace texport::testing {

TempFolder::TempFolder() {
  static std::mt19937_64 random{std::random_device{}()};
  do
    path_ = fs::temp_directory_path() / ("texport-test-" + std::to_string(random()));
  while (!fs::create_directory(path_));
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(path_, ignored))
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

void write_file(const fs::path& path, ByteView bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file.flush())
    throw std::runtime_error("cannot write " + path.string());
}

Bytes read_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> list_folder(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::map<std::string, Bytes> tree_of(const fs::path& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), folder).generic_string()] = read_file(entry.path());
  return files;
}

}  // namespace texport::testing
