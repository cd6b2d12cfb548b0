// The Array base (defaults shared by the file-backed variants), MemArray, the factories and the
// block operations between arrays.
#include "storage/array.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "frame/error.h"
#include "storage/memory.h"

namespace ludrex {

namespace {
constexpr std::int64_t kMaxIndex = 2147483647;
// Largest bounce buffer of the block operations.
constexpr std::int32_t kBounceBytes = 65280;
}  // namespace

// ---- Array defaults ----------------------------------------------------------------------------

Array::~Array() = default;

Array* Array::Storage() { return this; }
String Array::FileName() { return String(); }

void Array::CheckRead(std::int32_t index, std::int32_t n) const {
  if (index < 0 || n < 0 || static_cast<std::int64_t>(index) + n > count_) Raise(517);
}

void Array::CheckWrite(std::int32_t index, std::int32_t n) const {
  std::int64_t end = static_cast<std::int64_t>(index) + n;
  if (index < 0 || n < 0 || end > kMaxIndex || (end > count_ && !expandable_)) Raise(517);
}

void Array::CheckTypedWidth(std::uint16_t width) const {
  if (elementSize_ > width) Raise(535);
}

void Array::CheckLockIndex(std::int32_t index) const {
  if (index < 0 || index > count_) Raise(517);
}

void Array::InitOver(Array* under, std::uint16_t elementSize) {
  if (under == nullptr) Raise(520);
  under->Init(elementSize);
  elementSize_ = under->ElementSize();
  under->Expandable(1);
  expandable_ = true;
  count_ = under->Count();
}

std::int32_t Array::ExtendedCount(std::int32_t delta) const {
  std::int64_t c = static_cast<std::int64_t>(count_) + delta;
  if (c < 0 || c > kMaxIndex) Raise(517);
  return static_cast<std::int32_t>(c);
}

void Array::ReadNext(void* buffer, std::int32_t n) { Read(position_, buffer, n); }
void Array::WriteNext(const void* buffer, std::int32_t n) { Write(position_, buffer, n); }

std::uint32_t Array::GetLongNext() { return GetLong(position_); }
std::uint32_t Array::GetLong(std::int32_t index) {
  CheckTypedWidth(4);
  std::uint32_t v = 0;
  Read(index, &v, 1);
  return v;
}
std::uint16_t Array::GetWordNext() { return GetWord(position_); }
std::uint16_t Array::GetWord(std::int32_t index) {
  CheckTypedWidth(4);
  std::uint32_t v = 0;
  Read(index, &v, 1);
  return static_cast<std::uint16_t>(v);
}
std::uint8_t Array::GetByteNext() { return GetByte(position_); }
std::uint8_t Array::GetByte(std::int32_t index) {
  CheckTypedWidth(4);
  std::uint32_t v = 0;
  Read(index, &v, 1);
  return static_cast<std::uint8_t>(v);
}
void Array::PutLongNext(std::uint32_t value) { PutLong(position_, value); }
void Array::PutLong(std::int32_t index, std::uint32_t value) {
  CheckTypedWidth(4);
  Write(index, &value, 1);
}
void Array::PutWordNext(std::uint16_t value) { PutWord(position_, value); }
void Array::PutWord(std::int32_t index, std::uint16_t value) {
  CheckTypedWidth(2);
  Write(index, &value, 1);
}
void Array::PutByteNext(std::uint8_t value) { PutByte(position_, value); }
void Array::PutByte(std::int32_t index, std::uint8_t value) {
  CheckTypedWidth(1);
  Write(index, &value, 1);
}

void* Array::LockForward(std::int32_t index) {
  CheckLockIndex(index);
  lockedCount_ = 0;
  return nullptr;
}
void* Array::LockBackward(std::int32_t index) {
  CheckLockIndex(index);
  lockedCount_ = 0;
  return nullptr;
}
void Array::Unlock(bool) {}
void Array::Flush() {}
std::int32_t Array::ElementsPerKilobyte() { return 0; }
std::int32_t Array::Room() { return 0; }

bool Array::Expandable(int mode) {
  if (mode == 0 || mode == 1) {
    expandable_ = mode == 1;
  } else if (mode == 2) {
    expandable_ = !expandable_;
  }
  return expandable_;
}

// ---- MemArray
// ------------------------------------------------------------------------------------

MemArray::MemArray(std::int32_t count) { count_ = count < 0 ? 0 : count; }

MemArray::~MemArray() { std::free(data_); }

void MemArray::Resize(std::int64_t count) {
  std::int64_t bytes = count * elementSize_;
  if (bytes > kMaxAlloc) Raise(data_ == nullptr ? 532 : 534);
  if (bytes == 0) {
    std::free(data_);
    data_ = nullptr;
    return;
  }
  void* p = data_ == nullptr ? std::malloc(static_cast<std::size_t>(bytes))
                             : std::realloc(data_, static_cast<std::size_t>(bytes));
  if (p == nullptr) Raise(data_ == nullptr ? 532 : 534);
  data_ = static_cast<char*>(p);
}

std::int32_t MemArray::Init(std::uint16_t elementSize) {
  elementSize_ = elementSize == 0 ? 1 : elementSize;
  Resize(count_);
  return count_;
}

void MemArray::Read(std::int32_t index, void* buffer, std::int32_t n) {
  CheckRead(index, n);
  if (n > 0) {
    std::memmove(buffer, data_ + static_cast<std::size_t>(index) * elementSize_,
                 static_cast<std::size_t>(n) * elementSize_);
  }
  position_ = index + n;
}

void MemArray::Write(std::int32_t index, const void* buffer, std::int32_t n) {
  CheckWrite(index, n);
  if (index + n > count_) {
    // The source may lie in this very block (a copy within the array through a lock): find it
    // again after the block has moved.
    auto at = reinterpret_cast<std::uintptr_t>(buffer);
    auto lo = reinterpret_cast<std::uintptr_t>(data_);
    bool inside =
        data_ != nullptr && at >= lo && at < lo + static_cast<std::size_t>(count_) * elementSize_;
    Extend(index + n - count_);
    if (inside) buffer = data_ + (at - lo);
  }
  if (n > 0) {
    std::memmove(data_ + static_cast<std::size_t>(index) * elementSize_, buffer,
                 static_cast<std::size_t>(n) * elementSize_);
  }
  position_ = index + n;
}

std::uint32_t MemArray::GetLong(std::int32_t index) {
  if (elementSize_ != 4) Raise(535);
  CheckRead(index, 1);
  std::uint32_t v;
  std::memcpy(&v, data_ + static_cast<std::size_t>(index) * 4, 4);
  position_ = index + 1;
  return v;
}
std::uint16_t MemArray::GetWord(std::int32_t index) {
  if (elementSize_ != 2) Raise(535);
  CheckRead(index, 1);
  std::uint16_t v;
  std::memcpy(&v, data_ + static_cast<std::size_t>(index) * 2, 2);
  position_ = index + 1;
  return v;
}
std::uint8_t MemArray::GetByte(std::int32_t index) {
  if (elementSize_ != 1) Raise(535);
  CheckRead(index, 1);
  position_ = index + 1;
  return static_cast<std::uint8_t>(data_[index]);
}
void MemArray::PutLong(std::int32_t index, std::uint32_t value) {
  if (elementSize_ != 4) Raise(535);
  CheckWrite(index, 1);
  if (index >= count_) Extend(index + 1 - count_);
  std::memcpy(data_ + static_cast<std::size_t>(index) * 4, &value, 4);
  position_ = index + 1;
}
void MemArray::PutWord(std::int32_t index, std::uint16_t value) {
  if (elementSize_ != 2) Raise(535);
  CheckWrite(index, 1);
  if (index >= count_) Extend(index + 1 - count_);
  std::memcpy(data_ + static_cast<std::size_t>(index) * 2, &value, 2);
  position_ = index + 1;
}
void MemArray::PutByte(std::int32_t index, std::uint8_t value) {
  if (elementSize_ != 1) Raise(535);
  CheckWrite(index, 1);
  if (index >= count_) Extend(index + 1 - count_);
  data_[index] = static_cast<char>(value);
  position_ = index + 1;
}

void* MemArray::LockForward(std::int32_t index) {
  CheckLockIndex(index);
  lockedCount_ = static_cast<std::uint16_t>(std::min<std::int32_t>(count_ - index, 65535));
  if (data_ == nullptr) return nullptr;
  return data_ + static_cast<std::size_t>(index) * elementSize_;
}

void* MemArray::LockBackward(std::int32_t index) {
  CheckLockIndex(index);
  std::int32_t k = std::min<std::int32_t>(index, 65535);
  lockedCount_ = static_cast<std::uint16_t>(k);
  if (data_ == nullptr) return nullptr;
  return data_ + static_cast<std::size_t>(index - k) * elementSize_;
}

std::int32_t MemArray::Room() {
  std::uint64_t r = AvailMem() / (elementSize_ == 0 ? 1 : elementSize_);
  return static_cast<std::int32_t>(std::min<std::uint64_t>(r, kMaxIndex));
}

void MemArray::Extend(std::int32_t delta) {
  if (delta == 0) return;
  std::int32_t c = ExtendedCount(delta);
  Resize(c);
  count_ = c;
  ClampPosition();
}

// ---- Factories ---------------------------------------------------------------------------------

Array* NewMemArray(std::int32_t count) { return new (std::nothrow) MemArray(count); }

Array* NewFileArray(std::int32_t count, const char* name, unsigned flags, unsigned access,
                    unsigned share) {
  void* p = ::operator new(sizeof(FileArray), std::nothrow);
  if (p == nullptr) return nullptr;
  try {
    return new (p) FileArray(count, name, flags, access, share);
  } catch (...) {
    ::operator delete(p);
    throw;
  }
}

Array* NewBufArray(Array* underlying, std::int32_t bufLen, std::int32_t ahead) {
  if (underlying == nullptr) return nullptr;
  Array* a = new (std::nothrow) BufArray(underlying, bufLen, ahead);
  if (a == nullptr) delete underlying;
  return a;
}

Array* NewHeadCachedArray(Array* underlying, std::int32_t headCount, bool noDirectAccess) {
  Array* a = new (std::nothrow) HeadCachedArray(underlying, headCount, noDirectAccess);
  if (a == nullptr) delete underlying;
  return a;
}

Array* NewLegacyVolumeArray(Array* container, const char* memberName) {
  return new (std::nothrow) LegacyVolumeArray(container, memberName);
}

// ---- ArrayHandle and ArrayLock
// -------------------------------------------------------------------

ArrayHandle::ArrayHandle(Array* array) : array_(array) {
  if (array == nullptr) Raise(520);
}

ArrayHandle& ArrayHandle::operator=(ArrayHandle&& other) noexcept {
  if (this != &other) {
    Reset();
    array_ = other.array_;
    other.array_ = nullptr;
  }
  return *this;
}

void ArrayHandle::Reset() {
  Array* a = array_;
  array_ = nullptr;
  delete a;  // destructors report their own errors and never throw
}

ArrayLock::ArrayLock(ArrayLock&& other) noexcept
    : handle_(other.handle_),
      pointer_(other.pointer_),
      elementSize_(other.elementSize_),
      count_(other.count_),
      autoUnlock_(other.autoUnlock_),
      modified_(other.modified_) {
  other.handle_ = nullptr;
}

ArrayLock::~ArrayLock() {
  if (autoUnlock_) Unlock();
}

void ArrayLock::Unlock() {
  if (handle_ != nullptr && handle_->Get() != nullptr) {
    try {
      handle_->Get()->Unlock(modified_);
    } catch (const Failure&) {
    }
  }
  handle_ = nullptr;
}

ArrayLock ArrayHandle::Window(std::int32_t index, bool forward) {
  if (array_ == nullptr) Raise(520);
  void* p = forward ? array_->LockForward(index) : array_->LockBackward(index);
  return ArrayLock(this, p, array_->ElementSize(), array_->LockedCount());
}

ArrayLock ArrayHandle::ByteWindow(std::int32_t index, bool forward) {
  if (array_ == nullptr) Raise(520);
  void* p = forward ? array_->LockForward(index) : array_->LockBackward(index);
  std::int64_t bytes = static_cast<std::int64_t>(array_->LockedCount()) * array_->ElementSize();
  std::uint16_t count = static_cast<std::uint16_t>(std::min<std::int64_t>(bytes, 65535));
  if (p != nullptr && !forward && bytes > count) {
    p = static_cast<char*>(p) + (bytes - count);  // keep the bytes just below index
  }
  return ArrayLock(this, p, 1, count);
}

String ArrayHandle::ReadString(std::int32_t index, std::uint16_t length) {
  if (array_ == nullptr) Raise(520);
  if (length > kMaxStringLength) Raise(517);
  std::uint16_t es = array_->ElementSize();
  std::int32_t n = (length + es - 1) / es;
  char* buffer = static_cast<char*>(MemAlloc(static_cast<std::int64_t>(n) * es + 1));
  try {
    array_->Read(index, buffer, n);
  } catch (...) {
    MemFree(buffer);
    throw;
  }
  buffer[length] = 0;
  return String::Adopt(buffer, length);
}

void ArrayHandle::Copy(std::int32_t dstIndex, ArrayHandle& source, std::int32_t srcIndex,
                       std::int32_t n) {
  CopyElements(array_, dstIndex, source.array_, srcIndex, n);
}
void ArrayHandle::Replace(std::int32_t dstIndex, std::int32_t dstLen, ArrayHandle& source,
                          std::int32_t srcIndex, std::int32_t srcLen) {
  ReplaceElements(array_, dstIndex, dstLen, source.array_, srcIndex, srcLen);
}
void ArrayHandle::ResizeRegion(std::int32_t index, std::int32_t oldLen, std::int32_t newLen) {
  ludrex::ResizeRegion(array_, index, oldLen, newLen);
}
void ArrayHandle::Rotate(std::int32_t index, std::int32_t length, std::int32_t shift) {
  RotateElements(array_, index, length, shift);
}

// ---- Block operations
// ----------------------------------------------------------------------------

namespace {

// A bounce buffer from the heap, freed on every path.
class Bounce {
 public:
  explicit Bounce(std::int64_t bytes) : p_(static_cast<char*>(MemAlloc(bytes))) {}
  ~Bounce() { MemFree(p_); }
  Bounce(const Bounce&) = delete;
  Bounce& operator=(const Bounce&) = delete;
  char* get() { return p_; }

 private:
  char* p_;
};

// Unlocks an array when leaving a window step, also on the failure path.
class LockGuard {
 public:
  explicit LockGuard(Array* a) : a_(a) {}
  ~LockGuard() {
    if (a_ != nullptr) {
      try {
        a_->Unlock(modified_);
      } catch (const Failure&) {
      }
    }
  }
  void Done(bool modified) {
    Array* a = a_;
    a_ = nullptr;
    a->Unlock(modified);
  }
  void SetModified(bool m) { modified_ = m; }

 private:
  Array* a_;
  bool modified_ = false;
};

void CopyForward(Array* dst, std::int32_t d, Array* src, std::int32_t s, std::int32_t remaining) {
  const std::int32_t es = src->ElementSize();
  while (remaining > 0) {
    bool moved = false;
    {
      LockGuard g(src);
      void* p = src->LockForward(s);
      std::int32_t k = p != nullptr ? std::min<std::int32_t>(remaining, src->LockedCount()) : 0;
      if (k > 0) {
        dst->Write(d, p, k);
        s += k, d += k, remaining -= k, moved = true;
      }
      g.Done(k > 0);
    }
    // A destination growing past its end has no window there yet.
    if (remaining > 0 && d <= dst->Count()) {
      LockGuard g(dst);
      void* q = dst->LockForward(d);
      std::int32_t k = q != nullptr ? std::min<std::int32_t>(remaining, dst->LockedCount()) : 0;
      if (k > 0) {
        src->Read(s, q, k);
        s += k, d += k, remaining -= k, moved = true;
      }
      g.Done(k > 0);
    }
    if (!moved && remaining > 0) {
      std::int64_t bytes = std::min<std::int64_t>(static_cast<std::int64_t>(remaining) * es,
                                                  std::max<std::int32_t>(kBounceBytes, es));
      std::int32_t chunk = static_cast<std::int32_t>(bytes / es);
      Bounce b(bytes);
      while (remaining > 0) {
        std::int32_t k = std::min(remaining, chunk);
        src->Read(s, b.get(), k);
        dst->Write(d, b.get(), k);
        s += k, d += k, remaining -= k;
      }
    }
  }
}

// Copies downwards: s and d are the ends of the ranges (exclusive).
void CopyBackward(Array* dst, std::int32_t d, Array* src, std::int32_t s, std::int32_t remaining) {
  const std::int32_t es = src->ElementSize();
  while (remaining > 0) {
    bool moved = false;
    std::int32_t hint = 0;
    {
      LockGuard g(src);
      void* p = src->LockBackward(s);
      std::int32_t cnt = src->LockedCount();
      std::int32_t k = p != nullptr ? std::min(remaining, cnt) : 0;
      if (p == nullptr && cnt > 0) hint = cnt;
      if (k > 0) {
        dst->Write(d - k, static_cast<char*>(p) + static_cast<std::size_t>(cnt - k) * es, k);
        s -= k, d -= k, remaining -= k, moved = true;
      }
      g.Done(k > 0);
    }
    if (remaining > 0 && d <= dst->Count()) {
      LockGuard g(dst);
      void* q = dst->LockBackward(d);
      std::int32_t cnt = dst->LockedCount();
      std::int32_t k = q != nullptr ? std::min(remaining, cnt) : 0;
      if (q == nullptr && cnt > 0 && (hint == 0 || cnt < hint)) hint = cnt;
      if (k > 0) {
        src->Read(s - k, static_cast<char*>(q) + static_cast<std::size_t>(cnt - k) * es, k);
        s -= k, d -= k, remaining -= k, moved = true;
      }
      g.Done(k > 0);
    }
    if (!moved && remaining > 0) {
      std::int64_t bytes = std::min<std::int64_t>(static_cast<std::int64_t>(remaining) * es,
                                                  std::max<std::int32_t>(kBounceBytes, es));
      std::int32_t chunk = static_cast<std::int32_t>(bytes / es);
      // A step hint limits how much passes before the windows are tried again.
      std::int32_t limit = hint > 0 ? std::min(hint, remaining) : remaining;
      Bounce b(bytes);
      while (limit > 0) {
        std::int32_t k = std::min(limit, chunk);
        src->Read(s - k, b.get(), k);
        dst->Write(d - k, b.get(), k);
        s -= k, d -= k, remaining -= k, limit -= k;
      }
    }
  }
}

}  // namespace

void CopyElements(Array* dst, std::int32_t dstIndex, Array* src, std::int32_t srcIndex,
                  std::int32_t n) {
  if (dst == nullptr || src == nullptr) Raise(520);
  if (dst->ElementSize() != src->ElementSize()) Raise(535);
  if (n < 0 || srcIndex < 0 || dstIndex < 0 ||
      static_cast<std::int64_t>(srcIndex) + n > src->Count() ||
      static_cast<std::int64_t>(dstIndex) + n > kMaxIndex ||
      (static_cast<std::int64_t>(dstIndex) + n > dst->Count() && !dst->Expandable(3))) {
    Raise(517);
  }
  bool same = dst->Storage() == src->Storage();
  if (n == 0 || (same && dstIndex == srcIndex)) return;
  if (same && dstIndex >= srcIndex) {
    CopyBackward(dst, dstIndex + n, src, srcIndex + n, n);
  } else {
    CopyForward(dst, dstIndex, src, srcIndex, n);
  }
}

namespace {
// Sets Expandable for the lifetime of the object and restores it afterwards.
class ExpandScope {
 public:
  ExpandScope(Array* a, bool on) : a_(a), old_(a->Expandable(3)) {
    if (on) a->Expandable(1);
  }
  ~ExpandScope() { a_->Expandable(old_ ? 1 : 0); }
  ExpandScope(const ExpandScope&) = delete;
  ExpandScope& operator=(const ExpandScope&) = delete;

 private:
  Array* a_;
  bool old_;
};
}  // namespace

void ReplaceElements(Array* dst, std::int32_t dstIndex, std::int32_t dstLen, Array* src,
                     std::int32_t srcIndex, std::int32_t srcLen) {
  if (dst == nullptr || src == nullptr) Raise(520);
  if (dst->ElementSize() != src->ElementSize()) Raise(535);
  std::int32_t count = dst->Count();
  if (dstIndex < 0 || dstLen < 0 || srcLen < 0 || srcIndex < 0 ||
      static_cast<std::int64_t>(dstIndex) + dstLen > count ||
      static_cast<std::int64_t>(srcIndex) + srcLen > src->Count() ||
      static_cast<std::int64_t>(count) - dstLen + srcLen > kMaxIndex) {
    Raise(517);
  }
  if (srcLen == dstLen) {
    CopyElements(dst, dstIndex, src, srcIndex, srcLen);
    return;
  }
  std::int32_t tail = dstIndex + dstLen;  // first element after the region
  std::int32_t tailLen = count - tail;
  if (srcLen < dstLen) {
    CopyElements(dst, dstIndex, src, srcIndex, srcLen);
    if (tailLen > 0) CopyElements(dst, dstIndex + srcLen, dst, tail, tailLen);
    dst->Extend(srcLen - dstLen);
    return;
  }
  std::int32_t delta = srcLen - dstLen;
  {
    ExpandScope expand(dst, true);
    if (tailLen > 0) {
      CopyElements(dst, tail + delta, dst, tail, tailLen);
    } else {
      dst->Extend(delta);
    }
  }
  bool same = dst->Storage() == src->Storage();
  std::int32_t srcEnd = srcIndex + srcLen;
  if (!same || srcEnd <= tail || tailLen == 0) {
    CopyElements(dst, dstIndex, src, srcIndex, srcLen);
    return;
  }
  // The source reaches into the moved tail: the part before the tail is where it was, the rest
  // now lies delta elements further up.
  std::int32_t before = srcIndex < tail ? tail - srcIndex : 0;
  if (before > 0) CopyElements(dst, dstIndex, src, srcIndex, before);
  CopyElements(dst, dstIndex + before, src, std::max(srcIndex, tail) + delta, srcLen - before);
}

void ResizeRegion(Array* a, std::int32_t index, std::int32_t oldLen, std::int32_t newLen) {
  if (a == nullptr) Raise(520);
  std::int32_t count = a->Count();
  if (index < 0 || oldLen < 0 || newLen < 0 || static_cast<std::int64_t>(index) + oldLen > count ||
      static_cast<std::int64_t>(count) - oldLen + newLen > kMaxIndex) {
    Raise(517);
  }
  if (oldLen == newLen) return;
  std::int32_t tailLen = count - index - oldLen;
  {
    ExpandScope expand(a, newLen > oldLen);
    if (tailLen == 0) {
      a->Extend(newLen - oldLen);
      return;
    }
    CopyElements(a, index + newLen, a, index + oldLen, tailLen);
  }
  if (newLen < oldLen) a->Extend(newLen - oldLen);
}

namespace {

// Exchanges two equal, non-overlapping ranges of n elements through a bounce buffer.
void SwapRanges(Array* a, std::int32_t x, std::int32_t y, std::int32_t n) {
  const std::int32_t es = a->ElementSize();
  std::int32_t chunk = std::max<std::int32_t>(1, kBounceBytes / 2 / es);
  chunk = std::min(chunk, n);
  Bounce b(static_cast<std::int64_t>(chunk) * es * 2);
  char* bx = b.get();
  char* by = b.get() + static_cast<std::size_t>(chunk) * es;
  for (std::int32_t done = 0; done < n;) {
    std::int32_t k = std::min(chunk, n - done);
    a->Read(x + done, bx, k);
    a->Read(y + done, by, k);
    a->Write(x + done, by, k);
    a->Write(y + done, bx, k);
    done += k;
  }
}

// Turns the x elements at p followed by y elements into the y elements followed by the x.
void SwapAdjacent(Array* a, std::int32_t p, std::int32_t x, std::int32_t y) {
  const std::int64_t es = a->ElementSize();
  while (x > 0 && y > 0) {
    if ((static_cast<std::int64_t>(x) + y) * es <= kBounceBytes) {
      Bounce b((static_cast<std::int64_t>(x) + y) * es);
      a->Read(p, b.get(), x + y);
      SwapBytes(b.get(), 0, x * es, y * es);
      a->Write(p, b.get(), x + y);
      return;
    }
    if (std::min(x, y) * es <= kBounceBytes) {
      if (x <= y) {
        Bounce b(x * es);
        a->Read(p, b.get(), x);
        CopyElements(a, p, a, p + x, y);
        a->Write(p + y, b.get(), x);
      } else {
        Bounce b(y * es);
        a->Read(p + x, b.get(), y);
        CopyElements(a, p + y, a, p, x);
        a->Write(p, b.get(), y);
      }
      return;
    }
    // Both blocks are large: exchange equal parts until one block is done (Gries-Mills).
    if (x <= y) {
      SwapRanges(a, p, p + y, x);  // the last x elements of the y block go to the front
      y -= x;
    } else {
      SwapRanges(a, p, p + x, y);
      p += y;
      x -= y;
    }
  }
}

}  // namespace

void RotateElements(Array* a, std::int32_t index, std::int32_t length, std::int32_t shift) {
  if (a == nullptr) Raise(520);
  if (length < 0 || index < 0) Raise(517);
  if (length == 0 || shift == 0) return;
  std::int64_t p, x, y;
  if (shift > 0) {
    p = index, x = length, y = shift;
  } else {
    p = static_cast<std::int64_t>(index) + shift, x = -static_cast<std::int64_t>(shift), y = length;
  }
  if (p < 0 || p + x + y > a->Count()) Raise(517);
  SwapAdjacent(a, static_cast<std::int32_t>(p), static_cast<std::int32_t>(x),
               static_cast<std::int32_t>(y));
}

}  // namespace ludrex
