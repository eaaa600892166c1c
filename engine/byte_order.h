#pragma once

// Little-endian loads and stores for on-disk records, and a bounds-checked
// cursor for reading variable parts (extra fields) without pointer arithmetic.
// Records are never packed structs cast over memory: every field is read and
// written through these helpers, whatever the host's byte order.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plimsy {

inline std::uint16_t loadLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

inline std::uint32_t loadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint64_t loadLe64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(loadLe32(p)) | static_cast<std::uint64_t>(loadLe32(p + 4)) << 32;
}

inline void storeLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void storeLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void storeLe64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Appending to a byte string (the central directory image is one).
inline void appendLe16(std::string& out, std::uint16_t v) {
  std::uint8_t b[2];
  storeLe16(b, v);
  out.append(reinterpret_cast<const char*>(b), sizeof b);
}

inline void appendLe64(std::string& out, std::uint64_t v) {
  std::uint8_t b[8];
  storeLe64(b, v);
  out.append(reinterpret_cast<const char*>(b), sizeof b);
}

// A read position inside a block of bytes that it never leaves. Each read
// takes the next bytes and moves past them. A read that asks for more bytes
// than remain takes nothing, returns 0 (or an empty cursor), and leaves the
// cursor failed and empty, so that nothing after a short read is ever taken
// for a value.
class ByteCursor {
 public:
  ByteCursor() = default;
  ByteCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  explicit ByteCursor(std::string_view bytes)
      : data_(reinterpret_cast<const std::uint8_t*>(bytes.data())), size_(bytes.size()) {}
  // A cursor does not own its bytes: one over a temporary string would dangle.
  explicit ByteCursor(std::string&&) = delete;

  // Bytes left before the end.
  std::size_t remaining() const { return size_; }
  // True after a read ran short.
  bool failed() const { return failed_; }
  // The next unread byte (valid only while remaining() > 0).
  const std::uint8_t* data() const { return data_; }

  std::uint16_t u16() { return take(2) ? loadLe16(data_ - 2) : 0; }
  std::uint32_t u32() { return take(4) ? loadLe32(data_ - 4) : 0; }
  std::uint64_t u64() { return take(8) ? loadLe64(data_ - 8) : 0; }

  // The next n bytes as a cursor of their own.
  ByteCursor sub(std::size_t n) { return take(n) ? ByteCursor(data_ - n, n) : ByteCursor(); }
  // Moves past n bytes; false when fewer remain.
  bool skip(std::size_t n) { return take(n); }

 private:
  bool take(std::size_t n) {
    if (failed_ || n > size_) {
      failed_ = true;
      size_ = 0;
      return false;
    }
    data_ += n;
    size_ -= n;
    return true;
  }

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  bool failed_ = false;
};

}  // namespace plimsy
