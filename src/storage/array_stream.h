// Sequential element-by-element access to an array at the speed of a plain loop over a buffer.
// Calling GetLongNext or PutByteNext once per element costs a virtual call (on a BufArray a few
// tests) per element, and a loop of such calls cannot be vectorised. ArrayReader and ArrayWriter
// move elements between the array and a block of their own, BlockElements at a time, and hand
// out the block as plain memory: one element at a time (Next, Put) or a whole run at a time
// (Run/Skip, Room/Advance), which the compiler turns into the same loop as over a plain buffer.
//
// The block is the stream's own, so the array may be used in other ways meanwhile (locks,
// block operations, even Extend of a MemArray): the reader then sees what the array held when
// the block was read, and the writer's elements reach the array at Flush or when the block is
// full. Errors are those of Read and Write (517, 535, the file errors), raised when the stream
// touches the array.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "frame/error.h"
#include "storage/array.h"

namespace ludrex {

// The number of elements a stream moves at a time: 64 KiB worth, at least one.
inline std::int32_t StreamBlockElements(std::size_t elementSize) {
  return static_cast<std::int32_t>(std::max<std::size_t>(1, 65536 / elementSize));
}

// A stream of elementSize-byte elements may start at any index from 0 to Count (535, 517).
inline void CheckStreamStart(const Array* array, std::size_t elementSize, std::int32_t index) {
  if (array->ElementSize() != elementSize) Raise(535);
  if (index < 0 || index > array->Count()) Raise(517);
}

// Reads the elements of an array from index upwards. T is the element as stored (its size must
// be the array's ElementSize, else 535): std::uint8_t, std::uint16_t, std::uint32_t or any
// trivially copyable record of that size. 517 when index lies outside [0, Count], and when Next
// is called at the end.
template <typename T>
class ArrayReader {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  ArrayReader(Array* array, std::int32_t index) : array_(array), next_(index) {
    CheckStreamStart(array, sizeof(T), index);
  }

  // The index of the element Next returns.
  std::int32_t Index() const { return next_ - static_cast<std::int32_t>(end_ - p_); }
  // True when every element up to the array's Count has been read.
  bool AtEnd() const { return p_ == end_ && next_ >= array_->Count(); }

  T Next() {
    if (p_ == end_) Refill();
    return *p_++;
  }

  // The elements read but not yet consumed, refilled from the array when none are left; empty
  // only at the end. Skip(n) consumes n of them.
  std::span<const T> Run() {
    if (p_ == end_ && next_ < array_->Count()) Refill();
    return {p_, static_cast<std::size_t>(end_ - p_)};
  }
  void Skip(std::size_t n) { p_ += std::min(n, static_cast<std::size_t>(end_ - p_)); }

 private:
  void Refill() {
    const std::int32_t count = array_->Count();
    if (next_ >= count) Raise(517);
    if (block_.empty()) block_.resize(static_cast<std::size_t>(StreamBlockElements(sizeof(T))));
    const std::int32_t k = std::min(count - next_, static_cast<std::int32_t>(block_.size()));
    array_->Read(next_, block_.data(), k);
    next_ += k;
    p_ = block_.data();
    end_ = p_ + k;
  }

  Array* array_;
  std::vector<T> block_;
  const T* p_ = nullptr;
  const T* end_ = nullptr;
  std::int32_t next_;  // the index after the elements in the block
};

// Writes elements to an array from index upwards, over what is there and past the end when the
// array is Expandable. Put past the end of an array that is not Expandable raises 517 after the
// elements before it have been written. The destructor writes what is left; an error there is
// reported, not thrown, so call Flush where an error must reach the caller.
template <typename T>
class ArrayWriter {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  ArrayWriter(Array* array, std::int32_t index) : array_(array), start_(index) {
    CheckStreamStart(array, sizeof(T), index);
  }
  ArrayWriter(const ArrayWriter&) = delete;
  ArrayWriter& operator=(const ArrayWriter&) = delete;
  ~ArrayWriter() {
    try {
      Flush();
    } catch (const Failure&) {
      // Raise has reported the error already; a destructor must not throw.
    }
  }

  // The index the next Put writes.
  std::int32_t Index() const { return start_ + static_cast<std::int32_t>(p_ - block_.data()); }

  void Put(T value) {
    if (p_ == end_) Drain();
    *p_++ = value;
  }

  // Room for the next elements (at least one); Advance(n) says the first n were filled.
  std::span<T> Room() {
    if (p_ == end_) Drain();
    return {p_, static_cast<std::size_t>(end_ - p_)};
  }
  void Advance(std::size_t n) { p_ += std::min(n, static_cast<std::size_t>(end_ - p_)); }

  // Writes the elements put so far to the array.
  void Flush() {
    const auto k = static_cast<std::int32_t>(p_ - block_.data());
    if (k == 0) return;
    p_ = block_.data();
    array_->Write(start_, block_.data(), k);
    start_ += k;
  }

 private:
  void Drain() {
    Flush();
    if (block_.empty()) {
      block_.resize(static_cast<std::size_t>(StreamBlockElements(sizeof(T))));
      p_ = block_.data();
    }
    end_ = p_;  // no room until it is known
    // Past the end only when the array may grow, and never past 2^31 - 1 elements.
    const std::int64_t limit = array_->Expandable(3) ? 2147483647 : array_->Count();
    const std::int64_t room = std::min<std::int64_t>(limit - start_, std::int64_t(block_.size()));
    if (room <= 0) Raise(517);
    end_ = p_ + room;
  }

  Array* array_;
  std::vector<T> block_;
  T* p_ = nullptr;
  T* end_ = nullptr;
  std::int32_t start_;  // the index of the block's first element
};

}  // namespace ludrex
