// The native game encoding: the codes of the edge cases, round trips over the data files, the
// byte-stepping operations and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "chess_helpers.h"
#include "helpers.h"

namespace ludrex::testing {
namespace {

using V = std::vector<std::uint8_t>;

class NativeCodec : public ::testing::Test {
 protected:
  CaptureScope capture_;
  GameHolder game, back;
};

TEST_F(NativeCodec, SingleMovesAndCastling) {
  ReadPgn(game, "1. e4");
  EXPECT_EQ(Encode(game), V{19});
  ReadPgn(game, "1. Nf3");
  EXPECT_EQ(Encode(game), V{43});
  // Short castling is one byte; the rook of role 13 stands on f1 afterwards, so Re1 is the rook
  // run's one-file step left from f1.
  ReadPgn(game, "1. e4 e5 2. Nf3 Nc6 3. Bc4 Bc5 4. O-O Nf6 5. Re1 O-O");
  V bytes = Encode(game);
  ASSERT_EQ(bytes.size(), 10u);
  EXPECT_EQ(bytes[6], 0xD0);
  EXPECT_EQ(bytes[9], 0xD0);
  EXPECT_EQ(bytes[8], 74 + 14 + 0);  // role 13, delta 0x07
  Decode(back, bytes);
  auto el = Elements(back);
  ASSERT_EQ(el.size(), 10u);
  EXPECT_EQ((Elem{1, 6, 0x04, 0x06, 0, {}, {}}), el[6]);
  EXPECT_EQ((Elem{1, 4, 0x05, 0x04, 0, {}, {}}), el[8]);
  EXPECT_EQ((Elem{1, 6, 0x74, 0x76, 0, {}, {}}), el[9]);
  // Long castling.
  ReadPgn(game, "1. d4 d5 2. Nc3 Nc6 3. Bf4 Bf5 4. Qd2 Qd7 5. O-O-O O-O-O 6. Rd3");
  bytes = Encode(game);
  EXPECT_EQ(bytes[8], 0xCF);
  EXPECT_EQ(bytes[9], 0xCF);
  Decode(back, bytes);
  EXPECT_EQ(Elements(back), Elements(game));
}

TEST_F(NativeCodec, EnPassantAndPromotionSlots) {
  ReadPgn(game, "1. e4 a6 2. e5 d5 3. exd6");
  V bytes = Encode(game);
  ASSERT_EQ(bytes.size(), 6u);
  EXPECT_EQ(bytes[4], 0xD2);
  EXPECT_EQ(bytes[5], 4 * 4 + 1);  // e-pawn, delta 0x17
  Decode(back, bytes);
  EXPECT_EQ(Elements(back), Elements(game));

  // Without a queen the new queen takes the queen's own slot (role 14).
  ReadPgn(game, "[FEN \"8/P7/8/8/8/8/8/K6k w - - 0 1\"]\r\n1. a8=Q");
  bytes = Encode(game);
  ASSERT_EQ(bytes.size(), 77u + 3);
  EXPECT_EQ(bytes[77], 0xD1);
  EXPECT_EQ(bytes[78], 0);  // a-pawn one step
  EXPECT_EQ(bytes[79], 14 | 5 << 5);
  // With the queen on d1, the spare slot 16; with a second queen already there, 17.
  ReadPgn(game, "[FEN \"8/P7/8/8/8/8/8/K2Q3k w - - 0 1\"]\r\n1. a8=Q");
  EXPECT_EQ(Encode(game)[79], 16 | 5 << 5);
  ReadPgn(game, "[FEN \"8/P7/8/7Q/8/8/8/K2Q3k w - - 0 1\"]\r\n1. a8=Q");
  EXPECT_EQ(Encode(game)[79], 17 | 5 << 5);
  // All spare slots taken: the pawn keeps its own slot.
  ReadPgn(game, "[FEN \"8/P7/8/7Q/6Q1/8/8/K2Q3k w - - 0 1\"]\r\n1. a8=Q");
  EXPECT_EQ(Encode(game)[79], 0 | 5 << 5);
  // A new knight takes a free knight slot.
  ReadPgn(game, "[FEN \"8/P7/8/8/8/8/8/K6k w - - 0 1\"]\r\n1. a8=N");
  EXPECT_EQ(Encode(game)[79], 8 | 2 << 5);
  // A promoted piece moves on from its new slot, a capture-promotion included.
  ReadPgn(game, "[FEN \"1r6/P7/8/8/8/8/8/K6k w - - 0 1\"]\r\n1. axb8=Q Kg2 2. Qb7+ Kg1 3. Qg7+");
  bytes = Encode(game);
  Decode(back, bytes);
  EXPECT_EQ(Elements(back), Elements(game));
}

TEST_F(NativeCodec, NullMovesAndMissingPieces) {
  Move(game, 0, 0xFF, 0xFF);  // null move
  Move(game, 2, 0x44, 0x55);  // nothing on e5
  Move(game, 1, 0x63, 0x43);  // Black's pawn while White is to move
  GameFinish(game);
  EXPECT_EQ(Encode(game), (V{0xD3, 0xD3, 0xD3}));
  Decode(back, V{0xD3});
  EXPECT_EQ(Elements(back), (std::vector<Elem>{{1, 0, 0xFF, 0xFF, 0, {}, {}}}));
}

TEST_F(NativeCodec, LongMovesAndUnencodablePromotion) {
  // The a-rook jumping like a knight has no table code: long move 0xD4 + role 12.
  Move(game, 4, 0x00, 0x21);
  GameFinish(game);
  V bytes = Encode(game);
  EXPECT_EQ(bytes, (V{0xD4 + 12, 0x21}));
  Decode(back, bytes);
  EXPECT_EQ(Elements(back), Elements(game));
  // A pawn that "promotes" by a displacement pawns never have.
  GameClear(game);
  Move(game, 5, 0x10, 0x40);
  GameFinish(game);
  EXPECT_RAISES(811, Encode(game));
}

TEST_F(NativeCodec, Annotations) {
  for (std::uint32_t n : {0u, 1u, 2u, 3u, 255u, 256u, 300u}) {
    GameClear(game);
    std::vector<std::uint8_t> text(n);
    for (std::uint32_t i = 0; i < n; ++i) text[i] = std::uint8_t(i * 7);
    ChessElement e{};
    e.kind = kElementAnnotation;
    e.count = n;
    e.bytes = text.data();
    GameAppend(game, &e);
    GameFinish(game);
    V bytes = Encode(game);
    V head;
    if (n == 0)
      head = {0xEB, 0x00};
    else if (n == 1)
      head = {0xE9};
    else if (n == 2)
      head = {0xEA};
    else if (n < 256)
      head = {0xEB, std::uint8_t(n)};
    else
      head = {0xEC, std::uint8_t(n), std::uint8_t(n >> 8), 0, 0};
    ASSERT_EQ(bytes.size(), head.size() + n) << n;
    EXPECT_EQ(V(bytes.begin(), bytes.begin() + head.size()), head) << n;
    Decode(back, bytes);
    EXPECT_EQ(Elements(back), Elements(game)) << n;
  }
}

TEST_F(NativeCodec, VariationsAndTheirErrors) {
  // A variation replaces the move before it; two in a row both start from that position.
  ReadPgn(game, "1. e4 (1. d4 d5 (1... Nf6 2. c4) 2. c4) (1. c4) 1... e5 2. Nf3");
  V bytes = Encode(game);
  Decode(back, bytes);
  EXPECT_EQ(Elements(back), Elements(game));
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0xD3), 0);

  GameClear(game);
  Move(game, 1, 0x14, 0x34);
  Mark(game, kElementVariationEnd);
  GameFinish(game);
  EXPECT_RAISES(808, Encode(game));
  GameClear(game);
  Mark(game, kElementVariationStart);
  GameFinish(game);
  EXPECT_RAISES(813, Encode(game));
  GameClear(back);
  EXPECT_RAISES(808, DecodeNativeGame(V{19, 0xE8}.data(), 2, back));
  EXPECT_EQ(Elements(back).size(), 1u);  // what was read before stays
}

TEST_F(NativeCodec, SetupPositions) {
  ReadPgn(game,
          "[FEN \"r3k2r/pp3ppp/2n5/3q4/8/2N5/PP3PPP/R2QK2R b KQkq - 3 12\"]\r\n"
          "12... O-O-O 13. O-O Qd2 14. Qxd2 Rxd2");
  V bytes = Encode(game);
  ASSERT_GE(bytes.size(), 77u);
  EXPECT_EQ(bytes[0], 0xE6);
  EXPECT_EQ(bytes[1 + 72] & 1, 1);  // Black to move
  Decode(back, bytes);
  EXPECT_EQ(Elements(back), Elements(game));
  // Nine pawns of one side do not fit the eight pawn slots.
  std::int8_t board[128] = {};
  for (int f = 0; f < 8; ++f) board[0x10 + f] = 1;
  board[0x20] = 1;
  board[0x04] = 6;
  board[0x74] = -6;
  GameClear(game);
  ChessElement e{};
  e.kind = kElementSetup;
  e.board = board;
  GameAppend(game, &e);
  GameFinish(game);
  EXPECT_RAISES(807, Encode(game));
  // Eight knights fit (two own slots, two spares, then pawn slots).
  std::int8_t knights[128] = {};
  for (int f = 0; f < 8; ++f) knights[0x30 + f] = 2;
  knights[0x04] = 6;
  knights[0x74] = -6;
  GameClear(game);
  e.board = knights;
  GameAppend(game, &e);
  GameFinish(game);
  bytes = Encode(game);
  Decode(back, bytes);
  EXPECT_EQ(Elements(back), Elements(game));
}

TEST_F(NativeCodec, RoundTripEveryDataGame) {
  auto games = DataGames();
  ASSERT_GT(games.size(), 2500u);
  std::size_t plies = 0, withVariations = 0;
  for (std::size_t i = 0; i < games.size(); ++i) {
    ReadPgn(game, games[i]);
    auto el = Elements(game);
    ASSERT_FALSE(el.empty()) << i;
    V bytes = Encode(game);
    Decode(back, bytes);
    ASSERT_EQ(Elements(back), el) << "game " << i;
    ASSERT_EQ(Encode(back), bytes) << "game " << i;
    for (const Elem& x : el) {
      plies += x.kind == 1;
      withVariations += x.kind == 2;
    }
    // The main-line operation keeps exactly the main line's moves.
    V main = bytes;
    main.resize(std::size_t(NativeMainLine(main.data(), std::int32_t(main.size()))));
    Decode(back, main);
    std::vector<Elem> mainEl;
    int depth = 0;
    for (const Elem& x : el) {
      if (x.kind == 2)
        ++depth;
      else if (x.kind == 3)
        --depth;
      else if (depth == 0 && x.kind != 4)
        mainEl.push_back(x);
    }
    ASSERT_EQ(Elements(back), mainEl) << "game " << i;
  }
  EXPECT_GT(plies, 40000u);
  EXPECT_GT(withVariations, 50u);
}

TEST_F(NativeCodec, ByteSteppingOperations) {
  const V annotated = {0xEB, 3, 'a', 'b', 'c', 19, 0xE9, 'x', 0xEA, 1, 2, 0xEC, 1, 0, 0, 0, 'z'};
  std::int32_t n = std::int32_t(annotated.size());
  EXPECT_EQ(NativeCodeLength(annotated.data(), n), 5);
  EXPECT_EQ(NativeCodeLength(annotated.data() + 11, n - 11), 6);
  EXPECT_EQ(NativeCodeLength(annotated.data() + 11, 5), 0);  // cut short
  const V promo = {0xD1, 0, 0xAE};
  EXPECT_EQ(NativeCodeLength(promo.data(), 3), 2);
  const V setup(77, 0xE6);
  EXPECT_EQ(NativeCodeLength(setup.data(), 77), 77);
  EXPECT_EQ(NativeCodeLength(setup.data(), 76), 0);
  const V end = {0xED};
  EXPECT_EQ(NativeCodeLength(end.data(), 1), 0);

  // Common prefix: whole codes only.
  V a = {19, 0xD4, 0x21, 0xD1, 0, 0xAE, 7};
  V b = {19, 0xD4, 0x22, 0xD1, 0, 0xAE, 7};
  EXPECT_EQ(NativeCommonPrefix(a.data(), b.data(), 7), 1);
  b[2] = 0x21;
  b[5] = 0xB0;
  EXPECT_EQ(NativeCommonPrefix(a.data(), b.data(), 7), 3);
  b[5] = 0xAE;
  EXPECT_EQ(NativeCommonPrefix(a.data(), b.data(), 7), 7);
  EXPECT_EQ(NativeCommonPrefix(a.data(), b.data(), 5), 3);  // the promotion runs past n

  // Skip variation with nesting and an annotation holding 0xE8 bytes.
  const V var = {19, 0xE7, 11, 0xE7, 12, 0xE8, 0xEB, 2, 0xE8, 0xE8, 0xE8, 43};
  EXPECT_EQ(NativeSkipVariation(var.data(), 12, 2), 11);
  EXPECT_EQ(NativeSkipVariation(var.data(), 10, 2), 10);
  V main = var;
  EXPECT_EQ(NativeMainLine(main.data(), 12), 2);
  EXPECT_EQ(V(main.begin(), main.begin() + 2), (V{19, 43}));
}

TEST_F(NativeCodec, EndCodesStopDecoding) {
  Decode(back, V{19, 0xED, 19});
  EXPECT_EQ(Elements(back).size(), 1u);
  Decode(back, V{0xFF, 19});
  EXPECT_TRUE(Elements(back).empty());
}

TEST_F(NativeCodec, CutShortCodesRaiseAndKeepWhatWasRead) {
  V setup40(41, 0);
  setup40[0] = 0xE6;
  V longNote = {0xEC, 10, 0, 0, 0, 'a', 'b'};
  V hugeNote = {0xEC, 0xFF, 0xFF, 0xFF, 0xFF, 'a'};
  const std::vector<V> cases = {{0xD1},    {0xD1, 0}, {0xD2},          {0xD4},         {0xE9},
                                {0xEA, 1}, {0xEB},    {0xEB, 5, 'a'},  {0xEC, 1, 0},   setup40,
                                longNote,  hugeNote,  {0xD1, 0xE0, 0}, {0xD1, 0, 0x1F}};
  for (const V& tail : cases) {
    V bytes = {19};
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    // Exact-size heap copy, so that ASan sees any read past the end.
    std::vector<std::uint8_t> exact(bytes);
    GameClear(back);
    EXPECT_RAISES(812, DecodeNativeGame(exact.data(), std::int32_t(exact.size()), back));
    EXPECT_EQ(Elements(back).size(), 1u);
  }
}

TEST_F(NativeCodec, RandomBytesNeverCrash) {
  std::mt19937 rng(7);
  int raised = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> bytes(std::size_t(rng() % 200));
    for (auto& b : bytes) b = std::uint8_t(rng() % 4 == 0 ? 0xD0 + rng() % 0x20 : rng());
    GameClear(back);
    try {
      DecodeNativeGame(bytes.data(), std::int32_t(bytes.size()), back);
    } catch (const Failure&) {
      unsigned code = LastErrorCode();
      EXPECT_TRUE(code == 808 || code == 812) << code;
      ++raised;
    }
    GameFinish(back);
    // What decoded re-encodes without a crash (it may refuse with a numbered error).
    try {
      Encode(back);
    } catch (const Failure&) {
      unsigned code = LastErrorCode();
      EXPECT_TRUE(code == 807 || code == 811 || code == 813) << code;
    }
    std::int32_t n = std::int32_t(bytes.size());
    NativeMainLine(bytes.data(), n);
    NativeSkipVariation(bytes.data(), n, 0);
    NativeCommonPrefix(bytes.data(), bytes.data(), n);
  }
  EXPECT_GT(raised, 100);
}

}  // namespace
}  // namespace ludrex::testing
