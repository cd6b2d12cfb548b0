#include "search/subset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "capture.h"

namespace ludrex {
namespace {

using testing::CaptureScope;
using testing::LastErrorCode;

std::unique_ptr<Subset> Tmp(std::int32_t n) { return std::unique_ptr<Subset>(Subset::CreateTmp(n)); }

std::uint8_t RawMaskByte(Subset& s, std::int32_t b) {
  return s.Storage()->GetByte(s.HeaderLength() + b);
}

TEST(SubsetBits, RecordZeroIsTheTopBitAndTailBitsStayClear) {
  CaptureScope scope;
  auto s = Tmp(10);
  EXPECT_EQ(s->MaskBytes(), 2);
  s->IncludeRange(9, 1);
  EXPECT_EQ(RawMaskByte(*s, 1), 0x40);
  s->IncludeRange(0, 1);
  EXPECT_EQ(RawMaskByte(*s, 0), 0x80);
  s->ToggleRange(0, -1);  // all 10 flipped; bits past record 9 stay zero
  EXPECT_EQ(RawMaskByte(*s, 1), 0x80);
  EXPECT_EQ(s->CurLength(), 8);
}

// A stored mask whose last byte holds bits past MaxLength (a damaged file): they are no members.
TEST(SubsetBits, StoredBitsPastTheEndAreNotCounted) {
  CaptureScope scope;
  for (std::int32_t max : {3, 10, 17}) {
    ArrayHandle storage(NewMemArray(0));
    storage->Init(1);
    storage->Expandable(1);
    std::vector<std::uint8_t> mask(static_cast<std::size_t>((max + 7) / 8), 0xFF);
    storage->Write(0, mask.data(), static_cast<std::int32_t>(mask.size()));
    std::unique_ptr<Subset> s(Subset::OpenIn(std::move(storage), max));
    EXPECT_EQ(s->CurLength(), max) << max;
    std::int32_t members = 0;
    for (std::int32_t r = 0; r < max; ++r) members += s->Item(r);
    EXPECT_EQ(members, max);
    s->ExcludeRange(0, max);
    EXPECT_EQ(s->CurLength(), 0) << max;
  }
}

TEST(SubsetBits, RangesAndTheirLimits) {
  CaptureScope scope;
  auto s = Tmp(20);
  s->IncludeRange(3, -1);
  EXPECT_EQ(s->CurLength(), 17);
  EXPECT_EQ(s->Item(2), 0);
  EXPECT_EQ(s->Item(3), 1);
  EXPECT_EQ(s->Item(19), 1);
  EXPECT_THROW(s->IncludeRange(5, 16), Failure);
  EXPECT_EQ(LastErrorCode(), 704u);
  EXPECT_THROW(s->Item(20), Failure);
  EXPECT_EQ(LastErrorCode(), 701u);
  EXPECT_THROW(s->IncludeRange(21, 0), Failure);
  EXPECT_EQ(LastErrorCode(), 701u);
  s->IncludeRange(20, 0);  // an empty range at the end is fine
  s->ExcludeRange(5, 10);
  EXPECT_EQ(s->CurLength(), 7);
  EXPECT_EQ(s->BaseNum(s->CurLength() - 1), 19);
  EXPECT_THROW(s->BaseNum(7), Failure);
  EXPECT_EQ(LastErrorCode(), 702u);
}

// Include/exclude/toggle of random ranges agree with a plain vector<bool>, and so do the member
// count, membership, BaseNum (in random and ascending order) and Rank.
TEST(SubsetModel, RandomOperationsAgreeWithAPlainModel) {
  CaptureScope scope;
  std::mt19937 rng(12345);
  for (std::int32_t size : {1, 7, 8, 9, 1000, 7999, 8000, 65537, 1000000}) {
    auto s = Tmp(size);
    std::vector<bool> model(static_cast<std::size_t>(size));
    int ops = size > 100000 ? 60 : 200;
    for (int op = 0; op < ops; ++op) {
      std::int32_t r = static_cast<std::int32_t>(rng() % (size + 1));
      std::int32_t n = static_cast<std::int32_t>(rng() % (size - r + 1));
      if (rng() % 4 == 0) n = std::min<std::int32_t>(n, 12);
      int kind = static_cast<int>(rng() % 3);
      if (kind == 0) s->IncludeRange(r, n);
      if (kind == 1) s->ExcludeRange(r, n);
      if (kind == 2) s->ToggleRange(r, n);
      for (std::int32_t k = r; k < r + n; ++k) {
        model[k] = kind == 0 ? true : kind == 1 ? false : !model[k];
      }
    }
    std::vector<std::int32_t> members;
    for (std::int32_t k = 0; k < size; ++k) {
      if (model[k]) members.push_back(k);
    }
    ASSERT_EQ(s->CurLength(), static_cast<std::int32_t>(members.size())) << size;
    for (int q = 0; q < 300 && !members.empty(); ++q) {
      std::int32_t i = static_cast<std::int32_t>(rng() % members.size());
      ASSERT_EQ(s->BaseNum(i), members[i]);
      std::int32_t r = static_cast<std::int32_t>(rng() % size);
      ASSERT_EQ(s->Item(r), model[r] ? 1 : 0);
      ASSERT_EQ(s->Rank(r), std::lower_bound(members.begin(), members.end(), r) - members.begin());
    }
    for (std::size_t i = 0; i < members.size(); ++i) {
      ASSERT_EQ(s->BaseNum(static_cast<std::int32_t>(i)), members[i]);  // ascending, cached
    }
    // A sequential scan visits the same members.
    std::vector<std::int32_t> seen;
    for (std::int32_t r = s->SeqInitBase(0); r >= 0; r = s->SeqNext()) seen.push_back(r);
    s->SeqStop();
    ASSERT_EQ(seen, members);
  }
}

TEST(SubsetScan, ExcludingEveryMemberEmptiesTheSet) {
  CaptureScope scope;
  auto s = Tmp(100);
  s->IncludeRange(10, 50);
  s->IncludeRange(90, 10);
  int visited = 0;
  for (std::int32_t r = s->SeqInitBase(0); r >= 0; r = s->SeqNextExclude()) ++visited;
  s->SeqStop();
  EXPECT_EQ(visited, 60);
  EXPECT_EQ(s->CurLength(), 0);
  EXPECT_EQ(s->SeqInitBase(0), -1);
}

TEST(SubsetScan, StartsAtAnyRecordAndMemberAndStopsAtTheEnd) {
  CaptureScope scope;
  auto s = Tmp(40);
  s->IncludeRange(5, 1);
  s->IncludeRange(17, 1);
  s->IncludeRange(39, 1);
  EXPECT_EQ(s->SeqInitBase(6), 17);
  EXPECT_EQ(s->SeqNext(), 39);
  EXPECT_EQ(s->SeqNext(), -1);
  EXPECT_EQ(s->SeqInitBase(40), -1);
  EXPECT_EQ(s->SeqInitSet(1), 17);
  EXPECT_EQ(s->SeqNextExclude(), 39);
  s->SeqStop();
  EXPECT_EQ(s->CurLength(), 2);
  EXPECT_EQ(s->Item(17), 0);
  EXPECT_THROW(s->SeqInitBase(41), Failure);
  EXPECT_EQ(LastErrorCode(), 701u);
  EXPECT_THROW(s->SeqInitSet(2), Failure);
  EXPECT_EQ(LastErrorCode(), 702u);
}

TEST(SubsetOps, CombineExpandAndCopy) {
  CaptureScope scope;
  auto a = Tmp(30), b = Tmp(30), c = Tmp(31);
  a->IncludeRange(0, 20);
  b->IncludeRange(10, 20);
  auto i = std::unique_ptr<Subset>(Subset::CreateTmpCopy(*a));
  i->Intersect(*b);
  EXPECT_EQ(i->CurLength(), 10);
  EXPECT_EQ(i->BaseNum(0), 10);
  i->Join(*a);
  EXPECT_EQ(i->CurLength(), 20);
  i->Subtract(*b);
  EXPECT_EQ(i->CurLength(), 10);
  EXPECT_EQ(i->BaseNum(9), 9);
  EXPECT_THROW(i->Join(*c), Failure);
  EXPECT_EQ(LastErrorCode(), 705u);
  a->Expand(10000);
  EXPECT_EQ(a->MaxLength(), 10030);
  EXPECT_EQ(a->CurLength(), 20);
  EXPECT_EQ(a->Item(10029), 0);
  a->IncludeRange(10029, 1);
  EXPECT_EQ(a->BaseNum(20), 10029);
  c->SetComment("note", 4);
  c->CopyFrom(*a);
  EXPECT_EQ(c->MaxLength(), 10030);
  EXPECT_EQ(c->CurLength(), 21);
  EXPECT_EQ(c->BaseNum(20), 10029);
  EXPECT_EQ(c->CommentLength(), 4);  // the comment stays
}

TEST(SubsetComment, MovesTheMaskAndKeepsTheMembers) {
  CaptureScope scope;
  auto s = Tmp(24);
  s->IncludeRange(0, 1);
  s->IncludeRange(23, 1);
  s->SetComment("hello", 5);
  EXPECT_EQ(s->HeaderLength(), 5);
  EXPECT_EQ(s->Storage()->Count(), 8);
  EXPECT_EQ(RawMaskByte(*s, 0), 0x80);
  EXPECT_EQ(s->Item(23), 1);
  char buf[16];
  s->GetComment(buf);
  EXPECT_STREQ(buf, "hello");
  s->SetComment("", 0);
  EXPECT_EQ(s->Storage()->Count(), 3);
  EXPECT_EQ(s->BaseNum(1), 23);
}

}  // namespace
}  // namespace ludrex
