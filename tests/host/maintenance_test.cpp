// Check, repair and library maintenance as a host uses them, through the public header only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
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

std::string g_notice;
int LUDREX_CDECL Notice(const char* text, int flag, int kind) {
  g_notice = std::to_string(flag) + "/" + std::to_string(kind) + ":" + text;
  return 0;
}

class HostMaintenance : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    name_ = ::testing::TempDir() + "ludrex_hostmaint_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Base_BaseErase(name_.c_str(), 0);
    Base_BaseErase((name_ + "_new").c_str(), 0);
    playerEntries_[0] = Entry(1, "~3", 2, "");
    players_ = {1, playerEntries_};
    gameEntries_[0] = Entry(0, "~1", 0, "Players", &players_);
    gameEntries_[1] = Entry(0, "~2", 0, "Players", &players_);
    gameEntries_[2] = Entry(1, "~16", 0, "");
    games_ = {3, gameEntries_};
  }
  void TearDown() override {
    Base_BaseErase(name_.c_str(), 0);
    Base_BaseErase((name_ + "_new").c_str(), 0);
    for (const std::string& t : temps_) Base_BaseErase(t.c_str(), 0);
    std::remove(Log().c_str());
    SetMessageDlg(nullptr);
    SetErrorFunction(nullptr);
  }
  std::string Log() const { return name_ + ".log"; }

  static LudrexRecord* RecordOf(LudrexBase* b) {
    HostRecordPattern* p = Base_GetRecordPattern(b);
    LudrexRecord* r = Record_CreateRecord(p);
    CPP_DestroyRP(p);
    Record_LinkToBase(r, b);
    return r;
  }
  static void SetPlayer(LudrexRecord* r, int i, const char* name) {
    StringField_SetStr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, i)), 0), name);
  }
  static std::string Player(LudrexRecord* r, int i) {
    return StringField_GetStrPtr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, i)), 0));
  }

  // Games (white, black): (Tal, Petrosian), (Petrosjan, Tal), (Petrosian, Smyslov); the players
  // library holds Tal 0, Petrosian 1, Petrosjan 2, Smyslov 3.
  LudrexBase* MakeGames() {
    LudrexBase* b = Base_BaseCreate(name_.c_str(), &games_, 0);
    LudrexRecord* r = RecordOf(b);
    const char* games[][2] = {{"Tal", "Petrosian"}, {"Petrosjan", "Tal"}, {"Petrosian", "Smyslov"}};
    for (auto& g : games) {
      SetPlayer(r, 0, g[0]);
      SetPlayer(r, 1, g[1]);
      StringField_SetStr(Record_GetField(r, 2), "event");
      Base_Write(b, AppendRecord, r);
    }
    Record_Destroy(r);
    Base_Update(b);
    return b;
  }

  std::vector<std::string> Players(LudrexBase* b) {
    LudrexRecord* r = RecordOf(b);
    std::vector<std::string> out;
    for (int k = 0; k < Base_GetBaseLength(b); ++k) {
      Base_Read(b, k, r);
      out.push_back(Player(r, 0) + "-" + Player(r, 1));
    }
    Record_Destroy(r);
    return out;
  }

  std::string Keep(const char* t) {
    std::string s = t != nullptr ? t : "";
    if (!s.empty()) temps_.push_back(s);
    return s;
  }

  std::string name_;
  std::vector<std::string> temps_;
  HostFieldEntry playerEntries_[1];
  HostRecordPattern players_;
  HostFieldEntry gameEntries_[3];
  HostRecordPattern games_;
};

TEST_F(HostMaintenance, CheckFillsTheSubsetAndWritesTheLog) {
  Base_BaseDestroy(MakeGames());
  LudrexSubset* s = Subset_CreateTmp(3);
  EXPECT_EQ(Base_BaseKVXTest(name_.c_str(), Log().c_str(), s), 1);
  EXPECT_EQ(Subset_CurLength(s), 3);
  Subset_Destroy(s);
  std::ifstream in(Log(), std::ios::binary);
  std::string log((std::istreambuf_iterator<char>(in)), {});
  in.close();  // Windows cannot remove a file that is open
  // "Проверка закончена" in Windows-1251 ends the log.
  EXPECT_EQ(log.substr(log.size() - 20), "\r\n\xCF\xF0\xEE\xE2\xE5\xF0\xEA\xE0 \xE7\xE0\xEA\xEE\xED\xF7\xE5\xED\xE0");

  // Without ".dxx": the missing-file line, the critical line, no record line; result 0.
  std::remove((name_ + ".dxx").c_str());
  std::remove(Log().c_str());
  EXPECT_EQ(Base_BaseKVXTest(name_.c_str(), Log().c_str(), nullptr), 0);
  std::ifstream in2(Log(), std::ios::binary);
  std::string log2((std::istreambuf_iterator<char>(in2)), {});
  std::string head = "\r\n\xCF\xF0\xEE\xE2\xE5\xF0\xEA\xE0 \xE1\xE0\xE7\xFB: " + name_ +
                     "\r\nMissing file error (C001), file: .dxx\r\n";
  EXPECT_EQ(log2.substr(0, head.size()), head);
  EXPECT_EQ(std::count(log2.begin(), log2.end(), '\n'), 3);
}

TEST_F(HostMaintenance, RepairCopiesTheGamesWithTheirPlayers) {
  LudrexBase* b = MakeGames();
  LudrexBase* d = Base_BaseCreate((name_ + "_new").c_str(), &games_, 0);
  LudrexSubset* s = Subset_CreateTmp(3);
  Subset_IncludeRange(s, 1, 2);
  EXPECT_EQ(Base_Repair(b, d, s, 0, 0), 2);
  EXPECT_EQ(Players(d), (std::vector<std::string>{"Petrosjan-Tal", "Petrosian-Smyslov"}));
  Subset_Destroy(s);
  Base_BaseDestroy(b);
  EXPECT_EQ(Base_Repair2(name_.c_str(), 0, d, 0, 0), 3);
  EXPECT_EQ(Base_GetBaseLength(d), 5);
  SetMessageDlg(Notice);
  EXPECT_EQ(Base_Repair2((name_ + "_missing").c_str(), 0, d, 0, 0), -1);
  EXPECT_EQ(g_notice,
            "1/4:\xCE\xF8\xE8\xE1\xEA\xE0 \xEF\xF0\xE8 \xEE\xF2\xEA\xF0\xFB\xF2\xE8\xE8 "
            "\xE1\xE0\xE7\xFB, \xE2\xEE\xF1\xF1\xF2\xE0\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5 "
            "\xED\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE");
  EXPECT_EQ(Base_Repair(nullptr, d, nullptr, 0, 0), -1);
  Base_BaseDestroy(d);
}

TEST_F(HostMaintenance, MergeTwoSpellingsOfAPlayer) {
  LudrexBase* b = MakeGames();
  LudrexBase* lib = Base_EmbeddedBaseOpen(b, "Players");
  ASSERT_EQ(Base_GetBaseLength(lib), 4);
  int map[4] = {-1, -1, 1, -1};  // Petrosjan (2) into Petrosian (1)
  std::string t = Keep(Base_MultiChange(b, lib, map));
  ASSERT_FALSE(t.empty()) << (g_errors.empty() ? "" : g_errors.back());
  Base_BaseDestroy(lib);
  LudrexBase* tb = Base_BaseOpen(t.c_str(), 0);
  LudrexBase* tlib = Base_EmbeddedBaseOpen(tb, "Players");
  EXPECT_EQ(Base_GetBaseLength(tlib), 3);
  Base_BaseDestroy(tlib);
  Base_BaseDestroy(tb);
  Base_BaseDestroy(b);
  // The base's games with the new libraries: copy the volume over.
  {
    std::ifstream in(t + ".emb", std::ios::binary);
    std::ofstream out(name_ + ".emb", std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
  }
  b = Base_BaseOpen(name_.c_str(), 0);
  EXPECT_EQ(Players(b), (std::vector<std::string>{"Tal-Petrosian", "Petrosian-Tal",
                                                  "Petrosian-Smyslov"}));
  Base_BaseDestroy(b);
  // A null map or base: error 7 and an empty text.
  EXPECT_STREQ(Base_MultiChange(nullptr, nullptr, map), "");
}

TEST_F(HostMaintenance, CompressAndCleanGiveNewBases) {
  LudrexBase* b = MakeGames();
  std::string t = Keep(Base_LibraryCompress(b));
  ASSERT_FALSE(t.empty());
  std::string k = Keep(Base_KillEmptyLibRecs(b));
  ASSERT_FALSE(k.empty());
  EXPECT_NE(t, k);
  LudrexBase* tb = Base_BaseOpen(t.c_str(), 0);
  LudrexBase* tlib = Base_EmbeddedBaseOpen(tb, "Players");
  EXPECT_EQ(Base_GetBaseLength(tlib), 4);
  // First use: Tal, Petrosian, Petrosjan, Smyslov.
  LudrexRecord* r = RecordOf(tlib);
  Base_Read(tlib, 2, r);
  EXPECT_STREQ(StringField_GetStrPtr(Record_GetField(r, 0)), "Petrosjan");
  Record_Destroy(r);
  Base_BaseDestroy(tlib);
  Base_BaseDestroy(tb);
  Base_BaseDestroy(b);
  EXPECT_STREQ(Base_LibraryCompress(nullptr), "");
  EXPECT_STREQ(Base_KillEmptyLibRecs(nullptr), "");
}

}  // namespace
