#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cwchar>

#include "platform/files.hpp"
#include "platform/wide.hpp"

namespace texport::platform {
namespace {

std::error_code last_error() {
  return {errno, std::generic_category()};
}

std::error_code last_system_error() {
  return {static_cast<int>(GetLastError()), std::system_category()};
}

std::wstring native(const Folder& folder, const std::string& name) {
  return folder.path() + to_wide(name);
}

// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9, with any extension, name devices, not files.
bool is_reserved(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ')
    stem.pop_back();
  for (char& c : stem)
    c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
    return true;
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

// Every length here is below 2 GiB, so the 32-bit counts of the system's calls hold it.
constexpr int kReadFlags = _O_RDONLY | _O_BINARY | _O_NOINHERIT;
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;

// The files being created, for an interruption to remove: fixed slots, since a signal handler
// must not allocate or lock; one for each image written at the same time.
struct BeingWritten {
  std::atomic<int> state{0};  // 0 free, 1 claimed, 2 ready
  wchar_t path[1024] = {};
};
BeingWritten being_written[64];

void register_file(const std::wstring& path) {
  if (path.size() >= std::size(being_written[0].path))
    return;
  for (BeingWritten& slot : being_written) {
    int free = 0;
    if (slot.state.compare_exchange_strong(free, 1)) {
      std::copy(path.c_str(), path.c_str() + path.size() + 1, slot.path);
      slot.state.store(2);
      return;
    }
  }
}

void unregister_file(const std::wstring& path) {
  for (BeingWritten& slot : being_written)
    if (slot.state.load() == 2 && path == slot.path) {
      slot.state.store(0);
      return;
    }
}

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
    _close(descriptor_);
}

Folder::Folder(Folder&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), path_(std::move(other.path_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  descriptor_ = std::exchange(other.descriptor_, -1);
  path_ = std::move(other.path_);
  return *this;
}

Folder::~Folder() = default;

std::error_code open_for_reading(const Folder& folder, const std::string& name, File& file,
                                 std::uint64_t& size) {
  if (is_reserved(name))
    return Refusal::reserved_name;
  file = File(_wopen(native(folder, name).c_str(), kReadFlags));
  if (file.get() < 0)
    return last_error();
  struct _stat64 info {};
  if (_fstat64(file.get(), &info) != 0)
    return last_error();
  if ((info.st_mode & _S_IFMT) != _S_IFREG)
    return Refusal::not_a_regular_file;
  size = static_cast<std::uint64_t>(info.st_size);
  return {};
}

std::error_code read_at(const File& file, std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
      _lseeki64(file.get(), static_cast<__int64>(offset), SEEK_SET) < 0)
    return Refusal::changed_while_read;
  while (!out.empty()) {
    const int got = _read(file.get(), out.data(),
                          static_cast<unsigned>(std::min<std::size_t>(out.size(), 1u << 30)));
    if (got <= 0)
      return got < 0 ? last_error() : Refusal::changed_while_read;
    out = out.subspan(static_cast<std::size_t>(got));
  }
  return {};
}

Existing look_before_replacing(const Folder& folder, const std::string& name) {
  Existing existing;
  const DWORD attributes = GetFileAttributesW(native(folder, name).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return existing;
  existing.present = true;
  existing.writable = (attributes & FILE_ATTRIBUTE_READONLY) == 0;
  return existing;
}

std::error_code create_new_file(const Folder& folder, const std::string& name, File& file) {
  const std::wstring path = native(folder, name);
  file = File(_wopen(path.c_str(), kCreateFlags, _S_IREAD | _S_IWRITE));
  if (file.get() < 0)
    return last_error();
  register_file(path);
  return {};
}

// Windows has no file without a name: every file is created under a temporary one.
std::error_code create_unnamed_file(const Folder&, File&) {
  return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code name_new_file(const File&, const Folder&, const std::string&, bool) {
  return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code write_parts(const File& file,
                            std::span<const std::span<const std::uint8_t>> parts) {
  for (std::span<const std::uint8_t> part : parts)
    for (int wrote = 0; !part.empty(); part = part.subspan(static_cast<std::size_t>(wrote)))
      if ((wrote = _write(file.get(), part.data(),
                          static_cast<unsigned>(std::min<std::size_t>(part.size(), 1u << 30)))) < 0)
        return last_error();
  return {};
}

std::error_code copy_from_file(const File& to, const File& from, std::uint64_t offset,
                               std::uint64_t length) {
  return copy_through_memory(to, from, offset, length);
}

std::error_code finish_new_file(File file, const Folder& folder, const std::string& temporary,
                                const std::string& name, const Existing&, bool durable) {
  std::error_code error;
  if (is_reserved(name))
    error = Refusal::reserved_name;
  else if ((durable && _commit(file.get()) != 0) || _close(file.release()) != 0)
    error = last_error();
  else if (!MoveFileExW(native(folder, temporary).c_str(), native(folder, name).c_str(),
                        MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0)))
    error = last_system_error();
  if (error)
    remove_new_file(folder, temporary);
  else
    unregister_file(native(folder, temporary));
  return error;
}

std::error_code link_new_name(const Folder& folder, const std::string& name,
                              const std::string& new_name) {
  if (is_reserved(new_name))
    return Refusal::reserved_name;
  if (!CreateHardLinkW(native(folder, new_name).c_str(), native(folder, name).c_str(), nullptr))
    return last_system_error();
  return {};
}

void remove_new_file(const Folder& folder, const std::string& temporary) {
  const std::wstring path = native(folder, temporary);
  _wunlink(path.c_str());
  unregister_file(path);
}

bool same_file(const Folder& folder, const std::string& a, const Folder& other,
               const std::string& b) {
  const auto identity = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known;
  };
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return identity(native(folder, a), first) && identity(native(other, b), second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

std::optional<FileVersion> version_of(const Folder&, const std::string&) {
  return std::nullopt;
}

std::uint64_t disk_use(const Folder& folder, const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!GetFileAttributesExW(native(folder, name).c_str(), GetFileExInfoStandard, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return 0;
  return std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
}

Room free_room(const Folder& folder) {
  Room room;
  const std::wstring path = folder.path().empty() ? L".\\" : folder.path();
  ULARGE_INTEGER available{};
  if (GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr))
    room.bytes = available.QuadPart;
  wchar_t volume[MAX_PATH + 1] = {};
  DWORD sectors = 0, sector_bytes = 0, free_clusters = 0, clusters = 0;
  if (GetVolumePathNameW(path.c_str(), volume, MAX_PATH) &&
      GetDiskFreeSpaceW(volume, &sectors, &sector_bytes, &free_clusters, &clusters))
    room.block = std::max<std::uint64_t>(std::uint64_t{sectors} * sector_bytes, 1);
  return room;
}

std::error_code open_folder(const Folder& parent, const std::string& name, Folder& folder) {
  const std::wstring path = native(parent, name);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return last_system_error();
  // A link or junction is never followed into.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return Refusal::not_a_folder;
  folder = Folder::from_path(path + L"\\");
  return {};
}

std::error_code make_folder(const Folder& parent, const std::string& name, Folder& folder) {
  if (!CreateDirectoryW(native(parent, name).c_str(), nullptr) &&
      GetLastError() != ERROR_ALREADY_EXISTS)
    return last_system_error();
  return open_folder(parent, name, folder);
}

std::error_code open_folder_path(const std::string& path, bool create, Folder& folder) {
  std::wstring wide = to_wide(path);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  for (std::size_t end = 1; create && end <= wide.size(); ++end)
    if ((end == wide.size() || wide[end] == L'\\') && wide[end - 1] != L'\\' &&
        wide[end - 1] != L':' && !CreateDirectoryW(wide.substr(0, end).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
      return last_system_error();
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return last_system_error();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return Refusal::not_a_folder;
  if (!wide.empty() && wide.back() != L'\\')
    wide.push_back(L'\\');
  folder = Folder::from_path(wide);
  return {};
}

void remove_files_being_written() noexcept {
  for (BeingWritten& slot : being_written)
    if (slot.state.load() == 2)
      _wunlink(slot.path);
}

}  // namespace texport::platform
