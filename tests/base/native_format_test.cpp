// The files of a native base byte for byte: header, field order, slot map, address and data files,
// relocation, deletion marks and key order.
#include <cstring>

#include "native_test_support.h"

namespace ludrex {
namespace {

using testing::Le32;
using testing::NativeTest;
using testing::Own;
using testing::Text;

std::vector<std::uint8_t> Cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<std::uint8_t> Str(const std::string& s) {
  return std::vector<std::uint8_t>(s.begin(), s.end());
}

// A field specification as the header stores it.
std::vector<std::uint8_t> Spec(int type, const std::string& name, unsigned flags,
                               const std::string& param, int kind, int size, int group,
                               int ordinal) {
  return Cat({Le32({type, static_cast<std::int64_t>(name.size())}), Str(name), Le32({flags}),
              Le32({static_cast<std::int64_t>(param.size())}), Str(param),
              Le32({kind, size, group, ordinal})});
}

std::vector<std::uint8_t> Texts() {
  std::vector<std::uint8_t> t(100, 0);
  std::string a = "Tallowmerecraft 3.0 database.", b = "\nChess Korvanex format. Version 1.3";
  std::copy(a.begin(), a.end(), t.begin());
  std::copy(b.begin(), b.end(), t.begin() + 50);
  return t;
}

RecordPattern MixedPattern() {
  RecordPattern p;
  p.Append(FieldSpec(kStringType, String("S"), 0, String("")));
  p.Append(FieldSpec(kIntType, String("I"), 0, String("4")));
  p.Append(FieldSpec(kChessType, String("G"), 0, String("")));
  p.Append(FieldSpec(kResultType, String("R"), 0, String("")));
  return p;
}

TEST_F(NativeTest, FieldOrderIsIntegerResultStringGameScore) {
  Base* b = Create(MixedPattern());
  ASSERT_NE(b, nullptr);
  const RecordPattern& p = b->GetRecordPattern();
  ASSERT_EQ(p.Count(), 4);
  EXPECT_EQ(std::string(p[0].name.Text()), "I");
  EXPECT_EQ(std::string(p[1].name.Text()), "R");
  EXPECT_EQ(std::string(p[2].name.Text()), "S");
  EXPECT_EQ(std::string(p[3].name.Text()), "G");
  BaseInfo info;
  info.description = String("Test");
  info.flag = 1;
  b->SetInfo(info);
  b->Update();
  // The header keeps the creation order and the storage of each field.
  auto expected = Cat({Texts(), Le32({1, 0, 4}), Str("Test"), Le32({4}),
                       Spec(1, "S", 0, "", 2, 0, 1, 0), Spec(2, "I", 0, "4", 1, 4, 0, 0),
                       Spec(4, "G", 0, "", 2, 0, 2, 0), Spec(5, "R", 0, "", 1, 1, 0, 1)});
  EXPECT_EQ(Bytes(".kvx"), expected);
  EXPECT_TRUE(Exists(".d00"));
  EXPECT_FALSE(Exists(".a00"));
  EXPECT_TRUE(Exists(".a01") && Exists(".d01") && Exists(".a02") && Exists(".d02"));
  EXPECT_FALSE(Exists(".iii"));
  EXPECT_TRUE(Exists(".emb") && Exists(".axx") && Exists(".dxx"));
  CloseBase(b);
  // The same order after reopening.
  b = Open();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::string(b->GetRecordPattern()[2].name.Text()), "S");
  BaseInfo back;
  b->GetInfo(back);
  EXPECT_EQ(std::string(back.description.Text(), back.description.Length()), "Test");
  EXPECT_EQ(back.flag, 1);
  EXPECT_EQ(std::string(back.fullName.Text(), back.fullName.Length()), name_);
  CloseBase(b);
}

TEST_F(NativeTest, StorageRulesRefuseBadSubtypes) {
  RecordPattern noSize;
  noSize.Append(FieldSpec(kIntType, String("I"), 0, String("")));
  EXPECT_THROW(Create(noSize), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 101u);
  RecordPattern badDate;
  badDate.Append(FieldSpec(kDateType, String("D"), 0, String("Q")));
  EXPECT_THROW(Create(badDate), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 806u);
  RecordPattern twoKeys;
  twoKeys.Append(FieldSpec(kStringType, String("A"), kFlagKey, String("")));
  twoKeys.Append(FieldSpec(kStringType, String("B"), kFlagKey, String("")));
  EXPECT_THROW(Create(twoKeys), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 919u);
  RecordPattern libKey;
  RecordPattern players = testing::PlayersPattern();
  libKey.Append(FieldSpec(kLibRefType, String("~1"), kFlagKey, String("Players"), &players));
  EXPECT_THROW(Create(libKey), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 918u);
  // Nothing was left behind that a later open could take for a base.
  EXPECT_FALSE(Exists(".kvx"));
}

TEST_F(NativeTest, AllFixedBaseHasOnlyTheDataFileAtSlotTimesSize) {
  RecordPattern p;
  p.Append(FieldSpec(kIntType, String("I"), 0, String("2")));
  p.Append(FieldSpec(kResultType, String("R"), 0, String("")));
  Base* b = Create(p);
  Record r(b->GetRecordPattern());
  for (int k = 0; k < 3; ++k) {
    r[0].SetInt(0x101 * (k + 1));
    r[1].SetInt(k);
    EXPECT_EQ(b->Write(kAppendRecord, r), k);
  }
  b->Update();
  EXPECT_EQ(Bytes(".d00"), (std::vector<std::uint8_t>{1, 1, 0, 2, 2, 1, 3, 3, 2}));
  EXPECT_FALSE(Exists(".a00"));
  EXPECT_FALSE(Exists(".a01"));
  EXPECT_FALSE(Exists(".d01"));
  // An explicit rewrite changes the slot's bytes in place.
  r[0].SetInt(0x0505);
  r[1].SetInt(3);
  EXPECT_EQ(b->Write(1, r), 1);
  b->Update();
  EXPECT_EQ(Bytes(".d00"), (std::vector<std::uint8_t>{1, 1, 0, 5, 5, 3, 3, 3, 2}));
  CloseBase(b);
}

TEST_F(NativeTest, LongerStringRelocatesAndTheAddressTurnsNegative) {
  RecordPattern p;
  p.Append(FieldSpec(kStringType, String("S"), 0, String("")));
  Base* b = Create(p);
  Record r(b->GetRecordPattern());
  for (const char* t : {"a", "b", "c"}) {
    r[0].SetText(String(t));
    b->Write(kAppendRecord, r);
  }
  b->Update();
  EXPECT_EQ(Bytes(".d01"), (std::vector<std::uint8_t>{1, 'a', 1, 'b', 1, 'c'}));
  EXPECT_EQ(Bytes(".a01"), Le32({0, 2, 4}));

  r[0].SetText(String("bbb"));
  b->Write(1, r);
  b->Update();
  EXPECT_EQ(Bytes(".d01"), (std::vector<std::uint8_t>{1, 'a', 1, 'b', 1, 'c', 3, 'b', 'b', 'b'}));
  EXPECT_EQ(Bytes(".a01"), Le32({0, -3, 4, 6}));
  Record back(b->GetRecordPattern());
  b->Read(1, back);
  EXPECT_EQ(Text(back[0]), "bbb");

  // Shorter still relocates: the room is measured from the slot's own entry.
  r[0].SetText(String("x"));
  b->Write(1, r);
  b->Update();
  EXPECT_EQ(Bytes(".a01"), Le32({0, -4, 4, 0x80000000LL, 10}));
  b->Read(1, back);
  EXPECT_EQ(Text(back[0]), "x");

  // A new record takes the slot after every address entry; the skipped slots stay clear.
  r[0].SetText(String("d"));
  EXPECT_EQ(b->Write(kAppendRecord, r), 3);
  b->Update();
  EXPECT_EQ(Bytes(".axx"), (std::vector<std::uint8_t>{0xE4}));
  EXPECT_EQ(Bytes(".a01"), Le32({0, -4, 4, 0x80000000LL, 10, 12}));
  CloseBase(b);

  b = Open();
  Record again(b->GetRecordPattern());
  const char* want[] = {"a", "x", "c", "d"};
  for (int k = 0; k < 4; ++k) {
    b->Read(k, again);
    EXPECT_EQ(Text(again[0]), want[k]);
  }
  // A rewrite that fits stays where it is.
  r[0].SetText(String("e"));
  b->Write(3, r);
  b->Update();
  EXPECT_EQ(Bytes(".a01"), Le32({0, -4, 4, 0x80000000LL, 10, 12}));
  CloseBase(b);
}

TEST_F(NativeTest, NineRecordSlotMapIsFF80) {
  RecordPattern p;
  p.Append(FieldSpec(kIntType, String("I"), 0, String("1")));
  Base* b = Create(p);
  Record r(b->GetRecordPattern());
  for (int k = 0; k < 9; ++k) {
    r[0].SetInt(k);
    b->Write(kAppendRecord, r);
  }
  b->ToggleDelete(8, 1);
  b->Update();
  EXPECT_EQ(Bytes(".axx"), (std::vector<std::uint8_t>{0xFF, 0x80}));
  EXPECT_EQ(Bytes(".dxx"), (std::vector<std::uint8_t>{0x00, 0x80}));
  EXPECT_EQ(b->IsDeleted(8), 1);
  // A deleted record reads normally.
  b->Read(8, r);
  EXPECT_EQ(r[0].GetInt(), 8);
  b->ToggleDelete(8, 1);
  EXPECT_EQ(b->IsDeleted(8), 0);
  EXPECT_EQ(Bytes(".dxx"), (std::vector<std::uint8_t>{0x00, 0x00}));
  EXPECT_THROW(b->ToggleDelete(9, 1), Failure);
  EXPECT_THROW(b->Read(9, r), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 903u);
  CloseBase(b);
  b = Open();
  EXPECT_EQ(b->RecordCount(), 9);
  CloseBase(b);
  ShortInfo info;
  GetShortInfo(0, Own(name_), info);
  EXPECT_EQ(info.count, 9);
}

TEST_F(NativeTest, KeyOrderAndAppendOfAnExistingKey) {
  Base* b = Create(testing::PlayersPattern());
  ASSERT_EQ(b->IsSorted(), 1);
  Record r(b->GetRecordPattern());
  for (const char* t : {"c", "a", "b"}) {
    r[0].SetText(String(t));
    b->Write(kAppendRecord, r);
  }
  b->Update();
  EXPECT_EQ(Bytes(".iii"), Le32({1, 2, 0}));
  auto before = Bytes(".d01");
  r[0].SetText(String("b"));
  EXPECT_EQ(b->Write(kAppendRecord, r), 1);
  EXPECT_EQ(b->Write(kAppendSortedRecord, r), 1);
  r[0].SetText(String("c"));
  EXPECT_EQ(b->Write(kAppendSortedRecord, r), 2);
  b->Update();
  EXPECT_EQ(b->RecordCount(), 3);
  EXPECT_EQ(Bytes(".d01"), before);
  // Sorted appends after the last key go to the end.
  r[0].SetText(String("d"));
  EXPECT_EQ(b->Write(kAppendSortedRecord, r), 3);
  // A rewrite that changes the key moves its entry; one onto an existing key is refused.
  r[0].SetText(String("e"));
  EXPECT_EQ(b->Write(1, r), 3);  // "a" (record 1) becomes "e", the last key
  b->Update();
  EXPECT_EQ(Bytes(".iii"), Le32({2, 0, 3, 1}));
  r[0].SetText(String("b"));
  EXPECT_EQ(b->Write(0, r), 0);  // "c" -> "b", which record 2 holds: its position
  EXPECT_EQ(b->UnsortedFromSorted(0), 2);
  CloseBase(b);
}

TEST_F(NativeTest, WrongFormatMarkReports904AndDiscardsTheObject) {
  RecordPattern p;
  p.Append(FieldSpec(kIntType, String("I"), 0, String("1")));
  CloseBase(Create(p));
  auto h = Bytes(".kvx");
  h[60] = 'X';
  PutBytes(".kvx", h);
  EXPECT_EQ(Open(), nullptr);
  ASSERT_FALSE(testing::Capture().boxes.empty());
  EXPECT_NE(testing::Capture().boxes.back().find("904"), std::string::npos);
  ShortInfo info;
  GetShortInfo(0, Own(name_), info);
  EXPECT_EQ(info.count, -1);
  EXPECT_NE(std::string(info.text.Text(), info.text.Length()).find(" Chess Korvanex 1.3"),
            std::string::npos);
}

// Game scores in their own group: each game's bytes behind a one-byte or longer size header.
TEST_F(NativeTest, GameScoresRoundTripInTheirOwnGroup) {
  RecordPattern p;
  p.Append(FieldSpec(kStringType, String("~1"), 0, String("")));
  p.Append(FieldSpec(kChessType, String("~22"), 0, String("")));
  Base* b = Create(p);
  const char* games[] = {
      "1. e4 e5 2. Nf3 Nc6 3. Bb5 a6", "", "1. d4 Nf6 2. c4 e6 3. Nc3 Bb4 4. e3 O-O",
      "1. e4 c5 2. Nf3 d6 3. d4 cxd4 4. Nxd4 Nf6 5. Nc3 a6 6. Be3 e5 7. Nb3 Be6 "
      "8. f3 Be7 9. Qd2 O-O 10. O-O-O Nbd7 11. g4 b5 12. g5 b4 13. Ne2 Ne8 14. f4 a5"};
  Record r(b->GetRecordPattern());
  std::vector<std::string> packed;
  for (const char* g : games) {
    r[0].SetText(String("x"));
    r[1].Unpack(kPgnBase, reinterpret_cast<const std::uint8_t*>(g),
                static_cast<std::int32_t>(std::strlen(g)), String(""));
    ByteBlock bytes = r[1].Pack(kNativeBase, String(""));
    packed.emplace_back(reinterpret_cast<const char*>(bytes.Data()),
                        static_cast<std::size_t>(bytes.Count()));
    b->Write(kAppendRecord, r);
  }
  b->Update();
  // The group file holds each game behind its base-128 length, in record order.
  std::vector<std::uint8_t> expected;
  for (const std::string& g : packed) {
    std::uint32_t n = static_cast<std::uint32_t>(g.size());
    while (n >= 0x80) {
      expected.push_back(static_cast<std::uint8_t>(n | 0x80));
      n >>= 7;
    }
    expected.push_back(static_cast<std::uint8_t>(n));
    expected.insert(expected.end(), g.begin(), g.end());
  }
  EXPECT_EQ(Bytes(".d02"), expected);
  CloseBase(b);
  b = Open();
  Record back(b->GetRecordPattern());
  for (std::size_t k = 0; k < packed.size(); ++k) {
    b->Read(static_cast<std::int32_t>(k), back);
    ByteBlock bytes = back[1].Pack(kNativeBase, String(""));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.Data()),
                          static_cast<std::size_t>(bytes.Count())),
              packed[k])
        << k;
  }
  CloseBase(b);
}

}  // namespace
}  // namespace ludrex
