// Arrays: sequences of fixed-size elements addressed by a 32-bit index, with a current position
// for sequential access. Every persistent structure (index files, record bodies, subsets, tree
// files, volume members) lives in one. The abstract Array has 27 virtual operations, in this
// order; the variants are MemArray (memory), FileArray (a disk file), BufArray (a write-back
// window over another array), HeadCachedArray (the first elements in memory), LegacyVolumeArray
// (a read-only member of the older container file) and VolumeFileArray (volume.h).
//
// Usual stacking for base files: ArrayHandle(NewBufArray(NewFileArray(...), 40000, 40000)).
// Long sequential passes element by element go through ArrayReader/ArrayWriter
// (array_stream.h), which run at the speed of a plain loop over a buffer.
// Block operations between arrays (Copy, Replace, ResizeRegion, Rotate) are written once on top
// of the interface and use direct pointers (locks) where a variant offers them.
//
// Every failure is fatal and raised with Raise (error.h): 517 for any index or count outside
// the array, the ARRAY codes 502-545 as each operation says. Element counts, indexes and
// positions are 32-bit; a range whose end would pass 2^31 - 1 elements raises 517.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/files.h"
#include "storage/string.h"

namespace ludrex {

class Array {
 public:
  Array() = default;
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  // Slot 0. Releases what the variant owns; buffered variants write back first. Errors met
  // here are reported (ReportFatal) and not thrown.
  virtual ~Array();
  // Slot 1. Sets ElementSize (>= 1) and makes the storage usable; returns Count. Call once,
  // before any other operation.
  virtual std::int32_t Init(std::uint16_t elementSize) = 0;
  // Slot 2. The array that finally holds the elements (this, or the underlying array's Storage
  // for the window variants). Copy uses it to detect overlapping ranges.
  virtual Array* Storage();
  // Slot 3. The file's name; empty for memory arrays.
  virtual String FileName();
  // Slots 4-7. Read copies n elements out (0 <= index, index + n <= Count); Write copies n in
  // (index + n <= Count unless Expandable, in which case Count grows). Both set Position to
  // index + n. The Next forms work at Position.
  virtual void ReadNext(void* buffer, std::int32_t n);
  virtual void Read(std::int32_t index, void* buffer, std::int32_t n) = 0;
  virtual void WriteNext(const void* buffer, std::int32_t n);
  virtual void Write(std::int32_t index, const void* buffer, std::int32_t n) = 0;
  // Slots 8-13. Typed reads of 4-, 2- and 1-byte elements (only on arrays of that element
  // size; wider elements raise 535): 0 <= index < Count; Position = index + 1.
  virtual std::uint32_t GetLongNext();
  virtual std::uint32_t GetLong(std::int32_t index);
  virtual std::uint16_t GetWordNext();
  virtual std::uint16_t GetWord(std::int32_t index);
  virtual std::uint8_t GetByteNext();
  virtual std::uint8_t GetByte(std::int32_t index);
  // Slots 14-19. Typed writes; index >= Count requires Expandable and grows the array.
  virtual void PutLongNext(std::uint32_t value);
  virtual void PutLong(std::int32_t index, std::uint32_t value);
  virtual void PutWordNext(std::uint16_t value);
  virtual void PutWord(std::int32_t index, std::uint16_t value);
  virtual void PutByteNext(std::uint8_t value);
  virtual void PutByte(std::int32_t index, std::uint8_t value);
  // Slot 20. Requires 0 <= index <= Count. Returns a pointer to element index and sets
  // LockedCount to the number of contiguous elements reachable from it, or null with
  // LockedCount 0 when the variant gives no direct access (callers then use Read/Write).
  virtual void* LockForward(std::int32_t index);
  // Slot 21. The same for the elements just below index: the pointer is to element
  // index - LockedCount. A null pointer may come with a non-zero LockedCount: a hint of how many
  // elements the caller should move at once.
  virtual void* LockBackward(std::int32_t index);
  // Slot 22. Ends a lock; modified says whether the caller changed the elements.
  virtual void Unlock(bool modified);
  // Slot 23. Writes buffered elements to the file and the file to disk.
  virtual void Flush();
  // Slot 24. 1024 / ElementSize for FileArray, 0 elsewhere: a sizing hint only.
  virtual std::int32_t ElementsPerKilobyte();
  // Slot 25. How many more elements fit (free memory or free disk space / ElementSize); 0 where
  // unknown.
  virtual std::int32_t Room();
  // Slot 26. Count += delta (delta may be negative; new elements have unspecified contents);
  // Position is clamped to the new Count.
  virtual void Extend(std::int32_t delta) = 0;

  // Mode 0 or 1 sets the Expandable flag, 2 toggles it, anything else (3) only reads it.
  // Returns the flag.
  bool Expandable(int mode);

  std::uint16_t ElementSize() const { return elementSize_; }
  std::int32_t Count() const { return count_; }
  std::int32_t Position() const { return position_; }
  void SetPosition(std::int32_t position) { position_ = position; }
  std::uint16_t LockedCount() const { return lockedCount_; }

 protected:
  // Raise 517 unless 0 <= index, 0 <= n and index + n <= Count.
  void CheckRead(std::int32_t index, std::int32_t n) const;
  // Raise 517 unless 0 <= index, 0 <= n, index + n < 2^31 and (index + n <= Count or Expandable).
  void CheckWrite(std::int32_t index, std::int32_t n) const;
  // Raise 535 when the elements are wider than a typed value of width bytes.
  void CheckTypedWidth(std::uint16_t width) const;
  // Raise 517 unless 0 <= index <= Count.
  void CheckLockIndex(std::int32_t index) const;
  // The start of the window variants: initialises the underlying array (520 when there is
  // none), takes its element size and Count and makes both Expandable.
  void InitOver(Array* under, std::uint16_t elementSize);
  // The new Count for Extend(delta); raises 517 below 0 or above 2^31 - 1.
  std::int32_t ExtendedCount(std::int32_t delta) const;
  void ClampPosition() {
    if (position_ > count_) position_ = count_;
  }

  std::uint16_t elementSize_ = 0;
  bool expandable_ = false;
  std::int32_t count_ = 0;
  std::int32_t position_ = 0;
  std::uint16_t lockedCount_ = 0;
};

// The array in a memory block. Init allocates Count * ElementSize bytes (not cleared); Extend
// resizes the block. Write past the end only when Expandable (off after construction). Locks
// give up to 65535 elements.
class MemArray : public Array {
 public:
  explicit MemArray(std::int32_t count);
  ~MemArray() override;
  std::int32_t Init(std::uint16_t elementSize) override;
  void Read(std::int32_t index, void* buffer, std::int32_t n) override;
  void Write(std::int32_t index, const void* buffer, std::int32_t n) override;
  std::uint32_t GetLong(std::int32_t index) override;
  std::uint16_t GetWord(std::int32_t index) override;
  std::uint8_t GetByte(std::int32_t index) override;
  void PutLong(std::int32_t index, std::uint32_t value) override;
  void PutWord(std::int32_t index, std::uint16_t value) override;
  void PutByte(std::int32_t index, std::uint8_t value) override;
  void* LockForward(std::int32_t index) override;
  void* LockBackward(std::int32_t index) override;
  std::int32_t Room() override;
  void Extend(std::int32_t delta) override;

  // The block (null while it holds no bytes).
  char* Data() { return data_; }

 private:
  void Resize(std::int64_t count);
  char* data_ = nullptr;
};

// A disk file. Construction opens (count -1) or creates (any other count; no name: a temporary
// file deleted on close) the file; Init applies the count (cuts or lengthens the file to
// count * ElementSize) and sets Count = file size / ElementSize. Expandable from the start.
// Errors: 502 open without a name, 506 cannot open ("OLD: " name) or create ("NEW: " name),
// 510 size query, 512 read, 513 write, 515 flush, 518 extend, 508 close, 509 delete.
class FileArray : public Array {
 public:
  FileArray(std::int32_t count, const char* name, unsigned flags, unsigned access, unsigned share);
  ~FileArray() override;
  std::int32_t Init(std::uint16_t elementSize) override;
  String FileName() override;
  void Read(std::int32_t index, void* buffer, std::int32_t n) override;
  void Write(std::int32_t index, const void* buffer, std::int32_t n) override;
  void Flush() override;
  std::int32_t ElementsPerKilobyte() override;
  std::int32_t Room() override;
  void Extend(std::int32_t delta) override;

  // True when the file had to be opened read-only (writing was refused).
  bool ReadOnly() const { return readOnly_; }

 private:
  platform::FileHandle handle_ = nullptr;
  String name_;
  std::int32_t initialCount_;
  bool deleteOnClose_ = false;
  bool readOnly_ = false;
};

// A write-back window of BufLen elements over an underlying array (which it owns). After a miss
// the window is reloaded so that Ahead elements at and after the position, and BufLen - Ahead
// before it, are in memory. Reads and writes inside the window touch only the buffer; typed
// Get/Put inside the window are a few instructions. One lock at a time (529 otherwise); the
// lock's pointer is the window buffer, and while it is held the window stays where it is
// (accesses outside it go to the underlying array). 537 when BufLen * ElementSize passes 2^31 - 1.
class BufArray final : public Array {
 public:
  BufArray(Array* underlying, std::int32_t bufLen, std::int32_t ahead);
  ~BufArray() override;
  std::int32_t Init(std::uint16_t elementSize) override;
  Array* Storage() override;
  String FileName() override;
  void Read(std::int32_t index, void* buffer, std::int32_t n) override;
  void Write(std::int32_t index, const void* buffer, std::int32_t n) override;
  std::uint32_t GetLongNext() override {
    // Sequential 4-byte reading inside the window: no call at all.
    std::uint32_t o = static_cast<std::uint32_t>(position_ - start_);
    if (elementSize_ == 4 && position_ < count_ && o < static_cast<std::uint32_t>(valid_)) {
      ++position_;
      std::uint32_t v;
      std::memcpy(&v, buffer_ + static_cast<std::size_t>(o) * 4, 4);
      return v;
    }
    return GetLong(position_);
  }
  std::uint32_t GetLong(std::int32_t index) override;
  std::uint16_t GetWordNext() override { return GetWord(position_); }
  std::uint16_t GetWord(std::int32_t index) override;
  std::uint8_t GetByteNext() override {
    // Sequential byte reading inside the window: no call at all.
    std::uint32_t o = static_cast<std::uint32_t>(position_ - start_);
    if (elementSize_ == 1 && position_ < count_ && o < static_cast<std::uint32_t>(valid_)) {
      ++position_;
      return static_cast<std::uint8_t>(buffer_[o]);
    }
    return GetByte(position_);
  }
  std::uint8_t GetByte(std::int32_t index) override;
  void PutLongNext(std::uint32_t v) override {
    // Sequential 4-byte writing inside the window or appending to it while it has room.
    std::uint32_t o = static_cast<std::uint32_t>(position_ - start_);
    if (elementSize_ == 4 && position_ >= 0 && o <= static_cast<std::uint32_t>(valid_) &&
        o < static_cast<std::uint32_t>(bufLen_) && position_ < 2147483647 &&
        (position_ < count_ || expandable_)) {
      std::memcpy(buffer_ + static_cast<std::size_t>(o) * 4, &v, 4);
      modified_ = true;
      if (o == static_cast<std::uint32_t>(valid_)) {
        ++valid_;
        if (start_ + valid_ > count_) count_ = start_ + valid_;
      }
      ++position_;
      return;
    }
    PutLong(position_, v);
  }
  void PutLong(std::int32_t index, std::uint32_t value) override;
  void PutWordNext(std::uint16_t v) override { PutWord(position_, v); }
  void PutWord(std::int32_t index, std::uint16_t value) override;
  void PutByteNext(std::uint8_t v) override {
    // Sequential byte writing inside the window or appending to it while it has room.
    std::uint32_t o = static_cast<std::uint32_t>(position_ - start_);
    if (elementSize_ == 1 && position_ >= 0 && o <= static_cast<std::uint32_t>(valid_) &&
        o < static_cast<std::uint32_t>(bufLen_) && position_ < 2147483647 &&
        (position_ < count_ || expandable_)) {
      buffer_[o] = static_cast<char>(v);
      modified_ = true;
      if (o == static_cast<std::uint32_t>(valid_)) {
        ++valid_;
        if (start_ + valid_ > count_) count_ = start_ + valid_;
      }
      ++position_;
      return;
    }
    PutByte(position_, v);
  }
  void PutByte(std::int32_t index, std::uint8_t value) override;
  void* LockForward(std::int32_t index) override;
  void* LockBackward(std::int32_t index) override;
  void Unlock(bool modified) override;
  void Flush() override;
  std::int32_t Room() override;
  void Extend(std::int32_t delta) override;

  // The window: first element index and number of valid elements (for tests and tuning).
  std::int32_t WindowStart() const { return start_; }
  std::int32_t WindowValid() const { return valid_; }
  Array* Underlying() { return under_; }

 private:
  void WriteBack();
  void Reload(std::int32_t position);
  void WriteAroundLock(std::int32_t index, const void* buffer, std::int32_t n);
  void GetValue(std::int32_t index, void* out);
  void PutValue(std::int32_t index, const void* value);

  Array* under_;
  std::int32_t bufLen_;
  std::int32_t ahead_;
  char* buffer_ = nullptr;
  std::int32_t start_ = 0;
  std::int32_t valid_ = 0;
  bool modified_ = false;
  bool locked_ = false;
};

// An array whose first HeadCount elements live in memory; the rest are read from and written to
// the underlying array (owned), which holds stale copies of the head until Flush or destruction
// writes it back. With the no-direct-access flag locks give no pointer.
class HeadCachedArray : public Array {
 public:
  HeadCachedArray(Array* underlying, std::int32_t headCount, bool noDirectAccess);
  ~HeadCachedArray() override;
  std::int32_t Init(std::uint16_t elementSize) override;
  Array* Storage() override;
  String FileName() override;
  void Read(std::int32_t index, void* buffer, std::int32_t n) override;
  void Write(std::int32_t index, const void* buffer, std::int32_t n) override;
  void* LockForward(std::int32_t index) override;
  void* LockBackward(std::int32_t index) override;
  void Unlock(bool modified) override;
  void Flush() override;
  std::int32_t Room() override;
  void Extend(std::int32_t delta) override;

  std::int32_t Cached() const { return cached_; }

 private:
  void WriteBack();

  Array* under_;
  MemArray* memory_ = nullptr;
  std::int32_t headCount_;
  std::int32_t cached_ = 0;
  bool modified_ = false;
  bool noDirect_;
  bool locked_ = false;
};

// A read-only member of the older container file: 1024-byte blocks, a directory of 23-byte
// entries from byte 262 and per-member block tables. The container array (element size 1) is
// not owned and must outlive this array. Init raises 503 when the container is not such a file
// or has no member of that name, 512 when the member's tables or blocks lie outside the
// container; Write raises 513 and Extend 518.
class LegacyVolumeArray : public Array {
 public:
  LegacyVolumeArray(Array* container, const char* memberName);
  std::int32_t Init(std::uint16_t elementSize) override;
  String FileName() override;
  void Read(std::int32_t index, void* buffer, std::int32_t n) override;
  void Write(std::int32_t index, const void* buffer, std::int32_t n) override;
  void Extend(std::int32_t delta) override;

 private:
  void ReadContainer(std::int64_t pos, void* buffer, std::int32_t n);

  Array* container_;
  String name_;
  std::uint16_t table_[1023] = {};
  std::int32_t blocks_ = 0;
};

// Factories: allocate the variant and return null when memory runs out (callers raise 520, or
// hand the result straight to ArrayHandle, which does). Open/create errors are raised.
// count -1 opens an existing file; name null (or empty) with count >= 0 makes a temporary file.
Array* NewMemArray(std::int32_t count);
Array* NewFileArray(std::int32_t count, const char* name, unsigned flags = platform::kFlagNone,
                    unsigned access = platform::kAccessReadWrite,
                    unsigned share = platform::kShareExclusive);
// The window arrays take ownership of underlying even when they return null.
Array* NewBufArray(Array* underlying, std::int32_t bufLen, std::int32_t ahead);
Array* NewHeadCachedArray(Array* underlying, std::int32_t headCount, bool noDirectAccess);
Array* NewLegacyVolumeArray(Array* container, const char* memberName);

class ArrayHandle;

// A direct-access window from ArrayHandle::Window/ByteWindow: a pointer (null when the variant
// gives none; Count is then a step hint), the element size and the reachable count. Unlocks the
// array when it goes out of scope (AutoUnlock), passing Modified.
class ArrayLock {
 public:
  ArrayLock(ArrayHandle* handle, void* pointer, std::uint16_t elementSize, std::uint16_t count)
      : handle_(handle), pointer_(pointer), elementSize_(elementSize), count_(count) {}
  ArrayLock(ArrayLock&& other) noexcept;
  ArrayLock(const ArrayLock&) = delete;
  ArrayLock& operator=(const ArrayLock&) = delete;
  ~ArrayLock();

  void* Pointer() const { return pointer_; }
  std::uint16_t ElementSize() const { return elementSize_; }
  std::uint16_t Count() const { return count_; }
  void SetModified() { modified_ = true; }
  void SetAutoUnlock(bool on) { autoUnlock_ = on; }
  // Ends the lock now (the destructor then does nothing).
  void Unlock();

 private:
  ArrayHandle* handle_;
  void* pointer_;
  std::uint16_t elementSize_;
  std::uint16_t count_;
  bool autoUnlock_ = true;
  bool modified_ = false;
};

// The owner of an array: releasing the handle destroys it. Constructing from null raises 520
// ("array from a null pointer"), so a factory's result may be passed straight in. The block
// operations between arrays are methods of the handle.
class ArrayHandle {
 public:
  ArrayHandle() = default;
  explicit ArrayHandle(Array* array);
  ArrayHandle(ArrayHandle&& other) noexcept : array_(other.array_) { other.array_ = nullptr; }
  ArrayHandle& operator=(ArrayHandle&& other) noexcept;
  ArrayHandle(const ArrayHandle&) = delete;
  ArrayHandle& operator=(const ArrayHandle&) = delete;
  ~ArrayHandle() { Reset(); }

  Array* Get() const { return array_; }
  Array* operator->() const { return array_; }
  explicit operator bool() const { return array_ != nullptr; }
  // Destroys the array (null afterwards); errors on the way are reported, not thrown.
  void Reset();
  // Gives up ownership.
  Array* Release() {
    Array* a = array_;
    array_ = nullptr;
    return a;
  }

  // Copies n elements from source [srcIndex, srcIndex + n) to this [dstIndex, dstIndex + n);
  // ranges in the same Storage may overlap (the copy runs downwards when dstIndex >= srcIndex).
  // 535 on unequal element sizes, 517 outside either array (the destination may grow when
  // Expandable).
  void Copy(std::int32_t dstIndex, ArrayHandle& source, std::int32_t srcIndex, std::int32_t n);
  // Replaces the dstLen elements at dstIndex by the srcLen elements of source at srcIndex; the
  // elements after the region move and Count changes by srcLen - dstLen. Source and destination
  // may be the same array; the source is taken as it stood before the call.
  void Replace(std::int32_t dstIndex, std::int32_t dstLen, ArrayHandle& source,
               std::int32_t srcIndex, std::int32_t srcLen);
  // Makes the oldLen elements at index newLen long (new elements unspecified), moving the rest.
  void ResizeRegion(std::int32_t index, std::int32_t oldLen, std::int32_t newLen);
  // Moves the length elements at index by shift elements; the elements passed over take their
  // room (the array counterpart of SwapBytes).
  void Rotate(std::int32_t index, std::int32_t length, std::int32_t shift);
  // A lock on the elements from index upwards (forward) or just below index (backward).
  ArrayLock Window(std::int32_t index, bool forward);
  // The same window counted in bytes (element size 1, count capped at 65535).
  ArrayLock ByteWindow(std::int32_t index, bool forward);
  // An owned String of the length bytes at element index (element size 1 arrays; others read
  // whole elements and keep the first length bytes). Length at most 65520.
  String ReadString(std::int32_t index, std::uint16_t length);

 private:
  Array* array_ = nullptr;
};

// The same block operations on plain array pointers (for code that does not own the arrays).
void CopyElements(Array* dst, std::int32_t dstIndex, Array* src, std::int32_t srcIndex,
                  std::int32_t n);
void ReplaceElements(Array* dst, std::int32_t dstIndex, std::int32_t dstLen, Array* src,
                     std::int32_t srcIndex, std::int32_t srcLen);
void ResizeRegion(Array* a, std::int32_t index, std::int32_t oldLen, std::int32_t newLen);
void RotateElements(Array* a, std::int32_t index, std::int32_t length, std::int32_t shift);

}  // namespace ludrex
