// The native base as a host uses it: games whose White and Black names live in an embedded
// "Players" library, written and read through records, reopened, deleted, copied, sorted.
#include <gtest/gtest.h>

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

class HostNative : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    name_ = ::testing::TempDir() + "ludrex_hostnative_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Base_BaseErase(name_.c_str(), 0);
    playerEntries_[0] = Entry(1, "~3", 2, "");
    players_ = {1, playerEntries_};
    gameEntries_[0] = Entry(0, "~1", 0, "Players", &players_);
    gameEntries_[1] = Entry(0, "~2", 0, "Players", &players_);
    gameEntries_[2] = Entry(1, "~16", 0, "");
    gameEntries_[3] = Entry(5, "~9", 0, "");
    games_ = {4, gameEntries_};
  }
  void TearDown() override {
    Base_BaseErase(name_.c_str(), 0);
    Base_BaseErase((name_ + "2").c_str(), 0);
    SetErrorFunction(nullptr);
  }

  // Fields of the base's order: White, Black, Result, Event.
  static void Fill(LudrexRecord* r, const char* white, const char* black, const char* event,
                   int result) {
    StringField_SetStr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, 0)), 0), white);
    StringField_SetStr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, 1)), 0), black);
    ResultField_SetValue(Record_GetField(r, 2), result);
    StringField_SetStr(Record_GetField(r, 3), event);
  }
  static std::string Player(LudrexRecord* r, int i) {
    return StringField_GetStrPtr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, i)), 0));
  }
  static std::string Event(LudrexRecord* r) { return StringField_GetStrPtr(Record_GetField(r, 3)); }

  // A record of the base's pattern, linked to it.
  static LudrexRecord* RecordOf(LudrexBase* b) {
    HostRecordPattern* p = Base_GetRecordPattern(b);
    LudrexRecord* r = Record_CreateRecord(p);
    CPP_DestroyRP(p);
    Record_LinkToBase(r, b);
    return r;
  }

  std::string name_;
  HostFieldEntry playerEntries_[1];
  HostRecordPattern players_;
  HostFieldEntry gameEntries_[4];
  HostRecordPattern games_;
};

TEST_F(HostNative, GamesWithAPlayerLibraryRoundTrip) {
  LudrexBase* b = Base_BaseCreate(name_.c_str(), &games_, 0);
  ASSERT_NE(b, nullptr) << (g_errors.empty() ? "" : g_errors.back());
  EXPECT_EQ(Base_GetBaseType(b), 0);
  EXPECT_EQ(Base_GetRecordLength(b), 4);
  LudrexRecord* r = RecordOf(b);
  const char* names[][3] = {{"Tal", "Botvinnik", "Moscow"},
                            {"Smyslov", "Tal", "Bled"},
                            {"Botvinnik", "Smyslov", "Moscow"}};
  for (int k = 0; k < 3; ++k) {
    Fill(r, names[k][0], names[k][1], names[k][2], k + 1);
    EXPECT_EQ(Base_Write(b, AppendRecord, r), k);
  }
  EXPECT_EQ(Base_GetBaseLength(b), 3);
  LudrexBase* lib = Base_EmbeddedBaseOpen(b, "Players");
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(Base_GetBaseLength(lib), 3);
  // Botvinnik, Smyslov, Tal in key order: Tal was the first record written.
  EXPECT_EQ(Base_UnsortedFromSorted(lib, 2), 0);
  Base_BaseDestroy(lib);

  HostBaseInfo info;
  std::memset(&info, 0, sizeof info);
  std::strcpy(info.description, "Candidates");
  info.flag = 1;
  Base_SetBaseInfo(b, &info);
  Base_ToggleDelete(b, 1);
  Base_Update(b);
  Record_Destroy(r);
  Base_BaseDestroy(b);

  char block[264];
  Base_GetShortInfo(0, name_.c_str(), block);
  int count;
  std::memcpy(&count, block, 4);
  EXPECT_EQ(count, 3);
  EXPECT_STREQ(block + 4, "Candidates");

  b = Base_BaseOpen(name_.c_str(), 0);
  ASSERT_NE(b, nullptr);
  std::memset(&info, 0, sizeof info);
  Base_GetBaseInfo(b, &info);
  EXPECT_STREQ(info.description, "Candidates");
  EXPECT_EQ(info.flag, 1);
  EXPECT_EQ(std::string(info.fullName), name_);
  r = RecordOf(b);
  for (int k = 0; k < 3; ++k) {
    Base_Read(b, k, r);
    EXPECT_EQ(Player(r, 0), names[k][0]);
    EXPECT_EQ(Player(r, 1), names[k][1]);
    EXPECT_EQ(Event(r), names[k][2]);
    EXPECT_EQ(ResultField_GetValue(Record_GetField(r, 2)), k + 1);
  }
  EXPECT_EQ(Base_IsDeleted(b, 1), 1);
  EXPECT_EQ(Base_IsDeleted(b, 0), 0);
  // Out of range: a numbered error and the failure result.
  Base_Read(b, 3, r);
  EXPECT_EQ(g_errors.back().substr(0, 11), "Error # 903");
  Record_Destroy(r);
  Base_BaseDestroy(b);
  EXPECT_EQ(g_errors.size(), 1u);
}

TEST_F(HostNative, FastAccessAppendAnotherAndSortSubset) {
  LudrexBase* b = Base_BaseCreate(name_.c_str(), &games_, 0);
  ASSERT_NE(b, nullptr);
  LudrexRecord* r = RecordOf(b);
  Base_EnableFastAccess(b, nullptr);
  const char* events[] = {"Delta", "Alpha", "Charlie", "Bravo"};
  for (int k = 0; k < 400; ++k) {
    std::string w = "W" + std::to_string(k % 17), bl = "B" + std::to_string(k % 5);
    Fill(r, w.c_str(), bl.c_str(), events[k % 4], k % 4);
    ASSERT_EQ(Base_Write(b, AppendRecord, r), k);
  }
  for (int k = 0; k < 400; k += 37) {
    Base_Read(b, k, r);
    EXPECT_EQ(Player(r, 0), "W" + std::to_string(k % 17));
    EXPECT_EQ(Event(r), events[k % 4]);
  }
  Base_DisableFastAccess(b);

  // The native copy and the shared one give the same games.
  LudrexBase* d = Base_BaseCreate((name_ + "2").c_str(), &games_, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Base_AppendAnother(b, d, nullptr, 0, 0, nullptr), 400);
  EXPECT_EQ(Base_AppendAnother(b, d, nullptr, 0, 3, nullptr), 400);
  EXPECT_EQ(Base_GetBaseLength(d), 800);
  LudrexRecord* x = RecordOf(d);
  for (int k : {0, 123, 399, 400, 799}) {
    Base_Read(d, k, x);
    EXPECT_EQ(Player(x, 0), "W" + std::to_string(k % 400 % 17));
    EXPECT_EQ(Player(x, 1), "B" + std::to_string(k % 400 % 5));
  }
  Record_Destroy(x);
  LudrexBase* lib = Base_EmbeddedBaseOpen(d, "Players");
  EXPECT_EQ(Base_GetBaseLength(lib), 22);
  Base_BaseDestroy(lib);
  Base_BaseDestroy(d);

  // Sorting the first 8 games by event: Alpha (1, 5), Bravo (3, 7), Charlie, Delta.
  LudrexSubset* s = Subset_CreateTmp(400);
  Subset_IncludeRange(s, 0, 8);
  HostFieldEntry byEvent[1] = {Entry(1, "~16", 0, "")};
  HostRecordPattern sortPattern = {1, byEvent};
  int out[8] = {};
  EXPECT_EQ(Base_SortSubset(b, out, s, &sortPattern), 1);
  int expected[8] = {1, 5, 3, 7, 2, 6, 0, 4};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(out[k], expected[k]) << k;
  Subset_Destroy(s);
  Record_Destroy(r);
  Base_BaseDestroy(b);
  EXPECT_TRUE(g_errors.empty()) << g_errors.front();
}

TEST_F(HostNative, EmbeddedBaseCreatedByTheHost) {
  HostFieldEntry one[1] = {Entry(2, "N", 0, "4")};
  HostRecordPattern plain = {1, one};
  LudrexBase* b = Base_BaseCreate(name_.c_str(), &plain, 0);
  ASSERT_NE(b, nullptr);
  LudrexBase* e = Base_EmbeddedBaseCreate(b, "Notes", &players_);
  ASSERT_NE(e, nullptr);
  HostRecordPattern* p = Base_GetRecordPattern(e);
  LudrexRecord* r = Record_CreateRecord(p);
  CPP_DestroyRP(p);
  StringField_SetStr(Record_GetField(r, 0), "remember");
  EXPECT_EQ(Base_Write(e, AppendRecord, r), 0);
  EXPECT_EQ(Base_Write(e, AppendRecord, r), 0);  // an existing key gives its position
  EXPECT_EQ(Base_GetBaseLength(e), 1);
  HostBaseInfo info;
  Base_GetBaseInfo(e, &info);
  EXPECT_EQ(std::string(info.fullName), name_ + ",Notes");
  Record_Destroy(r);
  Base_BaseDestroy(e);
  Base_BaseDestroy(b);
  // Nested embedding is refused.
  b = Base_BaseOpen(name_.c_str(), 0);
  e = Base_EmbeddedBaseOpen(b, "Notes");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(Base_EmbeddedBaseCreate(e, "Deeper", &players_), nullptr);
  Base_BaseDestroy(e);
  Base_BaseDestroy(b);
  EXPECT_FALSE(g_errors.empty());
}

}  // namespace
