// The .cbh game-body reader: golden bytes, the documented variation order, set-up starts,
// promotions, castling and two-byte moves, annotations, and every sample game written by the
// test writer and read back element for element; damaged bodies never read outside their bytes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cbh_writer.h"
#include "game_helpers.h"
#include "movegen/game.h"

namespace ludrex::testing {
namespace {

class CbhRead : public ::testing::Test {
 protected:
  void SetUp() override { g_ = GameCreate(0); }
  void TearDown() override { GameDestroy(g_); }

  std::vector<Element> ReadBody(const std::vector<std::uint8_t>& body, bool* complete = nullptr) {
    GameClear(g_);
    const bool ok = GameReadCbh(g_, body.data(), int(body.size()));
    GameFinish(g_);
    if (complete) *complete = ok;
    return Elements(g_);
  }
  // The body the writer makes of one game (move record and annotation record).
  static std::vector<std::uint8_t> Body(const cbhtest::Game& game, int mode = 0) {
    std::vector<std::uint8_t> cbg, cba;
    cbhtest::MoveWriter(game, mode, 1).Write(cbg, cba);
    cbg.insert(cbg.end(), cba.begin(), cba.end());
    return cbg;
  }
  Game* g_ = nullptr;
};

// Long algebraic tokens from elements (promotions carry the new piece's letter).
std::string Tokens(const std::vector<Element>& elements) {
  std::string out;
  bool afterMark = false;
  for (const Element& e : elements) {
    if (!out.empty()) out += ' ';
    switch (e.kind) {
      case kElementMove:
        if (e.from == kNullSquare) {
          out += "--";
        } else {
          out += char('a' + (e.from & 7));
          out += char('1' + (e.from >> 4));
          out += char('a' + (e.to & 7));
          out += char('1' + (e.to >> 4));
          const int toRank = e.to >> 4, fromRank = e.from >> 4;
          if (e.piece != 1 && ((fromRank == 6 && toRank == 7) || (fromRank == 1 && toRank == 0))) {
            out += " pnbrqk"[e.piece];
          }
        }
        afterMark = false;
        break;
      case kElementVariationStart:
        out += '(';
        afterMark = true;
        break;
      case kElementVariationEnd:
        out += ')';
        afterMark = true;
        break;
      case kElementAnnotation:
        if (e.bytes[0] == kAnnotationComment) {
          out += afterMark ? "{<" : "{";
          out += std::string(e.bytes.begin() + 1, e.bytes.end()) + "}";
        } else {
          out += std::string(e.bytes.begin() + 2, e.bytes.end()) == "" ? "" : "$";
          out += std::string(e.bytes.begin() + 2, e.bytes.end());
        }
        break;
      default:
        break;
    }
  }
  return out;
}

TEST_F(CbhRead, GoldenOpeningBytes) {
  // e2-e4 is the e-pawn's double step, code 128, written 0xFF with n = 0; e7-e5 the same with
  // n = 1 (0x00); Ng1-f3 is the second knight's (-1, +2), code 105, 0xFE + 2; the end 255, 0x0C + 3.
  const std::vector<std::uint8_t> body = {0x00, 0x00, 0x00, 0x08, 0xFF, 0x00, 0x00, 0x0F};
  bool complete = false;
  auto got = ReadBody(body, &complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(got, Read(g_, "1. e4 e5 2. Nf3"));
  cbhtest::Game game;
  game.moves = "e2e4 e7e5 g1f3";
  EXPECT_EQ(Body(game), body);
}

TEST_F(CbhRead, VariationsInTheDocumentedOrder) {
  cbhtest::Game game;
  game.moves = "e2e4 c7c5 ( c7c6 d2d4 ) ( g8f6 e4e5 ) g1f3 d7d6 ( b8c6 f1b5 ) d2d4";
  const auto body = Body(game);
  // The codes behind the bytes: e4 254 c5 Nf3 254 d6 d4 255 Nc6 Bb5 255 254 c6 d4 255 Nf6 e5 255.
  const std::uint8_t* t = cbhtest::Table(0);
  std::vector<int> codes;
  int n = 0;
  for (std::size_t i = 4; i < body.size(); ++i) {
    int c = t[(body[i] - n) & 255];
    codes.push_back(c);
    if (c != 254 && c != 255) ++n;
  }
  // Nc6 is the first knight's (+1, -2); Bb5 the second bishop's (+4, +4) modulo 8; Nf6 the
  // second knight's (-1, -2).
  const int e4 = 128, c5 = 111 + 2 * 4 + 1, nf3 = 105, d6 = 111 + 3 * 4, d4 = 111 + 3 * 4 + 1,
            nc6 = 95 + 6, bb5 = 81 + 3, c6 = 111 + 2 * 4, nf6 = 103 + 5, e5 = 111 + 4 * 4;
  EXPECT_EQ(codes, (std::vector<int>{e4, 254, c5, nf3, 254, d6, d4, 255, nc6, bb5, 255, 254, c6,
                                     d4, 255, nf6, e5, 255}));
  bool complete = false;
  EXPECT_EQ(ReadBody(body, &complete),
            Read(g_, "1. e4 c5 (1... c6 2. d4) (1... Nf6 2. e5) 2. Nf3 d6 (2... Nc6 3. Bb5) 3. d4"));
  EXPECT_TRUE(complete);
}

TEST_F(CbhRead, SetupPromotionsCastlingAndFourthQueen) {
  cbhtest::Game game;
  game.fen = "4k3/PPPP4/8/8/8/8/8/4K2R w K - 0 1";
  // Four promotions (two-byte moves), short castling, a move of the fourth queen (two bytes
  // again), a capture that renumbers the queens, then the second queen by a one-byte code.
  game.moves = "a7a8q e8f7 b7b8q f7e6 c7c8r e6f5 d7d8q f5g4 e1g1 g4h3 d8d3 h3g4 a8a2 g4h5 b8b2";
  const std::string pgn = "[FEN \"" + game.fen + "\"]\n" + game.moves;
  bool complete = false;
  auto got = ReadBody(Body(game), &complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(got, Read(g_, pgn));
  EXPECT_EQ(got.front().kind, kElementSetup);
  // Black to move with en passant on d6 and long castling for Black.
  cbhtest::Game black;
  black.fen = "r3k3/8/8/8/2pP4/8/8/4K3 b q d3 0 30";
  black.moves = "c4d3 e1d2 e8c8";
  got = ReadBody(Body(black), &complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(got, Read(g_, "[FEN \"" + black.fen + "\"]\n" + black.moves));
}

TEST_F(CbhRead, AnnotationsBeforeAndAfterMoves) {
  cbhtest::Game game;
  game.moves = "{on the game} e2e4 $1 {after e4} e7e5 ( {<before c5} c7c5 $14 ) g1f3";
  bool complete = false;
  auto got = ReadBody(Body(game), &complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(got, Read(g_, "{on the game} 1. e4 ! {after e4} e5 ({before c5} 1... c5 $14) 2. Nf3"));
}

TEST_F(CbhRead, CommentsInUtf8BecomeWindows1251) {
  cbhtest::Game game;
  // "Ход" in UTF-8, then the same word in Windows-1251, which is not UTF-8 and stays as it is.
  game.moves = "e2e4 {\xD0\xA5\xD0\xBE\xD0\xB4} e7e5 {\xD5\xEE\xE4}";
  const auto got = ReadBody(Body(game));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1].bytes, (std::vector<std::uint8_t>{kAnnotationComment, 0xD5, 0xEE, 0xE4}));
  EXPECT_EQ(got[3].bytes, (std::vector<std::uint8_t>{kAnnotationComment, 0xD5, 0xEE, 0xE4}));
}

TEST_F(CbhRead, PostModeAndTwoByteMovesReadTheSame) {
  cbhtest::Game game;
  game.moves = "d2d4 g8f6 c2c4 e7e6 b1c3 f8b4 e2e3 e8g8 f1d3 d7d5 g1f3 c7c5 e1g1";
  const auto expected = Read(g_, game.moves);
  EXPECT_EQ(ReadBody(Body(game, 4)), expected);
  game.twoByteMoves = true;
  EXPECT_EQ(ReadBody(Body(game, 0)), expected);
  EXPECT_EQ(ReadBody(Body(game, 4)), expected);
}

TEST_F(CbhRead, EverySampleGameRoundTrips) {
  const auto games = SplitGames(ReadFile(std::string(LUDREX_SHARED_DATA) + "/sample-games.pgn"));
  ASSERT_GE(games.size(), 600u);
  int k = 0;
  for (const std::string& text : games) {
    const auto original = Read(g_, text);
    cbhtest::Game game;
    game.moves = Tokens(original);
    game.twoByteMoves = k % 7 == 3;
    bool complete = false;
    const auto got = ReadBody(Body(game, k % 5 == 1 ? 4 : 0), &complete);
    EXPECT_TRUE(complete) << "game " << k;
    ASSERT_EQ(got, original) << "game " << k << "\n" << text;
    ++k;
  }
}

TEST_F(CbhRead, DamagedBodiesStopCleanly) {
  cbhtest::Game game;
  game.moves = "e2e4 c7c5 ( c7c6 d2d4 ) g1f3 {x} d7d6 $1 ( b8c6 f1b5 ) d2d4 c5d4 f3d4";
  const auto body = Body(game);
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    auto b = body;
    if (round % 3 == 0) {
      b.resize(rng() % b.size());
    } else {
      for (int flips = 1 + int(rng() % 3); flips > 0; --flips) b[rng() % b.size()] ^= std::uint8_t(1 + rng() % 255);
    }
    // A copy of exactly the damaged length: ASan sees any read past it.
    std::vector<std::uint8_t> exact(b.begin(), b.end());
    const auto got = ReadBody(exact);
    int depth = 0;
    for (const Element& e : got) {
      if (e.kind == kElementVariationStart) ++depth;
      if (e.kind == kElementVariationEnd) --depth;
      ASSERT_GE(depth, 0);
    }
    EXPECT_EQ(depth, 0);
  }
  // Deeper nesting than the reader follows, and an unknown encoding mode.
  std::vector<std::uint8_t> deep = {0, 0, 0, 0};
  for (int i = 0; i < 5000; ++i) deep.push_back(std::uint8_t((0xDC + 0) & 255));  // 254, n = 0
  deep[1] = std::uint8_t(deep.size() >> 16);
  deep[2] = std::uint8_t(deep.size() >> 8);
  deep[3] = std::uint8_t(deep.size());
  bool complete = true;
  ReadBody(deep, &complete);
  EXPECT_FALSE(complete);
  ReadBody({0x07, 0x00, 0x00, 0x05, 0x00}, &complete);
  EXPECT_FALSE(complete);
  // A size past the bytes given.
  ReadBody({0x00, 0x00, 0x01, 0x00, 0xFF}, &complete);
  EXPECT_FALSE(complete);
}

}  // namespace
}  // namespace ludrex::testing
