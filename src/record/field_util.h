// Small helpers shared by the field classes' source files.
#pragma once

#include <cstdint>
#include <cstring>

#include "record/field.h"

namespace ludrex::detail {

inline int Sign(std::int64_t a, std::int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

// Replace out's bytes by the characters of a NUL-terminated text / of a decimal number.
inline void SetText(ByteBlock& out, const char* text) {
  SetBytes(out, text, static_cast<std::int32_t>(std::strlen(text)));
}

inline void SetNumber(ByteBlock& out, std::int64_t value) {
  String s = String::FromNumber(value);
  SetBytes(out, s.Text(), s.Length());
}

inline char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

inline bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// Whether n bytes equal the NUL-terminated text t exactly.
inline bool BytesEqual(const std::uint8_t* bytes, std::int32_t n, const char* t) {
  std::size_t len = std::strlen(t);
  return bytes != nullptr && n >= 0 && static_cast<std::size_t>(n) == len &&
         std::memcmp(bytes, t, len) == 0;
}

// The bytes as seen by a decoder: null is treated as no bytes, a negative length as 0.
inline std::int32_t Usable(const std::uint8_t* bytes, std::int32_t length) {
  return bytes == nullptr || length < 0 ? 0 : length;
}

}  // namespace ludrex::detail
