// Files for the tests: fresh folders, and whole files in and out.
#pragma once

#include <filesystem>
#include <map>
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

void write_file(const fs::path& path, ByteView bytes);
Bytes read_file(const fs::path& path);
std::vector<std::string> list_folder(const fs::path& folder);  // sorted
// Every file below a folder, by its path there, with its bytes.
std::map<std::string, Bytes> tree_of(const fs::path& folder);

}  // namespace texport::testing
