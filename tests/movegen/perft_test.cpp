// Perft node counts of well-known positions: the legal move generator, make-move, castling,
// en passant, promotions and pins all take part.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "movegen/movegen.h"

namespace ludrex::chess {
namespace {

Position FromFen(const char* fen) {
  Position p;
  EXPECT_TRUE(p.SetFen(fen, std::strlen(fen))) << fen;
  return p;
}

struct PerftCase {
  const char* fen;
  std::uint64_t counts[5];  // depths 1.., 0 ends
};

const PerftCase kCases[] = {
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", {20, 400, 8902, 197281, 4865609}},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
     {48, 2039, 97862, 4085603, 0}},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", {14, 191, 2812, 43238, 674624}},
    {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", {6, 264, 9467, 422333, 0}},
    {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", {44, 1486, 62379, 2103487, 0}},
    {"r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
     {46, 2079, 89890, 3894594, 0}},
};

// Every published depth is checked; the last level is counted in bulk (the number of legal
// moves of each position one ply above), so the deepest counts stay fast even under ASan.
TEST(Perft, PublishedCounts) {
  for (const PerftCase& c : kCases) {
    const Position p = FromFen(c.fen);
    for (int d = 0; d < 5 && c.counts[d]; ++d) {
      EXPECT_EQ(Perft(p, d + 1), c.counts[d]) << c.fen << " depth " << d + 1;
    }
  }
}

// Mirrored positions (colours swapped, board flipped) must give the same counts: this catches
// generator code that is only right for one colour.
TEST(Perft, MirroredPositionsGiveTheSameCounts) {
  const char* mirrored[] = {
      "r3k2r/pppbbppp/2n2q1P/1P2p3/3pn3/BN2PNP1/P1PPQPB1/R3K2R b KQkq - 0 1",
      "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1",
  };
  EXPECT_EQ(Perft(FromFen(mirrored[0]), 3), 97862u);
  EXPECT_EQ(Perft(FromFen(mirrored[1]), 4), 422333u);
}

}  // namespace
}  // namespace ludrex::chess

namespace ludrex::chess {
namespace {

// The single-square generator that resolves SAN moves gives exactly the moves of the general
// generator, in positions reached by random play (checks, pins, en passant, promotions).
TEST(GenerateTo, MatchesTheGeneralGenerator) {
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  const char* starts[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
      "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
  };
  int positions = 0;
  for (const char* fen : starts) {
    for (int game = 0; game < 12; ++game) {
      Position pos;
      ASSERT_TRUE(pos.SetFen(fen, std::strlen(fen)));
      for (int ply = 0; ply < 80; ++ply) {
        Move all[kMaxMoves];
        const int n = GenerateLegal(pos, all);
        if (n == 0) break;
        ++positions;
        const Bitboard masks[] = {kAllSquares,         pos.Pieces(kPawn),
                                  pos.Pieces(kKnight), pos.Pieces(kQueen) | pos.Pieces(kRook),
                                  pos.Pieces(kKing),   FileBB(int(next() % 8))};
        for (Square to = 0; to < 64; ++to) {
          for (Bitboard mask : masks) {
            Move a[kMaxMoves], b[kMaxMoves];
            const int na = GenerateLegal(pos, a, mask, Bit(to));
            const int nb = GenerateTo(pos, b, mask, to);
            std::vector<std::uint16_t> va, vb;
            for (int i = 0; i < na; ++i) va.push_back(a[i].Raw());
            for (int i = 0; i < nb; ++i) vb.push_back(b[i].Raw());
            std::sort(va.begin(), va.end());
            std::sort(vb.begin(), vb.end());
            ASSERT_EQ(va, vb) << "square " << to;
          }
        }
        pos.Play(all[next() % n]);
      }
    }
  }
  EXPECT_GT(positions, 2000);
}

}  // namespace
}  // namespace ludrex::chess

namespace ludrex::chess {
namespace {

// Unplay takes back every kind of move exactly: walk the move trees of the perft positions.
void CheckUnplay(Position& pos, int depth) {
  if (depth == 0) return;
  Move list[kMaxMoves];
  const int n = GenerateLegal(pos, list);
  const Position saved = pos;
  for (int i = 0; i <= n; ++i) {
    const Move m = i < n ? list[i] : Move::Null();
    Undo undo;
    pos.Play(m, &undo);
    if (i < n) CheckUnplay(pos, depth - 1);
    pos.Unplay(undo);
    ASSERT_TRUE(pos == saved);
    ASSERT_EQ(pos.Checkers(), saved.Checkers());
    ASSERT_EQ(pos.State(), saved.State());
    char a[kMaxFenLength], b[kMaxFenLength];
    ASSERT_EQ(std::string(a, std::size_t(pos.WriteFen(a))),
              std::string(b, std::size_t(saved.WriteFen(b))));
  }
}

TEST(Unplay, RestoresEveryPosition) {
  for (const char* fen : {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                          "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
                          "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
                          "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3"}) {
    Position p;
    ASSERT_TRUE(p.SetFen(fen, std::strlen(fen)));
    CheckUnplay(p, 3);
  }
}

}  // namespace
}  // namespace ludrex::chess
