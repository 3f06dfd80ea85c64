#include "platform/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <iterator>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/uio.h>
#include <unistd.h>

#include <climits>
#include <vector>
#endif

namespace texport::platform {
namespace {

std::error_code last_error() {
  return {errno, std::generic_category()};
}

// The few calls that differ: Windows takes names as UTF-16 and reports sizes through _fstat64.
// Every length here is below 2 GiB, so the 32-bit counts of Windows hold it.
#ifdef _WIN32
using NativeName = std::wstring;
constexpr int kReadFlags = _O_RDONLY | _O_BINARY | _O_NOINHERIT;
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;
constexpr int kCreateMode = _S_IREAD | _S_IWRITE;
int open_native(const NativeName& name, int flags, int mode = 0) {
  return _wopen(name.c_str(), flags, mode);
}
bool is_regular(int file, std::uint64_t& size) {
  struct _stat64 info {};
  size = _fstat64(file, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  return (info.st_mode & _S_IFMT) == _S_IFREG;
}
#define unlink _wunlink
#else
using NativeName = std::string;
const NativeName& to_wide(const std::string& name) {  // names stay as they are
  return name;
}
// Never wait on a FIFO; never hand a descriptor to another program.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
constexpr int kCreateMode = 0666;
int open_native(const NativeName& name, int flags, int mode = 0) {
  return ::open(name.c_str(), flags, mode);
}
bool is_regular(int file, std::uint64_t& size) {
  struct stat info {};
  size = ::fstat(file, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  return S_ISREG(info.st_mode);
}
#endif

struct RefusalCategory : std::error_category {
  const char* name() const noexcept override { return "texport"; }
  std::string message(int value) const override {
    static const char* const kMessages[] = {"refused", "not a regular file",  // by Refusal
                                            "a symbolic link of another user",
                                            "it changed while it was read"};
    return kMessages[value > 0 && value < std::ssize(kMessages) ? value : 0];
  }
};

// The file being created, for an interruption to remove. A fixed array: a signal handler must not
// allocate, and our temporary names are short.
NativeName::value_type being_written[64];
volatile std::sig_atomic_t has_file_being_written = 0;

}  // namespace

std::error_code make_error_code(Refusal refusal) {
  static const RefusalCategory category;
  return {static_cast<int>(refusal), category};
}

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

std::error_code open_for_reading(const std::string& name, File& file, std::uint64_t& size) {
#ifdef _WIN32
  file = File(open_native(to_wide(name), kReadFlags));
#else
  file = File(open_native(name, kReadFlags | O_NOFOLLOW));
  if (file.get() < 0 && errno == ELOOP) {
    // A symbolic link: whose is it? It must still be the same link once it has been followed.
    struct stat link {
    }, folder{}, again{};
    if (::lstat(name.c_str(), &link) != 0)
      return last_error();
    if (link.st_uid != ::geteuid() && (::stat(".", &folder) != 0 || link.st_uid != folder.st_uid))
      return Refusal::link_of_another_user;
    file = File(open_native(name, kReadFlags));
    if (file.get() >= 0 && (::lstat(name.c_str(), &again) != 0 || again.st_ino != link.st_ino ||
                            again.st_dev != link.st_dev))
      return Refusal::changed_while_read;
  }
#endif
  if (file.get() < 0)
    return last_error();
  return is_regular(file.get(), size) ? std::error_code() : Refusal::not_a_regular_file;
}

std::error_code read_exactly(const File& file, std::span<std::uint8_t> out) {
  while (!out.empty()) {
    const auto got = ::read(file.get(), out.data(), static_cast<unsigned>(out.size()));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return got < 0 ? last_error() : Refusal::changed_while_read;
    out = out.subspan(static_cast<std::size_t>(got));
  }
  return {};
}

std::error_code create_new_file(const std::string& name, File& file) {
  const NativeName native_name = to_wide(name);
  has_file_being_written = 0;
  if (native_name.size() < std::size(being_written)) {
    std::copy(native_name.c_str(), native_name.c_str() + native_name.size() + 1, being_written);
    has_file_being_written = 1;
  }
  file = File(open_native(native_name, kCreateFlags, kCreateMode));
  if (file.get() >= 0)
    return {};
  has_file_being_written = 0;
  return last_error();
}

std::error_code finish_new_file(File file, const std::string& temporary, const std::string& name) {
  std::error_code error;
#ifdef _WIN32
  if (::close(file.release()) != 0)
    error = last_error();
  else if (!MoveFileExW(to_wide(temporary).c_str(), to_wide(name).c_str(),
                        MOVEFILE_REPLACE_EXISTING))
    error = {static_cast<int>(GetLastError()), std::system_category()};
#else
  struct stat replaced {};
  if (::stat(name.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode))
    ::fchmod(file.get(), replaced.st_mode & 07777);
  if (::close(file.release()) != 0 || ::rename(temporary.c_str(), name.c_str()) != 0)
    error = last_error();
#endif
  if (error)
    remove_new_file(temporary);
  has_file_being_written = 0;
  return error;
}

void remove_new_file(const std::string& temporary) {
  ::unlink(to_wide(temporary).c_str());
  has_file_being_written = 0;
}

void remove_file_being_written() noexcept {
  if (has_file_being_written)
    ::unlink(being_written);
}

#ifdef _WIN32

std::wstring to_wide(const std::string& utf8) {
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

std::string to_utf8(const std::wstring& wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length,
                      nullptr, nullptr);
  return utf8;
}

std::error_code write_parts(const File& file,
                            std::span<const std::span<const std::uint8_t>> parts) {
  for (std::span<const std::uint8_t> part : parts)
    for (int wrote = 0; !part.empty(); part = part.subspan(static_cast<std::size_t>(wrote)))
      if ((wrote = ::write(file.get(), part.data(), static_cast<unsigned>(part.size()))) < 0)
        return last_error();
  return {};
}

bool same_file(const std::string& a, const std::string& b) {
  const auto identity = [](const std::string& name, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE file = CreateFileW(to_wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known;
  };
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return identity(a, first) && identity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

#else

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

bool same_file(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

#endif

}  // namespace texport::platform
