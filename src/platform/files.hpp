// Files of the working folder, by name: the system's calls behind one interface. Names are UTF-8;
// on Windows they go to the wide (UTF-16) calls, so every name the folder can hold works.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <system_error>
#include <utility>

namespace texport::platform {

// An open file descriptor, closed when it goes.
class File {
 public:
  File() = default;
  explicit File(int descriptor) : descriptor_(descriptor) {}
  File(File&& other) noexcept : descriptor_(other.release()) {}
  File& operator=(File&& other) noexcept;
  ~File();
  int get() const { return descriptor_; }
  int release() { return std::exchange(descriptor_, -1); }

 private:
  int descriptor_ = -1;
};

// Why a file was refused where the system itself raised no error.
enum class Refusal { not_a_regular_file = 1, link_of_another_user, changed_while_read };
std::error_code make_error_code(Refusal refusal);

// Opens an existing regular file for reading without ever blocking (a FIFO is refused, not
// waited on). A symbolic link is followed only when it belongs to the user running the tool or to
// the folder's owner, as the system does in folders that everybody may write to.
std::error_code open_for_reading(const std::string& name, File& file, std::uint64_t& size);

// Reads exactly `out.size()` bytes from the start of the file.
std::error_code read_exactly(const File& file, std::span<std::uint8_t> out);

// Creates a file that did not exist (never a link, never an existing file) and registers it to be
// removed if the run is interrupted before finish_new_file or remove_new_file.
std::error_code create_new_file(const std::string& name, File& file);

// Writes the parts one after the other, as one gather write where the system has it.
std::error_code write_parts(const File& file, std::span<const std::span<const std::uint8_t>> parts);

// Gives the new file the permission bits of the file it is to replace (if any), closes it and
// renames it over `name` in one step.
std::error_code finish_new_file(File file, const std::string& temporary, const std::string& name);
void remove_new_file(const std::string& temporary);

// True when both names lead to one existing file (a folder may ignore letter case).
bool same_file(const std::string& a, const std::string& b);

#ifdef _WIN32
std::wstring to_wide(const std::string& utf8);
std::string to_utf8(const std::wstring& wide);
#endif

// Removes the file being created, if any; safe inside a signal handler.
void remove_file_being_written() noexcept;

}  // namespace texport::platform

template <>
struct std::is_error_code_enum<texport::platform::Refusal> : std::true_type {};
