#include "platform/files.hpp"

#include <algorithm>
#include <iterator>
#include <memory>

namespace texport::platform {

std::error_code make_error_code(Refusal refusal) {
  struct Category : std::error_category {
    const char* name() const noexcept override { return "texport"; }
    std::string message(int value) const override {
      static const char* const kMessages[] = {"refused",  // by Refusal
                                              "not a regular file",
                                              "a symbolic link of another user",
                                              "it changed while it was read",
                                              "it is write-protected",
                                              "the name is reserved on Windows",
                                              "not a folder"};
      return kMessages[value > 0 && value < static_cast<int>(std::size(kMessages)) ? value : 0];
    }
  };
  static const Category category;
  return {static_cast<int>(refusal), category};
}

std::error_code copy_through_memory(const File& to, const File& from, std::uint64_t offset,
                                    std::uint64_t length) {
  constexpr std::size_t kChunk = std::size_t{1} << 18;
  const auto chunk = std::make_unique_for_overwrite<std::uint8_t[]>(kChunk);
  while (length != 0) {
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunk));
    const std::span<const std::uint8_t> read(chunk.get(), piece);
    if (const std::error_code error = read_at(from, offset, {chunk.get(), piece}))
      return error;
    if (const std::error_code error = write_parts(to, {&read, 1}))
      return error;
    offset += piece;
    length -= piece;
  }
  return {};
}

}  // namespace texport::platform
