// Per-base opening trees as a host uses them: build, check, position statistics through the tree
// and by the scan without one (the same answers), damaged tree files, delete.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host_errors.h"
#include "ludrex.h"

namespace {

using host_test::g_errors;

HostFieldEntry Entry(int type, const char* name) {
  HostFieldEntry e;
  std::memset(&e, 0, sizeof e);
  e.type = type;
  e.name = const_cast<char*>(name);
  e.text = const_cast<char*>("");
  return e;
}

// A board by 0x88 square after some plain moves from the start ("e2e4" style, no captures
// needed by these tests).
std::array<int8_t, 128> Board(const std::vector<std::string>& moves) {
  std::array<int8_t, 128> b{};
  const int8_t back[8] = {4, 2, 3, 5, 6, 3, 2, 4};
  for (int f = 0; f < 8; ++f) {
    b[f] = back[f];
    b[16 + f] = 1;
    b[96 + f] = -1;
    b[112 + f] = static_cast<int8_t>(-back[f]);
  }
  for (const std::string& m : moves) {
    int from = (m[1] - '1') * 16 + (m[0] - 'a');
    int to = (m[3] - '1') * 16 + (m[2] - 'a');
    b[to] = b[from];
    b[from] = 0;
  }
  return b;
}

struct Stats {
  std::vector<std::array<uint32_t, 4>> items;
  std::vector<int> found;
  bool operator==(const Stats&) const = default;
};

class HostTree : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    name_ = ::testing::TempDir() + "ludrex_hosttree_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Base_BaseErase(name_.c_str(), 0);
    entries_ = {Entry(LUDREX_FIELD_RESULT, "~14"), Entry(LUDREX_FIELD_CHESS, "~22")};
    pattern_.count = 2;
    pattern_.entries = entries_.data();
    base_ = Base_BaseCreate(name_.c_str(), &pattern_, 0);
    ASSERT_NE(base_, nullptr) << (g_errors.empty() ? "" : g_errors.back());
    // Game, result code.
    const std::vector<std::pair<const char*, int>> games = {
        {"1. e4 c5", 1},           {"1. e4 c5 2. Nf3", 2}, {"1. d4", 3},
        {"1. e4 c5 2. Nf3 d6", 1}, {"1. Nf3 c5 2. e4", 3}, {"1. e4 e5", 2},
    };
    LudrexRecord* r = Record_CreateRecord(&pattern_);
    Record_LinkToBase(r, base_);
    for (const auto& [moves, result] : games) {
      std::string pgn = std::string("[Event \"x\"]\r\n\r\n") + moves + " *\r\n";
      Record_CreateFromPGNBuffer(r, pgn.data(), static_cast<int>(pgn.size()));
      ResultField_SetValue(Record_GetField(r, 0), result);
      ASSERT_GE(Base_Write(base_, AppendRecord, r), 0);
    }
    Record_Destroy(r);
    Base_Update(base_);
  }
  void TearDown() override {
    if (base_ != nullptr) {
      Base_DeleteTree(base_);
      Base_BaseDestroy(base_);
    }
    Base_BaseErase(name_.c_str(), 0);
    SetErrorFunction(nullptr);
  }
  // The counters of every item and the games found, for the games of in (null: all).
  Stats Ask(const std::vector<std::string>& moves, int value, LudrexSubset* in = nullptr) {
    Stats s;
    std::array<int8_t, 128> board = Board(moves);
    LudrexSubset* out = Subset_CreateTmp(Base_GetBaseLength(base_));
    LudrexPosStat* p = Base_GetPositionStats(base_, in, out, board.data(), value);
    EXPECT_NE(p, nullptr) << (g_errors.empty() ? "" : g_errors.back());
    if (p == nullptr) return s;
    for (int i = 0; i < PosStat_GetPrevCount(p); ++i) {
      PosStatItem* item = PosStat_GetPrevItem(p, i);
      EXPECT_NE(item->line, nullptr);
      s.items.push_back({item->counters[0], item->counters[1], item->counters[2], item->counters[3]});
    }
    PosStat_Delete(p);
    for (int r = 0; r < Subset_MaxLength(out); ++r) {
      if (Subset_Item(out, r)) s.found.push_back(r);
    }
    Subset_Destroy(out);
    return s;
  }
  std::string File(char kind) const { return name_ + ".t" + kind + "0"; }

  std::string name_;
  std::vector<HostFieldEntry> entries_;
  HostRecordPattern pattern_{};
  LudrexBase* base_ = nullptr;
};

TEST_F(HostTree, StatsThroughTheTreeEqualTheScanWithoutOne) {
  const std::vector<std::pair<std::vector<std::string>, int>> asks = {
      {{}, 1},                               // the start: every game
      {{"e2e4", "c7c5"}, 1},                 // games 0, 1, 3
      {{"e2e4", "c7c5", "g1f3"}, 2},         // two lines: 1.e4 c5 2.Nf3 and 1.Nf3 c5 2.e4
      {{"e2e4", "c7c5", "g1f3"}, 1},         // wrong side to move: nothing
      {{"d2d4"}, 0},                         // either side
      {{"a2a4"}, 0},                         // never reached
  };
  std::vector<Stats> scanned;
  EXPECT_EQ(Base_CheckTree(base_), 0);
  for (const auto& a : asks) scanned.push_back(Ask(a.first, a.second));
  ASSERT_EQ(Base_BuildTree(base_), base_) << (g_errors.empty() ? "" : g_errors.back());
  EXPECT_EQ(Base_CheckTree(base_), 1);
  for (std::size_t i = 0; i < asks.size(); ++i) {
    EXPECT_EQ(Ask(asks[i].first, asks[i].second), scanned[i]) << "ask " << i;
  }
  using C = std::array<uint32_t, 4>;
  EXPECT_EQ(scanned[0].items, (std::vector<C>{{0, 2, 2, 2}}));
  EXPECT_EQ(scanned[0].found, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(scanned[1].items, (std::vector<C>{{0, 2, 1, 0}}));
  EXPECT_EQ(scanned[1].found, (std::vector<int>{0, 1, 3}));
  EXPECT_EQ(scanned[2].items.size(), 2u);
  EXPECT_EQ(scanned[2].found, (std::vector<int>{1, 3, 4}));
  EXPECT_TRUE(scanned[3].items.empty());
  EXPECT_EQ(scanned[4].found, (std::vector<int>{2}));
  EXPECT_TRUE(scanned[5].found.empty());

  // An input subset limits the games counted, on both paths.
  LudrexSubset* in = Subset_CreateTmp(Base_GetBaseLength(base_));
  Subset_IncludeRange(in, 0, -1);
  Subset_Exclude(in, 3);
  Stats tree = Ask({"e2e4", "c7c5"}, 1, in);
  EXPECT_EQ(tree.found, (std::vector<int>{0, 1}));
  Base_DeleteTree(base_);
  EXPECT_EQ(Base_CheckTree(base_), 0);
  EXPECT_EQ(Ask({"e2e4", "c7c5"}, 1, in), tree);
  Subset_Destroy(in);
  EXPECT_TRUE(g_errors.empty()) << g_errors.front();
}

TEST_F(HostTree, AnItemBeyondTheListIsError12) {
  std::array<int8_t, 128> board = Board({});
  LudrexPosStat* p = Base_GetPositionStats(base_, nullptr, nullptr, board.data(), 1);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(PosStat_GetPrevCount(p), 1);
  EXPECT_EQ(g_errors.size(), 0u);
  EXPECT_EQ(PosStat_GetPrevItem(p, 1), nullptr);
  ASSERT_EQ(g_errors.size(), 1u);
  EXPECT_NE(g_errors[0].find("12"), std::string::npos) << g_errors[0];
  PosStat_Delete(p);
  PosStat_Delete(nullptr);
}

TEST_F(HostTree, DamagedTreeFilesGive1020NeverACrash) {
  ASSERT_EQ(Base_BuildTree(base_), base_);
  std::string data;
  {
    std::ifstream f(File('d'), std::ios::binary);
    ASSERT_TRUE(f.good()) << File('d');
    data.assign(std::istreambuf_iterator<char>(f), {});
  }
  ASSERT_GT(data.size(), 140u);
  std::array<int8_t, 128> board = Board({"e2e4", "c7c5"});
  // Every stream byte in turn replaced by garbage, and the stream cut short.
  int failures = 0;
  for (std::size_t at = 132; at <= data.size(); ++at) {
    std::string bad = data;
    if (at == data.size()) {
      bad.resize(140);
    } else {
      bad[at] = static_cast<char>(bad[at] ^ 0x5A);
    }
    {
      std::ofstream f(File('d'), std::ios::binary | std::ios::trunc);
      f.write(bad.data(), static_cast<std::streamsize>(bad.size()));
    }
    g_errors.clear();
    LudrexPosStat* p = Base_GetPositionStats(base_, nullptr, nullptr, board.data(), 1);
    if (p == nullptr) {
      ++failures;
      ASSERT_FALSE(g_errors.empty());
      EXPECT_NE(g_errors.back().find("1020"), std::string::npos) << g_errors.back();
    }
    PosStat_Delete(p);
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
