// Checked heap routines, byte utilities and the growable vector RamArray.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "frame/error.h"

namespace ludrex {

constexpr std::int64_t kMaxAlloc = 2147483647;

// Allocates size bytes from the process heap; contents are not cleared. Size 0 gives null
// without an error. A size above kMaxAlloc raises error 2, a heap failure error 1.
void* MemAlloc(std::int64_t size);
// Frees a block from MemAlloc/MemRealloc; null is ignored.
void MemFree(void* block);
// Resizes a block, keeping its contents up to the smaller size. Size 0 frees it and gives null.
void* MemRealloc(void* block, std::int64_t size);

// Available virtual memory in bytes, and the same capped at kMaxAlloc.
std::uint64_t AvailMem();
std::int32_t MaxAvail();

// Unsigned byte comparison of n bytes: -1, 0 or 1 at the first difference; n < 1 gives 0.
int CompareBytes(const void* a, const void* b, std::int64_t n);
// Compares the first min(na, nb) bytes, then the lengths (the shorter sorts first).
int CompareBytes(const void* a, std::int64_t na, const void* b, std::int64_t nb);
// Sets n bytes to value.
void FillBytes(void* p, std::int64_t n, unsigned char value);
// Moves the block of length bytes at base+offset by shift bytes; the bytes it passes over take
// the room it leaves (the two neighbouring blocks change places).
void SwapBytes(void* base, std::int64_t offset, std::int64_t length, std::int64_t shift);
// Index of the first byte equal to c among n bytes at p, or n when there is none (0 if n < 1).
std::int32_t FindByte(unsigned char c, const void* p, std::int32_t n);

// Growable vector of trivially copyable elements: {count, capacity, data, granularity}. The
// capacity is always a multiple of the granularity and never shrinks when elements go.
template <class T>
class RamArray {
  static_assert(std::is_trivially_copyable_v<T>, "RamArray holds plain values");

 public:
  explicit RamArray(std::int32_t granularity = 1) : granularity_(granularity < 1 ? 1 : granularity) {}
  RamArray(const RamArray&) = delete;
  RamArray& operator=(const RamArray&) = delete;
  RamArray(RamArray&& o) noexcept
      : count_(o.count_), capacity_(o.capacity_), data_(o.data_), granularity_(o.granularity_) {
    o.count_ = o.capacity_ = 0;
    o.data_ = nullptr;
  }
  RamArray& operator=(RamArray&& o) noexcept {
    if (this != &o) {
      MemFree(data_);
      count_ = o.count_, capacity_ = o.capacity_, data_ = o.data_, granularity_ = o.granularity_;
      o.count_ = o.capacity_ = 0;
      o.data_ = nullptr;
    }
    return *this;
  }
  ~RamArray() { MemFree(data_); }

  std::int32_t Count() const { return count_; }
  std::int32_t Capacity() const { return capacity_; }
  std::int32_t Granularity() const { return granularity_; }
  T* Data() { return data_; }
  const T* Data() const { return data_; }

  // Checked element access: error 12 outside 0 <= i < Count.
  T& operator[](std::int32_t i) {
    if (i < 0 || i >= count_) Raise(12);
    return data_[i];
  }
  const T& operator[](std::int32_t i) const {
    if (i < 0 || i >= count_) Raise(12);
    return data_[i];
  }

  // Sets the count, growing the storage when needed; new elements are uninitialised.
  // A negative count raises 14, a byte size of 2^31 or more raises 2.
  void SetCount(std::int64_t n) {
    if (n < 0) Raise(14);
    if (n > capacity_) Reserve(n);
    count_ = static_cast<std::int32_t>(n);
  }
  void Append(const T& v) {
    T copy = v;  // v may live in this array
    SetCount(static_cast<std::int64_t>(count_) + 1);
    data_[count_ - 1] = copy;
  }
  void Append(const T* v, std::int32_t n) {
    if (n <= 0) return;
    std::int32_t at = count_;
    SetCount(static_cast<std::int64_t>(count_) + n);
    std::memmove(data_ + at, v, sizeof(T) * static_cast<std::size_t>(n));
  }
  // Inserts v before index i (0 <= i <= Count).
  void Insert(std::int32_t i, const T& v) {
    if (i < 0 || i > count_) Raise(12);
    T copy = v;
    SetCount(static_cast<std::int64_t>(count_) + 1);
    std::memmove(data_ + i + 1, data_ + i, sizeof(T) * static_cast<std::size_t>(count_ - 1 - i));
    data_[i] = copy;
  }
  // Removes n elements from index i.
  void Remove(std::int32_t i, std::int32_t n = 1) {
    if (n < 0 || i < 0 || i + static_cast<std::int64_t>(n) > count_) Raise(12);
    std::memmove(data_ + i, data_ + i + n, sizeof(T) * static_cast<std::size_t>(count_ - i - n));
    count_ -= n;
  }
  void Clear() { count_ = 0; }

 private:
  void Reserve(std::int64_t n) {
    std::int64_t cap = (n + granularity_ - 1) / granularity_ * granularity_;
    if (cap < 1) cap = granularity_;
    std::int64_t bytes = cap * static_cast<std::int64_t>(sizeof(T));
    if (bytes > kMaxAlloc) Raise(2);
    data_ = static_cast<T*>(MemRealloc(data_, bytes));
    capacity_ = static_cast<std::int32_t>(cap);
  }

  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
  T* data_ = nullptr;
  std::int32_t granularity_;
};

}  // namespace ludrex
