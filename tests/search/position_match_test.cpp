// The position matcher: the settings' edge cases on small games, and the two drivers (a game of
// the move generator, native bytes code by code) agreeing on every game of the data files for
// many criteria taken from the games themselves.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "../record/chess_helpers.h"
#include "record/native_replay.h"
#include "search/position_match.h"

namespace ludrex {
namespace {

using testing::GameHolder;
using testing::ReadPgn;

struct Outcome {
  bool matched;
  std::int32_t position;
  bool operator==(const Outcome&) const = default;
};

// Matches through both drivers and checks that they agree.
Outcome Match(const PositionSettings& s, const std::string& pgn) {
  PreparedPosition p(s);
  GameHolder g;
  ReadPgn(g, pgn);
  Outcome a{}, b{};
  a.matched = MatchGame(p, g, &a.position);
  std::vector<std::uint8_t> bytes = testing::Encode(g);
  b.matched = MatchNativeBytes(p, bytes.data(), static_cast<std::int32_t>(bytes.size()), &b.position);
  EXPECT_EQ(a, b) << pgn;
  return a;
}

void ExactPosition(PositionSettings& s, const std::int8_t* board) {
  s.positionOn = 1;
  for (int sq = 0; sq < 128; ++sq) s.squareMasks[sq] = SquareCode(board[sq]);
}

void StartMasks(PositionSettings& s) {
  NativeReplay start;
  ExactPosition(s, start.Board());
}

const char* kSicilian = "1. e4 c5 2. Nf3 d6 3. d4 cxd4 4. Nxd4 Nf6 5. Nc3 a6 *";
const char* kSetupGame = "[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1\"]\n\n1. e4 Kd7 *";

std::string Moves(int plies) {
  // Knights out and back: any number of plies.
  static const char* cycle[4] = {"Nf3", "Nf6", "Ng1", "Ng8"};
  std::string s;
  for (int i = 0; i < plies; ++i) {
    if (i % 2 == 0) s += std::to_string(i / 2 + 1) + ". ";
    s += cycle[i % 4];
    s += ' ';
  }
  return s + "*";
}

TEST(PositionMatch, SetupStartAloneSelectsSetupGames) {
  PositionSettings s;
  s.setupStart = 1;
  EXPECT_TRUE(Match(s, kSetupGame).matched);
  EXPECT_FALSE(Match(s, kSicilian).matched);
}

TEST(PositionMatch, StartPositionMatchesAtTheFirstPosition) {
  PositionSettings s;
  StartMasks(s);
  s.sideMask = 1;
  Outcome o = Match(s, kSicilian);
  EXPECT_TRUE(o.matched);
  EXPECT_EQ(o.position, 1);
  EXPECT_FALSE(Match(s, kSetupGame).matched);
  s.sideMask = 2;  // Black to move: never the start position
  EXPECT_FALSE(Match(s, kSicilian).matched);
}

TEST(PositionMatch, LengthRanges) {
  PositionSettings s;
  s.lengths.push_back({20, 30});
  EXPECT_TRUE(Match(s, Moves(59)).matched);
  EXPECT_TRUE(Match(s, Moves(39)).matched);
  EXPECT_FALSE(Match(s, Moves(61)).matched);
  EXPECT_FALSE(Match(s, Moves(38)).matched);
}

TEST(PositionMatch, MinimumVariationsCountsOnlyMainLineVariations) {
  PositionSettings s;
  s.minVariations = 2;
  EXPECT_FALSE(Match(s, "1. e4 (1. d4 d5 (1... Nf6)) 1... e5 *").matched);
  EXPECT_TRUE(Match(s, "1. e4 (1. d4) 1... e5 (1... c5) *").matched);
}

TEST(PositionMatch, VariationPositionsCountOnlyWhenIncluded) {
  // The position after 1.d4 occurs only inside the variation.
  GameHolder g;
  ReadPgn(g, "1. d4 *");
  NativeReplay r;
  std::vector<std::uint8_t> b = testing::Encode(g);
  r.Play(b.data(), static_cast<std::int32_t>(b.size()));
  PositionSettings s;
  ExactPosition(s, r.Board());
  const char* game = "1. e4 (1. d4 d5) 1... e5 2. Nf3 *";
  EXPECT_FALSE(Match(s, game).matched);
  s.includeVariations = 1;
  Outcome o = Match(s, game);
  EXPECT_TRUE(o.matched);
  EXPECT_EQ(o.position, 3);  // e4, variation start, d4
}

TEST(PositionMatch, TextComments) {
  PositionSettings s;
  s.textCommentsOn = 1;
  TextCommentEntry e;
  e.info = "ab";
  e.hasInfo = true;
  e.searchType = 2;
  s.textComments.push_back(e);
  EXPECT_TRUE(Match(s, "1. e4 {xABy} e5 *").matched);
  s.textComments[0].caseSensitive = 1;
  EXPECT_FALSE(Match(s, "1. e4 {xABy} e5 *").matched);
  s.textComments[0].searchType = 0;
  s.textComments[0].caseSensitive = 0;
  s.textComments[0].info = "\x04xaby";  // equal: the whole annotation, its type byte first
  EXPECT_TRUE(Match(s, "1. e4 {xABy} e5 *").matched);
  EXPECT_FALSE(Match(s, "1. e4 e5 *").matched);
}

TEST(PositionMatch, Bishops) {
  PositionSettings s;
  s.bishopsOn = 1;
  s.bishopsKind = 1;
  const char* dark = "[SetUp \"1\"]\n[FEN \"4kb2/8/8/8/8/8/8/2B1K3 w - - 0 1\"]\n\n1. Kd2 *";
  const char* extra = "[SetUp \"1\"]\n[FEN \"4kb2/8/8/8/8/8/8/2BBK3 w - - 0 1\"]\n\n1. Ke2 *";
  EXPECT_TRUE(Match(s, dark).matched);
  EXPECT_FALSE(Match(s, extra).matched);
  s.bishopsKind = 0;
  EXPECT_FALSE(Match(s, dark).matched);
  EXPECT_FALSE(Match(s, extra).matched);
}

TEST(PositionMatch, MirrorLeftRight) {
  PositionSettings s;
  s.positionOn = 1;
  for (auto& m : s.squareMasks) m = 0xFFFF;  // any square content
  s.squareMasks[0x06] = SquareCode(6);      // but a White king on g1
  const char* queenside = "[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/8/2K5 w - - 0 1\"]\n\n1. Kb1 Kd7 *";
  EXPECT_FALSE(Match(s, queenside).matched);
  s.mirrorOn = 1;
  s.mirrorValue = 1;
  Outcome o = Match(s, queenside);
  EXPECT_TRUE(o.matched);
  EXPECT_EQ(o.position, 2);  // after the set-up and 1.Kb1
}

TEST(PositionMatch, EventChainOnE4) {
  PositionSettings s;
  std::vector<std::uint32_t> list = {0, 1, 1, 0x34u << 24, 0x2000, 0};
  list[0] = static_cast<std::uint32_t>(list.size() * 4);
  s.eventListOn = 1;
  s.eventList.resize(list.size() * 4);
  std::memcpy(s.eventList.data(), list.data(), s.eventList.size());
  EXPECT_TRUE(Match(s, kSicilian).matched);
  EXPECT_TRUE(Match(s, "1. e3 e6 2. e4 *").matched);
  EXPECT_FALSE(Match(s, "1. d4 d5 2. Nf3 *").matched);
  // A limit of 1: the count of half-moves without the event may reach 1 but not exceed it, so
  // the pawn must arrive within the first two half-moves; 2.e4 comes too late.
  list[3] |= 0x8000 | 1;
  std::memcpy(s.eventList.data(), list.data(), s.eventList.size());
  EXPECT_FALSE(Match(s, "1. e3 e6 2. e4 *").matched);
  EXPECT_TRUE(Match(s, kSicilian).matched);
}

TEST(PositionMatch, EarlyStopWhenAPawnHasMoved) {
  PositionSettings s;
  s.positionOn = 1;
  for (auto& m : s.squareMasks) m = 0xFFFF;
  s.squareMasks[0x14] = 0x2000;  // a White pawn on e2
  s.squareMasks[0x40] = 0x0200;  // and a White queen on a5: never in these games
  PreparedPosition p(s);
  GameMatch m(p);
  m.Begin(nullptr, 0);
  EXPECT_FALSE(m.Move(0x14, 0x34, 1));  // 1.e4: the pawn can never return
  std::int32_t at;
  EXPECT_FALSE(m.Finish(&at));
  EXPECT_EQ(at, -1);
}

TEST(PositionMatch, MaterialDifferenceWithPersistence) {
  PositionSettings s;
  s.matDiffOn = 1;
  for (int i = 0; i < 6; ++i) s.matMin[i] = static_cast<std::int32_t>(0x80000000u);
  s.matMin[0] = 1;
  s.matMax[0] = 1;
  s.countRange = 32u << 16 | 2;
  // 2...dxe4 wins a pawn back: White is one pawn up after 2.exd5 only.
  Outcome o = Match(s, "1. e4 d5 2. exd5 Qxd5 *");
  EXPECT_TRUE(o.matched);
  EXPECT_EQ(o.position, 3);
  s.persistence = 2;  // must hold for two half-moves: 2...Qxd5 ends it after one
  EXPECT_FALSE(Match(s, "1. e4 d5 2. exd5 Qxd5 *").matched);
  EXPECT_TRUE(Match(s, "1. e4 d5 2. exd5 Nf6 3. Nc3 *").matched);
}

TEST(PositionMatch, RegionsAndMaterialRanges) {
  PositionSettings s;
  s.regionsOn = 1;
  for (auto& m : s.regionMasks) m = 0x7;  // the whole board in regions 0, 1 and 2
  for (auto& region : s.material) {
    for (auto& pair : region) {
      pair[0] = 99;
      pair[1] = 0;
    }
  }
  // Queenless in region 0: no White or Black queen.
  s.material[0][4][0] = 0;
  s.material[0][11][0] = 0;
  EXPECT_TRUE(Match(s, "1. d4 d5 2. c4 e6 3. Nc3 Nf6 4. Bg5 Be7 *").matched == false);
  Outcome o = Match(s, "1. e4 e5 2. d4 exd4 3. Qxd4 Qf6 4. Qxf6 Nxf6 *");
  EXPECT_TRUE(o.matched);
  EXPECT_EQ(o.position, 8);
}

// Differential: both drivers agree on every game of the data files for criteria taken from the
// games themselves (the position after a random ply, with random side masks, variations
// included or not, material regions and mirrors).
TEST(PositionMatch, DriversAgreeOnTheDataFiles) {
  std::vector<std::string> games = testing::DataGames();
  std::mt19937 rng(11);
  GameHolder g;
  std::vector<std::vector<std::uint8_t>> encoded;
  for (const auto& text : games) {
    ReadPgn(g, text);
    encoded.push_back(testing::Encode(g));
  }
  int matches = 0;
  for (int round = 0; round < 40; ++round) {
    // A position from a random game.
    const auto& src = encoded[rng() % encoded.size()];
    std::vector<std::uint8_t> line(src);
    std::int32_t n = NativeMainLine(line.data(), static_cast<std::int32_t>(line.size()));
    NativeReplay r;
    std::int32_t at = 0;
    int plies = static_cast<int>(rng() % 12);
    for (int i = 0; i < plies && at < n; ++i) {
      int used = r.Play(line.data() + at, n - at);
      if (used <= 0) break;
      at += used;
    }
    PositionSettings s;
    if (round % 3 != 2) ExactPosition(s, r.Board());
    s.sideMask = 1 + static_cast<int>(rng() % 3);
    s.includeVariations = static_cast<int>(rng() % 2);
    if (round % 3 == 2) {
      s.regionsOn = 1;
      for (auto& m : s.regionMasks) m = 0x7;
      for (auto& region : s.material) {
        for (auto& pair : region) pair[0] = 99;
      }
      s.material[0][3][0] = static_cast<std::int32_t>(rng() % 2);  // White rooks at most 0 or 1
    }
    if (round % 5 == 4) {
      s.mirrorOn = 1;
      s.mirrorValue = 3;
    }
    PreparedPosition p(s);
    for (std::size_t i = 0; i < games.size(); i += 3) {
      ReadPgn(g, games[i]);
      Outcome a{}, b{};
      a.matched = MatchGame(p, g, &a.position);
      b.matched = MatchNativeBytes(p, encoded[i].data(), static_cast<std::int32_t>(encoded[i].size()),
                                   &b.position);
      ASSERT_EQ(a, b) << "round " << round << " game " << i;
      matches += a.matched;
    }
  }
  EXPECT_GT(matches, 100);
}

}  // namespace
}  // namespace ludrex
