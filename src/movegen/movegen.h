// Legal move generation, SAN writing and perft.
#pragma once

#include <cstdint>

#include "movegen/position.h"

namespace ludrex::chess {

constexpr Bitboard kAllSquares = ~Bitboard(0);

// Writes the legal moves of pos whose from-square is in fromMask and whose to-square is in
// toMask into list (room for kMaxMoves) and returns their count. A promotion gives four moves.
// A position where the side to move has no king, or more than one, has no moves. Allocates
// nothing; narrow masks make it cheap (a SAN move names its piece and target square).
int GenerateLegal(const Position& pos, Move* list, Bitboard fromMask = kAllSquares,
                  Bitboard toMask = kAllSquares);

// The same moves as GenerateLegal(pos, list, fromMask, Bit(to)), found faster by looking from
// the target square back to the pieces that reach it (the work of resolving one SAN move).
int GenerateTo(const Position& pos, Move* list, Bitboard fromMask, Square to);

// True when the side to move has at least one legal move.
bool HasLegalMove(const Position& pos);

// Longest SAN that WriteSan produces ("Qa1xb2=Q#" is 9), without a terminator.
constexpr int kMaxSanLength = 12;

// Writes the SAN of the legal move m of pos (piece letter, the fewest from-square details that
// tell it from the other legal moves of the same piece kind to the same square, 'x' for a
// capture, "=Q" for a promotion, "O-O" / "O-O-O", then '+' or '#'), no terminator; returns its
// length. The null move is written "--". When the caller has already played the move, passing
// the resulting position as after saves playing it again for the check mark.
int WriteSan(const Position& pos, Move m, char* out, const Position* after = nullptr);

// Number of leaf nodes of the legal move tree of the given depth (depth 0 gives 1).
std::uint64_t Perft(const Position& pos, int depth);

}  // namespace ludrex::chess
