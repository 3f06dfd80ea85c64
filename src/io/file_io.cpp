#include "io/file_io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "io/report.hpp"
#include "platform/process.hpp"

namespace texport {
namespace {

std::string describe_errno(const char* action, int error) {
  std::string text = action;
  if (error != 0)
    text.append(": ").append(std::strerror(error));
  return text;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// A name of our own beside the output, unlikely to exist; we still never reuse an existing one.
std::string fresh_temporary_name() {
  static const std::string prefix =
      ".texport-" + std::to_string(platform::current_process_id()) + "-";
  static unsigned counter = 0;
  for (;;) {
    std::string candidate = prefix + std::to_string(counter++) + ".tmp";
    std::error_code ignored;
    if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ignored)))
      return candidate;
  }
}

bool write_temporary(ByteView data, const std::string& temporary, std::string& failure) {
  errno = 0;
  FileHandle file(std::fopen(temporary.c_str(), "wb"));
  if (!file) {
    failure = describe_errno("cannot create a temporary file", errno);
    return false;
  }
  errno = 0;
  if (!data.empty() && std::fwrite(data.data(), 1, data.size(), file.get()) != data.size()) {
    failure = describe_errno("cannot write", errno);
    return false;
  }
  errno = 0;
  if (std::fflush(file.get()) != 0) {
    failure = describe_errno("cannot write", errno);
    return false;
  }
  errno = 0;
  if (std::fclose(file.release()) != 0) {
    failure = describe_errno("cannot write", errno);
    return false;
  }
  return true;
}

}  // namespace

std::optional<Bytes> read_whole_file(const std::string& name) {
  errno = 0;
  std::ifstream infile(name, std::ios::in | std::ios::ate | std::ios::binary);
  if (!infile) {
    report_problem(name, describe_errno("cannot open", errno));
    return std::nullopt;
  }
  // A folder opens as a stream on some systems and reports a meaningless length.
  std::error_code status_error;
  if (std::filesystem::is_directory(name, status_error)) {
    report_problem(name, "cannot read: it is a folder");
    return std::nullopt;
  }
  const std::streamoff size = infile.tellg();
  if (size < 0) {
    report_problem(name, "cannot read: its length is unknown");
    return std::nullopt;
  }
  if (static_cast<std::uint64_t>(size) > kMaxLength) {
    report_problem(name, "refused: " + std::to_string(size) +
                             " bytes is 2 GiB or more, more than this tool handles");
    return std::nullopt;
  }
  Bytes bytes(static_cast<std::size_t>(size));
  infile.seekg(0, std::ios::beg);
  errno = 0;
  if (!bytes.empty() &&
      (!infile.read(reinterpret_cast<char*>(bytes.data()), size) || infile.gcount() != size)) {
    report_problem(name, describe_errno("cannot read", errno));
    return std::nullopt;
  }
  return bytes;
}

bool write_whole_file(ByteView data, const std::string& name) {
  const std::string temporary = fresh_temporary_name();
  std::string failure;
  if (!write_temporary(data, temporary, failure)) {
    std::remove(temporary.c_str());
    report_problem(name, failure);
    return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, name, error);
  if (error) {
    std::remove(temporary.c_str());
    report_problem(name, "cannot replace it: " + error.message());
    return false;
  }
  return true;
}

}  // namespace texport
