#include "platform/files.hpp"

#include <iterator>

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

}  // namespace texport::platform
