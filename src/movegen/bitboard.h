// Attack tables, built at compile time, and slider attacks by the classical ray method (the
// first blocker on each ray found with one bit scan). No table needs run-time initialisation, so
// the core works from static constructors and from any thread.
#pragma once

#include "movegen/types.h"

namespace ludrex::chess {

namespace detail {

// Ray directions: the first four step to higher squares, the last four to lower ones.
enum Direction : int { kN, kE, kNE, kNW, kS, kW, kSW, kSE };
constexpr int kDirFile[8] = {0, 1, 1, -1, 0, -1, -1, 1};
constexpr int kDirRank[8] = {1, 0, 1, 1, -1, 0, -1, -1};

struct Tables {
  Bitboard ray[8][64] = {};
  Bitboard knight[64] = {};
  Bitboard king[64] = {};
  Bitboard pawn[2][64] = {};      // squares a pawn of that colour on the square attacks
  Bitboard between[64][64] = {};  // squares strictly between two aligned squares
  Bitboard line[64][64] = {};     // the whole line through two aligned squares
  Bitboard rookRays[64] = {};     // rook attacks on an empty board
  Bitboard bishopRays[64] = {};   // bishop attacks on an empty board
};

constexpr bool OnBoard(int f, int r) { return f >= 0 && f < 8 && r >= 0 && r < 8; }

constexpr Bitboard Steps(Square s, const int (*d)[2], int n) {
  Bitboard b = 0;
  for (int i = 0; i < n; ++i) {
    int f = FileOf(s) + d[i][0], r = RankOf(s) + d[i][1];
    if (OnBoard(f, r)) b |= Bit(MakeSquare(f, r));
  }
  return b;
}

constexpr Tables BuildTables() {
  Tables t;
  constexpr int kKnightSteps[8][2] = {{1, 2},   {2, 1},   {2, -1}, {1, -2},
                                      {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
  constexpr int kKingSteps[8][2] = {{1, 0},  {1, 1},   {0, 1},  {-1, 1},
                                    {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  constexpr int kWhitePawn[2][2] = {{-1, 1}, {1, 1}};
  constexpr int kBlackPawn[2][2] = {{-1, -1}, {1, -1}};
  for (Square s = 0; s < 64; ++s) {
    t.knight[s] = Steps(s, kKnightSteps, 8);
    t.king[s] = Steps(s, kKingSteps, 8);
    t.pawn[kWhite][s] = Steps(s, kWhitePawn, 2);
    t.pawn[kBlack][s] = Steps(s, kBlackPawn, 2);
    for (int d = 0; d < 8; ++d) {
      int f = FileOf(s) + kDirFile[d], r = RankOf(s) + kDirRank[d];
      while (OnBoard(f, r)) {
        t.ray[d][s] |= Bit(MakeSquare(f, r));
        f += kDirFile[d];
        r += kDirRank[d];
      }
    }
  }
  for (Square s = 0; s < 64; ++s) {
    t.rookRays[s] = t.ray[kN][s] | t.ray[kE][s] | t.ray[kS][s] | t.ray[kW][s];
    t.bishopRays[s] = t.ray[kNE][s] | t.ray[kNW][s] | t.ray[kSW][s] | t.ray[kSE][s];
  }
  for (Square a = 0; a < 64; ++a) {
    for (int d = 0; d < 8; ++d) {
      Bitboard walked = 0;
      int f = FileOf(a) + kDirFile[d], r = RankOf(a) + kDirRank[d];
      while (OnBoard(f, r)) {
        Square b = MakeSquare(f, r);
        t.between[a][b] = walked;
        t.line[a][b] = t.ray[d][a] | t.ray[(d + 4) & 7][a] | Bit(a);
        walked |= Bit(b);
        f += kDirFile[d];
        r += kDirRank[d];
      }
    }
  }
  return t;
}

inline constexpr Tables kTables = BuildTables();

// Without a branch: a sentinel blocker on h8 (rays to higher squares) or a1 (rays to lower
// squares), whose own ray in that direction is empty, stands in when nothing blocks.
inline Bitboard RayAttack(int d, Square s, Bitboard occ) {
  const Bitboard r = kTables.ray[d][s];
  const Bitboard blockers = r & occ;
  return r ^ kTables.ray[d][d < 4 ? Lsb(blockers | (Bitboard(1) << 63)) : Msb(blockers | 1)];
}

}  // namespace detail

inline Bitboard KnightAttacks(Square s) { return detail::kTables.knight[s]; }
inline Bitboard KingAttacks(Square s) { return detail::kTables.king[s]; }
inline Bitboard PawnAttacks(Color c, Square s) { return detail::kTables.pawn[c][s]; }
inline Bitboard Between(Square a, Square b) { return detail::kTables.between[a][b]; }
// The line through a and b (both included); 0 when they are not on one rank, file or diagonal.
inline Bitboard Line(Square a, Square b) { return detail::kTables.line[a][b]; }

inline Bitboard RookAttacks(Square s, Bitboard occ) {
  using namespace detail;
  return RayAttack(kN, s, occ) | RayAttack(kE, s, occ) | RayAttack(kS, s, occ) |
         RayAttack(kW, s, occ);
}
inline Bitboard BishopAttacks(Square s, Bitboard occ) {
  using namespace detail;
  return RayAttack(kNE, s, occ) | RayAttack(kNW, s, occ) | RayAttack(kSW, s, occ) |
         RayAttack(kSE, s, occ);
}
// Attacks on an empty board.
inline Bitboard RookRays(Square s) { return detail::kTables.rookRays[s]; }
inline Bitboard BishopRays(Square s) { return detail::kTables.bishopRays[s]; }

// Attacks of a piece of type t (not a pawn) from s with the given occupancy.
inline Bitboard AttacksOf(PieceType t, Square s, Bitboard occ) {
  switch (t) {
    case kKnight:
      return KnightAttacks(s);
    case kBishop:
      return BishopAttacks(s, occ);
    case kRook:
      return RookAttacks(s, occ);
    case kQueen:
      return BishopAttacks(s, occ) | RookAttacks(s, occ);
    case kKing:
      return KingAttacks(s);
    default:
      return 0;
  }
}

}  // namespace ludrex::chess
