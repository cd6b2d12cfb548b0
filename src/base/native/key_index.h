// KeyIndex: the keys of a keyed native base's records held in memory, for bulk writes. Each
// record's key is kept as the collation weights of its text, which compare byte by byte with a
// key that is a prefix of another coming first: exactly the order and the equality of the key
// field's own comparison. A hash table maps a key to the record that a search of the key order
// finds for it (the first of equal keys in key order), so that a library answers "is this name
// known, and under which number" without reading its files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ludrex {

class KeyIndex {
 public:
  // The weights of text[0, n) into out (resized to n).
  static void WeightsOf(const char* text, std::size_t n, std::vector<std::uint8_t>& out);

  void Clear();
  // Reserves room for about records keys of about bytes bytes in all.
  void Reserve(std::size_t records, std::size_t bytes);
  // Number of records whose keys are held: records 0 .. Count() - 1.
  std::int32_t Count() const { return static_cast<std::int32_t>(offset_.size()) - 1; }
  // Holds the key of the next record (record number Count()); it is not yet findable.
  void Add(const std::uint8_t* key, std::size_t n);
  // Makes record r findable under its key unless another record is found for it already.
  void Claim(std::int32_t r);
  // The record found for the key, or -1.
  std::int32_t Find(const std::uint8_t* key, std::size_t n) const;
  // Key comparisons: -1, 0, 1.
  int Compare(const std::uint8_t* key, std::size_t n, std::int32_t r) const;
  int Compare(std::int32_t a, std::int32_t b) const;
  // Memory held, in bytes.
  std::size_t Bytes() const;

 private:
  static std::uint64_t Hash(const std::uint8_t* key, std::size_t n);
  const std::uint8_t* KeyAt(std::int32_t r) const { return bytes_.data() + offset_[r]; }
  std::size_t LengthOf(std::int32_t r) const { return offset_[r + 1] - offset_[r]; }
  void Rehash(std::size_t slots);

  std::vector<std::uint8_t> bytes_;
  std::vector<std::size_t> offset_{0};  // key of r: bytes_[offset_[r], offset_[r + 1])
  // Open addressing: the key's hash in the upper 32 bits (compared before the key itself), the
  // record number + 1 in the lower ones; 0 marks a free entry.
  std::vector<std::uint64_t> table_;
  std::size_t used_ = 0;
};

}  // namespace ludrex
