// Whole-file reading and writing. Failures are reported on standard error, naming the file.
#pragma once

#include <optional>
#include <string>

#include "io/bytes.hpp"

namespace texport {

// Reads a file whole. A file that cannot be opened or read, or that is 2 GiB or more (refused
// from its size, unread), is reported and gives nullopt.
std::optional<Bytes> read_whole_file(const std::string& name);

// Writes `data` as the whole content of `name`. The bytes go to a temporary file in the same
// folder that is then renamed over `name`, so a failed write keeps any earlier file of that
// name and leaves nothing behind. Returns false (after reporting) on failure.
bool write_whole_file(ByteView data, const std::string& name);

}  // namespace texport
