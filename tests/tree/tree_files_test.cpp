// The per-base tree files: built from native bases made in the test, read back byte by byte
// (descrambled) and checked against the trie the games describe.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "../base/native_test_support.h"
#include "../record/chess_helpers.h"
#include "base/tree_hooks.h"
#include "record/field_chess.h"
#include "tree/tree_files.h"

namespace ludrex {
namespace {

using testing::GameHolder;
using testing::NativeTest;

RecordPattern TreePattern() {
  RecordPattern p;
  p.Append(FieldSpec(kResultType, String("~9"), 0, String("")));
  p.Append(FieldSpec(kChessType, String("~6"), 0, String("")));
  return p;
}

class TreeFilesTest : public NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    tree::InstallTreeOperations();
  }
  void TearDown() override {
    if (base_ != nullptr) base_->DeleteTree();
    SetTreeOperations(nullptr);
    NativeTest::TearDown();
  }
  // A base of the games (PGN move text) with results.
  void Make(const std::vector<std::pair<std::string, int>>& games) {
    base_ = Create(TreePattern());
    ASSERT_NE(base_, nullptr);
    Record r(TreePattern());
    r.LinkToBase(base_);
    for (const auto& [moves, result] : games) {
      r[0].SetInt(result);
      testing::ReadPgn(static_cast<ChessField&>(r[1]).GetGame(), moves);
      base_->Write(kAppendRecord, r);
    }
    base_->Update();
  }
  // The data file's stream from offset 132, descrambled except the branch-header fields.
  std::vector<std::uint8_t> Stream() {
    std::vector<std::uint8_t> raw = Bytes(".td0");
    std::vector<std::uint8_t> out;
    const std::uint8_t* inv = tree::TreeByteInverse();
    for (std::size_t p = tree::kTreeHeaderSize; p < raw.size(); ++p) {
      std::uint8_t b = static_cast<std::uint8_t>(inv[raw[p]] - static_cast<std::uint8_t>(p));
      out.push_back(b);
      if (b == tree::kBranchMark) {
        for (int i = 0; i < 8 && p + 1 < raw.size(); ++i) out.push_back(raw[++p]);
      }
    }
    return out;
  }
  std::vector<std::uint32_t> Index() {
    std::vector<std::uint8_t> raw = Bytes(".ti0");
    std::vector<std::uint32_t> out(raw.size() / 4);
    std::memcpy(out.data(), raw.data(), out.size() * 4);
    return out;
  }
  static std::vector<std::uint8_t> Codes(const std::string& moves) {
    GameHolder g;
    testing::ReadPgn(g, moves);
    return testing::Encode(g);
  }
  Base* base_ = nullptr;
};

TEST_F(TreeFilesTest, OneGame) {
  Make({{"1. e4 e5 2. Nf3 *", 1}});
  ASSERT_EQ(base_->CheckTree(), 0);
  base_->BuildTree();
  EXPECT_EQ(base_->CheckTree(), 1);
  std::vector<std::uint8_t> raw = Bytes(".td0");
  ASSERT_GE(raw.size(), tree::kTreeHeaderSize);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw.data()), 29), "Tallowmerecraft 4.0 database.");
  EXPECT_EQ(raw[29], 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw.data()) + 64, 34),
            "\nKorvanex Tree format. Version 1.1");
  std::vector<std::uint8_t> codes = Codes("1. e4 e5 2. Nf3 *");
  std::uint32_t longest;
  std::memcpy(&longest, raw.data() + 128, 4);
  EXPECT_EQ(longest, codes.size() + 1);
  std::vector<std::uint8_t> want = codes;
  want.push_back(tree::kGameEndMark);
  EXPECT_EQ(Stream(), want);
  EXPECT_EQ(raw.size(), tree::kTreeHeaderSize + codes.size() + 1);
  EXPECT_EQ(Index(), (std::vector<std::uint32_t>{1u << 24 | 0}));
}

TEST_F(TreeFilesTest, IdenticalLinesPrefixLinesAndSiblings) {
  // Games 0 and 2 are identical; game 1 is a prefix of them; game 3 branches at move 2.
  Make({{"1. e4 e5 2. Nf3 *", 1}, {"1. e4 e5 *", 3}, {"1. e4 e5 2. Nf3 *", 1}, {"1. e4 e5 2. Bc4 *", 2}});
  base_->BuildTree();
  std::vector<std::uint8_t> e4e5 = Codes("1. e4 e5 *");
  std::vector<std::uint8_t> nf3 = Codes("1. e4 e5 2. Nf3 *");
  std::vector<std::uint8_t> bc4 = Codes("1. e4 e5 2. Bc4 *");
  std::uint8_t cNf3 = nf3[2], cBc4 = bc4[2];
  // Keys in byte order decide which of Nf3 / Bc4 comes first; the prefix line's key (its result
  // byte 3 after e5) sorts by that byte among the codes.
  std::vector<std::uint8_t> s = Stream();
  std::vector<std::uint32_t> index = Index();
  ASSERT_EQ(index.size(), 4u);
  // Two identical games are adjacent in the index.
  std::vector<std::uint32_t> records;
  for (std::uint32_t e : index) records.push_back(e & 0xFFFFFF);
  auto at0 = std::find(records.begin(), records.end(), 0u) - records.begin();
  auto at2 = std::find(records.begin(), records.end(), 2u) - records.begin();
  EXPECT_EQ(std::abs(at0 - at2), 1);
  // Exactly four game end marks, one branch header (at the node after e5 that has a later
  // sibling), one next-sibling mark; no branch header in front of e4 or e5.
  int ends = 0, branches = 0, siblings = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == tree::kBranchMark) {
      ++branches;
      i += 8;
    } else if (s[i] == tree::kGameEndMark) {
      ++ends;
    } else if (s[i] == tree::kNextSiblingMark) {
      ++siblings;
    }
  }
  EXPECT_EQ(ends, 4);
  EXPECT_EQ(branches, 1);
  EXPECT_EQ(siblings, 1);
  EXPECT_EQ(s[0], e4e5[0]);
  EXPECT_EQ(s[1], e4e5[1]);
  // The branch header's fields: the offset just after the next-sibling mark, and the games
  // under the first of the two moves.
  auto b = std::find(s.begin(), s.end(), tree::kBranchMark) - s.begin();
  std::uint32_t next, games;
  std::memcpy(&next, &s[static_cast<std::size_t>(b) + 1], 4);
  std::memcpy(&games, &s[static_cast<std::size_t>(b) + 5], 4);
  std::uint8_t first = s[static_cast<std::size_t>(b) + 9];
  EXPECT_TRUE(first == cNf3 || first == cBc4);
  EXPECT_EQ(games, first == cNf3 ? 2u : 1u);
  auto mark = std::find(s.begin(), s.end(), tree::kNextSiblingMark) - s.begin();
  EXPECT_EQ(next, tree::kTreeHeaderSize + static_cast<std::uint32_t>(mark) + 1);
  EXPECT_EQ(s[static_cast<std::size_t>(mark) + 1], first == cNf3 ? cBc4 : cNf3);
}

TEST_F(TreeFilesTest, SetupGamesAndVariationsAndDeletedRecords) {
  Make({{"[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1\"]\n\n1. e4 Kd7 *", 2},
        {"1. d4 {a comment} d5 (1... Nf6 2. c4) 2. c4 *", 1},
        {"1. Nf3 *", 0}});
  base_->BuildTree();
  std::vector<std::uint8_t> withNotes = Stream();
  std::vector<std::uint32_t> index = Index();
  ASSERT_EQ(index.size(), 3u);
  // The set-up game contributes only its end mark at the root and its entry.
  std::vector<std::uint8_t> plain = Codes("1. d4 d5 2. c4 *");
  std::vector<std::uint8_t> s = withNotes;
  EXPECT_EQ(std::count(s.begin(), s.end(), tree::kGameEndMark), 3);
  EXPECT_NE(std::search(s.begin(), s.end(), plain.begin(), plain.end()), s.end());
  // The same games without comment and variation give the same files.
  base_->DeleteTree();
  EXPECT_EQ(base_->CheckTree(), 0);
  Registry()->CloseAll();
  base_ = nullptr;
  EraseBase(testing::Own(name_), 0);
  Make({{"[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1\"]\n\n1. e4 Kd7 *", 2},
        {"1. d4 d5 2. c4 *", 1},
        {"1. Nf3 *", 0}});
  base_->BuildTree();
  EXPECT_EQ(Stream(), withNotes);
  EXPECT_EQ(Index(), index);
  // A deleted record is left out.
  base_->ToggleDelete(2, 1);
  base_->BuildTree();
  EXPECT_EQ(Index().size(), 2u);
}

TEST_F(TreeFilesTest, ScramblingDependsOnTheOffset) {
  Make({{"1. a3 a6 2. a4 a5 *", 0}});
  base_->BuildTree();
  std::vector<std::uint8_t> raw = Bytes(".td0");
  std::vector<std::uint8_t> codes = Codes("1. a3 a6 2. a4 a5 *");
  // The same move code at two offsets is stored as two different bytes.
  std::set<std::uint8_t> stored(raw.begin() + tree::kTreeHeaderSize, raw.end());
  EXPECT_GT(stored.size(), 1u);
  const std::uint8_t* t = tree::TreeByteTable();
  const std::uint8_t* inv = tree::TreeByteInverse();
  for (int i = 0; i < 256; ++i) EXPECT_EQ(inv[t[i]], i);
  // Descrambling with a wrong offset gives another byte.
  std::uint8_t at = raw[tree::kTreeHeaderSize];
  EXPECT_EQ(static_cast<std::uint8_t>(inv[at] - static_cast<std::uint8_t>(tree::kTreeHeaderSize)), codes[0]);
  EXPECT_NE(static_cast<std::uint8_t>(inv[at] - static_cast<std::uint8_t>(tree::kTreeHeaderSize + 1)), codes[0]);
}

TEST_F(TreeFilesTest, CheckOpenDeleteAndAWrongFormat) {
  Make({{"1. e4 *", 1}, {"1. d4 *", 0}});
  EXPECT_EQ(base_->OpenTreeData(), nullptr);
  base_->BuildTree();
  std::unique_ptr<Array> data(base_->OpenTreeData());
  std::unique_ptr<Array> index(base_->OpenTreeIndex());
  ASSERT_NE(data, nullptr);
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(index->Count(), 2);
  EXPECT_EQ(data->Count(), static_cast<std::int32_t>(Bytes(".td0").size()));
  data.reset();
  index.reset();
  std::vector<std::uint8_t> raw = Bytes(".td0");
  raw[70] ^= 1;
  PutBytes(".td0", raw);
  EXPECT_EQ(base_->CheckTree(), -1);
  EXPECT_EQ(base_->OpenTreeData(), nullptr);
  base_->DeleteTree();
  EXPECT_FALSE(Exists(".td0"));
  EXPECT_FALSE(Exists(".ti0"));
  base_->DeleteTree();  // missing files are no error
}

// Every game's line can be read back from the stream: a walk of the trie with a stack of open
// branch headers reproduces, for each game end mark in order, the line of the game at that
// position of the index.
TEST_F(TreeFilesTest, WalkReproducesEveryLine) {
  std::vector<std::string> all = testing::DataGames();
  std::vector<std::pair<std::string, int>> games;
  for (std::size_t i = 0; i < all.size() && games.size() < 400; i += 5) {
    games.push_back({all[i], static_cast<int>(i % 4)});
  }
  Make(games);
  base_->BuildTree();
  std::vector<std::uint8_t> s = Stream();
  std::vector<std::uint32_t> index = Index();
  ASSERT_EQ(index.size(), games.size());
  std::vector<std::uint8_t> line;
  std::vector<std::size_t> stack;  // line length at each open branch header
  std::size_t ends = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint8_t b = s[i];
    if (b == tree::kBranchMark) {
      stack.push_back(line.size());
      i += 8;
    } else if (b == tree::kNextSiblingMark) {
      ASSERT_FALSE(stack.empty());
      line.resize(stack.back());
      stack.pop_back();
    } else if (b == tree::kGameEndMark) {
      ASSERT_LT(ends, index.size());
      std::uint32_t rec = index[ends] & 0xFFFFFF;
      std::vector<std::uint8_t> want = Codes(games[rec].first);
      std::vector<std::uint8_t> key = tree::TreeKey(want.data(), static_cast<std::int32_t>(want.size()), 0);
      key.pop_back();
      ASSERT_EQ(line, key) << "game " << rec;
      EXPECT_EQ(index[ends] >> 24, static_cast<std::uint32_t>(games[rec].second));
      ++ends;
    } else {
      line.push_back(b);
    }
  }
  EXPECT_EQ(ends, games.size());
}

}  // namespace
}  // namespace ludrex

#include "record/native_replay.h"
#include "search/subset.h"
#include "tree/tree_walk.h"

namespace ludrex {
namespace {

// For every position of the first plies of the games, the statistics through the tree equal a
// brute-force replay of every game's main line (a game counts once when its line reaches the
// position, whatever the move order).
TEST_F(TreeFilesTest, PositionStatsEqualABruteForceReplay) {
  std::vector<std::string> all = testing::DataGames();
  std::vector<std::pair<std::string, int>> games;
  for (std::size_t i = 0; i < all.size() && games.size() < 700; i += 3) {
    games.push_back({all[i], static_cast<int>(i % 3) + 1});
  }
  Make(games);
  base_->BuildTree();
  // Main lines as native codes.
  std::vector<std::vector<std::uint8_t>> lines;
  for (const auto& g : games) {
    std::vector<std::uint8_t> codes = Codes(g.first);
    std::vector<std::uint8_t> key = tree::TreeKey(codes.data(), static_cast<std::int32_t>(codes.size()), 0);
    key.pop_back();
    if (!codes.empty() && codes[0] == 0xE6) key.assign(1, 0xE6);  // set-up: never from the start
    lines.push_back(key);
  }
  std::unique_ptr<Subset> in(Subset::CreateTmp(base_->RecordCount()));
  in->IncludeRange(0, base_->RecordCount());
  in->ExcludeRange(5, 3);  // a few games left out of the input
  std::unique_ptr<Subset> out(Subset::CreateTmp(base_->RecordCount()));
  int checked = 0;
  for (std::size_t g = 0; g < lines.size(); g += 7) {
    NativeReplay probe;
    std::int32_t at = 0;
    for (int ply = 0; ply <= 12; ++ply) {
      if (ply > 0) {
        if (lines[g].empty() || lines[g][0] == 0xE6 || at >= static_cast<std::int32_t>(lines[g].size())) break;
        int used = probe.Play(lines[g].data() + at, static_cast<std::int32_t>(lines[g].size()) - at);
        if (used <= 0) break;
        at += used;
      }
      // Brute force.
      std::array<std::uint32_t, 4> want{};
      std::set<std::int32_t> wantGames;
      for (std::size_t k = 0; k < lines.size(); ++k) {
        if (!in->Item(static_cast<std::int32_t>(k))) continue;
        if (!lines[k].empty() && lines[k][0] == 0xE6) continue;
        NativeReplay r;
        std::int32_t p = 0;
        bool hit = false;
        while (true) {
          if (r.Side() == probe.Side() && std::memcmp(r.Board(), probe.Board(), 128) == 0) {
            hit = true;
            break;
          }
          if (p >= static_cast<std::int32_t>(lines[k].size())) break;
          int used = r.Play(lines[k].data() + p, static_cast<std::int32_t>(lines[k].size()) - p);
          if (used <= 0) break;
          p += used;
        }
        if (hit) {
          ++want[static_cast<std::size_t>(games[k].second)];
          wantGames.insert(static_cast<std::int32_t>(k));
        }
      }
      std::vector<tree::PositionStat> stats;
      ASSERT_TRUE(tree::TreePositionStats(*base_, in.get(), out.get(), probe.Board(),
                                          probe.Side() == 0 ? 1 : 2, stats));
      std::array<std::uint32_t, 4> got{};
      for (auto& st : stats) {
        for (int c = 0; c < 4; ++c) got[static_cast<std::size_t>(c)] += st.counters[static_cast<std::size_t>(c)];
        GameDestroy(st.line);
      }
      ASSERT_EQ(got, want) << "game " << g << " ply " << ply;
      std::set<std::int32_t> gotGames;
      for (std::int32_t r = out->SeqInitBase(0); r >= 0; r = out->SeqNext()) gotGames.insert(r);
      out->SeqStop();
      ASSERT_EQ(gotGames, wantGames);
      ++checked;
    }
  }
  EXPECT_GT(checked, 500);
}

}  // namespace
}  // namespace ludrex
