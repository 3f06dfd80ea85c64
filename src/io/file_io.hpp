// Whole files in and out.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "io/bytes.hpp"
#include "io/sink.hpp"
#include "platform/files.hpp"

namespace texport {

// A file open for reading, and its length.
struct OpenFile {
  platform::File file;
  std::uint64_t size = 0;
};

// Opens a file for reading. A file that cannot be opened, that is no regular file, or that is
// 2 GiB or more is reported through `sink` and gives nullopt.
std::optional<OpenFile> open_file(const platform::Folder& folder, const std::string& name,
                                  const Sink& sink);

// Reads `length` bytes from the start of an open file (all of it when nullopt); a failure is
// reported through `sink` and gives nullopt.
std::optional<FilledBytes> read_file(const OpenFile& open, const std::string& name,
                                     const Sink& sink,
                                     std::optional<std::size_t> length = std::nullopt);

// Opens a file and reads it whole: the two above.
std::optional<FilledBytes> read_whole_file(const platform::Folder& folder, const std::string& name,
                                           const Sink& sink);

struct WriteResult {
  Written written = Written::yes;
  std::string failure;  // what could not be done, and why: "write: No space left on device"
};

// Writes the parts one after the other as the whole content of `name` (a part left in a source
// file is copied from there: a source that ended before it fails the write, as "read its source:
// it changed while it was read"). The bytes go to a new file nobody else can open while it is
// written: one with no name where the system has them, else one beside it under a name nobody can
// foresee, created exclusively and private to the runner. Only once every byte is written does it
// take `name`, in one step (a rename over an earlier file). A failed write keeps any earlier file
// of that name and leaves nothing behind. `disk_full` tells a failure for lack of space.
// `durable`: the file is on the disk before it takes the name, and the name after.
WriteResult write_whole_file(const platform::Folder& folder, std::span<const Part> parts,
                             const std::string& name, bool durable = false);

}  // namespace texport
