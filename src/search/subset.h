// Subset: a set of record numbers of one base, kept as a bit mask (record 0 is the most
// significant bit of the first mask byte) in a byte array in memory, in a file or in a volume,
// optionally preceded by a free-text comment. Per-block member counts find the n-th member
// quickly; a sequential scan can drop members as it goes.
#pragma once

#include <cstdint>

#include "storage/array.h"
#include "storage/string.h"

namespace ludrex {

class Volume;

class Subset {
 public:
  // Adopts storage (element size 1; wrapped in a 4000/2000 window when buffered). A fresh set
  // writes an empty mask after whatever the storage holds (the comment); an opened one counts
  // its members. A mask longer than the storage raises 703.
  Subset(ArrayHandle storage, std::int32_t maxLength, bool fresh, bool buffered);
  // Opens the older layout: 89 header bytes with the comment at 43 and MaxLength at 85.
  static Subset* OpenOldFormat(ArrayHandle storage);
  ~Subset();
  Subset(const Subset&) = delete;
  Subset& operator=(const Subset&) = delete;

  // Factories of the exported forms (files are opened read/write and exclusive).
  static Subset* CreateTmp(std::int32_t maxLength);
  static Subset* CreateTmpCopy(Subset& source);
  static Subset* CreateInFile(std::int32_t maxLength, const char* name);
  static Subset* CreateCopyInFile(Subset& source, const char* name);
  static Subset* OpenInFile(std::int32_t maxLength, const char* name);
  static Subset* OpenForOldBase(const char* name);
  // The same in a storage the caller made (a volume member, say): an empty set, a copy, or the
  // set as stored.
  static Subset* CreateIn(ArrayHandle storage, std::int32_t maxLength);
  static Subset* CreateCopyIn(ArrayHandle storage, Subset& source);
  static Subset* OpenIn(ArrayHandle storage, std::int32_t maxLength);
  // In a member of a volume (directory id dir).
  static Subset* CreateInVolume(std::int32_t maxLength, const char* name, std::int32_t dir,
                                Volume* volume);
  static Subset* CreateCopyInVolume(Subset& source, const char* name, std::int32_t dir,
                                    Volume* volume);
  static Subset* OpenInVolume(std::int32_t maxLength, const char* name, std::int32_t dir,
                              Volume* volume);

  std::int32_t MaxLength() const { return maxLength_; }
  std::int32_t CurLength() const { return curLength_; }
  std::int32_t HeaderLength() const { return headerLength_; }
  std::int32_t MaskBytes() const { return maskBytes_; }
  bool OldFormat() const { return oldFormat_; }
  Array* Storage() const { return storage_.Get(); }

  // Membership of record r; r outside [0, MaxLength) raises 701.
  int Item(std::int32_t r);
  // Records [r, r + n) (n = -1: up to MaxLength). r outside [0, MaxLength] raises 701, n outside
  // [0, MaxLength - r] raises 704.
  void IncludeRange(std::int32_t r, std::int32_t n);
  void ExcludeRange(std::int32_t r, std::int32_t n);
  void ToggleRange(std::int32_t r, std::int32_t n);
  // The record number of member i (0-based, ascending); i outside [0, CurLength) raises 702.
  std::int32_t BaseNum(std::int32_t i);
  // The number of members below record r (0 <= r <= MaxLength).
  std::int32_t Rank(std::int32_t r);
  // MaxLength += n; the new records are not members.
  void Expand(std::int32_t n);
  // this := this AND other, OR other, AND NOT other; unequal MaxLength raises 705.
  void Intersect(Subset& other);
  void Join(Subset& other);
  void Subtract(Subset& other);
  // Takes other's mask and sizes, keeping this set's comment.
  void CopyFrom(Subset& other);

  std::int32_t CommentLength();
  // Copies the comment and a NUL into buffer (CommentLength() + 1 bytes).
  void GetComment(char* buffer);
  // Replaces the comment (ignored for the old format); at most 65535 bytes.
  void SetComment(const char* text, std::int32_t length);

  // Sequential scan. InitBase(r): first member >= r, or -1 (r outside [0, MaxLength] raises
  // 701). InitSet(i): member i (702 when out of range). Next: the following member or -1.
  // NextExclude: removes the current member first. Stop: commits the removals.
  std::int32_t SeqInitBase(std::int32_t r);
  std::int32_t SeqInitSet(std::int32_t i);
  std::int32_t SeqNext();
  std::int32_t SeqNextExclude();
  void SeqStop();

  // Bulk access for a scan that decides many members at once: n mask bytes from mask byte b
  // (record 8 b is the most significant bit of the first), read out / written back. Writing
  // recounts the members; bits past MaxLength must stay clear.
  void GetMaskBytes(std::int32_t b, std::uint8_t* out, std::int32_t n);
  void PutMaskBytes(std::int32_t b, const std::uint8_t* in, std::int32_t n);

  // Writes the storage through to its file.
  void Update();

 private:
  enum class Change { kInclude, kExclude, kToggle };
  Subset() = default;
  void Setup(std::int32_t maxLength);
  void Recount();
  // Adds the members among n mask bytes (mask byte first onward) to the counts.
  void CountInto(const std::uint8_t* p, std::int32_t first, std::int32_t n);
  void ResetCaches();
  void ChangeRange(std::int32_t r, std::int32_t n, Change how);
  std::uint8_t MaskByte(std::int32_t b) { return storage_->GetByte(headerLength_ + b); }
  void SetMaskByte(std::int32_t b, std::uint8_t old, std::uint8_t value);
  std::int32_t BlockOf(std::int32_t b) const;
  void Combine(Subset& other, int op);
  std::int32_t ScanFrom(std::int32_t byte, std::uint8_t bits);
  void CommitScanByte();

  static constexpr int kBlocks = 1000;

  ArrayHandle storage_;
  std::int32_t curLength_ = 0;
  std::int32_t maxLength_ = 0;
  std::int32_t headerLength_ = 0;
  std::int32_t maskBytes_ = 0;
  std::uint8_t tailBits_ = 0;
  bool oldFormat_ = false;
  std::int32_t blockCounts_[kBlocks] = {};
  std::int32_t blockBytes_ = 1;
  // Scan state.
  std::int32_t scanByte_ = -1;
  std::uint8_t scanCopy_ = 0;
  std::uint8_t scanOriginal_ = 0;
  std::int8_t scanBit_ = 0;
  std::int32_t scanRemovals_ = 0;
  // BaseNum cache: the last member index asked, its byte, and the members before that byte.
  std::int32_t cacheSub_ = -1;
  std::int32_t cacheByte_ = 0;
  std::int32_t cacheBefore_ = 0;
  std::int32_t cacheBlock_ = 0;
  std::int32_t cacheBlockEnd_ = 0;  // members before the end of the cached block
};

// The tables built at start-up: bits set in each byte value, the index (most significant
// first) of each single-bit byte, and m[start][count], the count bits from start clipped to
// the byte.
void BuildSubsetTables();
extern std::uint8_t g_bitCount[256];
extern std::int8_t g_bitIndex[256];
extern std::uint8_t g_runMask[8][8];

}  // namespace ludrex
