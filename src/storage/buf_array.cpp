// BufArray (a write-back window over another array) and HeadCachedArray (the first elements of
// an array kept in memory).
#include <algorithm>
#include <cstring>

#include "frame/error.h"
#include "storage/array.h"
#include "storage/memory.h"

namespace ludrex {

// ---- BufArray
// ------------------------------------------------------------------------------------

BufArray::BufArray(Array* underlying, std::int32_t bufLen, std::int32_t ahead)
    : under_(underlying), bufLen_(bufLen < 1 ? 1 : bufLen) {
  ahead_ = std::clamp(ahead, 0, bufLen_);
}

BufArray::~BufArray() {
  try {
    WriteBack();
  } catch (const Failure&) {
  }
  MemFree(buffer_);
  delete under_;
}

std::int32_t BufArray::Init(std::uint16_t elementSize) {
  InitOver(under_, elementSize);
  std::int64_t bytes = static_cast<std::int64_t>(bufLen_) * elementSize_;
  if (bytes > kMaxAlloc) Raise(537);
  buffer_ = static_cast<char*>(MemAlloc(bytes));
  start_ = 0;
  valid_ = std::min(count_, bufLen_);
  if (valid_ > 0) under_->Read(0, buffer_, valid_);
  return count_;
}

Array* BufArray::Storage() { return under_->Storage(); }
String BufArray::FileName() { return under_->FileName(); }

void BufArray::WriteBack() {
  if (modified_ && valid_ > 0) {
    modified_ = false;
    under_->Write(start_, buffer_, valid_);
  }
  modified_ = false;
}

void BufArray::Reload(std::int32_t position) {
  WriteBack();
  start_ = std::max(0, position - (bufLen_ - ahead_));
  valid_ = std::clamp(under_->Count() - start_, 0, bufLen_);
  if (valid_ > 0) under_->Read(start_, buffer_, valid_);
}

void BufArray::Read(std::int32_t index, void* buffer, std::int32_t n) {
  CheckRead(index, n);
  char* out = static_cast<char*>(buffer);
  std::int32_t o = index - start_;
  std::int32_t done = 0;
  if (o >= 0 && o < valid_ && n > 0) {
    done = std::min(n, valid_ - o);
    std::memmove(out, buffer_ + static_cast<std::size_t>(o) * elementSize_,
                 static_cast<std::size_t>(done) * elementSize_);
  }
  if (done < n) {
    if (locked_) {
      // A locked window stays where it is: the rest lies outside it and the underlying array
      // is current there.
      under_->Read(index + done, out + static_cast<std::size_t>(done) * elementSize_, n - done);
    } else {
      WriteBack();
      under_->Read(index + done, out + static_cast<std::size_t>(done) * elementSize_, n - done);
      Reload(index + n);
    }
  }
  position_ = index + n;
}

void BufArray::Write(std::int32_t index, const void* buffer, std::int32_t n) {
  CheckWrite(index, n);
  std::int32_t o = index - start_;
  if (o >= 0 && o <= valid_ && n <= bufLen_ - o) {
    if (n > 0) {
      std::memmove(buffer_ + static_cast<std::size_t>(o) * elementSize_, buffer,
                   static_cast<std::size_t>(n) * elementSize_);
      modified_ = true;
    }
    if (o + n > valid_) {
      valid_ = o + n;
      count_ = std::max(count_, start_ + valid_);
    }
  } else if (locked_) {
    WriteAroundLock(index, buffer, n);
  } else {
    WriteBack();
    if (n < bufLen_ && index >= under_->Count()) {
      // Appending past the end of the underlying array: the window starts at index and holds
      // the elements until it is full; there is nothing to read.
      start_ = index;
      valid_ = n;
      if (n > 0) {
        std::memmove(buffer_, buffer, static_cast<std::size_t>(n) * elementSize_);
        modified_ = true;
      }
      count_ = std::max(count_, index + n);
    } else {
      under_->Write(index, buffer, n);
      count_ = std::max(count_, under_->Count());
      Reload(index + n);
    }
  }
  position_ = index + n;
}

// While a lock holds the window in place, elements outside it go to the underlying array, and
// the window's copy of any it overlaps is updated: moving the window would put other elements
// under the lock holder's pointer, and its changes would be written back to the wrong place.
void BufArray::WriteAroundLock(std::int32_t index, const void* buffer, std::int32_t n) {
  under_->Write(index, buffer, n);
  count_ = std::max(count_, under_->Count());
  // The source may be the window itself (a copy within the array through the lock).
  const std::int32_t lo = std::max(index, start_);
  const std::int32_t hi = std::min(index + n, start_ + valid_);
  if (lo < hi) {
    std::memmove(
        buffer_ + static_cast<std::size_t>(lo - start_) * elementSize_,
        static_cast<const char*>(buffer) + static_cast<std::size_t>(lo - index) * elementSize_,
        static_cast<std::size_t>(hi - lo) * elementSize_);
  }
}

void BufArray::GetValue(std::int32_t index, void* out) {
  CheckTypedWidth(4);
  CheckRead(index, 1);
  std::uint32_t o = static_cast<std::uint32_t>(index - start_);
  if (o < static_cast<std::uint32_t>(valid_)) {
    std::memcpy(out, buffer_ + static_cast<std::size_t>(o) * elementSize_, elementSize_);
  } else if (locked_) {
    under_->Read(index, out, 1);  // the underlying array is current outside the window
  } else {
    WriteBack();
    under_->Read(index, out, 1);
    Reload(index + 1);
  }
  position_ = index + 1;
}

void BufArray::PutValue(std::int32_t index, const void* value) {
  CheckTypedWidth(4);
  CheckWrite(index, 1);
  std::int32_t o = index - start_;
  if (o >= 0 && o < valid_) {
    std::memcpy(buffer_ + static_cast<std::size_t>(o) * elementSize_, value, elementSize_);
    modified_ = true;
  } else if (o == valid_ && valid_ < bufLen_) {
    std::memcpy(buffer_ + static_cast<std::size_t>(o) * elementSize_, value, elementSize_);
    modified_ = true;
    ++valid_;
    count_ = std::max(count_, start_ + valid_);
  } else if (locked_) {
    WriteAroundLock(index, value, 1);
  } else {
    WriteBack();
    if (bufLen_ > 1 && index >= under_->Count()) {
      // Appending past the end: a new window at index, nothing to read.
      start_ = index;
      valid_ = 1;
      std::memcpy(buffer_, value, elementSize_);
      modified_ = true;
      count_ = std::max(count_, index + 1);
    } else {
      under_->Write(index, value, 1);
      count_ = std::max(count_, under_->Count());
      Reload(index + 1);
    }
  }
  position_ = index + 1;
}

std::uint32_t BufArray::GetLong(std::int32_t index) {
  std::uint32_t v = 0;
  GetValue(index, &v);
  return v;
}
std::uint16_t BufArray::GetWord(std::int32_t index) {
  std::uint32_t v = 0;
  GetValue(index, &v);
  return static_cast<std::uint16_t>(v);
}
std::uint8_t BufArray::GetByte(std::int32_t index) {
  // The hot path of sequential byte reading: inside the window, one bounds test.
  std::uint32_t o = static_cast<std::uint32_t>(index - start_);
  if (elementSize_ == 1 && index >= 0 && index < count_ && o < static_cast<std::uint32_t>(valid_)) {
    position_ = index + 1;
    return static_cast<std::uint8_t>(buffer_[o]);
  }
  std::uint32_t v = 0;
  GetValue(index, &v);
  return static_cast<std::uint8_t>(v);
}
void BufArray::PutLong(std::int32_t index, std::uint32_t value) { PutValue(index, &value); }
void BufArray::PutWord(std::int32_t index, std::uint16_t value) {
  std::uint32_t v = value;  // PutValue copies ElementSize bytes
  PutValue(index, &v);
}
void BufArray::PutByte(std::int32_t index, std::uint8_t value) {
  std::int32_t o = index - start_;
  if (elementSize_ == 1 && index >= 0 && o >= 0 && o < valid_) {
    buffer_[o] = static_cast<char>(value);
    modified_ = true;
    position_ = index + 1;
    return;
  }
  std::uint32_t v = value;
  PutValue(index, &v);
}

void* BufArray::LockForward(std::int32_t index) {
  if (locked_) Raise(529);
  WriteBack();
  CheckLockIndex(index);
  start_ = position_ = index;
  valid_ = std::clamp(under_->Count() - index, 0, bufLen_);
  if (valid_ > 0) under_->Read(start_, buffer_, valid_);
  lockedCount_ = static_cast<std::uint16_t>(std::min(valid_, 65535));
  locked_ = true;
  return buffer_;
}

void* BufArray::LockBackward(std::int32_t index) {
  if (locked_) Raise(529);
  WriteBack();
  CheckLockIndex(index);
  // The underlying array may be shorter than Count only before a write-back; it is not here.
  start_ = std::max(index - bufLen_, 0);
  position_ = index;
  valid_ = index - start_;
  if (start_ + valid_ > under_->Count()) valid_ = std::max(0, under_->Count() - start_);
  if (valid_ > 0) under_->Read(start_, buffer_, valid_);
  lockedCount_ = static_cast<std::uint16_t>(std::min(valid_, 65535));
  locked_ = true;
  return buffer_ + static_cast<std::size_t>(valid_ - lockedCount_) * elementSize_;
}

void BufArray::Unlock(bool modified) {
  locked_ = false;
  modified_ = modified || modified_;
}

void BufArray::Flush() {
  WriteBack();
  under_->Flush();
}

std::int32_t BufArray::Room() { return under_->Room(); }

void BufArray::Extend(std::int32_t delta) {
  if (delta == 0) return;
  std::int32_t c = ExtendedCount(delta);
  WriteBack();
  under_->Extend(c - under_->Count());
  count_ = c;
  start_ = std::min(start_, count_);
  valid_ = std::min(bufLen_, count_ - start_);
  ClampPosition();
}

// ---- HeadCachedArray
// -----------------------------------------------------------------------------

HeadCachedArray::HeadCachedArray(Array* underlying, std::int32_t headCount, bool noDirectAccess)
    : under_(underlying), headCount_(headCount < 0 ? 0 : headCount), noDirect_(noDirectAccess) {}

HeadCachedArray::~HeadCachedArray() {
  try {
    if (memory_ != nullptr) WriteBack();
  } catch (const Failure&) {
  }
  delete memory_;
  delete under_;
}

std::int32_t HeadCachedArray::Init(std::uint16_t elementSize) {
  InitOver(under_, elementSize);
  memory_ = new MemArray(headCount_);
  memory_->Init(elementSize_);
  cached_ = std::min(count_, headCount_);
  if (cached_ > 0) under_->Read(0, memory_->Data(), cached_);
  return count_;
}

Array* HeadCachedArray::Storage() { return under_->Storage(); }
String HeadCachedArray::FileName() { return under_->FileName(); }

void HeadCachedArray::WriteBack() {
  if (!modified_) return;
  modified_ = false;
  if (cached_ > 0) under_->Write(0, memory_->Data(), cached_);
}

void HeadCachedArray::Read(std::int32_t index, void* buffer, std::int32_t n) {
  CheckRead(index, n);
  char* out = static_cast<char*>(buffer);
  std::int32_t inMemory = index < cached_ ? std::min(n, cached_ - index) : 0;
  if (inMemory > 0) {
    std::memmove(out, memory_->Data() + static_cast<std::size_t>(index) * elementSize_,
                 static_cast<std::size_t>(inMemory) * elementSize_);
  }
  if (inMemory < n) {
    under_->Read(index + inMemory, out + static_cast<std::size_t>(inMemory) * elementSize_,
                 n - inMemory);
  }
  position_ = index + n;
}

// The head always holds min(Count, HeadCount) elements: elements below HeadCount are written to
// memory only, the rest to the underlying array.
void HeadCachedArray::Write(std::int32_t index, const void* buffer, std::int32_t n) {
  CheckWrite(index, n);
  const char* in = static_cast<const char*>(buffer);
  std::int32_t end = index + n;
  if (index < headCount_ && n > 0) {
    modified_ = true;
    std::int32_t k = std::min(end, headCount_) - index;
    // The part past the head first: the source may lie in the head itself (a copy within the
    // array through a lock), where the memory part would overwrite it.
    if (k < n) {
      under_->Write(index + k, in + static_cast<std::size_t>(k) * elementSize_, n - k);
    }
    // Elements between the head's old end and index read as zeros, as the file's would: the
    // memory block is not cleared, and its bytes reach the file at write-back.
    if (index > cached_) {
      std::memset(memory_->Data() + static_cast<std::size_t>(cached_) * elementSize_, 0,
                  static_cast<std::size_t>(index - cached_) * elementSize_);
    }
    std::memmove(memory_->Data() + static_cast<std::size_t>(index) * elementSize_, in,
                 static_cast<std::size_t>(k) * elementSize_);
    if (index + k > cached_) cached_ = index + k;
  } else if (n > 0) {
    under_->Write(index, in, n);
  }
  count_ = std::max(count_, end);
  position_ = end;
}

void* HeadCachedArray::LockForward(std::int32_t index) {
  if (locked_) Raise(529);
  CheckLockIndex(index);
  lockedCount_ = 0;
  if (noDirect_ || index >= cached_) return nullptr;
  char* p = memory_->Data() + static_cast<std::size_t>(index) * elementSize_;
  lockedCount_ = static_cast<std::uint16_t>(std::min(cached_ - index, 65535));
  locked_ = true;
  return p;
}

void* HeadCachedArray::LockBackward(std::int32_t index) {
  if (locked_) Raise(529);
  CheckLockIndex(index);
  lockedCount_ = 0;
  if (noDirect_) return nullptr;
  if (index > cached_) {
    // Above the head: no pointer, but a hint to step down to the head's end.
    lockedCount_ = static_cast<std::uint16_t>(std::min(index - cached_, 65535));
    return nullptr;
  }
  std::int32_t k = std::min(index, 65535);
  lockedCount_ = static_cast<std::uint16_t>(k);
  locked_ = true;
  return memory_->Data() + static_cast<std::size_t>(index - k) * elementSize_;
}

void HeadCachedArray::Unlock(bool modified) {
  if (locked_ && modified) modified_ = true;
  locked_ = false;
}

void HeadCachedArray::Flush() {
  WriteBack();
  under_->Flush();
}

std::int32_t HeadCachedArray::Room() { return under_->Room(); }

void HeadCachedArray::Extend(std::int32_t delta) {
  if (delta == 0) return;
  std::int32_t c = ExtendedCount(delta);
  under_->Extend(c - under_->Count());
  count_ = c;
  std::int32_t cached = std::min(headCount_, count_);
  if (cached > cached_) {
    // New elements read as zeros, as a lengthened file's do.
    std::memset(memory_->Data() + static_cast<std::size_t>(cached_) * elementSize_, 0,
                static_cast<std::size_t>(cached - cached_) * elementSize_);
  }
  cached_ = cached;
  ClampPosition();
}

}  // namespace ludrex
