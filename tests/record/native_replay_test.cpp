// Replaying native bytes onto a board: every main-line position of the data files equals a plain
// board model that plays the game's move elements; bad codes never change the position.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "chess_helpers.h"
#include "record/native_replay.h"

namespace ludrex {
namespace {

using testing::DataGames;
using testing::GameHolder;
using testing::ReadPgn;

// The plain model: moves from, to with the piece kind after the move, castling by a king's
// two-file step, en passant by a pawn's diagonal step onto an empty square.
struct Model {
  std::int8_t board[128] = {};
  int side = 0, castling = 15, ep = -1;
  Model() {
    const std::int8_t back[8] = {4, 2, 3, 5, 6, 3, 2, 4};
    for (int f = 0; f < 8; ++f) {
      board[f] = back[f];
      board[0x10 + f] = 1;
      board[0x60 + f] = -1;
      board[0x70 + f] = static_cast<std::int8_t>(-back[f]);
    }
  }
  void Rights(unsigned sq) {
    if (sq == 0x00) castling &= ~2;
    if (sq == 0x07) castling &= ~1;
    if (sq == 0x70) castling &= ~8;
    if (sq == 0x77) castling &= ~4;
    if (sq == 0x04) castling &= ~3;
    if (sq == 0x74) castling &= ~12;
  }
  void Play(const ChessElement& e) {
    if (e.from == kNullSquare) {
      side ^= 1;
      ep = -1;
      return;
    }
    int v = board[e.from];
    int kind = v < 0 ? -v : v;
    if (kind == 6 && ((e.to & 7) - (e.from & 7) == 2 || (e.from & 7) - (e.to & 7) == 2)) {
      unsigned rookFrom = (e.from & 0x70) | ((e.to & 7) == 6 ? 7 : 0);
      unsigned rookTo = (e.from & 0x70) | ((e.to & 7) == 6 ? 5 : 3);
      board[rookTo] = board[rookFrom];
      board[rookFrom] = 0;
    }
    if (kind == 1 && (e.from & 7) != (e.to & 7) && board[e.to] == 0) {
      board[(e.from & 0x70) | (e.to & 7)] = 0;
    }
    int rankStep = (e.to >> 4) - (e.from >> 4);
    ep = kind == 1 && (rankStep == 2 || rankStep == -2) ? (e.from + e.to) / 2 : -1;
    board[e.to] = static_cast<std::int8_t>(v < 0 ? -e.piece : e.piece);
    board[e.from] = 0;
    Rights(e.from);
    Rights(e.to);
    side ^= 1;
  }
};

TEST(NativeReplay, MainLinesOfTheDataFilesMatchThePlainModel) {
  GameHolder g;
  int games = 0, plies = 0;
  for (const std::string& text : DataGames()) {
    ReadPgn(g, text);
    std::vector<std::uint8_t> bytes = testing::Encode(g);
    if (!bytes.empty() && bytes[0] == 0xE6) continue;  // set-up games: covered below
    std::int32_t n = NativeMainLine(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    NativeReplay replay;
    Model model;
    ChessElement e;
    GameRewind(g);
    int depth = 0;
    std::int32_t at = 0;
    while (GameNext(g, &e)) {
      if (e.kind == kElementVariationStart) ++depth;
      if (e.kind == kElementVariationEnd) --depth;
      if (depth != 0 || e.kind != kElementMove) continue;
      ASSERT_LT(at, n);
      int used = replay.Play(bytes.data() + at, n - at);
      ASSERT_GT(used, 0) << "game " << games << " ply " << plies;
      at += used;
      model.Play(e);
      ++plies;
      ASSERT_EQ(std::memcmp(replay.Board(), model.board, 128), 0) << "game " << games;
      ASSERT_EQ(replay.Side(), model.side);
      ASSERT_EQ(replay.Castling(), model.castling);
      ASSERT_EQ(replay.EpSquare(), model.ep);
    }
    EXPECT_EQ(at, n);
    ++games;
  }
  EXPECT_GT(games, 2000);
  EXPECT_GT(plies, 50000);
}

TEST(NativeReplay, SetupPromotionAndCounts) {
  GameHolder g;
  // White to move; a pawn on b7 promotes on a8 taking a rook, then Black takes back.
  ReadPgn(g, "[SetUp \"1\"]\n[FEN \"r3k3/1P6/8/8/8/8/8/4K3 w q - 0 1\"]\n\n1. bxa8=Q+ Ke7 *");
  std::vector<std::uint8_t> bytes = testing::Encode(g);
  ASSERT_EQ(bytes[0], 0xE6);
  NativeReplay r;
  int used = r.Play(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  ASSERT_EQ(used, 77);
  EXPECT_EQ(r.Side(), 0);
  EXPECT_EQ(r.Castling(), NativeReplay::kBlackLong);
  EXPECT_EQ(r.Count(0, 1), 1);
  EXPECT_EQ(r.Count(1, 4), 1);
  used = r.Play(bytes.data() + 77, static_cast<std::int32_t>(bytes.size()) - 77);
  ASSERT_EQ(used, 3);
  EXPECT_EQ(r.Board()[0x70], 5);
  EXPECT_EQ(r.Count(0, 1), 0);
  EXPECT_EQ(r.Count(0, 5), 1);
  EXPECT_EQ(r.Count(1, 4), 0);
  EXPECT_EQ(r.Castling(), 0);  // the rook on a8 was taken
}

TEST(NativeReplay, BadCodesLeaveThePositionAlone) {
  NativeReplay r;
  const std::uint8_t marks[] = {0xE7, 0xE8, 0xE9, 0xED, 0xFF};
  for (std::uint8_t m : marks) EXPECT_EQ(r.Play(&m, 1), NativeReplay::kNotAMove);
  // Cut-short long move, promotion and set-up.
  const std::uint8_t longMove = 0xD4;
  EXPECT_EQ(r.Play(&longMove, 1), NativeReplay::kInvalid);
  const std::uint8_t promo[2] = {0xD1, 0x00};
  EXPECT_EQ(r.Play(promo, 2), NativeReplay::kInvalid);
  const std::uint8_t setup = 0xE6;
  EXPECT_EQ(r.Play(&setup, 1), NativeReplay::kInvalid);
  // Castling with pieces in the way; en passant without a pawn to take.
  const std::uint8_t castle = 0xD0, ep[2] = {0xD2, 0x01};
  EXPECT_EQ(r.Play(&castle, 1), NativeReplay::kInvalid);
  EXPECT_EQ(r.Play(ep, 2), NativeReplay::kInvalid);
  NativeReplay fresh;
  EXPECT_EQ(std::memcmp(r.Board(), fresh.Board(), 128), 0);
  // Random bytes: every answer is a length within the bytes, or a refusal; no crash.
  std::mt19937 rng(3);
  for (int round = 0; round < 20000; ++round) {
    std::uint8_t buf[80];
    for (auto& b : buf) b = static_cast<std::uint8_t>(rng());
    std::int32_t n = 1 + static_cast<std::int32_t>(rng() % 80);
    int used = r.Play(buf, n);
    ASSERT_LE(used, n);
    int pieces = 0;
    for (int sq = 0; sq < 128; ++sq) pieces += r.Board()[sq] != 0;
    ASSERT_LE(pieces, 64);
    if (round % 50 == 0) r.Reset();
  }
}

}  // namespace
}  // namespace ludrex
