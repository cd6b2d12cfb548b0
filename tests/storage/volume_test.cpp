#include "storage/volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "storage_support.h"

namespace ludrex {
namespace {

using testing::CaptureScope;
using testing::ErrorOf;
using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteAll;

std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}

void PutU32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
  std::memcpy(&b[at], &v, 4);
}

// Closes the volume at the end of a scope (members first: they are declared later).
struct VolumePtr {
  Volume* v;
  explicit VolumePtr(Volume* p) : v(p) {}
  ~VolumePtr() { delete v; }
  Volume* operator->() const { return v; }
};

ArrayHandle Member(Volume* v, std::int32_t count, const char* name, std::int32_t dir = 0) {
  ArrayHandle h(new VolumeFileArray(count, name, v, dir));
  h->Init(1);
  return h;
}

TEST(Volume, FreshVolumeIsTheHeaderAlone) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  delete Volume::Create(name.c_str());
  std::vector<unsigned char> b = ReadAll(name);
  ASSERT_EQ(b.size(), 512u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[0])), "Tallowmerecraft 3.0 database.");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[64])), "\nKorvanex Volume format. Version 1.1");
  for (std::size_t i = 100; i < 512; ++i) ASSERT_EQ(b[i], 0) << i;
  VolumePtr v(Volume::Open(name.c_str()));
  EXPECT_EQ(v->EntryCount(), 0);
}

TEST(Volume, CreateFileOf1000BytesGoldenLayout) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  {
    VolumePtr v(Volume::Create(name.c_str()));
    ArrayHandle m = v->CreateMember("a", 1000, 0);
    auto* f = static_cast<VolumeFileArray*>(m.Get());
    ASSERT_EQ(f->RunCount(), 1);
    EXPECT_EQ(f->RunAt(0).position, 1024u);
    EXPECT_EQ(f->RunAt(0).length, 1000u);
    EXPECT_EQ(f->TablePosition(0), 2024u);
    EXPECT_EQ(v->Directory()->RunAt(0).position, 512u);
    EXPECT_EQ(v->Directory()->RunAt(0).length, 512u);
  }
  std::vector<unsigned char> b = ReadAll(name);
  ASSERT_EQ(b.size(), 3048u);
  // The directory file's entry in the header: size 256, run table at 2536.
  EXPECT_EQ(U32(b, 128), 0u);
  EXPECT_EQ(U32(b, 132), 0u);
  EXPECT_EQ(U32(b, 136), 256u);
  EXPECT_EQ(U32(b, 140), 2536u);
  EXPECT_EQ(U32(b, 144), 0u);
  EXPECT_EQ(U32(b, 2536), 512u);
  EXPECT_EQ(U32(b, 2540), 512u);
  EXPECT_EQ(U32(b, 2544), 0u);
  // The member's entry at 512, its table at 2024, its data at 1024.
  EXPECT_EQ(U32(b, 512), 0u);
  EXPECT_EQ(U32(b, 516), 2u);
  EXPECT_EQ(U32(b, 520), 1000u);
  EXPECT_EQ(U32(b, 524), 2024u);
  EXPECT_EQ(U32(b, 528), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[540])), "a");
  EXPECT_EQ(U32(b, 2024), 1024u);
  EXPECT_EQ(U32(b, 2028), 1000u);
  EXPECT_EQ(U32(b, 2032), 0u);
  // Reopened, the member reads back.
  VolumePtr v(Volume::Open(name.c_str()));
  ArrayHandle m = v->OpenMember("a", 0);
  EXPECT_EQ(m->Count(), 1000);
  EXPECT_EQ(m->GetByte(999), 0);
}

TEST(Volume, InterleavedGrowthOverAllocates) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  VolumePtr v(Volume::Create(name.c_str()));
  ArrayHandle a = Member(v.v, 0, "A");
  std::vector<char> bytes(700, 'a');
  a->Write(0, bytes.data(), 600);
  ArrayHandle b = Member(v.v, 0, "B");
  b->Write(0, bytes.data(), 100);
  a->Write(600, bytes.data(), 100);
  auto* fa = static_cast<VolumeFileArray*>(a.Get());
  auto* fb = static_cast<VolumeFileArray*>(b.Get());
  ASSERT_EQ(fa->RunCount(), 2);
  EXPECT_EQ(fa->RunAt(0).length, 600u);
  EXPECT_EQ(fa->RunAt(1).length, 512u);
  ASSERT_EQ(fb->RunCount(), 1);
  EXPECT_EQ(fb->RunAt(0).length, 512u);
  EXPECT_EQ(fb->RunAt(0).position, fa->RunAt(0).position + 600);
  // Appending to the member allocated last lengthens its run in place.
  a->Write(700, bytes.data(), 500);
  EXPECT_EQ(fa->RunCount(), 2);
  EXPECT_EQ(fa->RunAt(1).length, 600u);
  EXPECT_EQ(v->End(), fa->RunAt(1).position + 600);
  // A read across the run boundary.
  char two[2];
  a->Read(599, two, 2);
  EXPECT_EQ(two[0], 'a');
  EXPECT_EQ(two[1], 'a');
}

TEST(Volume, RecreatingReusesTheEntryAndMovesItLast) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  VolumePtr v(Volume::Create(name.c_str()));
  std::uint32_t table;
  {
    ArrayHandle x = v->CreateMember("x", 300, 0);
    table = static_cast<VolumeFileArray*>(x.Get())->TablePosition(0);
  }
  v->CreateMember("y", 10, 0);
  std::int64_t end = v->End();
  EXPECT_EQ(v->CreateEntry("x", kVolumeFile, 0), 1);
  EXPECT_EQ(v->EntryCount(), 2);
  EXPECT_STREQ(v->Entry(0).name, "y");
  VolumeEntry x = v->Entry(1);
  EXPECT_STREQ(x.name, "x");
  EXPECT_EQ(x.sizeOrId, 0);
  EXPECT_EQ(x.table[0], table);
  // Re-created with a smaller size, it reuses its space: the volume does not grow.
  v->CreateMember("x", 200, 0);
  EXPECT_EQ(v->End(), end);
  EXPECT_EQ(v->Entry(1).sizeOrId, 200);
}

TEST(Volume, DirectoriesFlagsOrderAndDeletion) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  VolumePtr v(Volume::Create(name.c_str()));
  v->CreateEntry("sub", kVolumeDirectory, 0);
  std::int32_t sub = v->ChangeDir("sub", 0);
  EXPECT_EQ(sub, 1);
  v->CreateEntry("deeper", kVolumeDirectory, sub);
  std::int32_t deeper = v->ChangeDir("deeper", sub);
  EXPECT_EQ(deeper, 2);
  v->CreateMember("f1", 10, sub);
  v->CreateMember("f2", 10, deeper);
  v->CreateMember("top", 10, 0);
  EXPECT_EQ(v->ChangeDir("nothing", 0), 0);
  EXPECT_EQ(v->ChangeDir("", 0), 0);
  EXPECT_TRUE(v->NameExists("f1", kVolumeFile, sub));
  EXPECT_FALSE(v->NameExists("f1", kVolumeFile, 0));
  // Re-creating a directory keeps its id, so its contents stay reachable.
  v->CreateEntry("sub", kVolumeDirectory, 0);
  EXPECT_EQ(v->ChangeDir("sub", 0), sub);

  v->SetFlags(0x1234, "f1", kVolumeFile, sub);
  VolumeFind* f = v->FindFirst(kVolumeFile, sub);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->flags, 0x12340002u);
  EXPECT_EQ(v->FindNext(f), nullptr);

  v->MoveRename("top", kVolumeFile, 0, "moved", sub);
  v->ChangeDirEntryPos("f1", kVolumeFile, "moved", kVolumeFile, sub);
  std::vector<std::string> names;
  for (VolumeFind* g = v->FindFirst(0, sub); g != nullptr; g = v->FindNext(g)) {
    names.emplace_back(g->name.Text(), g->name.Length());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"deeper", "moved", "f1"}));

  v->DeleteEntries("sub", kVolumeDirectory, 0);
  EXPECT_FALSE(v->NameExists("f2", kVolumeFile, deeper));
  EXPECT_FALSE(v->NameExists("f1", kVolumeFile, sub));
  EXPECT_EQ(v->FindFirst(0, 0), nullptr);
  EXPECT_EQ(v->ChangeDir("sub", 0), 0);
}

TEST(Volume, ArgumentErrorsAreNumbered) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  VolumePtr v(Volume::Create(name.c_str()));
  EXPECT_EQ(ErrorOf([&] { v->CreateEntry("a", 3, 0); }), 545u);
  EXPECT_EQ(ErrorOf([&] { v->CreateEntry("a", 0, 0); }), 545u);
  EXPECT_EQ(ErrorOf([&] { v->CreateEntry("a", 2, -1); }), 541u);
  EXPECT_EQ(ErrorOf([&] { v->CreateEntry("", 2, 0); }), 540u);
  EXPECT_EQ(ErrorOf([&] { v->CreateEntry(std::string(228, 'n').c_str(), 2, 0); }), 517u);
  EXPECT_EQ(ErrorOf([&] { v->OpenMember("none", 0); }), 503u);
  EXPECT_EQ(ErrorOf([&] { v->OpenMember("", 0); }), 540u);
  EXPECT_EQ(ErrorOf([&] { v->OpenMember("x", -5); }), 541u);
  EXPECT_EQ(ErrorOf([&] { v->DeleteEntries("x", 0, -1); }), 541u);
  EXPECT_EQ(ErrorOf([&] { v->SetFlags(1, "x", 2, -1); }), 541u);
  EXPECT_EQ(ErrorOf([&] { v->MoveRename("x", 2, 0, "", 0); }), 540u);
  EXPECT_EQ(ErrorOf([&] { v->ChangeDirEntryPos("", 0, "x", 3, 0); }), 545u);
  EXPECT_EQ(v->EntryCount(), 0);
  // Sizes never pass 2^31 - 1 bytes: the member and the volume file stay as they were.
  ArrayHandle m = Member(v.v, 0, "big");
  EXPECT_EQ(ErrorOf([&] { m->Extend(2147483000); }), 518u);
  EXPECT_EQ(ErrorOf([&] { m->Write(2147483647, "x", 1); }), 517u);
  EXPECT_EQ(m->Count(), 0);
  EXPECT_LT(v->End(), 4096);
}

TEST(Volume, HeadCachedVolumeFile) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  {
    VolumePtr v(Volume::Create(name.c_str(), 2048));
    ArrayHandle m = v->CreateMember("m", 0, 0);
    for (int i = 0; i < 5000; ++i) m->PutByteNext(static_cast<std::uint8_t>(i));
  }
  VolumePtr v(Volume::Open(name.c_str(), 1024));
  ArrayHandle m = v->OpenMember("m", 0);
  ASSERT_EQ(m->Count(), 5000);
  for (int i = 0; i < 5000; i += 97) ASSERT_EQ(m->GetByte(i), static_cast<std::uint8_t>(i));
}

// A volume built byte by byte: one file member "m" of 256 one-byte runs at every other byte
// (so no run ends at the volume's end), tables at 768, 1280, 1792, 2304.
std::vector<unsigned char> CraftedVolume() {
  std::vector<unsigned char> b(3840, 0);
  std::memcpy(&b[0], "Tallowmerecraft 3.0 database.", 29);
  std::memcpy(&b[64], "\nKorvanex Volume format. Version 1.1", 36);
  PutU32(b, 136, 256);   // directory: one entry
  PutU32(b, 140, 3328);  // its run table
  PutU32(b, 3328, 512);
  PutU32(b, 3332, 256);
  PutU32(b, 512, 0);
  PutU32(b, 516, 2);
  PutU32(b, 520, 256);
  for (int k = 0; k < 4; ++k) PutU32(b, 524 + 4 * k, 768 + 512 * k);
  b[540] = 'm';
  for (int i = 0; i < 256; ++i) {
    std::size_t t = 768 + 512 * (i / 64) + 8 * (i % 64);
    PutU32(b, t, 2816 + 2 * i);
    PutU32(b, t + 4, 1);
    b[2816 + 2 * i] = static_cast<unsigned char>(i);
  }
  return b;
}

TEST(Volume, AMemberHasAtMost256Runs) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  WriteAll(name, CraftedVolume());
  VolumePtr v(Volume::Open(name.c_str()));
  ArrayHandle m = v->OpenMember("m", 0);
  ASSERT_EQ(m->Count(), 256);
  EXPECT_EQ(static_cast<VolumeFileArray*>(m.Get())->RunCount(), 256);
  std::vector<unsigned char> all(256);
  m->Read(0, all.data(), 256);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(all[i], i);
  EXPECT_EQ(m->GetByte(200), 200);
  EXPECT_EQ(ErrorOf([&] { m->PutByte(256, 1); }), 542u);
  EXPECT_EQ(m->Count(), 256);
}

TEST(Volume, DamagedVolumesGiveNumberedErrors) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  auto open = [&](const std::vector<unsigned char>& bytes, const char* member) {
    WriteAll(name, bytes);
    return ErrorOf([&] {
      VolumePtr v(Volume::Open(name.c_str()));
      if (member != nullptr) {
        ArrayHandle m = v->OpenMember(member, 0);
        std::vector<char> all(static_cast<std::size_t>(m->Count()));
        m->Read(0, all.data(), m->Count());
      }
    });
  };
  std::vector<unsigned char> good = CraftedVolume();
  EXPECT_EQ(open(good, "m"), 0u);
  // Not a volume, or truncated inside the header.
  std::vector<unsigned char> wrong = good;
  wrong[70] = 'x';
  EXPECT_EQ(open(wrong, nullptr), 539u);
  EXPECT_EQ(open(std::vector<unsigned char>(good.begin(), good.begin() + 300), nullptr), 539u);
  EXPECT_EQ(open({}, nullptr), 539u);
  // Truncated after the header: the directory's table lies past the end.
  EXPECT_EQ(open(std::vector<unsigned char>(good.begin(), good.begin() + 3000), nullptr), 512u);
  // A member run past the end of the file.
  std::vector<unsigned char> past = good;
  PutU32(past, 768, 3830);
  PutU32(past, 772, 100);
  EXPECT_EQ(open(past, "m"), 512u);
  // Absurd run lengths (their sum would wrap a 32-bit offset).
  std::vector<unsigned char> absurd = good;
  PutU32(absurd, 768 + 8, 600);
  PutU32(absurd, 768 + 12, 0xFFFFFF00u);
  EXPECT_EQ(open(absurd, "m"), 512u);
  // A size beyond the allocated runs, a negative size, a table outside the file.
  std::vector<unsigned char> big = good;
  PutU32(big, 520, 5000);
  EXPECT_EQ(open(big, "m"), 512u);
  PutU32(big, 520, 0x80000000u);
  EXPECT_EQ(open(big, "m"), 512u);
  std::vector<unsigned char> table = good;
  PutU32(table, 524, 3800);
  EXPECT_EQ(open(table, "m"), 512u);
  PutU32(table, 524, 100);  // inside the header
  EXPECT_EQ(open(table, "m"), 512u);
  // A directory whose size is not a whole number of entries reads the whole ones.
  std::vector<unsigned char> ragged = good;
  PutU32(ragged, 136, 300);
  PutU32(ragged, 3332, 300);
  EXPECT_EQ(open(ragged, "m"), 0u);
}

TEST(Volume, MemberDeletedWhileOpenWritesNothingBack) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  VolumePtr v(Volume::Create(name.c_str()));
  ArrayHandle keep = v->CreateMember("keep", 5, 0);
  {
    ArrayHandle gone = Member(v.v, 0, "gone");
    gone->Write(0, "12345", 5);
    v->DeleteEntries("gone", kVolumeFile, 0);
    v->CreateEntry("other", kVolumeFile, 0);
  }
  EXPECT_EQ(v->FindEntry("gone", kVolumeFile, 0), -1);
  VolumeEntry other = v->Entry(v->FindEntry("other", kVolumeFile, 0));
  EXPECT_EQ(other.sizeOrId, 0);
  // An open member whose entry moved (another re-created before it) still updates its own.
  ArrayHandle k2 = Member(v.v, -1, "keep");
  v->CreateEntry("keep", kVolumeFile, 0);   // keep moves last, size 0
  v->CreateEntry("other", kVolumeFile, 0);  // and other after it
  k2->Write(0, "abcdefgh", 8);
  k2->Flush();
  EXPECT_EQ(v->Entry(v->FindEntry("keep", kVolumeFile, 0)).sizeOrId, 8);
  EXPECT_EQ(v->Entry(v->FindEntry("other", kVolumeFile, 0)).sizeOrId, 0);
}

}  // namespace
}  // namespace ludrex

namespace ludrex {
namespace {

// Members grown in place and in many runs (more than one run-table block) read back the same
// after the volume is closed and opened again.
TEST(Volume, GrowthSurvivesReopening) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "v.vol";
  auto byte = [](int member, std::int64_t i) {
    return static_cast<std::uint8_t>(i * 7 + member * 31 + i / 253);
  };
  std::int32_t runsA = 0, countA = 0, countB = 0;
  {
    VolumePtr v(Volume::Create(name.c_str()));
    ArrayHandle a(NewBufArray(new VolumeFileArray(0, "A", v.v, 0), 1000, 1000));
    a->Init(1);
    ArrayHandle b(new VolumeFileArray(0, "B", v.v, 0));
    b->Init(1);
    ArrayHandle c(new VolumeFileArray(0, "C", v.v, 0));
    c->Init(1);
    std::int64_t na = 0, nb = 0;
    for (int round = 0; round < 72; ++round) {
      // More than the 6 % allocated ahead, so that every round needs a new run.
      std::int64_t chunk = std::max<std::int64_t>(700, na / 14);
      for (std::int64_t i = 0; i < chunk; ++i, ++na) a->PutByteNext(byte(0, na));
      a->Flush();  // A's window reaches the member, which grows a new run
      std::int64_t bchunk = std::max<std::int64_t>(600, nb / 14);
      std::vector<std::uint8_t> part(static_cast<std::size_t>(bchunk));
      for (std::int64_t i = 0; i < bchunk; ++i) part[i] = byte(1, nb + i);
      b->Write(static_cast<std::int32_t>(nb), part.data(), static_cast<std::int32_t>(bchunk));
      nb += bchunk;
    }
    // C is allocated last: appending to it lengthens its one run in place.
    for (std::int64_t i = 0; i < 5000; ++i) {
      c->PutByte(static_cast<std::int32_t>(i), byte(2, i));
      // The table is written after the first run, so a second run starts; once its table
      // entry is written too, the run grows in place and the table must be written again.
      if (i == 100 || i == 2000) c->Flush();
    }
    auto* va = static_cast<VolumeFileArray*>(static_cast<BufArray*>(a.Get())->Underlying());
    a->Flush();
    runsA = va->RunCount();
    countA = a->Count();
    countB = b->Count();
    EXPECT_GT(runsA, 64);
    EXPECT_EQ(static_cast<VolumeFileArray*>(c.Get())->RunCount(), 2);
  }
  VolumePtr v(Volume::Open(name.c_str()));
  ArrayHandle a = v->OpenMember("A", 0);
  ArrayHandle b = v->OpenMember("B", 0);
  ArrayHandle c = v->OpenMember("C", 0);
  ASSERT_EQ(a->Count(), countA);
  ASSERT_EQ(b->Count(), countB);
  ASSERT_EQ(c->Count(), 5000);
  EXPECT_EQ(static_cast<VolumeFileArray*>(a.Get())->RunCount(), runsA);
  EXPECT_NE(static_cast<VolumeFileArray*>(a.Get())->TablePosition(1), 0u);
  std::vector<std::uint8_t> all(static_cast<std::size_t>(std::max(countA, countB)));
  a->Read(0, all.data(), a->Count());
  for (std::int64_t i = 0; i < a->Count(); ++i) ASSERT_EQ(all[i], byte(0, i)) << i;
  b->Read(0, all.data(), b->Count());
  for (std::int64_t i = 0; i < b->Count(); ++i) ASSERT_EQ(all[i], byte(1, i)) << i;
  c->Read(0, all.data(), c->Count());
  for (std::int64_t i = 0; i < c->Count(); ++i) ASSERT_EQ(all[i], byte(2, i)) << i;
}

}  // namespace
}  // namespace ludrex
