// The key order of a keyed native base in memory: record numbers in ascending key order, kept in
// blocks of at most 2048 entries with the position of each block's first entry, so that an entry
// is found by position in O(log blocks) and inserted or removed by shifting one block only. A
// library of a million names is kept in order without moving the whole order at each new name.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/array.h"

namespace ludrex {

class KeyOrder {
 public:
  // Replaces the order by the entries given (the file's content).
  void Assign(const std::vector<std::int32_t>& entries);
  // Replaces the order by entries that differ from the present ones from position changedFrom
  // on (they are stored from there at the next Store).
  void Replace(const std::vector<std::int32_t>& entries, std::int32_t changedFrom);
  // All entries, in order.
  std::vector<std::int32_t> Entries() const;
  std::int32_t Count() const { return count_; }
  // Entry at position p (0 <= p < Count()).
  std::int32_t At(std::int32_t p) const;
  // Inserts v at position p (0 <= p <= Count()).
  void Insert(std::int32_t p, std::int32_t v);
  // Removes the entry at position p and returns it.
  std::int32_t Erase(std::int32_t p);
  // The position of the first entry equal to v, or -1 (a scan).
  std::int32_t Find(std::int32_t v) const;
  // Writes the entries from the first changed position on to file (4-byte elements) and cuts
  // the file to Count() entries.
  void Store(Array* file);
  bool Dirty() const { return dirtyFrom_ >= 0; }

 private:
  static constexpr std::size_t kMaxBlock = 2048;
  void Rebuild();
  std::size_t BlockOf(std::int32_t p) const;
  void Touch(std::int32_t p) {
    if (dirtyFrom_ < 0 || p < dirtyFrom_) dirtyFrom_ = p;
  }

  std::vector<std::vector<std::int32_t>> blocks_;
  std::vector<std::int32_t> start_;  // position of each block's first entry
  std::int32_t count_ = 0;
  std::int32_t dirtyFrom_ = -1;
};

}  // namespace ludrex
