// Whole files in and out. Every failure is reported on standard error, naming the file.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "io/bytes.hpp"

namespace texport {

// Reads a file whole. A file that cannot be opened or read, that is no regular file, or that is
// 2 GiB or more (refused from its size, unread) is reported and gives nullopt.
std::optional<Bytes> read_whole_file(const std::string& name);

enum class Written { yes, failed, disk_full };

// Writes the parts one after the other as the whole content of `name`. The bytes go to a new file
// beside it, under a name nobody can foresee, created exclusively; only once every byte is written
// is it renamed over `name`. A failed write keeps any earlier file of that name and leaves
// nothing behind. `disk_full` tells a failure for lack of space, which the next write would meet.
Written write_whole_file(std::span<const ByteView> parts, const std::string& name);

}  // namespace texport
