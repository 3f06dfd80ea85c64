// Byte buffers and little-endian field access shared by every format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

namespace texport {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;
using MutableBytes = std::span<std::uint8_t>;

// Bytes that are not zeroed when they are made, for a buffer filled whole right after (a file
// read in, a layer unpacked): nothing reads a byte of it before it is filled.
class FilledBytes {
 public:
  FilledBytes() = default;
  explicit FilledBytes(std::size_t size)
      : data_(std::make_unique_for_overwrite<std::uint8_t[]>(size)), size_(size) {}
  std::uint8_t* data() { return data_.get(); }
  std::size_t size() const { return size_; }
  operator ByteView() const { return {data_.get(), size_}; }
  operator MutableBytes() { return {data_.get(), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
};

// Largest file, unpacked layer or output we handle: lengths travel as signed 32-bit counts.
inline constexpr std::uint64_t kMaxLength = 0x7FFF'FFFFu;

// True when [offset, offset + length) lies inside a buffer of `size` bytes; never wraps.
constexpr bool fits(std::uint64_t size, std::uint64_t offset, std::uint64_t length) {
  return offset <= size && length <= size - offset;
}
constexpr bool fits(ByteView bytes, std::uint64_t offset, std::uint64_t length) {
  return fits(bytes.size(), offset, length);
}

// Decoders check ranges with fits() before reading; these checks only catch our own mistakes,
// and they stop the program rather than read outside a buffer.
inline void require_fits(std::size_t size, std::uint64_t offset, std::uint64_t length) {
  if (!fits(size, offset, length))
    std::abort();
}

inline std::uint16_t read_u16le(ByteView bytes, std::size_t offset) {
  require_fits(bytes.size(), offset, 2);
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline std::uint32_t read_u32le(ByteView bytes, std::size_t offset) {
  require_fits(bytes.size(), offset, 4);
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

inline void write_u16le(MutableBytes bytes, std::size_t offset, std::uint16_t value) {
  require_fits(bytes.size(), offset, 2);
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void write_u32le(MutableBytes bytes, std::size_t offset, std::uint32_t value) {
  require_fits(bytes.size(), offset, 4);
  for (int i = 0; i < 4; ++i)
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace texport
