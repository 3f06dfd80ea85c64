// Bytes placed so that their last one ends a readable page and the page after it cannot be read:
// a decoder that reads past its input then stops the test at once, in every build, not only
// under a sanitizer (POSIX; elsewhere a plain copy).
#pragma once

#include <algorithm>
#include <cstddef>
#include <stdexcept>

#include "io/bytes.hpp"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace texport::testing {

class AtEndOfReadable {
 public:
  explicit AtEndOfReadable(ByteView bytes) {
#if defined(__unix__) || defined(__APPLE__)
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    length_ = (bytes.size() + page - 1) / page * page + page;
    void* const pages =
        mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
      throw std::runtime_error("no pages for a guarded source");
    pages_ = static_cast<std::uint8_t*>(pages);
    std::uint8_t* const guard = pages_ + length_ - page;
    if (mprotect(guard, page, PROT_NONE) != 0) {  // unguarded, the test would prove nothing
      munmap(pages_, length_);
      throw std::runtime_error("no guard page after a guarded source");
    }
    view_ = ByteView(guard - bytes.size(), bytes.size());
    std::ranges::copy(bytes, guard - bytes.size());
#else
    copy_.assign(bytes.begin(), bytes.end());
    view_ = copy_;
#endif
  }
  ~AtEndOfReadable() {
#if defined(__unix__) || defined(__APPLE__)
    munmap(pages_, length_);
#endif
  }
  AtEndOfReadable(const AtEndOfReadable&) = delete;
  AtEndOfReadable& operator=(const AtEndOfReadable&) = delete;

  ByteView view() const {
    return view_;
  }

 private:
  std::uint8_t* pages_ = nullptr;
  std::size_t length_ = 0;
  Bytes copy_;
  ByteView view_;
};

}  // namespace texport::testing
