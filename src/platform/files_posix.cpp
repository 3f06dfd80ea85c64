#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/files.hpp"

namespace texport::platform {
namespace {

int at(const Folder& folder) {
  return folder.descriptor() < 0 ? AT_FDCWD : folder.descriptor();
}

std::error_code last_error() {
  return {errno, std::generic_category()};
}

// Never wait on a FIFO, never take a terminal, never hand a descriptor to another program.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Read before main, while only one thread runs: reading the umask means setting it.
const mode_t process_umask = [] {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}();

// The files being created, for a signal to remove: fixed slots, since a signal handler must not
// allocate or lock; one for each image written at the same time.
struct BeingWritten {
  std::atomic<int> state{0};  // 0 free, 1 claimed, 2 ready
  int folder = AT_FDCWD;
  char name[48] = {};
};
BeingWritten being_written[64];

void register_file(int folder, const std::string& name) {
  if (name.size() >= sizeof BeingWritten::name)
    return;
  for (BeingWritten& slot : being_written) {
    int free = 0;
    if (slot.state.compare_exchange_strong(free, 1)) {
      slot.folder = folder;
      std::memcpy(slot.name, name.c_str(), name.size() + 1);
      slot.state.store(2);
      return;
    }
  }
}

void unregister_file(int folder, const std::string& name) {
  for (BeingWritten& slot : being_written)
    if (slot.state.load() == 2 && slot.folder == folder && name == slot.name) {
      slot.state.store(0);
      return;
    }
}

mode_t final_mode(const Existing& replaced) {
  return replaced.keeps_mode ? replaced.mode : (0666 & ~process_umask);
}

std::error_code sync_folder(const Folder& folder) {
  std::error_code error;
  const int entry = ::openat(at(folder), ".", kFolderFlags);
  if (entry < 0 || ::fsync(entry) != 0)
    error = last_error();
  if (entry >= 0)
    ::close(entry);
  return error;
}

#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
// Set once the system refused to name an unnamed file: from then on every file is created under a
// temporary name.
std::atomic<bool> unnamed_files_refused{false};
#endif

}  // namespace

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    File closing(descriptor_);
    descriptor_ = other.release();
  }
  return *this;
}

File::~File() {
  if (descriptor_ >= 0)
    ::close(descriptor_);
}

Folder::Folder(Folder&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), path_(std::move(other.path_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Folder closing(std::move(*this));
    descriptor_ = std::exchange(other.descriptor_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

Folder::~Folder() {
  if (descriptor_ >= 0)
    ::close(descriptor_);
}

std::error_code open_for_reading(const Folder& folder, const std::string& name, File& file,
                                 std::uint64_t& size) {
  const int in = at(folder);
  file = File(::openat(in, name.c_str(), kReadFlags | O_NOFOLLOW));
  if (file.get() < 0 && errno == ELOOP) {
    // A symbolic link: whose is it? It must still be the same link once it has been followed.
    struct stat link {
    }, again{};
    if (::fstatat(in, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0)
      return last_error();
    if (link.st_uid != ::geteuid())
      return Refusal::link_of_another_user;
    file = File(::openat(in, name.c_str(), kReadFlags));
    if (file.get() >= 0 && (::fstatat(in, name.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0 ||
                            again.st_ino != link.st_ino || again.st_dev != link.st_dev))
      return Refusal::changed_while_read;
  }
  if (file.get() < 0)
    return last_error();
  struct stat info {};
  if (::fstat(file.get(), &info) != 0)
    return last_error();
  if (!S_ISREG(info.st_mode))
    return Refusal::not_a_regular_file;
  size = static_cast<std::uint64_t>(info.st_size);
  return {};
}

std::error_code read_at(const File& file, std::uint64_t offset, std::span<std::uint8_t> out) {
  while (!out.empty()) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
      return Refusal::changed_while_read;
    const ssize_t got =
        ::pread(file.get(), out.data(), std::min<std::size_t>(out.size(), SSIZE_MAX),
                static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return got < 0 ? last_error() : Refusal::changed_while_read;
    out = out.subspan(static_cast<std::size_t>(got));
    offset += static_cast<std::uint64_t>(got);
  }
  return {};
}

Existing look_before_replacing(const Folder& folder, const std::string& name) {
  Existing existing;
  struct stat info {};
  if (::fstatat(at(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return existing;
  existing.present = true;
  if (S_ISREG(info.st_mode)) {
    // Only the plain permission bits of a file of the runner's own: a file or link planted by
    // someone else must not hand its mode, least of all setuid, to a file of the runner's.
    existing.keeps_mode = info.st_uid == ::geteuid();
    existing.mode = info.st_mode & 0777;
    existing.writable = ::faccessat(at(folder), name.c_str(), W_OK, AT_EACCESS) == 0;
  }
  return existing;
}

std::error_code create_new_file(const Folder& folder, const std::string& name, File& file) {
  // Private while it is written: the mode is widened only once the last byte is in.
  file = File(::openat(at(folder), name.c_str(), kCreateFlags, 0600));
  if (file.get() < 0)
    return last_error();
  register_file(at(folder), name);
  return {};
}

std::error_code create_unnamed_file([[maybe_unused]] const Folder& folder,
                                    [[maybe_unused]] File& file) {
#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
  if (!unnamed_files_refused.load(std::memory_order_relaxed)) {
    file = File(::openat(at(folder), ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600));
    return file.get() < 0 ? last_error() : std::error_code{};
  }
#endif
  return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code name_new_file(const File& file, [[maybe_unused]] const Folder& folder,
                              [[maybe_unused]] const std::string& name, bool durable) {
  // Whole and with its final mode before it shows under a name.
  if (::fchmod(file.get(), final_mode({})) != 0 || (durable && ::fsync(file.get()) != 0))
    return last_error();
#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
  if (::linkat(file.get(), "", at(folder), name.c_str(), AT_EMPTY_PATH) == 0)
    return durable ? sync_folder(folder) : std::error_code{};
  // What Linux before 6.10 says to a runner without the capability to name a file by descriptor.
  if (errno != ENOENT)
    return last_error();
  unnamed_files_refused.store(true, std::memory_order_relaxed);
#endif
  return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code write_parts(const File& file,
                            std::span<const std::span<const std::uint8_t>> parts) {
  std::vector<iovec> pending;
  for (const auto& part : parts)
    if (!part.empty())
      pending.push_back({const_cast<std::uint8_t*>(part.data()), part.size()});
  for (std::size_t first = 0; first < pending.size();) {
    const int count = static_cast<int>(std::min<std::size_t>(pending.size() - first, IOV_MAX));
    const ssize_t wrote = ::writev(file.get(), &pending[first], count);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote < 0)
      return last_error();
    // After a short write, go on from the first byte not written.
    for (auto left = static_cast<std::size_t>(wrote); left > 0;) {
      iovec& part = pending[first];
      const std::size_t taken = std::min(left, part.iov_len);
      part.iov_base = static_cast<std::uint8_t*>(part.iov_base) + taken;
      part.iov_len -= taken;
      left -= taken;
      first += part.iov_len == 0;
    }
  }
  return {};
}

std::error_code copy_from_file(const File& to, const File& from, std::uint64_t offset,
                               std::uint64_t length) {
#ifdef __linux__
  for (bool copied_any = false; length != 0;) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
      return Refusal::changed_while_read;
    auto from_offset = static_cast<off_t>(offset);
    const ssize_t copied =
        ::copy_file_range(from.get(), &from_offset, to.get(), nullptr,
                          static_cast<std::size_t>(std::min<std::uint64_t>(length, SSIZE_MAX)), 0);
    if (copied < 0 && errno == EINTR)
      continue;
    // Where the system cannot copy between these two files (another file system, an older
    // kernel), the first call fails before it wrote anything: copied through memory instead.
    if (copied < 0 && !copied_any &&
        (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
         errno == EPERM))
      break;
    if (copied <= 0)
      return copied < 0 ? last_error() : Refusal::changed_while_read;
    copied_any = true;
    offset += static_cast<std::uint64_t>(copied);
    length -= static_cast<std::uint64_t>(copied);
  }
#endif
  return copy_through_memory(to, from, offset, length);
}

std::error_code finish_new_file(File file, const Folder& folder, const std::string& temporary,
                                const std::string& name, const Existing& replaced, bool durable) {
  std::error_code error;
  if (::fchmod(file.get(), final_mode(replaced)) != 0 || (durable && ::fsync(file.get()) != 0) ||
      ::close(file.release()) != 0 ||
      ::renameat(at(folder), temporary.c_str(), at(folder), name.c_str()) != 0)
    error = last_error();
  if (error) {
    remove_new_file(folder, temporary);
    return error;
  }
  unregister_file(at(folder), temporary);
  return durable ? sync_folder(folder) : std::error_code{};
}

std::error_code link_new_name(const Folder& folder, const std::string& name,
                              const std::string& new_name) {
  if (::linkat(at(folder), name.c_str(), at(folder), new_name.c_str(), 0) != 0)
    return last_error();
  return {};
}

void remove_new_file(const Folder& folder, const std::string& temporary) {
  ::unlinkat(at(folder), temporary.c_str(), 0);
  unregister_file(at(folder), temporary);
}

bool same_file(const Folder& folder, const std::string& a, const Folder& other,
               const std::string& b) {
  struct stat first {
  }, second{};
  return ::fstatat(at(folder), a.c_str(), &first, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstatat(at(other), b.c_str(), &second, AT_SYMLINK_NOFOLLOW) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::optional<FileVersion> version_of(const Folder& folder, const std::string& name) {
  struct stat info {};
  if (::fstatat(at(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(info.st_mode))
    return std::nullopt;
  const auto nanoseconds = [](const timespec& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(time.tv_nsec);
  };
  return FileVersion{static_cast<std::uint64_t>(info.st_dev),
                     static_cast<std::uint64_t>(info.st_ino),
                     static_cast<std::uint64_t>(info.st_size), nanoseconds(info.st_mtim),
                     nanoseconds(info.st_ctim)};
}

std::uint64_t disk_use(const Folder& folder, const std::string& name) {
  struct stat info {};
  if (::fstatat(at(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(info.st_mode))
    return 0;
  return std::uint64_t{static_cast<std::uint64_t>(info.st_blocks)} * 512;
}

Room free_room(const Folder& folder) {
  Room room;
  struct statvfs info {};
  const int descriptor = ::openat(at(folder), ".", kFolderFlags);
  if (descriptor < 0)
    return room;
  if (::fstatvfs(descriptor, &info) == 0) {
    room.block = std::max<std::uint64_t>(info.f_frsize, 1);
    room.bytes = std::uint64_t{info.f_bavail} * room.block;
    // Some file systems keep no count of files (they report none at all): no limit then.
    if (info.f_files != 0)
      room.files = info.f_favail;
  }
  ::close(descriptor);
  return room;
}

std::error_code open_folder(const Folder& parent, const std::string& name, Folder& folder) {
  const int descriptor = ::openat(at(parent), name.c_str(), kFolderFlags | O_NOFOLLOW);
  if (descriptor < 0)
    return errno == ELOOP || errno == ENOTDIR ? make_error_code(Refusal::not_a_folder)
                                              : last_error();
  folder = Folder::from_descriptor(descriptor);
  return {};
}

std::error_code make_folder(const Folder& parent, const std::string& name, Folder& folder) {
  if (::mkdirat(at(parent), name.c_str(), 0777) != 0 && errno != EEXIST)
    return last_error();
  return open_folder(parent, name, folder);
}

std::error_code open_folder_path(const std::string& path, bool create, Folder& folder) {
  for (std::size_t end = 1; create && end <= path.size(); ++end)
    if ((end == path.size() || path[end] == '/') && path[end - 1] != '/' &&
        ::mkdir(path.substr(0, end).c_str(), 0777) != 0 && errno != EEXIST)
      return last_error();
  const int descriptor = ::open(path.c_str(), kFolderFlags);
  if (descriptor < 0)
    return errno == ENOTDIR ? make_error_code(Refusal::not_a_folder) : last_error();
  folder = Folder::from_descriptor(descriptor);
  return {};
}

void remove_files_being_written() noexcept {
  for (BeingWritten& slot : being_written)
    if (slot.state.load() == 2)
      ::unlinkat(slot.folder, slot.name, 0);
}

}  // namespace texport::platform
