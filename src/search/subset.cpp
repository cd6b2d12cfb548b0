#include "search/subset.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "frame/error.h"
#include "storage/volume.h"

namespace ludrex {

std::uint8_t g_bitCount[256];
std::int8_t g_bitIndex[256];
std::uint8_t g_runMask[8][8];

void BuildSubsetTables() {
  for (int v = 0; v < 256; ++v) {
    int n = 0;
    for (int b = 0; b < 8; ++b) n += (v >> b) & 1;
    g_bitCount[v] = static_cast<std::uint8_t>(n);
    g_bitIndex[v] = -1;
  }
  for (int j = 0; j < 8; ++j) g_bitIndex[0x80 >> j] = static_cast<std::int8_t>(j);
  for (int start = 0; start < 8; ++start) {
    for (int count = 0; count < 8; ++count) {
      std::uint8_t m = 0;
      for (int j = start; j < std::min(start + count, 8); ++j) m |= static_cast<std::uint8_t>(0x80 >> j);
      g_runMask[start][count] = m;
    }
  }
}

namespace {

constexpr std::int32_t kSubsetBufLen = 4000;

void EnsureTables() {
  if (g_bitCount[1] == 0) BuildSubsetTables();
}

// Set bits among n bytes.
std::int32_t PopCount(const std::uint8_t* p, std::int32_t n) {
  std::int32_t c = 0, i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    c += __builtin_popcountll(w);
  }
  for (; i < n; ++i) c += g_bitCount[p[i]];
  return c;
}

// Bit j (0 = most significant) of byte v.
inline bool BitSet(std::uint8_t v, int j) { return (v & (0x80 >> j)) != 0; }

}  // namespace

Subset::Subset(ArrayHandle storage, std::int32_t maxLength, bool fresh, bool buffered) {
  EnsureTables();
  if (maxLength < 0) Raise(704);
  if (buffered) storage = ArrayHandle(NewBufArray(storage.Release(), kSubsetBufLen, kSubsetBufLen / 2));
  storage_ = std::move(storage);
  storage_->Init(1);
  Setup(maxLength);
  headerLength_ = storage_->Count() - maskBytes_;
  if (fresh && headerLength_ < 0) headerLength_ = 0;  // a fresh mask goes after what is there
  if (headerLength_ < 0) Raise(703);
  storage_->Expandable(1);
  if (fresh) {
    // An empty mask after the comment.
    static const std::uint8_t zeros[4096] = {};
    std::int32_t left = maskBytes_;
    std::int32_t at = headerLength_;
    while (left > 0) {
      std::int32_t k = std::min<std::int32_t>(left, sizeof zeros);
      storage_->Write(at, zeros, k);
      at += k;
      left -= k;
    }
    curLength_ = 0;
    blockBytes_ = maxLength_ / 8000 + 1;
    ResetCaches();
  } else {
    Recount();
  }
}

Subset* Subset::OpenOldFormat(ArrayHandle storage) {
  EnsureTables();
  auto* s = new Subset();
  s->storage_ = ArrayHandle(NewBufArray(storage.Release(), kSubsetBufLen, kSubsetBufLen / 2));
  try {
    s->storage_->Init(1);
    s->oldFormat_ = true;
    if (s->storage_->Count() < 89) Raise(703);
    std::int32_t max = static_cast<std::int32_t>(s->storage_->GetByte(85) |
                                                 (s->storage_->GetByte(86) << 8) |
                                                 (s->storage_->GetByte(87) << 16) |
                                                 (static_cast<std::uint32_t>(s->storage_->GetByte(88)) << 24));
    if (max < 0) Raise(703);
    s->Setup(max);
    s->headerLength_ = 89;
    if (static_cast<std::int64_t>(89) + s->maskBytes_ > s->storage_->Count()) Raise(703);
    s->storage_->Expandable(1);
    s->Recount();
  } catch (...) {
    delete s;
    throw;
  }
  return s;
}

Subset::~Subset() = default;

void Subset::Setup(std::int32_t maxLength) {
  maxLength_ = maxLength;
  maskBytes_ = static_cast<std::int32_t>((static_cast<std::int64_t>(maxLength) + 7) / 8);
  tailBits_ = static_cast<std::uint8_t>(maxLength % 8);
}

Subset* Subset::CreateTmp(std::int32_t maxLength) {
  std::int32_t bytes = static_cast<std::int32_t>((static_cast<std::int64_t>(maxLength) + 7) / 8);
  return new Subset(ArrayHandle(NewMemArray(bytes < 0 ? 0 : bytes)), maxLength, true, false);
}

Subset* Subset::CreateIn(ArrayHandle storage, std::int32_t maxLength) {
  return new Subset(std::move(storage), maxLength, true, true);
}

Subset* Subset::OpenIn(ArrayHandle storage, std::int32_t maxLength) {
  return new Subset(std::move(storage), maxLength, false, true);
}

Subset* Subset::CreateCopyIn(ArrayHandle storage, Subset& source) {
  Subset* s = new Subset(std::move(storage), source.maxLength_, true, true);
  try {
    s->CopyFrom(source);
  } catch (...) {
    delete s;
    throw;
  }
  return s;
}

Subset* Subset::CreateTmpCopy(Subset& source) {
  Subset* s = CreateTmp(source.maxLength_);
  try {
    s->CopyFrom(source);
  } catch (...) {
    delete s;
    throw;
  }
  return s;
}

Subset* Subset::CreateInFile(std::int32_t maxLength, const char* name) {
  return CreateIn(ArrayHandle(NewFileArray(0, name)), maxLength);
}

Subset* Subset::CreateCopyInFile(Subset& source, const char* name) {
  return CreateCopyIn(ArrayHandle(NewFileArray(0, name)), source);
}

Subset* Subset::OpenInFile(std::int32_t maxLength, const char* name) {
  return OpenIn(ArrayHandle(NewFileArray(-1, name)), maxLength);
}

Subset* Subset::OpenForOldBase(const char* name) {
  return OpenOldFormat(ArrayHandle(NewFileArray(-1, name, platform::kFlagSequential)));
}

Subset* Subset::CreateInVolume(std::int32_t maxLength, const char* name, std::int32_t dir,
                               Volume* volume) {
  // Made in memory, then copied into the member in one piece.
  std::unique_ptr<Subset> tmp(CreateTmp(maxLength));
  return CreateCopyInVolume(*tmp, name, dir, volume);
}

Subset* Subset::CreateCopyInVolume(Subset& source, const char* name, std::int32_t dir,
                                   Volume* volume) {
  return CreateCopyIn(ArrayHandle(new VolumeFileArray(0, name, volume, dir)), source);
}

Subset* Subset::OpenInVolume(std::int32_t maxLength, const char* name, std::int32_t dir,
                             Volume* volume) {
  return OpenIn(ArrayHandle(new VolumeFileArray(-1, name, volume, dir)), maxLength);
}

void Subset::ResetCaches() {
  cacheSub_ = -1;
  cacheByte_ = 0;
  cacheBefore_ = 0;
}

std::int32_t Subset::BlockOf(std::int32_t b) const {
  std::int32_t k = b / blockBytes_;
  return k < kBlocks ? k : kBlocks - 1;
}

void Subset::CountInto(const std::uint8_t* p, std::int32_t first, std::int32_t n) {
  std::int32_t b = first, end = first + n;
  while (b < end) {
    std::int32_t k = BlockOf(b);
    std::int32_t blockEnd = k == kBlocks - 1 ? end : std::min(end, (k + 1) * blockBytes_);
    std::int32_t c = PopCount(p + (b - first), blockEnd - b);
    blockCounts_[k] += c;
    curLength_ += c;
    b = blockEnd;
  }
}

void Subset::Recount() {
  blockBytes_ = maxLength_ / 8000 + 1;
  curLength_ = 0;
  std::memset(blockCounts_, 0, sizeof blockCounts_);
  std::int32_t b = 0;
  std::uint8_t chunk[4096];
  while (b < maskBytes_) {
    ArrayLock window = storage_.ByteWindow(headerLength_ + b, true);
    std::int32_t k = std::min<std::int32_t>(maskBytes_ - b, window.Count());
    if (window.Pointer() != nullptr && k > 0) {
      CountInto(static_cast<const std::uint8_t*>(window.Pointer()), b, k);
    } else {
      window.Unlock();
      k = std::min<std::int32_t>(maskBytes_ - b, sizeof chunk);
      storage_->Read(headerLength_ + b, chunk, k);
      CountInto(chunk, b, k);
    }
    b += k;
  }
  // Bits past MaxLength in the last byte are no members: a damaged or foreign file may hold
  // some. They are neither counted nor kept, since every later operation counts on them being
  // clear.
  if (tailBits_ != 0 && maskBytes_ > 0) {
    const std::int32_t last = maskBytes_ - 1;
    const std::uint8_t byte = storage_->GetByte(headerLength_ + last);
    const std::uint8_t extra = static_cast<std::uint8_t>(byte & ~g_runMask[0][tailBits_]);
    if (extra != 0) {
      const std::int32_t c = PopCount(&extra, 1);
      blockCounts_[BlockOf(last)] -= c;
      curLength_ -= c;
      storage_->PutByte(headerLength_ + last, static_cast<std::uint8_t>(byte & ~extra));
    }
  }
  ResetCaches();
}

void Subset::SetMaskByte(std::int32_t b, std::uint8_t old, std::uint8_t value) {
  if (b == maskBytes_ - 1 && tailBits_ != 0) {
    value &= g_runMask[0][tailBits_];  // bits past MaxLength stay zero
  }
  if (value == old) return;
  storage_->PutByte(headerLength_ + b, value);
  std::int32_t delta = g_bitCount[value] - g_bitCount[old];
  curLength_ += delta;
  blockCounts_[BlockOf(b)] += delta;
}

int Subset::Item(std::int32_t r) {
  if (r < 0 || r >= maxLength_) Raise(701);
  return BitSet(MaskByte(r / 8), r % 8) ? 1 : 0;
}

void Subset::ChangeRange(std::int32_t r, std::int32_t n, Change how) {
  if (r < 0 || r > maxLength_) Raise(701);
  if (n == -1) n = maxLength_ - r;
  if (n < 0 || n > maxLength_ - r) Raise(704);
  auto apply = [&](std::int32_t b, std::uint8_t mask) {
    std::uint8_t old = MaskByte(b);
    std::uint8_t v = how == Change::kInclude   ? static_cast<std::uint8_t>(old | mask)
                     : how == Change::kExclude ? static_cast<std::uint8_t>(old & ~mask)
                                               : static_cast<std::uint8_t>(old ^ mask);
    SetMaskByte(b, old, v);
  };
  std::int32_t b = r / 8;
  if (r % 8 != 0 && n > 0) {
    std::uint8_t m = g_runMask[r % 8][std::min(n, 7)];
    apply(b, m);
    n -= g_bitCount[m];
    ++b;
  }
  std::int32_t whole = n / 8;
  if (whole > 0) {
    // Whole bytes through a buffer: read, change, write back, counting the difference.
    std::uint8_t chunk[4096];
    while (whole > 0) {
      std::int32_t k = std::min<std::int32_t>(whole, sizeof chunk);
      storage_->Read(headerLength_ + b, chunk, k);
      for (std::int32_t j = 0; j < k; ++j) {
        std::uint8_t old = chunk[j];
        std::uint8_t v = how == Change::kInclude ? 0xFF : how == Change::kExclude ? 0 : static_cast<std::uint8_t>(~old);
        if (b + j == maskBytes_ - 1 && tailBits_ != 0) v &= g_runMask[0][tailBits_];
        std::int32_t delta = g_bitCount[v] - g_bitCount[old];
        curLength_ += delta;
        blockCounts_[BlockOf(b + j)] += delta;
        chunk[j] = v;
      }
      storage_->Write(headerLength_ + b, chunk, k);
      b += k;
      whole -= k;
    }
  }
  if (n % 8 != 0) apply(b, g_runMask[0][n % 8]);
  ResetCaches();
}

void Subset::IncludeRange(std::int32_t r, std::int32_t n) { ChangeRange(r, n, Change::kInclude); }
void Subset::ExcludeRange(std::int32_t r, std::int32_t n) { ChangeRange(r, n, Change::kExclude); }
void Subset::ToggleRange(std::int32_t r, std::int32_t n) { ChangeRange(r, n, Change::kToggle); }

std::int32_t Subset::BaseNum(std::int32_t i) {
  if (i < 0 || i >= curLength_) Raise(702);
  std::int32_t b, before, block, blockEnd;
  if (cacheSub_ >= 0 && i >= cacheSub_ && i < cacheBlockEnd_) {
    // Ascending queries go on from the cached byte: cost proportional to the distance moved.
    b = cacheByte_, before = cacheBefore_, block = cacheBlock_, blockEnd = cacheBlockEnd_;
  } else {
    // Otherwise the block counts lead to the block that holds member i.
    block = 0;
    before = 0;
    while (block < kBlocks - 1 && before + blockCounts_[block] <= i) before += blockCounts_[block++];
    b = block * blockBytes_;
    blockEnd = block == kBlocks - 1 ? curLength_ : before + blockCounts_[block];
  }
  std::uint8_t chunk[512];
  while (b < maskBytes_) {
    std::int32_t k = std::min<std::int32_t>(maskBytes_ - b, sizeof chunk);
    storage_->Read(headerLength_ + b, chunk, k);
    for (std::int32_t j = 0; j < k; ++j) {
      std::uint8_t v = chunk[j];
      if (before + g_bitCount[v] > i) {
        std::int32_t want = i - before;
        for (int bit = 0; bit < 8; ++bit) {
          if (BitSet(v, bit) && want-- == 0) {
            cacheSub_ = i;
            cacheByte_ = b + j;
            cacheBefore_ = before;
            cacheBlock_ = block;
            cacheBlockEnd_ = blockEnd;
            return (b + j) * 8 + bit;
          }
        }
      }
      before += g_bitCount[v];
    }
    b += k;
  }
  Raise(702);  // the counts disagree with the mask: the storage changed under the set
}

std::int32_t Subset::Rank(std::int32_t r) {
  if (r < 0 || r > maxLength_) Raise(701);
  std::int32_t byte = r / 8;
  std::int32_t k = BlockOf(byte);
  std::int32_t count = 0;
  for (std::int32_t j = 0; j < k; ++j) count += blockCounts_[j];
  std::int32_t b = k * blockBytes_;
  std::uint8_t chunk[512];
  while (b < byte) {
    std::int32_t n = std::min<std::int32_t>(byte - b, sizeof chunk);
    storage_->Read(headerLength_ + b, chunk, n);
    for (std::int32_t j = 0; j < n; ++j) count += g_bitCount[chunk[j]];
    b += n;
  }
  if (r % 8 != 0) count += g_bitCount[MaskByte(byte) & g_runMask[0][r % 8]];
  return count;
}

void Subset::Expand(std::int32_t n) {
  if (n < 0 || static_cast<std::int64_t>(maxLength_) + n > 0x7FFFFFFF) Raise(704);
  std::int32_t oldBytes = maskBytes_;
  std::int32_t oldBlockBytes = blockBytes_;
  Setup(maxLength_ + n);
  static const std::uint8_t zeros[4096] = {};
  std::int32_t at = oldBytes;
  while (at < maskBytes_) {
    std::int32_t k = std::min<std::int32_t>(maskBytes_ - at, sizeof zeros);
    storage_->Write(headerLength_ + at, zeros, k);
    at += k;
  }
  if (maxLength_ / 8000 + 1 != oldBlockBytes) Recount();
  ResetCaches();
}

void Subset::Combine(Subset& other, int op) {
  if (other.maxLength_ != maxLength_) Raise(705);
  if (&other == this) {
    if (op == 2) ExcludeRange(0, maxLength_);  // s AND NOT s
    return;
  }
  auto apply = [op](std::uint8_t* mine, const std::uint8_t* theirs, std::int32_t n) {
    std::int32_t j = 0;
    for (; j + 8 <= n; j += 8) {
      std::uint64_t a, b;
      std::memcpy(&a, mine + j, 8);
      std::memcpy(&b, theirs + j, 8);
      a = op == 0 ? (a & b) : op == 1 ? (a | b) : (a & ~b);
      std::memcpy(mine + j, &a, 8);
    }
    for (; j < n; ++j) {
      mine[j] = op == 0 ? static_cast<std::uint8_t>(mine[j] & theirs[j])
                : op == 1 ? static_cast<std::uint8_t>(mine[j] | theirs[j])
                          : static_cast<std::uint8_t>(mine[j] & ~theirs[j]);
    }
  };
  // The result is counted as it is made: no second pass over the mask.
  curLength_ = 0;
  std::memset(blockCounts_, 0, sizeof blockCounts_);
  std::uint8_t mineBuf[4096], theirsBuf[4096];
  std::int32_t b = 0;
  while (b < maskBytes_) {
    ArrayLock mine = storage_.ByteWindow(headerLength_ + b, true);
    ArrayLock theirs = other.storage_.ByteWindow(other.headerLength_ + b, true);
    std::int32_t k = std::min<std::int32_t>({maskBytes_ - b, mine.Count(), theirs.Count()});
    if (mine.Pointer() != nullptr && theirs.Pointer() != nullptr && k > 0) {
      auto* p = static_cast<std::uint8_t*>(mine.Pointer());
      apply(p, static_cast<const std::uint8_t*>(theirs.Pointer()), k);
      mine.SetModified();
      CountInto(p, b, k);
    } else {
      mine.Unlock();
      theirs.Unlock();
      k = std::min<std::int32_t>(maskBytes_ - b, sizeof mineBuf);
      storage_->Read(headerLength_ + b, mineBuf, k);
      other.storage_->Read(other.headerLength_ + b, theirsBuf, k);
      apply(mineBuf, theirsBuf, k);
      storage_->Write(headerLength_ + b, mineBuf, k);
      CountInto(mineBuf, b, k);
    }
    b += k;
  }
  ResetCaches();
}

void Subset::Intersect(Subset& other) { Combine(other, 0); }
void Subset::Join(Subset& other) { Combine(other, 1); }
void Subset::Subtract(Subset& other) { Combine(other, 2); }

void Subset::CopyFrom(Subset& other) {
  if (&other == this) return;
  storage_.Replace(headerLength_, storage_->Count() - headerLength_, other.storage_,
                   other.headerLength_, other.maskBytes_);
  maxLength_ = other.maxLength_;
  curLength_ = other.curLength_;
  maskBytes_ = other.maskBytes_;
  tailBits_ = other.tailBits_;
  std::memcpy(blockCounts_, other.blockCounts_, sizeof blockCounts_);
  blockBytes_ = other.blockBytes_;
  ResetCaches();
}

std::int32_t Subset::CommentLength() {
  if (oldFormat_) return std::min<std::int32_t>(storage_->GetByte(43), 30);
  return headerLength_;
}

void Subset::GetComment(char* buffer) {
  std::int32_t n = CommentLength();
  if (n > 0) storage_->Read(oldFormat_ ? 44 : 0, buffer, n);
  buffer[n] = 0;
}

void Subset::SetComment(const char* text, std::int32_t length) {
  if (oldFormat_) return;
  if (length < 0) length = 0;
  if (length > 65535) length = 65535;
  storage_.ResizeRegion(0, headerLength_, length);
  if (length > 0) storage_->Write(0, text, length);
  headerLength_ = length;
  ResetCaches();
}

std::int32_t Subset::ScanFrom(std::int32_t byte, std::uint8_t bits) {
  // bits: the copy of the current byte with the bits before the cursor cleared.
  for (;;) {
    if (bits != 0) {
      for (int bit = 0; bit < 8; ++bit) {
        if (BitSet(bits, bit)) {
          scanByte_ = byte;
          scanBit_ = static_cast<std::int8_t>(bit);
          return byte * 8 + bit;
        }
      }
    }
    CommitScanByte();
    ++byte;
    if (byte >= maskBytes_) {
      scanByte_ = maskBytes_;
      ResetCaches();
      return -1;
    }
    scanByte_ = byte;
    scanOriginal_ = scanCopy_ = MaskByte(byte);
    bits = scanCopy_;
  }
}

void Subset::CommitScanByte() {
  if (scanRemovals_ != 0 && scanByte_ >= 0 && scanByte_ < maskBytes_) {
    storage_->PutByte(headerLength_ + scanByte_, scanCopy_);
    curLength_ -= scanRemovals_;
    blockCounts_[BlockOf(scanByte_)] -= scanRemovals_;
    scanRemovals_ = 0;
    ResetCaches();
  }
}

std::int32_t Subset::SeqInitBase(std::int32_t r) {
  if (r < 0 || r > maxLength_) Raise(701);
  scanRemovals_ = 0;
  if (r == maxLength_) {
    scanByte_ = maskBytes_;
    return -1;
  }
  std::int32_t byte = r / 8;
  scanByte_ = byte;
  scanOriginal_ = scanCopy_ = MaskByte(byte);
  std::uint8_t bits = static_cast<std::uint8_t>(scanCopy_ & ~g_runMask[0][r % 8]);
  return ScanFrom(byte, bits);
}

std::int32_t Subset::SeqInitSet(std::int32_t i) {
  std::int32_t r = BaseNum(i);  // 702 when out of range
  return SeqInitBase(r);
}

std::int32_t Subset::SeqNext() {
  if (scanByte_ < 0 || scanByte_ >= maskBytes_) return -1;
  int next = scanBit_ + 1;
  std::uint8_t bits = next >= 8 ? 0 : static_cast<std::uint8_t>(scanCopy_ & ~g_runMask[0][next]);
  return ScanFrom(scanByte_, bits);
}

std::int32_t Subset::SeqNextExclude() {
  if (scanByte_ < 0 || scanByte_ >= maskBytes_) return -1;
  std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> scanBit_);
  if (scanCopy_ & bit) {
    scanCopy_ = static_cast<std::uint8_t>(scanCopy_ & ~bit);
    ++scanRemovals_;
  }
  return SeqNext();
}

void Subset::SeqStop() {
  CommitScanByte();
  scanByte_ = -1;
  ResetCaches();
}

void Subset::GetMaskBytes(std::int32_t b, std::uint8_t* out, std::int32_t n) {
  if (b < 0 || n < 0 || n > maskBytes_ - b) Raise(704);
  if (n > 0) storage_->Read(headerLength_ + b, out, n);
}

void Subset::PutMaskBytes(std::int32_t b, const std::uint8_t* in, std::int32_t n) {
  if (b < 0 || n < 0 || n > maskBytes_ - b) Raise(704);
  scanByte_ = -1;
  if (n > 0) storage_->Write(headerLength_ + b, in, n);
  Recount();
  ResetCaches();
}

void Subset::Update() { storage_->Flush(); }

}  // namespace ludrex
