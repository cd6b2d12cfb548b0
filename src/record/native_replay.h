// Plays native game-score codes straight onto a board, without building a game: the piece list
// of the encoding (36 slots), the 0x88 board, the side to move, the castling rights and the
// en-passant square. Trees and position searches walk native bytes through it.
//
// Play never reads outside the bytes it is given and never indexes the board with a square off
// it: a code that names an absent piece, moves onto a piece of its own side or is cut short is
// reported as invalid and leaves the position unchanged.
#pragma once

#include <cstdint>

namespace ludrex {

class NativeReplay {
 public:
  // Castling-right bits (the order of the set-up state word's bits 16-19).
  static constexpr int kWhiteShort = 1;
  static constexpr int kWhiteLong = 2;
  static constexpr int kBlackShort = 4;
  static constexpr int kBlackLong = 8;
  // Play's answer for a byte that is no move or set-up code (variation marks, annotations, the
  // end codes), and for an invalid code.
  static constexpr int kNotAMove = 0;
  static constexpr int kInvalid = -1;

  // The standard start position.
  NativeReplay() { Reset(); }
  void Reset();

  // Plays the code at bytes[0] (n bytes available): a table move, castling, promotion, en
  // passant, null move, long move or set-up position. Returns the bytes it took, kNotAMove or
  // kInvalid.
  int Play(const std::uint8_t* bytes, std::int32_t n);

  // 128 signed bytes by 0x88 square: +kind White, -kind Black, 0 empty.
  const std::int8_t* Board() const { return board_; }
  int Side() const { return side_; }
  int Castling() const { return castling_; }
  // The square the last move's pawn passed over with a double step (0x88), or -1.
  int EpSquare() const { return ep_; }
  // Number of pieces of a side of a kind (1 pawn .. 6 king).
  int Count(int side, int kind) const { return counts_[side][kind]; }
  // The last move played: its from and to squares (0xFF for a null move; the king's squares for
  // castling) and the kind of the piece after it (0 for a null move).
  std::uint8_t LastFrom() const { return lastFrom_; }
  std::uint8_t LastTo() const { return lastTo_; }
  std::uint8_t LastPiece() const { return lastPiece_; }
  // The piece-list entry of a slot (kind << 8 | square; 0x0008 absent).
  std::uint16_t Slot(int slot) const { return list_[slot]; }

 private:
  bool MovePiece(int slot, unsigned to);
  void Remove(unsigned square);
  void Place(unsigned square, int value, int slot);
  void ClearRightsAt(unsigned square);

  std::int8_t board_[128];
  std::uint8_t slotAt_[128];  // the slot of the piece on a square, 0xFF when empty
  std::uint16_t list_[36];
  std::uint8_t counts_[2][8];
  std::uint8_t side_;
  std::uint8_t castling_;
  int ep_;
  std::uint8_t lastFrom_ = 0xFF, lastTo_ = 0xFF, lastPiece_ = 0;
};

}  // namespace ludrex
