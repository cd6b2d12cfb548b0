// The slot map of a native base in memory: one bit per physical slot (slot s at byte s / 8, bit
// value 0x80 >> (s % 8)); record k lives in the slot of the (k+1)-th set bit. Slots are only
// ever added past the last one, so per-block counts with running totals find the slot of record
// k by a binary search over the blocks and a scan of one block.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/array.h"

namespace ludrex {

class SlotMap {
 public:
  static constexpr std::int32_t kBlockBytes = 256;

  // Loads the map from the file (element size 1). The bit count is 8 x length - the index of
  // the lowest set bit of the last byte; trailing zero bytes are dropped.
  void Load(Array* file);
  // Drops the slots of records count and above (what an update cut short left past the count
  // the header holds); the next store writes the shorter map.
  void KeepRecords(std::int32_t count);
  // Writes the bytes changed since the last store (and cuts the file to the map's length).
  void Store(Array* file);

  std::int32_t Bits() const { return bits_; }
  std::int32_t Count() const { return count_; }
  bool Test(std::int32_t s) const {
    return s >= 0 && s < bits_ &&
           (bytes_[static_cast<std::size_t>(s / 8)] & (0x80 >> (s % 8))) != 0;
  }
  // Grows the map to s + 1 bits with bit s set; s must not be below Bits().
  void AddSlot(std::int32_t s);
  // The slot of record k (0 <= k < Count()).
  std::int32_t SlotOf(std::int32_t k) const;
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  void Rebuild();  // the counts and the bit length from bytes_

  std::vector<std::uint8_t> bytes_;
  std::vector<std::int32_t> before_;  // set bits before each block
  std::vector<std::int32_t> inBlock_;
  std::int32_t bits_ = 0;
  std::int32_t count_ = 0;
  std::int32_t allOnes_ = 0;  // slots [0, allOnes_) are all records: slot k = k there
  std::int32_t dirtyFrom_ = -1;
  std::int32_t storedBytes_ = -1;
};

}  // namespace ludrex
