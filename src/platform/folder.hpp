// What a folder holds, listed once: one implementation per system (folder_posix.cpp,
// folder_win32.cpp).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.hpp"

namespace texport::platform {

enum class EntryKind {
  folder,       // a folder of its own
  folder_link,  // a symbolic link to a folder: never followed into
  other,        // a file, or anything that may be one (a FIFO, a broken link): opening tells
};

struct Entry {
  std::string name;  // UTF-8
  EntryKind kind = EntryKind::other;
};

// Every entry of the folder but "." and "..". POSIX lists in no order of its own, so the
// entries are sorted by name with ASCII letter case folded (ties in byte order) and runs repeat;
// Windows keeps the order its search reports.
std::vector<Entry> list_folder(const Folder& folder);

// True when `name` is one name and no path: on Windows one that holds no "\", "/" or ":" (a
// name made on another system can), which the system would read as a path.
bool is_plain_name(std::string_view name);

// The separator of a path as the system shows it: "/", or "\" on Windows.
std::string_view path_separator();

// What a path the user gave leads to (links followed: the user named them).
enum class PathKind { missing, folder, other };
PathKind kind_of_path(const std::string& path);

// A path split into its folder ("" for the working folder) and its last name.
std::pair<std::string, std::string> split_path(const std::string& path);

// `name` with the ASCII letters A to Z made lower case; every other byte as it is.
std::string folded(std::string_view name);

// True when `name` ends in `extension` (".sfd"), letter case aside.
bool has_extension(std::string_view name, std::string_view extension);

// Names in `entries` that are not folders and end in `extension`, in the listing's order.
std::vector<std::string> find_sources(const std::vector<Entry>& entries,
                                      std::string_view extension);

}  // namespace texport::platform
