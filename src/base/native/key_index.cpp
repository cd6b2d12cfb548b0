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
  std::vector<std::uint64_t>().swap(table_);
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

namespace {

constexpr std::uint64_t Entry(std::uint64_t hash, std::int32_t r) {
  return (hash & 0xFFFFFFFF00000000ull) | (static_cast<std::uint64_t>(r) + 1);
}
constexpr std::int32_t RecordOf(std::uint64_t entry) {
  return static_cast<std::int32_t>((entry & 0xFFFFFFFFull) - 1);
}

}  // namespace

void KeyIndex::Rehash(std::size_t slots) {
  std::vector<std::uint64_t> old;
  old.swap(table_);
  table_.assign(slots, 0);
  std::size_t mask = slots - 1;
  for (std::uint64_t e : old) {
    if (e == 0) continue;
    std::int32_t r = RecordOf(e);
    std::size_t i = static_cast<std::size_t>(Hash(KeyAt(r), LengthOf(r))) & mask;
    while (table_[i] != 0) i = (i + 1) & mask;
    table_[i] = e;
  }
}

void KeyIndex::Claim(std::int32_t r) {
  if ((used_ + 1) * 2 > table_.size()) Rehash(table_.empty() ? 1024 : table_.size() * 2);
  const std::uint8_t* key = KeyAt(r);
  std::size_t n = LengthOf(r);
  std::uint64_t h = Hash(key, n);
  std::size_t mask = table_.size() - 1;
  std::size_t i = static_cast<std::size_t>(h) & mask;
  for (; table_[i] != 0; i = (i + 1) & mask) {
    std::uint64_t e = table_[i];
    if ((e ^ h) >> 32 != 0) continue;
    std::int32_t other = RecordOf(e);
    if (LengthOf(other) == n && (n == 0 || std::memcmp(KeyAt(other), key, n) == 0)) return;
  }
  table_[i] = Entry(h, r);
  ++used_;
}

std::int32_t KeyIndex::Find(const std::uint8_t* key, std::size_t n) const {
  if (table_.empty()) return -1;
  std::uint64_t h = Hash(key, n);
  std::size_t mask = table_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(h) & mask; table_[i] != 0; i = (i + 1) & mask) {
    std::uint64_t e = table_[i];
    if ((e ^ h) >> 32 != 0) continue;
    std::int32_t r = RecordOf(e);
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
         table_.capacity() * sizeof(std::uint64_t);
}

}  // namespace ludrex
