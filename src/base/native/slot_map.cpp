#include "base/native/slot_map.h"

#include <algorithm>

#include "frame/error.h"

namespace ludrex {
namespace {

int Ones(std::uint8_t v) {
  int n = 0;
  for (; v != 0; v = static_cast<std::uint8_t>(v & (v - 1))) ++n;
  return n;
}

}  // namespace

void SlotMap::Load(Array* file) {
  std::int32_t n = file->Count();
  bytes_.assign(static_cast<std::size_t>(n), 0);
  if (n > 0) file->Read(0, bytes_.data(), n);
  storedBytes_ = n;
  Rebuild();
}

void SlotMap::KeepRecords(std::int32_t count) {
  if (count < 0 || count >= count_) return;
  const std::int32_t s = SlotOf(count);  // the first slot dropped
  bytes_.resize(static_cast<std::size_t>(s / 8) + 1);
  bytes_.back() = static_cast<std::uint8_t>(bytes_.back() & (0xFF00 >> (s % 8)));
  Rebuild();
  dirtyFrom_ = std::min(s / 8, static_cast<std::int32_t>(bytes_.size()));
}

void SlotMap::Rebuild() {
  while (!bytes_.empty() && bytes_.back() == 0) bytes_.pop_back();
  bits_ = 0;
  if (!bytes_.empty()) {
    std::uint8_t last = bytes_.back();
    int lowest = 7;
    while ((last & (0x80 >> lowest)) == 0) --lowest;
    bits_ = static_cast<std::int32_t>(bytes_.size() - 1) * 8 + lowest + 1;
  }
  std::size_t blocks = (bytes_.size() + kBlockBytes - 1) / kBlockBytes;
  before_.assign(blocks, 0);
  inBlock_.assign(blocks, 0);
  count_ = 0;
  allOnes_ = -1;
  for (std::size_t b = 0; b < blocks; ++b) {
    before_[b] = count_;
    std::size_t end = std::min(bytes_.size(), (b + 1) * kBlockBytes);
    for (std::size_t i = b * kBlockBytes; i < end; ++i) {
      std::uint8_t v = bytes_[i];
      if (allOnes_ < 0 && v != 0xFF) {
        int j = 0;
        while (j < 8 && (v & (0x80 >> j)) != 0) ++j;
        allOnes_ = static_cast<std::int32_t>(i) * 8 + j;
      }
      inBlock_[b] += Ones(v);
    }
    count_ += inBlock_[b];
  }
  if (allOnes_ < 0 || allOnes_ > bits_) allOnes_ = bits_;
  dirtyFrom_ = storedBytes_ != static_cast<std::int32_t>(bytes_.size()) ? 0 : -1;
}

void SlotMap::Store(Array* file) {
  std::int32_t n = static_cast<std::int32_t>(bytes_.size());
  if (dirtyFrom_ < 0 && storedBytes_ == n) return;
  if (file->Count() > n) file->Extend(n - file->Count());
  std::int32_t from = dirtyFrom_ < 0 ? n : std::min(dirtyFrom_, n);
  if (file->Count() < from) from = file->Count();
  if (n > from) file->Write(from, bytes_.data() + from, n - from);
  dirtyFrom_ = -1;
  storedBytes_ = n;
}

void SlotMap::AddSlot(std::int32_t s) {
  if (s < bits_) Raise(517);
  std::size_t byte = static_cast<std::size_t>(s / 8);
  if (bytes_.size() <= byte) bytes_.resize(byte + 1, 0);
  bytes_[byte] = static_cast<std::uint8_t>(bytes_[byte] | (0x80 >> (s % 8)));
  std::size_t block = byte / kBlockBytes;
  while (inBlock_.size() <= block) {
    before_.push_back(count_);
    inBlock_.push_back(0);
  }
  ++inBlock_[block];
  ++count_;
  if (allOnes_ == s) allOnes_ = s + 1;
  bits_ = s + 1;
  std::int32_t b = static_cast<std::int32_t>(byte);
  if (dirtyFrom_ < 0 || b < dirtyFrom_) dirtyFrom_ = b;
}

std::int32_t SlotMap::SlotOf(std::int32_t k) const {
  if (k < 0 || k >= count_) Raise(903);
  if (k < allOnes_) return k;
  // The last block whose running total is not above k holds the slot.
  auto it = std::upper_bound(before_.begin(), before_.end(), k);
  std::size_t block = static_cast<std::size_t>(it - before_.begin()) - 1;
  std::int32_t want = k - before_[block];
  std::size_t end = std::min(bytes_.size(), (block + 1) * kBlockBytes);
  for (std::size_t i = block * kBlockBytes; i < end; ++i) {
    std::uint8_t v = bytes_[i];
    int ones = Ones(v);
    if (want >= ones) {
      want -= ones;
      continue;
    }
    for (int j = 0; j < 8; ++j) {
      if ((v & (0x80 >> j)) != 0 && want-- == 0) return static_cast<std::int32_t>(i) * 8 + j;
    }
  }
  Raise(945);
}

}  // namespace ludrex
