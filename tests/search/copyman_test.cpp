#include "search/copyman.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace ludrex {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Two main-line moves, a variation of two moves, a move, a promotion (three bytes), a two-byte
// annotation item, a short text "hi", a move, the end and a byte after it.
const Bytes kGame = {1, 2, 231, 3, 4, 232, 5, 209, 7, 8, 233, 9, 235, 2, 'h', 'i', 6, 237, 99};

struct Walked {
  std::int32_t plies;
  Bytes moves, notes;
};

Walked Walk(const Bytes& b, const CopyManSettings& s) {
  Walked w;
  w.plies = WalkGameScore(b.data(), static_cast<std::int32_t>(b.size()), s, w.moves, &w.notes);
  return w;
}

TEST(WalkGameScore, CopiesTheMainLineMovesOfTheWindowAndTheAnnotationsWhenAsked) {
  CopyManSettings s;
  Walked all = Walk(kGame, s);
  EXPECT_EQ(all.plies, 5);
  EXPECT_EQ(all.moves, (Bytes{1, 2, 5, 209, 7, 8, 6}));
  EXPECT_TRUE(all.notes.empty());
  s.annotations = true;
  EXPECT_EQ(Walk(kGame, s).notes, (Bytes{231, 232, 233, 9, 235, 2, 'h', 'i'}));
  s.annotations = false;
  s.firstPly = 2;
  s.lastPly = 4;
  EXPECT_EQ(Walk(kGame, s).moves, (Bytes{5, 209, 7, 8}));
  // Plies from the end: the last ply is 5 - 2.
  s.firstPly = 0;
  s.fromEnd = 2;
  EXPECT_EQ(Walk(kGame, s).moves, (Bytes{1, 2, 5}));
  s.fromEnd = 9;  // never below 0
  Walked none = Walk(kGame, s);
  EXPECT_TRUE(none.moves.empty());
  EXPECT_EQ(none.plies, 5);
}

TEST(WalkGameScore, UnknownCodesEndTheWalkUnlessAnnotationsAreKeptAndCutCodesEndIt) {
  CopyManSettings s;
  const Bytes unknown = {1, 240, 2};
  EXPECT_EQ(Walk(unknown, s).plies, 1);
  s.annotations = true;
  Walked kept = Walk(unknown, s);
  EXPECT_EQ(kept.plies, 2);
  EXPECT_EQ(kept.moves, (Bytes{1, 2}));
  EXPECT_TRUE(kept.notes.empty());
  // Codes cut short by the end of the bytes are not read past it.
  EXPECT_EQ(Walk({1, 209, 7}, s).moves, (Bytes{1}));
  EXPECT_EQ(Walk({1, 236, 5, 0, 0, 0}, s).plies, 1);
  EXPECT_EQ(Walk({1, 235}, s).plies, 1);
  EXPECT_EQ(Walk({1, 236, 0xFF, 0xFF, 0xFF, 0xFF, 3}, s).plies, 1);
  // A set-up position is a 77-byte item that counts as a move.
  Bytes setup(77, 0);
  setup[0] = 230;
  setup.push_back(4);
  Walked w = Walk(setup, s);
  EXPECT_EQ(w.plies, 2);
  EXPECT_EQ(w.moves.size(), 78u);
  EXPECT_EQ(Walk({}, s).plies, 0);
}

TEST(GameStats, CountsMainLinePliesAndWeighsAnnotations) {
  GameScoreStats st = GameStats(kGame.data(), static_cast<std::int32_t>(kGame.size()));
  EXPECT_EQ(st.plies, 5);
  EXPECT_EQ(st.annotation, (1u << 24) + 1u + 3u);
  const Bytes more = {231, 231, 1, 232, 232, 234, 1, 2, 236, 3, 0, 0, 0, 'a', 'b', 'c', 1};
  st = GameStats(more.data(), static_cast<std::int32_t>(more.size()));
  EXPECT_EQ(st.plies, 1);
  EXPECT_EQ(st.annotation, 2u * (1u << 24) + 2u + 7u);
}

TEST(KeysJoin, EqualKeysOrInPrefixModeAKeyThatExtendsTheOneBefore) {
  const std::uint8_t a[] = {1, 2}, ab[] = {1, 2, 3}, ac[] = {1, 3};
  EXPECT_TRUE(KeysJoin(a, 2, a, 2, false));
  EXPECT_FALSE(KeysJoin(a, 2, ab, 3, false));
  EXPECT_TRUE(KeysJoin(a, 2, ab, 3, true));
  EXPECT_FALSE(KeysJoin(ab, 3, a, 2, true));
  EXPECT_FALSE(KeysJoin(a, 2, ac, 2, true));
  EXPECT_TRUE(KeysJoin(nullptr, 0, ab, 3, true));
  EXPECT_TRUE(KeysJoin(nullptr, 0, nullptr, 0, false));
}

}  // namespace
}  // namespace ludrex
