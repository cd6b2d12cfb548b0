// String: a counted single-byte text of at most 65520 characters, always followed by a NUL in
// its buffer. It owns its buffer, views someone else's text, or keeps one character inside
// itself. The class does no code-page work.
#pragma once

#include <cstdint>

namespace ludrex {

constexpr std::uint16_t kMaxStringLength = 65520;

class String;

// Result of the find operations: the position found and the match length (0: not found).
struct StrPos {
  const String* str;
  std::uint16_t pos;
  std::uint16_t len;
};

class String {
 public:
  // Empty, MaxLen 255, owns a 256-byte buffer.
  String();
  String(const String& other);
  String(String&& other) noexcept;
  // A view of a NUL-terminated text (null is an empty view); above 65520 characters raises 103.
  explicit String(const char* text);
  // A view of n bytes that are followed by a NUL.
  String(const char* text, std::uint16_t n);
  // One character kept in the object; length 0 for the NUL character.
  explicit String(char c);
  ~String();
  String& operator=(const String& other) {
    Assign(other);
    return *this;
  }
  String& operator=(String&& other) noexcept;

  // Takes a MemAlloc buffer holding length bytes and a NUL; raises 103 above 65520.
  static String Adopt(char* buffer, std::uint32_t length);
  // An owned copy of n bytes (no NUL needed after them).
  static String Copy(const char* bytes, std::uint32_t n);
  // Empty, owns maxLen + 1 bytes; maxLen above 65520 raises 103.
  static String WithMaxLen(std::uint32_t maxLen);

  // Copies other's text into this String, resizing the buffer when max(other length, MaxLen) + 1
  // differs from the buffer size.
  virtual void Assign(const String& other);

  const char* Text() const { return text_; }
  std::uint16_t Length() const { return length_; }
  std::uint16_t Allocated() const { return allocated_; }
  std::uint16_t MaxLen() const { return maxLen_; }
  bool Empty() const { return length_ == 0; }
  // Character at i; i >= Length raises 101.
  char At(std::uint16_t i) const;

  // New owned String of the len characters at pos (clamped to the text).
  String Substring(std::uint16_t pos, std::uint16_t len) const;
  String Inserted(std::uint16_t pos, const String& other, std::uint16_t otherPos,
                  std::uint16_t len) const;
  String InsertedChar(std::uint16_t pos, char c) const;
  void Insert(std::uint16_t pos, const String& other, std::uint16_t otherPos, std::uint16_t len);
  void InsertChar(std::uint16_t pos, char c);
  // First place in [pos, pos+len) where otherLen characters of other (from otherPos) occur whole;
  // not found gives pos+len with match length 0. A result beyond Length raises 101.
  StrPos Find(std::uint16_t pos, std::uint16_t len, const String& other, std::uint16_t otherPos,
              std::uint16_t otherLen) const;
  StrPos FindChar(std::uint16_t pos, std::uint16_t len, char c) const;
  // Owned copy with a-z made upper case.
  String Upper() const;
  // Copies min(len, size - 1) characters from pos (never past the text) and a NUL; size 0 copies
  // nothing. Returns the number of characters copied.
  std::uint32_t CopyOut(std::uint16_t pos, std::uint16_t len, char* buffer,
                        std::uint32_t size) const;
  static String FromNumber(std::int64_t value, int radix = 10);
  // The decimal number at the start of the text (an optional sign, then digits).
  std::int32_t ToNumber() const;

  bool operator==(const String& o) const;

 private:
  void Resize(std::uint32_t newAllocated);  // owned buffer of newAllocated bytes, text kept

  char* text_;
  std::uint16_t length_ = 0;
  std::uint16_t allocated_ = 0;
  std::uint16_t maxLen_ = 0;
  char inline_[2] = {0, 0};
};

// Narrows a length to a one-byte count: above 255 reports error 102 and gives 255.
std::uint8_t NarrowTo255(std::uint32_t length);

}  // namespace ludrex
