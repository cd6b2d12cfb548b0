// Damaged files give numbered errors and never a read outside a file.
#include <random>

#include "native_test_support.h"

namespace ludrex {
namespace {

using testing::Le32;
using testing::NativeTest;
using testing::Own;
using testing::Text;

RecordPattern TwoGroups() {
  RecordPattern p;
  p.Append(FieldSpec(kIntType, String("N"), 0, String("2")));
  p.Append(FieldSpec(kStringType, String("S"), 0, String("")));
  p.Append(FieldSpec(kStringType, String("T"), 0, String("")));
  return p;
}

class NativeDamage : public NativeTest {
 protected:
  // A base of n records, closed.
  void MakeBase(int n) {
    Base* b = Create(TwoGroups());
    Record r(b->GetRecordPattern());
    for (int k = 0; k < n; ++k) {
      r[0].SetInt(k);
      r[1].SetText(Own("text" + std::to_string(k)));
      r[2].SetText(Own(std::string(static_cast<std::size_t>(k % 5), 'x')));
      b->Write(kAppendRecord, r);
    }
    CloseBase(b);
  }
  // Opens and reads every record; the error code of the first failure, or 0.
  unsigned OpenAndReadAll() {
    Base* b = nullptr;
    try {
      b = Open();
      if (b == nullptr) return 904;
      Record r(b->GetRecordPattern());
      for (int k = 0; k < b->RecordCount(); ++k) b->Read(k, r);
    } catch (const Failure& f) {
      if (b != nullptr) CloseBase(b);
      return f.code;
    }
    CloseBase(b);
    return 0;
  }
};

TEST_F(NativeDamage, TruncatedHeaderGives945) {
  MakeBase(3);
  auto h = Bytes(".kvx");
  for (std::size_t cut : {std::size_t{104}, std::size_t{111}, std::size_t{120}, h.size() - 1}) {
    PutBytes(".kvx", std::vector<std::uint8_t>(h.begin(), h.begin() + static_cast<long>(cut)));
    EXPECT_EQ(OpenAndReadAll(), 945u) << cut;
  }
  // A description length far past the file's end.
  auto bad = h;
  bad[108] = 0xFF;
  bad[111] = 0x7F;
  PutBytes(".kvx", bad);
  EXPECT_EQ(OpenAndReadAll(), 945u);
  // The intact header opens again.
  PutBytes(".kvx", h);
  EXPECT_EQ(OpenAndReadAll(), 0u);
}

TEST_F(NativeDamage, AddressPastTheEndOfTheDataFileGives946) {
  MakeBase(4);
  auto a = Bytes(".a01");
  auto far = Le32({1000000});
  std::copy(far.begin(), far.end(), a.begin() + 8);  // record 2
  PutBytes(".a01", a);
  Base* b = Open();
  Record r(b->GetRecordPattern());
  b->Read(1, r);
  EXPECT_EQ(Text(r[1]), "text1");
  EXPECT_THROW(b->Read(2, r), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 946u);
  // Only the fields of the damaged group are refused: the fixed group still reads.
  RecordPattern onlyN;
  onlyN.Append(FieldSpec(kIntType, String("N"), 0, String("2")));
  Record n(onlyN);
  b->Read(2, n);
  EXPECT_EQ(n[0].GetInt(), 2);
  CloseBase(b);
}

TEST_F(NativeDamage, OverflowReferenceOutsideTheAddressFileGives946) {
  MakeBase(3);
  auto a = Bytes(".a01");
  auto ref = Le32({-50});
  std::copy(ref.begin(), ref.end(), a.begin() + 4);
  PutBytes(".a01", a);
  Base* b = Open();
  Record r(b->GetRecordPattern());
  b->Read(0, r);
  EXPECT_EQ(Text(r[1]), "text0");
  EXPECT_THROW(b->Read(1, r), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 946u);
  CloseBase(b);
}

// An address file emptied or cut short: the records whose slots it no longer holds are refused,
// never read back with their fields of that group empty.
TEST_F(NativeDamage, SlotBeyondTheAddressFileGives946) {
  MakeBase(4);
  auto a = Bytes(".a01");
  for (std::size_t keep : {std::size_t{0}, std::size_t{8}, std::size_t{10}}) {
    PutBytes(".a01", std::vector<std::uint8_t>(a.begin(), a.begin() + static_cast<long>(keep)));
    Base* b = Open();
    ASSERT_NE(b, nullptr);
    Record r(b->GetRecordPattern());
    std::int32_t whole = static_cast<std::int32_t>(keep / 4);
    for (std::int32_t k = 0; k < 4; ++k) {
      if (k < whole) {
        b->Read(k, r);
        EXPECT_EQ(Text(r[1]), "text" + std::to_string(k));
      } else {
        EXPECT_THROW(b->Read(k, r), Failure) << keep << " " << k;
        EXPECT_EQ(testing::LastErrorCode(), 946u);
      }
    }
    CloseBase(b);
  }
  // A rewrite is refused too: its overflow entry would land on another record's slot.
  PutBytes(".a01", std::vector<std::uint8_t>(a.begin(), a.begin() + 4));
  Base* b = Open();
  Record r(b->GetRecordPattern());
  r[0].SetInt(3);
  r[1].SetText(String("again"));
  r[2].SetText(String(""));
  EXPECT_THROW(b->Write(3, r), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 946u);
  CloseBase(b);
  EXPECT_EQ(Bytes(".a01").size(), 4u);
}

TEST_F(NativeDamage, SizeHeaderLongerThanTheDataGives946) {
  MakeBase(2);
  auto d = Bytes(".d01");
  // Record 1's group data start at 7 (1 + "text0" + 0 + ... ): its first length byte.
  auto a = Bytes(".a01");
  std::size_t at = a[4];
  d[at] = 0xF0;  // 0x70 plus a continuation
  d[at + 1] = 0x7F;
  PutBytes(".d01", d);
  Base* b = Open();
  Record r(b->GetRecordPattern());
  b->Read(0, r);
  EXPECT_THROW(b->Read(1, r), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 946u);
  // A length that never ends within four bytes.
  d[at] = d[at + 1] = d[at + 2] = d[at + 3] = 0x81;
  PutBytes(".d01", d);
  CloseBase(b);
  EXPECT_EQ(OpenAndReadAll(), 946u);
}

TEST_F(NativeDamage, SlotMapOrKeyOrderDisagreeingWithTheCountGives945) {
  MakeBase(9);
  PutBytes(".axx", {0xFF, 0x00});
  EXPECT_EQ(OpenAndReadAll(), 945u);
  PutBytes(".axx", {0xFF, 0x80, 0x00});  // a trailing empty byte is no slot
  EXPECT_EQ(OpenAndReadAll(), 0u);
  // Slots past the count are what an update cut short leaves (the header is written last):
  // they are dropped, and the map is stored without them.
  PutBytes(".axx", {0xFF, 0xE0});
  EXPECT_EQ(OpenAndReadAll(), 0u);
  EXPECT_EQ(Bytes(".axx"), (std::vector<std::uint8_t>{0xFF, 0x80}));
  EraseBase(Own(name_), 0);
  Base* b = Create(testing::PlayersPattern());
  Record r(b->GetRecordPattern());
  for (const char* t : {"a", "b"}) {
    r[0].SetText(String(t));
    b->Write(kAppendRecord, r);
  }
  CloseBase(b);
  PutBytes(".iii", Le32({0, 7}));
  EXPECT_EQ(OpenAndReadAll(), 945u);
  PutBytes(".iii", Le32({0}));
  EXPECT_EQ(OpenAndReadAll(), 945u);
  // Entries of records past the count (an update cut short) are dropped and the file cut.
  PutBytes(".iii", Le32({2, 0, 3, 1}));
  EXPECT_EQ(OpenAndReadAll(), 0u);
  EXPECT_EQ(Bytes(".iii"), Le32({0, 1}));
  PutBytes(".iii", Le32({2, 0, 0}));
  EXPECT_EQ(OpenAndReadAll(), 945u);
}

TEST_F(NativeDamage, DeletionMarksOfAnotherLengthAreFitted) {
  MakeBase(9);
  PutBytes(".dxx", {0xFF});
  Base* b = Open();
  EXPECT_EQ(b->IsDeleted(0), 1);
  EXPECT_EQ(b->IsDeleted(8), 0);
  CloseBase(b);
  EXPECT_EQ(Bytes(".dxx"), (std::vector<std::uint8_t>{0xFF, 0x00}));
}

// Random damage to every file: an open and a full read either succeed or raise a numbered error.
TEST_F(NativeDamage, RandomByteDamageNeverCrashes) {
  std::mt19937 rng(42);
  MakeBase(40);
  const char* files[] = {".kvx", ".axx", ".dxx", ".a01", ".d01", ".d00"};
  std::vector<std::vector<std::uint8_t>> original;
  for (const char* f : files) original.push_back(Bytes(f));
  for (int round = 0; round < 120; ++round) {
    std::size_t which = rng() % 6;
    auto bytes = original[which];
    if (bytes.empty()) continue;
    if (rng() % 4 == 0) {
      bytes.resize(rng() % bytes.size());
    } else {
      for (int k = 0; k < 3; ++k) bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
    }
    PutBytes(files[which], bytes);
    unsigned code = OpenAndReadAll();
    EXPECT_TRUE(code == 0 || (code >= 500 && code < 1000)) << code;
    for (std::size_t f = 0; f < 6; ++f) PutBytes(files[f], original[f]);
  }
  EXPECT_EQ(OpenAndReadAll(), 0u);
}

}  // namespace
}  // namespace ludrex
