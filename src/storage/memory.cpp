#include "storage/memory.h"

#include <algorithm>
#include <cstdlib>

#include "platform/platform.h"

namespace ludrex {

void* MemAlloc(std::int64_t size) {
  if (size <= 0) return nullptr;
  if (size > kMaxAlloc) Raise(2);
  void* p = std::malloc(static_cast<std::size_t>(size));
  if (p == nullptr) Raise(1);
  return p;
}

void MemFree(void* block) { std::free(block); }

void* MemRealloc(void* block, std::int64_t size) {
  if (size <= 0) {
    std::free(block);
    return nullptr;
  }
  if (size > kMaxAlloc) Raise(2);
  void* p = std::realloc(block, static_cast<std::size_t>(size));
  if (p == nullptr) Raise(1);  // the old block stays valid and owned by the caller
  return p;
}

std::uint64_t AvailMem() { return platform::AvailVirtualMemory(); }

std::int32_t MaxAvail() {
  std::uint64_t a = AvailMem();
  return a > static_cast<std::uint64_t>(kMaxAlloc) ? static_cast<std::int32_t>(kMaxAlloc)
                                                   : static_cast<std::int32_t>(a);
}

int CompareBytes(const void* a, const void* b, std::int64_t n) {
  if (n < 1) return 0;
  int c = std::memcmp(a, b, static_cast<std::size_t>(n));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareBytes(const void* a, std::int64_t na, const void* b, std::int64_t nb) {
  int c = CompareBytes(a, b, std::min(na, nb));
  if (c != 0) return c;
  return na > nb ? 1 : (na < nb ? -1 : 0);
}

void FillBytes(void* p, std::int64_t n, unsigned char value) {
  if (n > 0) std::memset(p, value, static_cast<std::size_t>(n));
}

void SwapBytes(void* base, std::int64_t offset, std::int64_t length, std::int64_t shift) {
  if (shift == 0) return;
  auto* bytes = static_cast<unsigned char*>(base);
  std::int64_t low, high, n;
  if (shift > 0) {
    low = offset, high = offset + length, n = shift;
  } else {
    low = offset + shift, high = offset, n = length;
  }
  std::int64_t t = std::min<std::int64_t>(n, MaxAvail());
  if (n <= 0 || high <= low) return;  // nothing passes over anything
  auto* tmp = static_cast<unsigned char*>(MemAlloc(t));
  std::int64_t moved = 0;
  while (moved < n) {
    std::int64_t c = std::min(t, n - moved);
    std::memcpy(tmp, bytes + high, static_cast<std::size_t>(c));
    std::memmove(bytes + low + c, bytes + low, static_cast<std::size_t>(high - low));
    std::memcpy(bytes + low, tmp, static_cast<std::size_t>(c));
    low += c, high += c, moved += c;
  }
  MemFree(tmp);
}

std::int32_t FindByte(unsigned char c, const void* p, std::int32_t n) {
  if (n < 1) return 0;
  const void* hit = std::memchr(p, c, static_cast<std::size_t>(n));
  return hit == nullptr ? n : static_cast<std::int32_t>(static_cast<const unsigned char*>(hit) -
                                                        static_cast<const unsigned char*>(p));
}

}  // namespace ludrex
