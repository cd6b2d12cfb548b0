// LegacyVolumeArray: a read-only member of the older container file. The container is a
// sequence of 1024-byte blocks; its first 998 bytes hold a marker ('M' or 'm' at byte 254), the
// number of directory entries (16 bits at byte 260) and entries of 23 bytes from byte 262:
// length (signed 32), first block-table block (16 bits), name length (8 bits), name (16 bytes).
// A block table is a 1024-byte block of 512 16-bit block numbers; a member of more than 511
// blocks continues its table in the block named by the table's last number.
#include <algorithm>
#include <cstring>

#include "frame/error.h"
#include "storage/array.h"

namespace ludrex {

namespace {
constexpr std::int32_t kBlock = 1024;
constexpr std::int32_t kHeaderBytes = 998;
constexpr std::int32_t kEntryBytes = 23;
constexpr std::int32_t kFirstEntry = 262;
constexpr std::int32_t kMaxBlocks = 1023;

std::uint16_t Word(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
}  // namespace

LegacyVolumeArray::LegacyVolumeArray(Array* container, const char* memberName)
    : container_(container),
      name_(String::Copy(
          memberName != nullptr ? memberName : "",
          memberName != nullptr ? static_cast<std::uint32_t>(std::strlen(memberName)) : 0)) {
  expandable_ = false;
}

String LegacyVolumeArray::FileName() { return String::Copy(name_.Text(), name_.Length()); }

// Reads container bytes; a range outside the container is a damaged file: 512.
void LegacyVolumeArray::ReadContainer(std::int64_t pos, void* buffer, std::int32_t n) {
  if (pos < 0 || pos + n > container_->Count()) Raise(512, name_.Text());
  container_->Read(static_cast<std::int32_t>(pos), buffer, n);
}

std::int32_t LegacyVolumeArray::Init(std::uint16_t elementSize) {
  if (container_ == nullptr) Raise(520);
  elementSize_ = elementSize == 0 ? 1 : elementSize;
  if (container_->ElementSize() != 1 || container_->Count() < kHeaderBytes)
    Raise(503, name_.Text());
  unsigned char head[kHeaderBytes];
  container_->Read(0, head, kHeaderBytes);
  if (head[254] != 'M' && head[254] != 'm') Raise(503, name_.Text());
  std::int32_t entries = Word(head + 260);
  // Only the entries that lie inside the 998 header bytes can be read.
  entries = std::min(entries, (kHeaderBytes - kFirstEntry) / kEntryBytes);
  const unsigned char* found = nullptr;
  for (std::int32_t i = 0; i < entries && found == nullptr; ++i) {
    const unsigned char* e = head + kFirstEntry + i * kEntryBytes;
    std::uint8_t len = e[6];
    if (len == name_.Length() && std::memcmp(e + 7, name_.Text(), std::min<int>(len, 16)) == 0) {
      found = e;
    }
  }
  if (found == nullptr) Raise(503, name_.Text());
  std::int32_t length;
  std::memcpy(&length, found, 4);
  if (length < 0) Raise(512, name_.Text());
  count_ = length / elementSize_;
  std::int64_t bytes = static_cast<std::int64_t>(count_) * elementSize_;
  blocks_ = static_cast<std::int32_t>((bytes + kBlock - 1) / kBlock);
  if (blocks_ > kMaxBlocks) Raise(512, name_.Text());
  if (blocks_ > 0) {
    unsigned char raw[kBlock];
    std::int64_t tablePos = static_cast<std::int64_t>(Word(found + 4)) * kBlock;
    std::int32_t first = std::min(blocks_, 512) * 2;
    ReadContainer(tablePos, raw, blocks_ > 511 ? kBlock : first);
    for (std::int32_t i = 0; i < std::min(blocks_, 512); ++i) table_[i] = Word(raw + 2 * i);
    if (blocks_ > 511) {
      std::int64_t second = static_cast<std::int64_t>(table_[511]) * kBlock;
      ReadContainer(second, raw, (blocks_ - 511) * 2);
      for (std::int32_t i = 511; i < blocks_; ++i) table_[i] = Word(raw + 2 * (i - 511));
    }
    // Every data block must lie inside the container (the last one only as far as it is used).
    for (std::int32_t k = 0; k < blocks_; ++k) {
      std::int64_t used =
          std::min<std::int64_t>(kBlock, bytes - static_cast<std::int64_t>(k) * kBlock);
      if (static_cast<std::int64_t>(table_[k]) * kBlock + used > container_->Count()) {
        Raise(512, name_.Text());
      }
    }
  }
  position_ = 0;
  return count_;
}

void LegacyVolumeArray::Read(std::int32_t index, void* buffer, std::int32_t n) {
  CheckRead(index, n);
  char* out = static_cast<char*>(buffer);
  std::int64_t o = static_cast<std::int64_t>(index) * elementSize_;
  std::int64_t remaining = static_cast<std::int64_t>(n) * elementSize_;
  while (remaining > 0) {
    std::int32_t k = static_cast<std::int32_t>(o / kBlock);
    std::int32_t within = static_cast<std::int32_t>(o % kBlock);
    std::int32_t piece =
        static_cast<std::int32_t>(std::min<std::int64_t>(remaining, kBlock - within));
    ReadContainer(static_cast<std::int64_t>(table_[k]) * kBlock + within, out, piece);
    out += piece;
    o += piece;
    remaining -= piece;
  }
  position_ = index + n;
}

void LegacyVolumeArray::Write(std::int32_t, const void*, std::int32_t) { Raise(513, name_.Text()); }

void LegacyVolumeArray::Extend(std::int32_t delta) {
  if (delta != 0) Raise(518, name_.Text());
}

}  // namespace ludrex
