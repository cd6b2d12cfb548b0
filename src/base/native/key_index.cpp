#include "base/native/key_index.h"

#include <cstring>

#include "platform/text.h"

namespace ludrex {

void KeyIndex::WeightsOf(const char* text, std::size_t n, std::vector<std::uint8_t>& out) {
  out.resize(n + 1);  // the sort key ends in a terminator, which is not part of the weights
  platform::TextSortKey(text, n, out.data(), out.size());
  out.resize(n);
}

void KeyIndex::Clear() {
  std::vector<std::uint8_t>().swap(bytes_);
  std::vector<std::size_t>(1, 0).swap(offset_);
  std::vector<std::int32_t>().swap(table_);
  used_ = 0;
}

void KeyIndex::Reserve(std::size_t records, std::size_t bytes) {
  bytes_.reserve(bytes);
  offset_.reserve(records + 1);
}

std::uint64_t KeyIndex::Hash(const std::uint8_t* key, std::size_t n) {
  // FNV-1a, then a final mix so that the low bits (the slot) depend on every byte.
  std::uint64_t h = 14695981039346656037ull ^ n;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ key[i]) * 1099511628211ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 32);
}

void KeyIndex::Add(const std::uint8_t* key, std::size_t n) {
  bytes_.insert(bytes_.end(), key, key + n);
  offset_.push_back(bytes_.size());
}

void KeyIndex::Rehash(std::size_t slots) {
  std::vector<std::int32_t> old;
  old.swap(table_);
  table_.assign(slots, -1);
  std::size_t mask = slots - 1;
  for (std::int32_t r : old) {
    if (r < 0) continue;
    std::size_t i = static_cast<std::size_t>(Hash(KeyAt(r), LengthOf(r))) & mask;
    while (table_[i] >= 0) i = (i + 1) & mask;
    table_[i] = r;
  }
}

void KeyIndex::Claim(std::int32_t r) {
  if ((used_ + 1) * 2 > table_.size()) Rehash(table_.empty() ? 1024 : table_.size() * 2);
  const std::uint8_t* key = KeyAt(r);
  std::size_t n = LengthOf(r);
  std::size_t mask = table_.size() - 1;
  std::size_t i = static_cast<std::size_t>(Hash(key, n)) & mask;
  for (; table_[i] >= 0; i = (i + 1) & mask) {
    std::int32_t other = table_[i];
    if (LengthOf(other) == n && (n == 0 || std::memcmp(KeyAt(other), key, n) == 0)) return;
  }
  table_[i] = r;
  ++used_;
}

std::int32_t KeyIndex::Find(const std::uint8_t* key, std::size_t n) const {
  if (table_.empty()) return -1;
  std::size_t mask = table_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(Hash(key, n)) & mask; table_[i] >= 0;
       i = (i + 1) & mask) {
    std::int32_t r = table_[i];
    if (LengthOf(r) == n && (n == 0 || std::memcmp(KeyAt(r), key, n) == 0)) return r;
  }
  return -1;
}

int KeyIndex::Compare(const std::uint8_t* key, std::size_t n, std::int32_t r) const {
  std::size_t m = LengthOf(r);
  std::size_t k = n < m ? n : m;
  int c = k == 0 ? 0 : std::memcmp(key, KeyAt(r), k);
  if (c != 0) return c < 0 ? -1 : 1;
  if (n == m) return 0;
  return n < m ? -1 : 1;
}

int KeyIndex::Compare(std::int32_t a, std::int32_t b) const {
  return Compare(KeyAt(a), LengthOf(a), b);
}

std::size_t KeyIndex::Bytes() const {
  return bytes_.capacity() + offset_.capacity() * sizeof(std::size_t) +
         table_.capacity() * sizeof(std::int32_t);
}

}  // namespace ludrex
