#include "io/file_io.hpp"

#include <cerrno>
#include <cstdio>
#include <random>
#include <vector>

#include "io/report.hpp"

namespace texport {
namespace {

// Drawn afresh for every file from the system's randomness, so that no other process, here or on
// another host sharing the folder, can foresee it.
std::string temporary_name() {
  thread_local std::random_device random;
  char name[32];
  std::snprintf(name, sizeof name, ".texport-%08x%08x.tmp", static_cast<unsigned>(random()),
                static_cast<unsigned>(random()));
  return name;
}

bool lack_of_space(const std::error_code& error) {
#ifdef EDQUOT
  if (error == std::error_code(EDQUOT, std::generic_category()))
    return true;
#endif
  return error == std::errc::no_space_on_device;
}

WriteResult failed(std::string_view action, const std::error_code& error) {
  return {lack_of_space(error) ? Written::disk_full : Written::failed,
          std::string(action) + ": " + error.message()};
}

// The bytes in memory in gather writes, the parts left in a source file copied from there.
std::error_code write_parts(const platform::File& file, std::span<const Part> parts) {
  std::vector<ByteView> pending;
  for (const Part& part : parts) {
    if (part.stored.file == nullptr) {
      pending.push_back(part.bytes);
      continue;
    }
    if (const std::error_code error = platform::write_parts(file, pending))
      return error;
    pending.clear();
    if (const std::error_code error =
            platform::copy_from_file(file, *part.stored.file, part.stored.offset, part.length))
      return error;
  }
  return platform::write_parts(file, pending);
}

WriteResult failed_write(const std::error_code& error) {
  return failed(error == platform::Refusal::changed_while_read ? "read its source" : "write",
                error);
}

// Where the system has files with no name, the image is written into one: nobody can open it
// while it is written, and once it is whole it takes its name in one step, with no temporary name
// and no rename. nullopt where no such file can be had or named, or where the name is taken.
std::optional<WriteResult> write_unnamed(const platform::Folder& folder,
                                         std::span<const Part> parts, const std::string& name,
                                         bool durable) {
  platform::File file;
  if (platform::create_unnamed_file(folder, file))
    return std::nullopt;
  if (const std::error_code error = write_parts(file, parts))
    return failed_write(error);
  const std::error_code error = platform::name_new_file(file, folder, name, durable);
  if (error == std::errc::file_exists || error == std::errc::operation_not_supported)
    return std::nullopt;
  return error ? failed("create it", error) : WriteResult{};
}

}  // namespace

std::optional<OpenFile> open_file(const platform::Folder& folder, const std::string& name,
                                  const Sink& sink) {
  OpenFile open;
  if (const std::error_code error =
          platform::open_for_reading(folder, name, open.file, open.size)) {
    sink.report(name, Problem::cannot, "open: " + error.message());
    return std::nullopt;
  }
  if (open.size > kMaxLength) {
    sink.report(name, Problem::too_large, std::to_string(open.size) + " bytes, 2 GiB or more");
    return std::nullopt;
  }
  return open;
}

std::optional<FilledBytes> read_file(const OpenFile& open, const std::string& name,
                                     const Sink& sink, std::optional<std::size_t> length) {
  FilledBytes bytes(length.value_or(static_cast<std::size_t>(open.size)));
  if (const std::error_code error = platform::read_at(open.file, 0, bytes)) {
    sink.report(name, Problem::cannot, "read: " + error.message());
    return std::nullopt;
  }
  return bytes;
}

std::optional<FilledBytes> read_whole_file(const platform::Folder& folder, const std::string& name,
                                           const Sink& sink) {
  const std::optional<OpenFile> open = open_file(folder, name, sink);
  return open ? read_file(*open, name, sink) : std::nullopt;
}

WriteResult write_whole_file(const platform::Folder& folder, std::span<const Part> parts,
                             const std::string& name, bool durable) {
  // Over the images of an earlier run every name is taken, and an unnamed file would be written in
  // vain: from one taken name on, each name is looked at before its image is written.
  thread_local bool names_taken = false;
  platform::Existing existing;
  if (names_taken)
    existing = platform::look_before_replacing(folder, name);
  if (!existing.present) {
    if (std::optional<WriteResult> result = write_unnamed(folder, parts, name, durable)) {
      names_taken = false;
      return *result;
    }
    existing = platform::look_before_replacing(folder, name);
  }
  names_taken = existing.present;
  if (existing.present && !existing.writable)
    return failed("replace it", platform::Refusal::write_protected);
  platform::File file;
  std::string temporary;
  std::error_code error = std::make_error_code(std::errc::file_exists);
  for (int attempt = 0; attempt < 100 && error == std::errc::file_exists; ++attempt)
    error = platform::create_new_file(folder, temporary = temporary_name(), file);
  if (error)
    return failed("create a temporary file", error);
  if ((error = write_parts(file, parts))) {
    platform::remove_new_file(folder, temporary);
    return failed_write(error);
  }
  if ((error =
           platform::finish_new_file(std::move(file), folder, temporary, name, existing, durable)))
    return failed(existing.present ? "replace it" : "create it", error);
  return {};
}

}  // namespace texport
