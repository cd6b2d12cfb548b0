#include "storage/string.h"

#include <cstring>

#include "frame/error.h"
#include "storage/memory.h"

namespace ludrex {

String::String() : text_(nullptr), maxLen_(255) {
  text_ = static_cast<char*>(MemAlloc(256));
  text_[0] = 0;
  allocated_ = 256;
}

String String::WithMaxLen(std::uint32_t maxLen) {
  if (maxLen > kMaxStringLength) Raise(103);
  char* buf = static_cast<char*>(MemAlloc(maxLen + 1));
  buf[0] = 0;
  String s(static_cast<const char*>(nullptr));
  s.text_ = buf;
  s.allocated_ = static_cast<std::uint16_t>(maxLen + 1);
  s.maxLen_ = static_cast<std::uint16_t>(maxLen);
  return s;
}

String::String(const String& other) : text_(nullptr), length_(other.length_), maxLen_(other.maxLen_) {
  text_ = static_cast<char*>(MemAlloc(length_ + 1));
  std::memcpy(text_, other.text_, length_);
  text_[length_] = 0;
  allocated_ = static_cast<std::uint16_t>(length_ + 1);
}

String::String(String&& other) noexcept
    : text_(other.text_),
      length_(other.length_),
      allocated_(other.allocated_),
      maxLen_(other.maxLen_) {
  if (other.text_ == other.inline_) {
    inline_[0] = other.inline_[0];
    text_ = inline_;
  }
  other.text_ = other.inline_;
  other.inline_[0] = 0;
  other.length_ = other.allocated_ = other.maxLen_ = 0;
}

String& String::operator=(String&& other) noexcept {
  if (this == &other) return *this;
  if (allocated_ != 0) MemFree(text_);
  length_ = other.length_, allocated_ = other.allocated_, maxLen_ = other.maxLen_;
  if (other.text_ == other.inline_) {
    inline_[0] = other.inline_[0];
    inline_[1] = 0;
    text_ = inline_;
  } else {
    text_ = other.text_;
  }
  other.text_ = other.inline_;
  other.inline_[0] = 0;
  other.length_ = other.allocated_ = other.maxLen_ = 0;
  return *this;
}

String::String(const char* text) : text_(inline_) {
  if (text == nullptr) return;
  std::size_t n = strnlen(text, kMaxStringLength + 1);
  if (n > kMaxStringLength) Raise(103);
  text_ = const_cast<char*>(text);
  length_ = static_cast<std::uint16_t>(n);
}

String::String(const char* text, std::uint16_t n) : text_(const_cast<char*>(text)), length_(n) {
  if (n > kMaxStringLength) Raise(103);
  if (text == nullptr) text_ = inline_, length_ = 0;
}

String::String(char c) : text_(inline_) {
  inline_[0] = c;
  inline_[1] = 0;
  length_ = c == 0 ? 0 : 1;
}

String::~String() {
  if (allocated_ != 0) MemFree(text_);
}

String String::Adopt(char* buffer, std::uint32_t length) {
  if (length > kMaxStringLength) {
    MemFree(buffer);
    Raise(103);
  }
  String s(static_cast<const char*>(nullptr));
  if (buffer == nullptr) return s;
  s.text_ = buffer;
  s.length_ = static_cast<std::uint16_t>(length);
  s.allocated_ = static_cast<std::uint16_t>(length + 1);
  return s;
}

String String::Copy(const char* bytes, std::uint32_t n) {
  if (n > kMaxStringLength) Raise(103);
  char* buf = static_cast<char*>(MemAlloc(n + 1));
  if (n > 0) std::memcpy(buf, bytes, n);
  buf[n] = 0;
  return Adopt(buf, n);
}

void String::Resize(std::uint32_t newAllocated) {
  if (newAllocated == allocated_) return;
  if (allocated_ != 0) {
    text_ = static_cast<char*>(MemRealloc(text_, newAllocated));
  } else {
    char* buf = static_cast<char*>(MemAlloc(newAllocated));
    std::uint32_t keep = length_ < newAllocated ? length_ : newAllocated - 1;
    std::memcpy(buf, text_, keep);
    buf[keep] = 0;
    text_ = buf;  // a view's old text belongs to someone else and is not freed
  }
  allocated_ = static_cast<std::uint16_t>(newAllocated);
}

void String::Assign(const String& other) {
  if (this == &other) return;
  std::uint32_t need = (other.length_ > maxLen_ ? other.length_ : maxLen_) + 1u;
  if (need != allocated_) {
    // The new buffer is filled before the old one goes: other may view into our text.
    char* buf = static_cast<char*>(MemAlloc(need));
    std::memcpy(buf, other.text_, other.length_);
    if (allocated_ != 0) MemFree(text_);
    text_ = buf;
    allocated_ = static_cast<std::uint16_t>(need);
  } else {
    std::memmove(text_, other.text_, other.length_);
  }
  length_ = other.length_;
  text_[length_] = 0;
}

char String::At(std::uint16_t i) const {
  if (i >= length_) Raise(101);
  return text_[i];
}

String String::Substring(std::uint16_t pos, std::uint16_t len) const {
  // Clamped to the text: a range beyond the end must never read past the buffer.
  if (pos > length_) pos = length_;
  if (len > length_ - pos) len = static_cast<std::uint16_t>(length_ - pos);
  return Copy(text_ + pos, len);
}

String String::Inserted(std::uint16_t pos, const String& other, std::uint16_t otherPos,
                        std::uint16_t len) const {
  if (pos > length_ || otherPos > other.length_ || len > other.length_ - otherPos) Raise(101);
  std::uint32_t total = static_cast<std::uint32_t>(length_) + len;
  if (total > kMaxStringLength) Raise(103);
  char* buf = static_cast<char*>(MemAlloc(total + 1));
  std::memcpy(buf, text_, pos);
  std::memcpy(buf + pos, other.text_ + otherPos, len);
  std::memcpy(buf + pos + len, text_ + pos, length_ - pos);
  buf[total] = 0;
  return Adopt(buf, total);
}

String String::InsertedChar(std::uint16_t pos, char c) const {
  if (length_ >= kMaxStringLength) Raise(103);
  String one(c);
  return Inserted(pos, one, 0, one.length_);
}

void String::Insert(std::uint16_t pos, const String& other, std::uint16_t otherPos,
                    std::uint16_t len) {
  if (len == 0) return;
  if (pos > length_ || otherPos > other.length_ || len > other.length_ - otherPos) Raise(101);
  std::uint32_t total = static_cast<std::uint32_t>(length_) + len;
  if (total > kMaxStringLength) Raise(103);
  // The inserted characters are copied aside first: other may be this String.
  char stack[256];
  char* aside = len <= sizeof stack ? stack : static_cast<char*>(MemAlloc(len));
  std::memcpy(aside, other.text_ + otherPos, len);
  std::uint32_t need = (total > maxLen_ ? total : maxLen_) + 1u;
  if (need != allocated_) Resize(need);
  std::memmove(text_ + pos + len, text_ + pos, length_ - pos);
  std::memcpy(text_ + pos, aside, len);
  length_ = static_cast<std::uint16_t>(total);
  text_[length_] = 0;
  if (aside != stack) MemFree(aside);
}

void String::InsertChar(std::uint16_t pos, char c) {
  if (length_ >= kMaxStringLength) Raise(103);
  String one(c);
  Insert(pos, one, 0, one.length_);
}

StrPos String::Find(std::uint16_t pos, std::uint16_t len, const String& other,
                    std::uint16_t otherPos, std::uint16_t otherLen) const {
  std::uint32_t end = static_cast<std::uint32_t>(pos) + len;
  if (otherPos > other.length_ || otherLen > other.length_ - otherPos) Raise(101);
  const char* needle = other.text_ + otherPos;
  std::uint32_t found = end;
  std::uint16_t match = 0;
  if (end <= length_ && otherLen <= len) {
    for (std::uint32_t i = pos; i + otherLen <= end; ++i) {
      if (std::memcmp(text_ + i, needle, otherLen) == 0) {
        found = i;
        match = otherLen;
        break;
      }
    }
  }
  if (found + match > length_) Raise(101);
  return StrPos{this, static_cast<std::uint16_t>(found), match};
}

StrPos String::FindChar(std::uint16_t pos, std::uint16_t len, char c) const {
  String one(c);
  return Find(pos, len, one, 0, one.length_ == 0 ? 1 : one.length_);
}

String String::Upper() const {
  String s = Copy(text_, length_);
  for (std::uint16_t i = 0; i < s.length_; ++i) {
    if (s.text_[i] >= 'a' && s.text_[i] <= 'z') s.text_[i] = static_cast<char>(s.text_[i] - 32);
  }
  return s;
}

std::uint32_t String::CopyOut(std::uint16_t pos, std::uint16_t len, char* buffer,
                              std::uint32_t size) const {
  if (size == 0) return 0;
  std::uint32_t n = len < size - 1 ? len : size - 1;
  if (pos > length_) pos = length_;
  if (n > static_cast<std::uint32_t>(length_ - pos)) n = length_ - pos;
  std::memcpy(buffer, text_ + pos, n);
  buffer[n] = 0;
  return n;
}

String String::FromNumber(std::int64_t value, int radix) {
  if (radix < 2 || radix > 36) radix = 10;
  char buf[72];
  int n = 0;
  bool neg = value < 0;
  std::uint64_t v = neg ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    int d = static_cast<int>(v % static_cast<unsigned>(radix));
    buf[n++] = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
    v /= static_cast<unsigned>(radix);
  } while (v != 0);
  if (neg) buf[n++] = '-';
  char out[72];
  for (int i = 0; i < n; ++i) out[i] = buf[n - 1 - i];
  return Copy(out, static_cast<std::uint32_t>(n));
}

std::int32_t String::ToNumber() const {
  std::uint16_t i = 0;
  bool neg = false;
  if (i < length_ && (text_[i] == '-' || text_[i] == '+')) neg = text_[i++] == '-';
  std::int64_t v = 0;
  while (i < length_ && text_[i] >= '0' && text_[i] <= '9') {
    v = v * 10 + (text_[i++] - '0');
    if (v > 0x80000000LL) v = 0x80000000LL;  // saturate instead of overflowing
  }
  if (neg) v = -v;
  if (v > 0x7FFFFFFFLL) v = 0x7FFFFFFFLL;
  return static_cast<std::int32_t>(v);
}

bool String::operator==(const String& o) const {
  return length_ == o.length_ && std::memcmp(text_, o.text_, length_) == 0;
}

std::uint8_t NarrowTo255(std::uint32_t length) {
  if (length > 255) {
    ReportFatal(102);
    return 255;
  }
  return static_cast<std::uint8_t>(length);
}

}  // namespace ludrex
