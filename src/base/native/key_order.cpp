#include "base/native/key_order.h"

#include <algorithm>

#include "frame/error.h"

namespace ludrex {

void KeyOrder::Assign(const std::vector<std::int32_t>& entries) {
  blocks_.clear();
  for (std::size_t at = 0; at < entries.size(); at += kMaxBlock / 2) {
    std::size_t end = std::min(entries.size(), at + kMaxBlock / 2);
    blocks_.emplace_back(entries.begin() + static_cast<std::ptrdiff_t>(at),
                         entries.begin() + static_cast<std::ptrdiff_t>(end));
  }
  Rebuild();
  dirtyFrom_ = -1;
}

void KeyOrder::Replace(const std::vector<std::int32_t>& entries, std::int32_t changedFrom) {
  std::int32_t dirty = dirtyFrom_;
  Assign(entries);
  dirtyFrom_ = dirty;
  if (changedFrom < count_) Touch(changedFrom);
}

std::vector<std::int32_t> KeyOrder::Entries() const {
  std::vector<std::int32_t> out;
  out.reserve(static_cast<std::size_t>(count_));
  for (const std::vector<std::int32_t>& block : blocks_) out.insert(out.end(), block.begin(), block.end());
  return out;
}

void KeyOrder::Rebuild() {
  start_.resize(blocks_.size());
  std::int32_t pos = 0;
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    start_[b] = pos;
    pos += static_cast<std::int32_t>(blocks_[b].size());
  }
  count_ = pos;
}

std::size_t KeyOrder::BlockOf(std::int32_t p) const {
  auto it = std::upper_bound(start_.begin(), start_.end(), p);
  return static_cast<std::size_t>(it - start_.begin()) - 1;
}

std::int32_t KeyOrder::At(std::int32_t p) const {
  if (p < 0 || p >= count_) Raise(903);
  std::size_t b = BlockOf(p);
  return blocks_[b][static_cast<std::size_t>(p - start_[b])];
}

void KeyOrder::Insert(std::int32_t p, std::int32_t v) {
  if (p < 0 || p > count_) Raise(903);
  Touch(p);
  if (blocks_.empty()) {
    blocks_.emplace_back(1, v);
    Rebuild();
    return;
  }
  std::size_t b = p == count_ ? blocks_.size() - 1 : BlockOf(p);
  std::vector<std::int32_t>& block = blocks_[b];
  block.insert(block.begin() + (p - start_[b]), v);
  ++count_;
  for (std::size_t k = b + 1; k < start_.size(); ++k) ++start_[k];
  if (block.size() > kMaxBlock) {
    std::vector<std::int32_t> upper(block.begin() + static_cast<std::ptrdiff_t>(kMaxBlock / 2),
                                    block.end());
    block.resize(kMaxBlock / 2);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
    Rebuild();
  }
}

std::int32_t KeyOrder::Erase(std::int32_t p) {
  if (p < 0 || p >= count_) Raise(903);
  Touch(p);
  std::size_t b = BlockOf(p);
  std::vector<std::int32_t>& block = blocks_[b];
  std::int32_t v = block[static_cast<std::size_t>(p - start_[b])];
  block.erase(block.begin() + (p - start_[b]));
  --count_;
  if (block.empty()) {
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
    Rebuild();
  } else {
    for (std::size_t k = b + 1; k < start_.size(); ++k) --start_[k];
  }
  return v;
}

std::int32_t KeyOrder::Find(std::int32_t v) const {
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    auto it = std::find(blocks_[b].begin(), blocks_[b].end(), v);
    if (it != blocks_[b].end())
      return start_[b] + static_cast<std::int32_t>(it - blocks_[b].begin());
  }
  return -1;
}

void KeyOrder::Store(Array* file) {
  if (file->Count() > count_) file->Extend(count_ - file->Count());
  if (dirtyFrom_ < 0) return;
  std::int32_t p = dirtyFrom_;
  while (p < count_) {
    std::size_t b = BlockOf(p);
    std::int32_t off = p - start_[b];
    std::int32_t n = static_cast<std::int32_t>(blocks_[b].size()) - off;
    file->Write(p, blocks_[b].data() + off, n);
    p += n;
  }
  dirtyFrom_ = -1;
}

}  // namespace ludrex
