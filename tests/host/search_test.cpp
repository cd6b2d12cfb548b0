// Searching as a host does: criteria made from pattern entries, a player of either colour within
// dates, stopping from the progress callback, packed criteria (a library criterion found again in
// another base), and the accessors' checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host_errors.h"
#include "ludrex.h"

namespace {

using host_test::g_errors;

HostFieldEntry Entry(int type, const char* name, int flags, const char* text,
                     HostRecordPattern* library = nullptr) {
  HostFieldEntry e;
  std::memset(&e, 0, sizeof e);
  e.type = type;
  e.name = const_cast<char*>(name);
  e.param = flags;
  e.text = const_cast<char*>(text);
  if (type == 0) e.extra.library = library;
  return e;
}

int g_stopAt = -1;
int g_lastDone = -1, g_lastHits = -1;
int LUDREX_CDECL StepEx(int done, int, int hits) {
  g_lastDone = done;
  g_lastHits = hits;
  return g_stopAt >= 0 && done >= g_stopAt ? 1 : 0;
}

const char* const kPlayers[] = {"Tal", "Botvinnik", "Smyslov", "Petrosian", "Spassky"};

class HostSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    name_ = ::testing::TempDir() + "ludrex_hostsearch_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Base_BaseErase(name_.c_str(), 0);
    Base_BaseErase((name_ + "2").c_str(), 0);
    playerEntries_[0] = Entry(1, "~3", 2, "");
    players_ = {1, playerEntries_};
    gameEntries_[0] = Entry(0, "~1", 0, "Players", &players_);
    gameEntries_[1] = Entry(0, "~2", 0, "Players", &players_);
    gameEntries_[2] = Entry(3, "~15", 0, "F");
    gameEntries_[3] = Entry(5, "~14", 0, "");
    gameEntries_[4] = Entry(7, "~18", 0, "");
    games_ = {5, gameEntries_};
  }
  void TearDown() override {
    SetMessageFunctions(nullptr, nullptr, nullptr, nullptr, nullptr);
    Base_BaseErase(name_.c_str(), 0);
    Base_BaseErase((name_ + "2").c_str(), 0);
    SetErrorFunction(nullptr);
  }

  // Game i: White kPlayers[i % 5], Black kPlayers[(i / 5) % 5], year 1950 + i % 20, result
  // 1 + i % 3, ECO i % 500 (none for every seventh game). Fields in the base's order: White,
  // Black, Date, Result, ECO.
  LudrexBase* MakeBase(const std::string& name, int count) {
    LudrexBase* b = Base_BaseCreate(name.c_str(), &games_, 0);
    EXPECT_NE(b, nullptr) << (g_errors.empty() ? "" : g_errors.back());
    HostRecordPattern* p = Base_GetRecordPattern(b);
    LudrexRecord* r = Record_CreateRecord(p);
    CPP_DestroyRP(p);
    Record_LinkToBase(r, b);
    for (int i = 0; i < count; ++i) {
      StringField_SetStr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, 0)), 0),
                         kPlayers[i % 5]);
      StringField_SetStr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, 1)), 0),
                         kPlayers[(i / 5) % 5]);
      DateField_SetYear(Record_GetField(r, 2), 1950 + i % 20);
      DateField_SetMonth(Record_GetField(r, 2), 1);
      DateField_SetDay(Record_GetField(r, 2), 1);
      ResultField_SetValue(Record_GetField(r, 3), 1 + i % 3);
      ECOField_SetValue(Record_GetField(r, 4), i % 7 == 0 ? -1 : i % 500);
      Base_Write(b, AppendRecord, r);
    }
    Record_Destroy(r);
    return b;
  }

  // A criteria record of the given criterion entries.
  static LudrexRecord* Criteria(std::vector<HostFieldEntry> entries) {
    HostRecordPattern p = {static_cast<int32_t>(entries.size()), entries.data()};
    return Record_CreateRecord(&p);
  }
  static std::vector<int> Members(LudrexSubset* s) {
    std::vector<int> out;
    for (int i = 0; i < Subset_CurLength(s); ++i) out.push_back(Subset_BaseNum(s, i));
    return out;
  }
  // The library's record number of a player.
  static int PlayerNumber(LudrexBase* library, const char* name) {
    HostRecordPattern* p = Base_GetRecordPattern(library);
    LudrexRecord* r = Record_CreateRecord(p);
    CPP_DestroyRP(p);
    int found = -1;
    for (int i = 0; i < Base_GetBaseLength(library); ++i) {
      Base_Read(library, i, r);
      if (std::strcmp(StringField_GetStrPtr(Record_GetField(r, 0)), name) == 0) found = i;
    }
    Record_Destroy(r);
    return found;
  }

  std::string name_;
  HostFieldEntry playerEntries_[1];
  HostRecordPattern players_;
  HostFieldEntry gameEntries_[5];
  HostRecordPattern games_;
};

TEST_F(HostSearch, PlayerOfEitherColourWithinDates) {
  LudrexBase* b = MakeBase(name_, 200);
  LudrexBase* lib = Base_EmbeddedBaseOpen(b, "Players");
  int tal = PlayerNumber(lib, "Tal");
  ASSERT_GE(tal, 0);
  LudrexRecord* a = Criteria({Entry(0x10000, "~1", 0, ""), Entry(0x10003, "~15", 0, "")});
  LudrexRecord* bb = Criteria({Entry(0x10000, "~2", 0, "")});
  for (LudrexRecord* rec : {a, bb}) {
    LudrexField* c = Record_GetField(rec, 0);
    LibRefFieldCrit_SetBase(c, lib);
    Subset_Include(LibRefFieldCrit_GetSubsetBody(c), tal);
  }
  LudrexField* date = Record_GetField(a, 1);
  DateFieldCrit_SetLength(date, 1);
  DateFieldCrit_SetPair(date, 0, FieldCrit_PackDate(1960, 12, 31), FieldCrit_PackDate(1955, 1, 1));
  LudrexSubset* s = Subset_CreateTmp(200);
  Subset_IncludeRange(s, 0, -1);
  int hits = Base_Search(b, s, a, bb);
  std::vector<int> want;
  for (int i = 0; i < 200; ++i) {
    bool either = i % 5 == 0 || (i / 5) % 5 == 0;
    int year = 1950 + i % 20;
    if (either && year >= 1955 && year <= 1960) want.push_back(i);
  }
  EXPECT_EQ(Members(s), want);
  EXPECT_EQ(hits, static_cast<int>(want.size()));
  // Without B only White counts.
  Subset_IncludeRange(s, 0, -1);
  Base_Search(b, s, a, nullptr);
  for (int r : Members(s)) EXPECT_EQ(r % 5, 0);
  Subset_Destroy(s);
  Record_Destroy(a);
  Record_Destroy(bb);
  Base_BaseDestroy(lib);
  Base_BaseDestroy(b);
}

TEST_F(HostSearch, ResultAndEcoEdgeCasesAndEmptyCriteria) {
  LudrexBase* b = MakeBase(name_, 100);
  LudrexRecord* a = Criteria({Entry(0x10005, "~14", 0, ""), Entry(0x10007, "~18", 0, "")});
  ResultFieldCrit_SetValue(Record_GetField(a, 0), 0b0100);  // White won only
  for (int k = 0; k < 500; ++k) ECOFieldCrit_SetItem(Record_GetField(a, 1), k, 1);
  LudrexSubset* s = Subset_CreateTmp(100);
  Subset_IncludeRange(s, 0, -1);
  Base_Search(b, s, a, nullptr);
  for (int r : Members(s)) {
    EXPECT_EQ(1 + r % 3, 2);
    EXPECT_NE(r % 7, 0);  // no ECO: never
  }
  EXPECT_GT(Subset_CurLength(s), 0);
  // Empty criteria records leave the subset as it is.
  LudrexRecord* none = Criteria({});
  Subset_IncludeRange(s, 0, -1);
  Base_Search(b, s, none, nullptr);
  EXPECT_EQ(Subset_CurLength(s), 100);
  // A criterion of a name the base does not have pairs with nothing: nothing is found.
  LudrexRecord* other = Criteria({Entry(0x10005, "Other", 0, "")});
  Base_Search(b, s, other, nullptr);
  EXPECT_EQ(Subset_CurLength(s), 0);
  Subset_Destroy(s);
  Record_Destroy(a);
  Record_Destroy(none);
  Record_Destroy(other);
  Base_BaseDestroy(b);
}

TEST_F(HostSearch, StopFromTheProgressCallbackKeepsTheMatchesSoFar) {
  LudrexBase* b = MakeBase(name_, 1000);
  LudrexRecord* a = Criteria({Entry(0x10005, "~14", 0, "")});
  ResultFieldCrit_SetValue(Record_GetField(a, 0), 0b0110);
  SetMessageFunctions(nullptr, nullptr, nullptr, nullptr, StepEx);
  g_stopAt = 0;  // the first report (after the granularity of 200 games) stops
  LudrexSubset* s = Subset_CreateTmp(1000);
  Subset_IncludeRange(s, 0, -1);
  int hits = Base_Search(b, s, a, nullptr);
  ASSERT_EQ(g_lastDone, 200);
  std::vector<int> want;
  for (int i = 0; i < 200; ++i)
    if (1 + i % 3 != 3) want.push_back(i);
  EXPECT_EQ(Members(s), want);
  EXPECT_EQ(hits, g_lastHits);
  EXPECT_EQ(hits, static_cast<int>(want.size()));
  g_stopAt = -1;
  Subset_Destroy(s);
  Record_Destroy(a);
  Base_BaseDestroy(b);
}

TEST_F(HostSearch, LibraryCriterionPackedInOneBaseFindsTheSameNamesInAnother) {
  LudrexBase* one = MakeBase(name_, 10);
  LudrexBase* two = MakeBase(name_ + "2", 0);
  // The second base's library holds the players in another order, and one more.
  {
    HostRecordPattern* p = Base_GetRecordPattern(two);
    LudrexRecord* r = Record_CreateRecord(p);
    CPP_DestroyRP(p);
    Record_LinkToBase(r, two);
    const char* order[] = {"Spassky", "Karpov", "Smyslov", "Tal", "Petrosian", "Botvinnik"};
    for (int i = 0; i < 6; ++i) {
      StringField_SetStr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, 0)), 0),
                         order[i]);
      StringField_SetStr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, 1)), 0),
                         order[i]);
      Base_Write(two, AppendRecord, r);
    }
    Record_Destroy(r);
  }
  LudrexBase* lib1 = Base_EmbeddedBaseOpen(one, "Players");
  LudrexBase* lib2 = Base_EmbeddedBaseOpen(two, "Players");
  LudrexRecord* c1 = Criteria({Entry(0x10000, "~1", 0, "")});
  LudrexField* crit = Record_GetField(c1, 0);
  LibRefFieldCrit_SetBase(crit, lib1);
  Subset_Include(LibRefFieldCrit_GetSubsetBody(crit), PlayerNumber(lib1, "Tal"));
  Subset_Include(LibRefFieldCrit_GetSubsetBody(crit), PlayerNumber(lib1, "Spassky"));
  int n = FieldCrit_Pack(crit, nullptr, 0);
  ASSERT_LT(n, 0);  // too small: minus the needed size
  std::vector<char> bytes(static_cast<std::size_t>(-n));
  EXPECT_EQ(FieldCrit_Pack(crit, bytes.data(), -n), -n);

  LudrexRecord* c2 = Criteria({Entry(0x10000, "~1", 0, "")});
  LudrexField* crit2 = Record_GetField(c2, 0);
  LibRefFieldCrit_SetBase(crit2, lib2);
  FieldCrit_UnPack(crit2, bytes.data(), -n);
  LudrexSubset* set = LibRefFieldCrit_GetSubsetBody(crit2);
  std::vector<int> want = {PlayerNumber(lib2, "Spassky"), PlayerNumber(lib2, "Tal")};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(Members(set), want);
  // The unpacked criterion finds those players' games in the second base.
  LudrexSubset* s = Subset_CreateTmp(6);
  Subset_IncludeRange(s, 0, -1);
  Base_Search(two, s, c2, nullptr);
  EXPECT_EQ(Members(s), (std::vector<int>{0, 3}));
  Subset_Destroy(s);
  Record_Destroy(c1);
  Record_Destroy(c2);
  Base_BaseDestroy(lib1);
  Base_BaseDestroy(lib2);
  Base_BaseDestroy(one);
  Base_BaseDestroy(two);
}

TEST_F(HostSearch, AccessorsCheckTheirClassAndTheirArguments) {
  LudrexRecord* c = Criteria({Entry(0x10001, "~16", 0, ""), Entry(0x10002, "~9", 0, "2u"),
                              Entry(0x10008, "~6", 0, "")});
  LudrexField* text = Record_GetField(c, 0);
  StringFieldCrit_SetSearchType(text, 2);
  StringFieldCrit_SetStr(text, "OLY");
  EXPECT_EQ(StringFieldCrit_GetSearchType(text), 2);
  EXPECT_STREQ(StringFieldCrit_GetStrPtr(text), "OLY");
  char small[4];
  EXPECT_EQ(FieldCrit_Pack(text, small, 4), -11);
  LudrexField* num = Record_GetField(c, 1);
  g_errors.clear();
  IntFieldCrit_SetLength(num, -1);
  ASSERT_EQ(g_errors.size(), 1u);  // 14
  IntFieldCrit_SetLength(num, 1);
  IntFieldCrit_SetPair(num, 0, 2800, 2600);
  int up = 0, lo = 0;
  IntFieldCrit_GetPair(num, 0, &up, &lo);
  EXPECT_EQ(up, 2800);
  EXPECT_EQ(lo, 2600);
  g_errors.clear();
  IntFieldCrit_GetPair(num, 1, &up, &lo);  // 12
  DateFieldCrit_GetLength(num);            // another class: 803
  EXPECT_EQ(g_errors.size(), 2u);
  IntFieldCrit_EnableBitMaskMode(num, 2);
  IntFieldCrit_SetBitMask(num, 0x30);
  EXPECT_EQ(IntFieldCrit_GetBitMask(num), 0x30u);
  SexFieldCrit_SetValue(Record_GetField(c, 2), 6);
  EXPECT_EQ(SexFieldCrit_GetValue(Record_GetField(c, 2)), 6u);
  EXPECT_STREQ(CPP_GetFieldTypeName(0x10005), (std::string(CPP_GetFieldTypeName(5)) + " criterion").c_str());
  EXPECT_EQ(FieldCrit_PackDate(1999, 3, 15), ((1999 * 13 + 3) << 5) + 15);
  Record_Destroy(c);
}

}  // namespace
