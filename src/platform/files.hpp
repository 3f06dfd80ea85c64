// Files and folders: the system's calls behind one interface, one implementation per system
// (files_posix.cpp, files_win32.cpp). Names are UTF-8; Windows takes them through its wide
// (UTF-16) calls, so every name a folder can hold works. Every name given with a Folder is one
// name inside it, never a path.
#pragma once

#include <cstdint>
#include <optional>
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

// A folder files are found, read and written in: the working folder, or one opened below. On
// POSIX it holds an open descriptor, so that a folder renamed or replaced by a link while the run
// goes on cannot steer a file elsewhere; on Windows its path.
class Folder {
 public:
  Folder() = default;  // the working folder
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  ~Folder();

  // POSIX: the descriptor, -1 for the working folder.
  int descriptor() const { return descriptor_; }
  // Windows: the path, "" for the working folder, else ending in a backslash.
  const std::wstring& path() const { return path_; }

  static Folder from_descriptor(int descriptor) {
    Folder folder;
    folder.descriptor_ = descriptor;
    return folder;
  }
  static Folder from_path(std::wstring path) {
    Folder folder;
    folder.path_ = std::move(path);
    return folder;
  }

 private:
  int descriptor_ = -1;
  std::wstring path_;
};

// Why a file was refused where the system itself raised no error.
enum class Refusal {
  not_a_regular_file = 1,
  link_of_another_user,
  changed_while_read,
  write_protected,
  reserved_name,
  not_a_folder,
};
std::error_code make_error_code(Refusal refusal);

// Opens an existing regular file for reading without ever blocking (a FIFO is refused, not
// waited on). A symbolic link is followed only when it belongs to the user running the tool.
std::error_code open_for_reading(const Folder& folder, const std::string& name, File& file,
                                 std::uint64_t& size);

// Reads exactly `out.size()` bytes from `offset` on; a file that ends before is said to have
// changed while it was read.
std::error_code read_at(const File& file, std::uint64_t offset, std::span<std::uint8_t> out);

// What is there under a name that an output is about to replace.
struct Existing {
  bool present = false;     // any entry at all, a link or a folder included
  bool keeps_mode = false;  // a regular file of the runner's own: its permission bits are kept
  unsigned mode = 0;        // those bits (never setuid, setgid or sticky)
  bool writable = true;     // false for a file the runner may not write
};
Existing look_before_replacing(const Folder& folder, const std::string& name);

// Creates a file that did not exist (never a link, never an existing file), readable and
// writable by the runner alone, and registers it to be removed if the run ends by a signal before
// finish_new_file or remove_new_file.
std::error_code create_new_file(const Folder& folder, const std::string& name, File& file);

// Creates a file with no name in the folder, where the system and the folder's file system have
// them (Linux): nobody can open it while it is written, and name_new_file then gives it its name
// in one step. Fails elsewhere, and once the system has refused to name one.
std::error_code create_unnamed_file(const Folder& folder, File& file);

// Gives a file from create_unnamed_file the mode a new file gets (as finish_new_file) and then
// the name `name`, which nothing may hold: file_exists when something does (a link there is not
// followed). `durable` as for finish_new_file. operation_not_supported where the system names no
// such file (Linux before 6.10, for a runner without CAP_DAC_READ_SEARCH): create_unnamed_file
// fails from then on.
std::error_code name_new_file(const File& file, const Folder& folder, const std::string& name,
                              bool durable = false);

// Writes the parts one after the other, as one gather write where the system has it.
std::error_code write_parts(const File& file, std::span<const std::span<const std::uint8_t>> parts);

// Writes `length` bytes of `from`, from `offset` on, after what `to` holds: inside the system
// where it can do that (Linux: no copy through the process's memory), else through a buffer. A
// file `from` that ends before is said to have changed while it was read.
std::error_code copy_from_file(const File& to, const File& from, std::uint64_t offset,
                               std::uint64_t length);
// The same through a buffer, read and written in turn: the way every system has.
std::error_code copy_through_memory(const File& to, const File& from, std::uint64_t offset,
                                    std::uint64_t length);

// Gives the new file the mode of the file it replaces where that is kept (else what a new file
// gets from the umask), closes it and renames it over `name` in one step; on failure removes it.
// `durable`: the file is on the disk before it takes the name, and the folder's entry after.
std::error_code finish_new_file(File file, const Folder& folder, const std::string& temporary,
                                const std::string& name, const Existing& replaced,
                                bool durable = false);

// Gives the existing file `name` a second name that did not exist (a hard link).
std::error_code link_new_name(const Folder& folder, const std::string& name,
                              const std::string& new_name);
void remove_new_file(const Folder& folder, const std::string& temporary);

// True when both names lead to one existing file (a folder may ignore letter case).
bool same_file(const Folder& folder, const std::string& a, const Folder& other,
               const std::string& b);

// What tells one version of a regular file from another: which file it is, its size and when it
// was last changed. None for a name that is no regular file of its own (a link), or where the
// system cannot tell (Windows): such a file is read anew each time.
struct FileVersion {
  std::uint64_t device = 0, file = 0, size = 0, modified = 0, changed = 0;
  bool operator==(const FileVersion&) const = default;
};
std::optional<FileVersion> version_of(const Folder& folder, const std::string& name);

// Bytes the regular file `name` takes on its disk; 0 when there is none.
std::uint64_t disk_use(const Folder& folder, const std::string& name);

// Room left on the folder's file system for the runner.
struct Room {
  std::uint64_t bytes = UINT64_MAX;
  std::uint64_t files = UINT64_MAX;
  std::uint64_t block = 1;  // files take whole blocks of this many bytes
};
Room free_room(const Folder& folder);

// Opens the folder `name` inside `parent`, never through a link; make_folder first creates it
// if it is missing.
std::error_code open_folder(const Folder& parent, const std::string& name, Folder& folder);
std::error_code make_folder(const Folder& parent, const std::string& name, Folder& folder);
// Opens a folder by a path the user gave (links in it are followed: the user named them),
// creating it and its parents first when `create` is set.
std::error_code open_folder_path(const std::string& path, bool create, Folder& folder);

// Removes every file being created, if any; safe inside a signal handler.
void remove_files_being_written() noexcept;

}  // namespace texport::platform

template <>
struct std::is_error_code_enum<texport::platform::Refusal> : std::true_type {};
