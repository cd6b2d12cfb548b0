#include "storage/array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "storage/files.h"
#include "storage_support.h"

namespace ludrex {
namespace {

using testing::CaptureScope;
using testing::ErrorOf;
using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteAll;

ArrayHandle Mem(std::int32_t count, std::uint16_t es) {
  ArrayHandle h(NewMemArray(count));
  h->Init(es);
  return h;
}

// A MemArray of n 32-bit elements 0, 1, 2, ...
ArrayHandle Counting(std::int32_t n) {
  ArrayHandle h = Mem(n, 4);
  for (std::int32_t i = 0; i < n; ++i) h->PutLong(i, static_cast<std::uint32_t>(i));
  return h;
}

std::vector<std::uint32_t> Longs(Array* a) {
  std::vector<std::uint32_t> v(static_cast<std::size_t>(a->Count()));
  if (!v.empty()) a->Read(0, v.data(), a->Count());
  return v;
}

TEST(MemArray, GrowsOnlyWhenExpandable) {
  CaptureScope scope;
  ArrayHandle a = Mem(10, 4);
  std::uint32_t ten[10] = {};
  EXPECT_EQ(ErrorOf([&] { a->Write(10, ten, 10); }), 517u);
  EXPECT_EQ(ErrorOf([&] { a->PutLong(10, 1); }), 517u);
  EXPECT_FALSE(a->Expandable(3));
  EXPECT_TRUE(a->Expandable(1));
  a->Write(10, ten, 10);
  EXPECT_EQ(a->Count(), 20);
  EXPECT_EQ(a->Position(), 20);
  EXPECT_FALSE(a->Expandable(2));  // toggles
  EXPECT_TRUE(a->Expandable(2));
  EXPECT_TRUE(a->Expandable(3));  // reads only
  EXPECT_FALSE(a->Expandable(0));
}

TEST(MemArray, BoundsAndOverflowRaise517) {
  CaptureScope scope;
  ArrayHandle a = Mem(4, 1);
  char b[8];
  EXPECT_EQ(ErrorOf([&] { a->Read(-1, b, 1); }), 517u);
  EXPECT_EQ(ErrorOf([&] { a->Read(2, b, 3); }), 517u);
  EXPECT_EQ(ErrorOf([&] { a->Read(0, b, -1); }), 517u);
  EXPECT_EQ(ErrorOf([&] { a->GetByte(4); }), 517u);
  a->Expandable(1);
  // index + n past 2^31 - 1 never wraps around to a small index.
  EXPECT_EQ(ErrorOf([&] { a->Write(2147483647, b, 1); }), 517u);
  EXPECT_EQ(ErrorOf([&] { a->Extend(-5); }), 517u);
  EXPECT_EQ(ErrorOf([&] { a->LockForward(5); }), 517u);
  EXPECT_EQ(a->Count(), 4);
}

TEST(MemArray, LocksReachAtMost65535Elements) {
  CaptureScope scope;
  ArrayHandle a = Mem(70000, 1);
  char* base = static_cast<MemArray*>(a.Get())->Data();
  EXPECT_EQ(a->LockForward(10), base + 10);
  EXPECT_EQ(a->LockedCount(), 65535);
  EXPECT_EQ(a->LockForward(69990), base + 69990);
  EXPECT_EQ(a->LockedCount(), 10);
  EXPECT_EQ(a->LockBackward(100), base);
  EXPECT_EQ(a->LockedCount(), 100);
  EXPECT_EQ(a->LockBackward(70000), base + 70000 - 65535);
}

TEST(FileArray, CreateOpenCountsAndTemporaryFiles) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "a.dat";
  {
    ArrayHandle f(NewFileArray(5, name.c_str()));
    EXPECT_EQ(f->Init(8), 5);
    EXPECT_EQ(f->ElementsPerKilobyte(), 128);
    EXPECT_EQ(f->FileName().Length(), name.size());
  }
  EXPECT_EQ(ReadAll(name).size(), 40u);
  WriteAll(name, std::vector<unsigned char>(41, 7));
  {
    ArrayHandle f(NewFileArray(-1, name.c_str()));
    EXPECT_EQ(f->Init(8), 5);
    // Writing 10 elements at Count grows the file by 10 (FileArray is Expandable).
    std::vector<char> ten(80, 1);
    f->Write(5, ten.data(), 10);
    EXPECT_EQ(f->Count(), 15);
    EXPECT_GT(f->Room(), 0);
  }
  EXPECT_EQ(ReadAll(name).size(), 120u);
  std::string temp;
  {
    ArrayHandle t(NewFileArray(3, nullptr));
    t->Init(2);
    temp = std::string(t->FileName().Text(), t->FileName().Length());
    EXPECT_TRUE(FileExists(temp.c_str()));
    EXPECT_NE(temp.find("~~~"), std::string::npos);
  }
  EXPECT_FALSE(FileExists(temp.c_str()));
}

TEST(FileArray, OpenFailuresAreNumbered) {
  CaptureScope scope;
  ScratchDir dir;
  EXPECT_EQ(ErrorOf([&] { ArrayHandle f(NewFileArray(-1, nullptr)); }), 502u);
  std::string missing = dir / "missing.dat";
  EXPECT_EQ(ErrorOf([&] { ArrayHandle f(NewFileArray(-1, missing.c_str())); }), 506u);
  EXPECT_NE(testing::Capture().errors.back().find("OLD: " + missing), std::string::npos);
  std::string bad = dir / "no/such/dir.dat";
  EXPECT_EQ(ErrorOf([&] { ArrayHandle f(NewFileArray(0, bad.c_str())); }), 506u);
  EXPECT_NE(testing::Capture().errors.back().find("NEW: "), std::string::npos);
  // Reading past the end of a short file is a bounds error, not a read of garbage.
  std::string name = dir / "b.dat";
  WriteAll(name, {1, 2, 3});
  ArrayHandle f(NewFileArray(-1, name.c_str()));
  f->Init(1);
  char b[4];
  EXPECT_EQ(ErrorOf([&] { f->Read(1, b, 3); }), 517u);
  EXPECT_EQ(f->GetByte(2), 3);
}

TEST(FileArray, NullHandleRaises520) {
  CaptureScope scope;
  EXPECT_EQ(ErrorOf([] { ArrayHandle h(nullptr); }), 520u);
  EXPECT_EQ(ErrorOf([] {
              ArrayHandle h(NewHeadCachedArray(nullptr, 10, false));
              h->Init(1);
            }),
            520u);
}

TEST(BufArray, WindowStartsAtThePositionAfterAMiss) {
  CaptureScope scope;
  for (std::int32_t ahead : {100, 20}) {
    ArrayHandle b(NewBufArray(Counting(1000).Release(), 100, ahead));
    b->Init(4);
    auto* buf = static_cast<BufArray*>(b.Get());
    EXPECT_EQ(buf->WindowStart(), 0);
    EXPECT_EQ(buf->WindowValid(), 100);
    EXPECT_EQ(b->GetLong(500), 500u);
    EXPECT_EQ(b->Position(), 501);
    EXPECT_EQ(buf->WindowStart(), ahead == 100 ? 501 : 421);
    EXPECT_EQ(buf->WindowValid(), 100);
    EXPECT_EQ(b->GetLong(480), 480u);  // inside the window with Ahead 20 only
    EXPECT_EQ(buf->WindowStart(), ahead == 100 ? 481 : 421);
    std::uint32_t two[2];
    b->Read(995, two, 2);
    EXPECT_EQ(two[1], 996u);
    EXPECT_EQ(buf->WindowStart(), ahead == 100 ? 997 : 917);
    EXPECT_EQ(buf->WindowValid(), ahead == 100 ? 3 : 83);
  }
}

TEST(BufArray, SecondLockRaises529) {
  CaptureScope scope;
  ArrayHandle b(NewBufArray(Counting(50).Release(), 10, 10));
  b->Init(4);
  auto* p = static_cast<std::uint32_t*>(b->LockForward(20));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(b->LockedCount(), 10);
  EXPECT_EQ(p[0], 20u);
  EXPECT_EQ(ErrorOf([&] { b->LockForward(0); }), 529u);
  EXPECT_EQ(ErrorOf([&] { b->LockBackward(5); }), 529u);
  p[1] = 99;
  b->Unlock(true);
  auto* q = static_cast<std::uint32_t*>(b->LockBackward(50));
  EXPECT_EQ(b->LockedCount(), 10);
  EXPECT_EQ(q[0], 40u);
  b->Unlock(false);
  EXPECT_EQ(b->GetLong(21), 99u);
  b->Flush();
  EXPECT_EQ(static_cast<BufArray*>(b.Get())->Underlying()->GetLong(21), 99u);
}

// Reads and writes outside a locked window leave it in place: the lock holder's pointer keeps
// showing its own elements (with any that a write overlapped), and its changes are written back
// where they belong.
TEST(BufArray, LockedWindowStaysInPlace) {
  CaptureScope scope;
  ArrayHandle b(NewBufArray(Counting(50).Release(), 10, 10));
  b->Init(4);
  auto* buf = static_cast<BufArray*>(b.Get());
  auto* p = static_cast<std::uint32_t*>(b->LockForward(20));
  ASSERT_NE(p, nullptr);
  std::vector<std::uint32_t> model(50);
  std::iota(model.begin(), model.end(), 0u);

  std::vector<std::uint32_t> v(20);
  std::iota(v.begin(), v.end(), 1000u);
  b->Write(5, v.data(), 20);  // 5..24, overlapping the window's first five elements
  std::copy(v.begin(), v.end(), model.begin() + 5);
  b->PutLong(40, 4040);
  model[40] = 4040;
  EXPECT_EQ(b->GetLong(45), 45u);
  std::uint32_t two[2];
  b->Read(2, two, 2);
  EXPECT_EQ(two[1], 3u);
  b->PutLong(50, 5050);  // past the end: the array grows behind the lock
  model.push_back(5050);

  EXPECT_EQ(buf->WindowStart(), 20);
  EXPECT_EQ(p[0], 1015u);
  EXPECT_EQ(p[4], 1019u);
  EXPECT_EQ(p[5], 25u);
  p[7] = 777;
  model[27] = 777;
  b->Unlock(true);
  b->Flush();
  EXPECT_EQ(Longs(buf->Underlying()), model);
  EXPECT_EQ(Longs(b.Get()), model);
}

TEST(BufArray, BufLenTooLargeRaises537) {
  CaptureScope scope;
  ArrayHandle b(NewBufArray(Mem(0, 1).Release(), 2000000000, 10));
  EXPECT_EQ(ErrorOf([&] { b->Init(2); }), 537u);
}

// Random reads, writes, typed access and resizing through a window variant agree with a plain
// vector at every step, and the underlying array agrees after Flush.
template <class Make>
void AgreesWithModel(Make make, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint32_t> model(30);
  std::iota(model.begin(), model.end(), 1000u);
  ArrayHandle under = Mem(0, 4);
  under->Expandable(1);
  under->Write(0, model.data(), 30);
  ArrayHandle a(make(under.Release()));
  a->Init(4);
  for (int step = 0; step < 3000; ++step) {
    std::int32_t count = static_cast<std::int32_t>(model.size());
    ASSERT_EQ(a->Count(), count) << "step " << step;
    int op = static_cast<int>(rng() % 6);
    std::int32_t index = static_cast<std::int32_t>(rng() % (count + 1));
    std::int32_t n = static_cast<std::int32_t>(rng() % 12);
    if (op == 0 && index + n <= count) {
      std::vector<std::uint32_t> got(static_cast<std::size_t>(n));
      a->Read(index, got.data(), n);
      for (std::int32_t i = 0; i < n; ++i) ASSERT_EQ(got[i], model[index + i]) << "step " << step;
    } else if (op == 1) {
      std::vector<std::uint32_t> v(static_cast<std::size_t>(n));
      for (auto& x : v) x = rng();
      a->Write(index, v.data(), n);
      if (index + n > count) model.resize(static_cast<std::size_t>(index + n));
      std::copy(v.begin(), v.end(), model.begin() + index);
    } else if (op == 2 && index < count) {
      ASSERT_EQ(a->GetLong(index), model[index]) << "step " << step;
    } else if (op == 3) {
      std::uint32_t v = rng();
      a->PutLong(index, v);
      if (index == count) model.push_back(v);
      model[index] = v;
    } else if (op == 4 && count > 40) {
      std::int32_t d = -static_cast<std::int32_t>(rng() % 10);
      a->Extend(d);
      model.resize(model.size() + d);
    } else if (op == 5) {
      std::int32_t d = static_cast<std::int32_t>(rng() % 5);
      a->Extend(d);
      // New elements are unspecified: define them through the array.
      for (std::int32_t i = 0; i < d; ++i) {
        model.push_back(rng());
        a->PutLong(count + i, model.back());
      }
    }
  }
  a->Flush();
  Array* inner = a->Storage();
  ASSERT_GE(inner->Count(), static_cast<std::int32_t>(model.size()));
  std::vector<std::uint32_t> flushed(model.size());
  inner->Read(0, flushed.data(), static_cast<std::int32_t>(model.size()));
  EXPECT_EQ(flushed, model);
}

TEST(BufArray, AgreesWithAPlainVector) {
  CaptureScope scope;
  AgreesWithModel([](Array* u) { return NewBufArray(u, 7, 3); }, 1);
  AgreesWithModel([](Array* u) { return NewBufArray(u, 16, 16); }, 2);
}

// Appending through a window: the elements wait in the window until it is full and then reach
// the underlying array in one write; nothing is read for a window that is only appended to.
TEST(BufArray, AppendsReachTheArrayAWindowAtATime) {
  CaptureScope scope;
  struct Counting : MemArray {
    Counting() : MemArray(0) {}
    void Read(std::int32_t i, void* b, std::int32_t n) override {
      if (n > 0) ++reads;
      MemArray::Read(i, b, n);
    }
    void Write(std::int32_t i, const void* b, std::int32_t n) override {
      ++writes;
      MemArray::Write(i, b, n);
    }
    int reads = 0, writes = 0;
  };
  auto* under = new Counting;
  ArrayHandle h(NewBufArray(under, 100, 100));
  h->Init(1);
  std::vector<char> piece(30, 'x');
  for (int i = 0; i < 10; ++i) {
    piece[0] = static_cast<char>('a' + i);
    h->Write(h->Count(), piece.data(), 30);  // 300 bytes in pieces of 30
  }
  for (int i = 0; i < 30; ++i) h->PutByte(h->Count(), static_cast<std::uint8_t>(i));
  EXPECT_EQ(under->reads, 0);
  EXPECT_LE(under->writes, 4);  // one per full window
  h->Flush();
  ASSERT_EQ(under->Count(), 330);
  char c = 0;
  under->MemArray::Read(270, &c, 1);
  EXPECT_EQ(c, 'j');
  under->MemArray::Read(329, &c, 1);
  EXPECT_EQ(c, 29);
}

TEST(HeadCachedArray, AgreesWithAPlainVector) {
  CaptureScope scope;
  AgreesWithModel([](Array* u) { return NewHeadCachedArray(u, 20, false); }, 3);
  AgreesWithModel([](Array* u) { return NewHeadCachedArray(u, 100, true); }, 4);
}

TEST(HeadCachedArray, HeadIsWrittenBackOnFlushAndDestruction) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "h.dat";
  {
    // Shared for reading, so that the test can look at the file while it is open.
    ArrayHandle h(NewHeadCachedArray(NewFileArray(0, name.c_str(), platform::kFlagNone,
                                                  platform::kAccessReadWrite, platform::kShareRead),
                                     8, false));
    h->Init(1);
    h->WriteNext("abcdefghij", 10);  // 8 in memory, 2 in the file
    EXPECT_EQ(static_cast<HeadCachedArray*>(h.Get())->Cached(), 8);
    std::vector<unsigned char> before = ReadAll(name);
    ASSERT_EQ(before.size(), 10u);
    EXPECT_EQ(before[0], 0);  // the head is still only in memory
    EXPECT_EQ(before[9], 'j');
    h->Flush();
    EXPECT_EQ(ReadAll(name)[0], 'a');
    auto* p = static_cast<char*>(h->LockForward(2));
    EXPECT_EQ(h->LockedCount(), 6);
    EXPECT_EQ(ErrorOf([&] { h->LockForward(0); }), 529u);
    p[0] = 'C';
    h->Unlock(true);
    EXPECT_EQ(h->LockBackward(10), nullptr);
    EXPECT_EQ(h->LockedCount(), 2);  // a step hint down to the head
    h->Unlock(false);
  }
  std::vector<unsigned char> after = ReadAll(name);
  EXPECT_EQ(std::string(after.begin(), after.end()), "abCdefghij");
}

// The head's memory block is not cleared when it is allocated: elements that a write past the
// head's end or a lengthening skips must still reach the file as zeros, never as whatever the
// block held (a volume allocates runs it fills only later).
TEST(HeadCachedArray, SkippedAndLengthenedElementsAreZeros) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "z.dat";
  {
    ArrayHandle h(NewHeadCachedArray(NewFileArray(0, name.c_str()), 4096, false));
    h->Init(1);
    // Dirty the block where the head will grow: write, then cut the array back.
    std::vector<char> junk(3000, 'x');
    h->Write(0, junk.data(), 3000);
    h->Extend(-2990);
    h->Write(100, "ab", 2);  // skips 10 .. 99
    h->Extend(400);          // lengthens to 502
    h->Flush();
  }
  std::vector<unsigned char> bytes = ReadAll(name);
  ASSERT_EQ(bytes.size(), 502u);
  for (std::size_t i = 10; i < bytes.size(); ++i) {
    if (i == 100 || i == 101) continue;
    ASSERT_EQ(bytes[i], 0) << i;
  }
  EXPECT_EQ(bytes[100], 'a');
}

TEST(BlockOps, CopyWithinOneArrayDoesNotSmear) {
  CaptureScope scope;
  ScratchDir dir;
  // In memory (direct pointers) and through a window over a file (bounce and window steps).
  ArrayHandle m = Counting(1001);
  m.Copy(1, m, 0, 1000);
  ArrayHandle f(NewBufArray(NewFileArray(0, (dir / "c.dat").c_str()), 64, 64));
  f->Init(4);
  ArrayHandle src = Counting(1001);
  f.Copy(0, src, 0, 1001);
  f.Copy(1, f, 0, 1000);
  for (Array* a : {m.Get(), f.Get()}) {
    std::vector<std::uint32_t> v = Longs(a);
    ASSERT_EQ(v.size(), 1001u);
    EXPECT_EQ(v[0], 0u);
    for (std::uint32_t i = 1; i <= 1000; ++i) ASSERT_EQ(v[i], i - 1) << i;
  }
  // Downwards as well.
  m.Copy(0, m, 1, 1000);
  EXPECT_EQ(Longs(m.Get())[999], 999u);
}

TEST(BlockOps, CopyChecksSizesAndBounds) {
  CaptureScope scope;
  ArrayHandle four = Mem(10, 4), eight = Mem(10, 8);
  EXPECT_EQ(ErrorOf([&] { four.Copy(0, eight, 0, 1); }), 535u);
  EXPECT_EQ(ErrorOf([&] { four.Replace(0, 1, eight, 0, 1); }), 535u);
  ArrayHandle other = Mem(10, 4);
  EXPECT_EQ(ErrorOf([&] { four.Copy(5, other, 0, 6); }), 517u);
  EXPECT_EQ(ErrorOf([&] { four.Copy(0, other, 5, 6); }), 517u);
  four->Expandable(1);
  four.Copy(5, other, 0, 6);
  EXPECT_EQ(four->Count(), 11);
}

TEST(BlockOps, ReplaceWithTheSourceInTheMovedTail) {
  CaptureScope scope;
  ArrayHandle a = Counting(20);
  // Replace elements 2..3 by the 6 elements 10..15 of the same array: the tail moves up by 4
  // first, yet the copied values are those before the move.
  a.Replace(2, 2, a, 10, 6);
  std::vector<std::uint32_t> expect = {0, 1, 10, 11, 12, 13, 14, 15};
  for (std::uint32_t i = 4; i < 20; ++i) expect.push_back(i);
  EXPECT_EQ(Longs(a.Get()), expect);
  // A source that straddles the region's end.
  ArrayHandle b = Counting(10);
  b.Replace(2, 3, b, 3, 4);  // region 2..4 becomes 3,4,5,6
  EXPECT_EQ(Longs(b.Get()), (std::vector<std::uint32_t>{0, 1, 3, 4, 5, 6, 5, 6, 7, 8, 9}));
  // Shrinking.
  ArrayHandle c = Counting(10);
  c.Replace(1, 5, c, 7, 2);
  EXPECT_EQ(Longs(c.Get()), (std::vector<std::uint32_t>{0, 7, 8, 6, 7, 8, 9}));
  EXPECT_FALSE(c->Expandable(3));  // the flag is restored
}

TEST(BlockOps, ResizeRegionAndRotate) {
  CaptureScope scope;
  ArrayHandle a = Counting(100);
  a.ResizeRegion(90, 10, 4);
  EXPECT_EQ(a->Count(), 94);
  a.ResizeRegion(10, 5, 8);
  std::vector<std::uint32_t> v = Longs(a.Get());
  ASSERT_EQ(v.size(), 97u);
  EXPECT_EQ(v[9], 9u);
  EXPECT_EQ(v[18], 15u);
  EXPECT_EQ(v[96], 93u);
  a.ResizeRegion(0, 20, 0);
  EXPECT_EQ(Longs(a.Get())[0], 17u);  // old element 20

  ArrayHandle r = Counting(10);
  r.Rotate(2, 3, 4);  // 2,3,4 move up by 4; 5..8 take their room
  EXPECT_EQ(Longs(r.Get()), (std::vector<std::uint32_t>{0, 1, 5, 6, 7, 8, 2, 3, 4, 9}));
  r.Rotate(6, 3, -4);
  EXPECT_EQ(Longs(r.Get()), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(ErrorOf([&] { r.Rotate(8, 3, 1); }), 517u);
}

TEST(BlockOps, RotateOfBlocksLargerThanTheBounceBuffer) {
  CaptureScope scope;
  ScratchDir dir;
  for (auto [len, shift] : {std::pair{50000, 30001}, {20000, -45000}, {100, 60000}}) {
    ArrayHandle f(NewFileArray(0, (dir / "r.dat").c_str()));
    f->Init(4);
    ArrayHandle src = Counting(100000);
    f.Copy(0, src, 0, 100000);
    std::vector<std::uint32_t> model = Longs(src.Get());
    std::int32_t index = shift > 0 ? 1000 : 60000;
    f.Rotate(index, len, shift);
    if (shift > 0) {
      std::rotate(model.begin() + index, model.begin() + index + len,
                  model.begin() + index + len + shift);
    } else {
      std::rotate(model.begin() + index + shift, model.begin() + index,
                  model.begin() + index + len);
    }
    EXPECT_EQ(Longs(f.Get()), model) << len << " " << shift;
  }
}

TEST(BlockOps, WindowsAndReadString) {
  CaptureScope scope;
  ArrayHandle b(NewBufArray(Mem(0, 1).Release(), 16, 16));
  b->Init(1);
  b->WriteNext("hello, volume", 13);
  String s = b.ReadString(7, 6);
  EXPECT_EQ(std::string(s.Text(), s.Length()), "volume");
  {
    ArrayLock w = b.Window(0, true);
    ASSERT_NE(w.Pointer(), nullptr);
    EXPECT_EQ(w.Count(), 13);
    static_cast<char*>(w.Pointer())[0] = 'H';
    w.SetModified();
  }  // unlocked here, so a second window is allowed
  ArrayLock w2 = b.ByteWindow(13, false);
  EXPECT_EQ(w2.Count(), 13);
  EXPECT_EQ(static_cast<char*>(w2.Pointer())[0], 'H');
}

// A container of the older format, built here: header with marker and directory, then blocks.
std::vector<unsigned char> Container(const std::string& member, std::int32_t length,
                                     std::uint16_t tableBlock,
                                     const std::vector<std::uint16_t>& blocks, int totalBlocks) {
  std::vector<unsigned char> c(static_cast<std::size_t>(totalBlocks) * 1024, 0);
  c[254] = 'M';
  c[260] = 2;  // two entries, the first another member
  unsigned char* e = &c[262];
  std::memcpy(e, "\x05\x00\x00\x00", 4);
  e[6] = 5;
  std::memcpy(e + 7, "other", 5);
  e = &c[262 + 23];
  std::memcpy(e, &length, 4);
  e[4] = static_cast<unsigned char>(tableBlock);
  e[5] = static_cast<unsigned char>(tableBlock >> 8);
  e[6] = static_cast<unsigned char>(member.size());
  std::memcpy(e + 7, member.data(), std::min<std::size_t>(member.size(), 16));
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    std::size_t at = static_cast<std::size_t>(tableBlock) * 1024 + 2 * k;
    if (at + 1 < c.size()) {
      c[at] = static_cast<unsigned char>(blocks[k]);
      c[at + 1] = static_cast<unsigned char>(blocks[k] >> 8);
    }
  }
  // Data: every byte of block b holds b + its offset.
  for (std::uint16_t b : blocks) {
    for (int i = 0; i < 1024; ++i) {
      std::size_t at = static_cast<std::size_t>(b) * 1024 + i;
      if (at < c.size()) c[at] = static_cast<unsigned char>(b * 7 + i);
    }
  }
  return c;
}

ArrayHandle MemFrom(const std::vector<unsigned char>& bytes) {
  ArrayHandle m = Mem(static_cast<std::int32_t>(bytes.size()), 1);
  m->Write(0, bytes.data(), static_cast<std::int32_t>(bytes.size()));
  return m;
}

TEST(LegacyVolumeArray, ReadsAMemberBlockByBlock) {
  CaptureScope scope;
  ArrayHandle c = MemFrom(Container("games", 2500, 1, {4, 2, 3}, 5));
  ArrayHandle m(NewLegacyVolumeArray(c.Get(), "games"));
  EXPECT_EQ(m->Init(4), 625);
  std::vector<unsigned char> all(2500);
  m->Read(0, all.data(), 625);
  EXPECT_EQ(all[0], static_cast<unsigned char>(4 * 7));
  EXPECT_EQ(all[1024], static_cast<unsigned char>(2 * 7));
  EXPECT_EQ(all[2048 + 5], static_cast<unsigned char>(3 * 7 + 5));
  unsigned char four[4];
  m->Read(255, four, 1);  // bytes 1020..1023 of block 4
  EXPECT_EQ(four[3], static_cast<unsigned char>(4 * 7 + 1023));
  EXPECT_EQ(ErrorOf([&] { m->Write(0, four, 1); }), 513u);
  EXPECT_EQ(ErrorOf([&] { m->Extend(1); }), 518u);
  EXPECT_EQ(ErrorOf([&] { m->Read(624, four, 2); }), 517u);
}

TEST(LegacyVolumeArray, DamagedContainersGiveNumberedErrors) {
  CaptureScope scope;
  auto init = [](const std::vector<unsigned char>& bytes, const char* name) {
    ArrayHandle c = MemFrom(bytes);
    ArrayHandle m(NewLegacyVolumeArray(c.Get(), name));
    return ErrorOf([&] { m->Init(1); });
  };
  EXPECT_EQ(init(Container("games", 2500, 1, {4, 2, 3}, 5), "nothere"), 503u);
  std::vector<unsigned char> unmarked = Container("games", 100, 1, {2}, 3);
  unmarked[254] = 'X';
  EXPECT_EQ(init(unmarked, "games"), 503u);
  EXPECT_EQ(init(std::vector<unsigned char>(500, 'M'), "games"), 503u);  // truncated header
  // A block table that points outside the container.
  EXPECT_EQ(init(Container("games", 2500, 1, {4, 2, 40}, 5), "games"), 512u);
  // The table block itself outside.
  EXPECT_EQ(init(Container("games", 2500, 9, {4, 2, 3}, 5), "games"), 512u);
  // Lengths that are negative or need more than 1023 blocks.
  EXPECT_EQ(init(Container("games", -5, 1, {2}, 3), "games"), 512u);
  EXPECT_EQ(init(Container("games", 2000000, 1, {2}, 3), "games"), 512u);
  // A directory count larger than the header holds reads only what is there.
  std::vector<unsigned char> many = Container("games", 100, 1, {2}, 3);
  many[260] = 0xFF;
  many[261] = 0xFF;
  EXPECT_EQ(init(many, "games"), 0u);
}

}  // namespace
}  // namespace ludrex

namespace ludrex {
namespace {

TEST(TypedAccess, WidthsMustFitTheElements) {
  CaptureScope scope;
  ArrayHandle m = Mem(4, 1);
  EXPECT_EQ(ErrorOf([&] { m->GetLong(0); }), 535u);  // would address past the block
  EXPECT_EQ(ErrorOf([&] { m->PutWord(0, 1); }), 535u);
  ArrayHandle wide(NewBufArray(Mem(4, 8).Release(), 4, 4));
  wide->Init(8);
  EXPECT_EQ(ErrorOf([&] { wide->GetLong(0); }), 535u);
  EXPECT_EQ(ErrorOf([&] { wide->PutByte(0, 1); }), 535u);
  ArrayHandle words(NewBufArray(Mem(0, 2).Release(), 4, 4));
  words->Init(2);
  for (std::uint16_t i = 0; i < 10; ++i) words->PutWordNext(static_cast<std::uint16_t>(i * 1000));
  EXPECT_EQ(words->GetWord(9), 9000);
  EXPECT_EQ(words->GetWord(2), 2000);
}

}  // namespace
}  // namespace ludrex

namespace ludrex {
namespace {

// Random block operations within one array agree with the same operations on a vector, for
// each kind of array (direct pointers, small windows, a head cache, and neither).
TEST(BlockOps, RandomOperationsAgreeWithAVector) {
  CaptureScope scope;
  ScratchDir dir;
  for (int kind = 0; kind < 4; ++kind) {
    std::mt19937 rng(static_cast<std::uint32_t>(100 + kind));
    ArrayHandle a;
    std::string file = dir / ("k" + std::to_string(kind));
    if (kind == 0) a = ArrayHandle(NewMemArray(0));
    if (kind == 1) a = ArrayHandle(NewBufArray(NewFileArray(0, file.c_str()), 5, 2));
    if (kind == 2) a = ArrayHandle(NewHeadCachedArray(NewFileArray(0, file.c_str()), 40, false));
    if (kind == 3) a = ArrayHandle(NewFileArray(0, file.c_str()));
    a->Init(4);
    a->Expandable(1);
    std::vector<std::uint32_t> model(200);
    std::iota(model.begin(), model.end(), 0u);
    a->Write(0, model.data(), 200);
    std::uint32_t next = 1000;
    for (int step = 0; step < 400; ++step) {
      std::int32_t count = static_cast<std::int32_t>(model.size());
      auto pick = [&](std::int32_t bound) {
        return static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(bound + 1));
      };
      int op = static_cast<int>(rng() % 4);
      if (op == 0) {
        std::int32_t n = pick(std::min(count, 60));
        std::int32_t s = pick(count - n), d = pick(count - n);
        a.Copy(d, a, s, n);
        std::vector<std::uint32_t> part(model.begin() + s, model.begin() + s + n);
        std::copy(part.begin(), part.end(), model.begin() + d);
      } else if (op == 1) {
        std::int32_t dl = pick(std::min(count, 30)), di = pick(count - dl);
        std::int32_t sl = pick(std::min(count, 30)), si = pick(count - sl);
        a.Replace(di, dl, a, si, sl);
        std::vector<std::uint32_t> part(model.begin() + si, model.begin() + si + sl);
        model.erase(model.begin() + di, model.begin() + di + dl);
        model.insert(model.begin() + di, part.begin(), part.end());
      } else if (op == 2) {
        std::int32_t len = pick(std::min(count, 50)), idx = pick(count - len);
        std::int32_t shift = pick(count - idx - len) - pick(idx);
        if (shift >= -idx && idx + len + shift <= count) {
          a.Rotate(idx, len, shift);
          if (shift > 0) {
            std::rotate(model.begin() + idx, model.begin() + idx + len,
                        model.begin() + idx + len + shift);
          } else if (shift < 0) {
            std::rotate(model.begin() + idx + shift, model.begin() + idx,
                        model.begin() + idx + len);
          }
        }
      } else if (count < 400) {
        std::int32_t oldLen = pick(std::min(count, 20)), idx = pick(count - oldLen);
        std::int32_t newLen = pick(20);
        a.ResizeRegion(idx, oldLen, newLen);
        model.erase(model.begin() + idx, model.begin() + idx + oldLen);
        std::vector<std::uint32_t> fresh(static_cast<std::size_t>(newLen));
        for (auto& x : fresh) x = next++;
        model.insert(model.begin() + idx, fresh.begin(), fresh.end());
        if (newLen > 0) a->Write(idx, fresh.data(), newLen);  // new elements are unspecified
      }
      ASSERT_EQ(a->Count(), static_cast<std::int32_t>(model.size())) << kind << " " << step;
      ASSERT_EQ(Longs(a.Get()), model) << "kind " << kind << " step " << step << " op " << op;
    }
  }
}

}  // namespace
}  // namespace ludrex
