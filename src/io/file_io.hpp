// Whole files in and out.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "io/bytes.hpp"
#include "io/sink.hpp"
#include "platform/files.hpp"

namespace texport {

// Reads a file whole. A file that cannot be opened or read, that is no regular file, or that is
// 2 GiB or more (refused from its size, unread) is reported through `sink` and gives nullopt.
std::optional<FilledBytes> read_whole_file(const platform::Folder& folder, const std::string& name,
                                           const Sink& sink);

struct WriteResult {
  Written written = Written::yes;
  std::string failure;  // what could not be done, and why: "write: No space left on device"
};

// Writes the parts one after the other as the whole content of `name`, which holds `existing`.
// The bytes go to a new file beside it, under a name nobody can foresee, created exclusively; only
// once every byte is written is it renamed over `name`. A failed write keeps any earlier file of
// that name and leaves nothing behind. `disk_full` tells a failure for lack of space. `durable`:
// the file is on the disk before it takes the name, and the name after.
WriteResult write_whole_file(const platform::Folder& folder, std::span<const ByteView> parts,
                             const std::string& name, const platform::Existing& existing,
                             bool durable = false);

}  // namespace texport
