#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "capture.h"
#include "storage/memory.h"

namespace ludrex {
namespace {

using testing::CaptureScope;
using testing::LastErrorCode;

TEST(MemAlloc, ZeroGivesNullAndHugeRaises2) {
  CaptureScope scope;
  EXPECT_EQ(MemAlloc(0), nullptr);
  EXPECT_EQ(LastErrorCode(), 0u);
  EXPECT_THROW(MemAlloc(0x80000000LL), Failure);
  EXPECT_EQ(LastErrorCode(), 2u);
  EXPECT_EQ(MemRealloc(MemAlloc(16), 0), nullptr);  // size 0 frees
  MemFree(nullptr);
}

TEST(CompareBytes, UnsignedAndLengthAware) {
  unsigned char a[5] = {1, 2, 3, 0, 0};
  unsigned char b[5] = {1, 2, 3, 9, 9};
  EXPECT_EQ(CompareBytes(a, 3, b, 5), -1);
  EXPECT_EQ(CompareBytes(b, 5, a, 3), 1);
  EXPECT_EQ(CompareBytes(a, 3, b, 3), 0);
  EXPECT_EQ(CompareBytes(a, b, 0), 0);
  EXPECT_EQ(CompareBytes(a, b, -4), 0);
  unsigned char hi[1] = {0x80}, lo[1] = {0x7F};
  EXPECT_EQ(CompareBytes(hi, lo, 1), 1);  // bytes compare unsigned
}

TEST(SwapBytes, MovesBlocksBothWays) {
  char p[16] = "0123456abcDEFG";
  SwapBytes(p, 10, 4, -3);  // D E F G over a b c
  EXPECT_EQ(std::string(p + 7, 7), "DEFGabc");
  char q[8] = "abcde";
  SwapBytes(q, 0, 3, 2);
  EXPECT_EQ(std::string(q, 5), "deabc");
  SwapBytes(q, 0, 3, 0);
  EXPECT_EQ(std::string(q, 5), "deabc");
}

TEST(SwapBytes, EqualsARotationForRandomLayouts) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    int n = 1 + static_cast<int>(rng() % 64);
    std::string s(static_cast<std::size_t>(n), ' ');
    for (auto& c : s) c = static_cast<char>('a' + rng() % 26);
    int off = static_cast<int>(rng() % n);
    int len = static_cast<int>(rng() % (n - off + 1));
    int room = n - off - len;  // bytes available above the block
    int shift = room > 0 ? 1 + static_cast<int>(rng() % room) : 0;
    if (rng() % 2 && off > 0) shift = -(1 + static_cast<int>(rng() % off));
    std::string expect = s;
    if (shift > 0) {
      std::rotate(expect.begin() + off, expect.begin() + off + len, expect.begin() + off + len + shift);
    } else if (shift < 0) {
      std::rotate(expect.begin() + off + shift, expect.begin() + off, expect.begin() + off + len);
    }
    SwapBytes(s.data(), off, len, shift);
    ASSERT_EQ(s, expect) << "off " << off << " len " << len << " shift " << shift;
  }
}

TEST(FillAndFindByte, CoverOddLengths) {
  char p[11];
  std::memset(p, 0, sizeof p);
  FillBytes(p, 7, 'x');
  EXPECT_EQ(std::string(p), "xxxxxxx");
  EXPECT_EQ(FindByte('x', p, 11), 0);
  EXPECT_EQ(FindByte(0, p, 11), 7);
  EXPECT_EQ(FindByte('q', p, 11), 11);
  EXPECT_EQ(FindByte('x', p, 0), 0);
}

TEST(RamArray, GrowsByGranularityAndChecksBounds) {
  CaptureScope scope;
  RamArray<int> a(4);
  for (int i = 0; i < 5; ++i) a.Append(i);
  EXPECT_EQ(a.Count(), 5);
  EXPECT_EQ(a.Capacity(), 8);
  a.Insert(0, a[4]);  // an element of the array itself
  EXPECT_EQ(a[0], 4);
  a.Remove(0, 2);
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(a.Capacity(), 8);  // never shrinks
  EXPECT_THROW(a[4], Failure);
  EXPECT_EQ(LastErrorCode(), 12u);
  EXPECT_THROW(a.SetCount(-1), Failure);
  EXPECT_EQ(LastErrorCode(), 14u);
  EXPECT_THROW(RamArray<std::int64_t>().SetCount(0x10000000), Failure);
  EXPECT_EQ(LastErrorCode(), 2u);
}

}  // namespace
}  // namespace ludrex
