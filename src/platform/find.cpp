#include "platform/find.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <dirent.h>
#include <sys/stat.h>
#endif

#include "io/report.hpp"

namespace texport::platform {
namespace {

unsigned char fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

}  // namespace

bool wildcard_match(const char* pattern, const char* name) {
  // Iterative match with one backtrack point: linear enough for file names.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || fold(static_cast<unsigned char>(*pattern)) ==
                                      fold(static_cast<unsigned char>(*name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*')
    ++pattern;
  return *pattern == '\0';
}

#ifndef _WIN32
namespace {

struct Search {
  std::vector<_finddata64i32_t> records;  // filled when the folder is listed
  std::size_t next = 0;
};

std::map<std::intptr_t, std::unique_ptr<Search>>& open_searches() {
  static std::map<std::intptr_t, std::unique_ptr<Search>> searches;
  return searches;
}

bool case_folded_less(std::string_view a, std::string_view b) {
  const auto folded_less = [](char x, char y) {
    return fold(static_cast<unsigned char>(x)) < fold(static_cast<unsigned char>(y));
  };
  if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), folded_less))
    return true;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), folded_less))
    return false;
  return a < b;
}

// The record of a regular file (stat follows symbolic links), or nullopt for anything else.
std::optional<_finddata64i32_t> record_of(const char* name) {
  struct stat info {};
  if (::stat(name, &info) != 0 || !S_ISREG(info.st_mode))
    return std::nullopt;
  _finddata64i32_t record{};
  record.attrib = _A_NORMAL;
  record.time_access = info.st_atime;
  record.time_write = info.st_mtime;
  record.time_create = info.st_ctime;
  record.size = static_cast<std::uint32_t>(info.st_size);
  std::memcpy(record.name, name, std::strlen(name) + 1);
  return record;
}

// Hands out the next record; a name that vanished since the listing is still handed out, and the
// loader reports it when it cannot read it.
int step(Search& search, _finddata64i32_t* record) {
  if (search.next >= search.records.size())
    return -1;
  *record = search.records[search.next++];
  return 0;
}

}  // namespace

std::intptr_t _findfirst64i32(const char* pattern, _finddata64i32_t* record) {
  DIR* folder = ::opendir(".");
  if (folder == nullptr)
    return -1;
  auto search = std::make_unique<Search>();
  while (const dirent* entry = ::readdir(folder)) {
    const char* name = entry->d_name;
    if (!wildcard_match(pattern, name))
      continue;
    if (std::strlen(name) >= sizeof record->name) {
      report_problem(name, "skipped: the name is longer than 259 characters");
      continue;
    }
    if (const std::optional<_finddata64i32_t> found = record_of(name))
      search->records.push_back(*found);
  }
  ::closedir(folder);
  std::sort(search->records.begin(), search->records.end(),
            [](const _finddata64i32_t& a, const _finddata64i32_t& b) {
              return case_folded_less(a.name, b.name);
            });
  if (step(*search, record) != 0)
    return -1;
  static std::intptr_t last_handle = 0;
  const std::intptr_t handle = ++last_handle;
  open_searches().emplace(handle, std::move(search));
  return handle;
}

int _findnext64i32(std::intptr_t handle, _finddata64i32_t* record) {
  const auto found = open_searches().find(handle);
  if (found == open_searches().end())
    return -1;
  return step(*found->second, record);
}

int _findclose(std::intptr_t handle) {
  return open_searches().erase(handle) == 1 ? 0 : -1;
}

#endif

}  // namespace texport::platform
