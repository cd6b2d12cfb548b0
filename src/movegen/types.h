// Small value types of the chess core: squares, pieces, moves and bitboards.
//
// Inside the core a square is 0..63 (rank * 8 + file, a1 = 0, h8 = 63) so that it indexes a
// bitboard bit. At the game container's interface squares are 0x88 bytes (rank * 16 + file);
// To88 / From88 convert between the two.
#pragma once

#include <bit>
#include <cstdint>

namespace ludrex::chess {

using Bitboard = std::uint64_t;
using Square = int;  // 0..63

constexpr Square kNoSquare = -1;

enum Color : int { kWhite = 0, kBlack = 1 };
constexpr Color operator~(Color c) { return Color(c ^ 1); }

// Piece kinds as the game elements and boards number them.
enum PieceType : int {
  kNoPieceType = 0,
  kPawn = 1,
  kKnight = 2,
  kBishop = 3,
  kRook = 4,
  kQueen = 5,
  kKing = 6
};

// A piece on a square: 0 empty, else kind + 8 * colour (1..6 White, 9..14 Black).
using Piece = std::uint8_t;
constexpr Piece kNoPiece = 0;
constexpr Piece MakePiece(Color c, PieceType t) { return Piece(t + (c << 3)); }
constexpr PieceType TypeOf(Piece p) { return PieceType(p & 7); }
constexpr Color ColorOf(Piece p) { return Color(p >> 3); }

constexpr int FileOf(Square s) { return s & 7; }
constexpr int RankOf(Square s) { return s >> 3; }
constexpr Square MakeSquare(int file, int rank) { return rank * 8 + file; }
constexpr Bitboard Bit(Square s) { return Bitboard(1) << s; }

// 0x88 square byte <-> 0..63. From88 gives kNoSquare for a byte off the board (0x88 bits set).
constexpr std::uint8_t To88(Square s) { return std::uint8_t(((s >> 3) << 4) | (s & 7)); }
constexpr Square From88(unsigned b) {
  return (b & 0x88) ? kNoSquare : Square(((b >> 4) << 3) | (b & 7));
}

constexpr Square Lsb(Bitboard b) { return std::countr_zero(b); }
constexpr Square Msb(Bitboard b) { return 63 - std::countl_zero(b); }
constexpr int PopCount(Bitboard b) { return std::popcount(b); }
inline Square PopLsb(Bitboard& b) {
  Square s = Lsb(b);
  b &= b - 1;
  return s;
}
constexpr bool MoreThanOne(Bitboard b) { return (b & (b - 1)) != 0; }

constexpr Bitboard kFileA = 0x0101010101010101ULL;
constexpr Bitboard kRank1 = 0xFFULL;
constexpr Bitboard FileBB(int f) { return kFileA << f; }
constexpr Bitboard RankBB(int r) { return kRank1 << (8 * r); }

// A move in 16 bits: from (bits 0-5), to (bits 6-11), kind (bits 12-13), promotion piece
// (bits 14-15: knight, bishop, rook, queen). Castling is stored as the king's two-square step;
// en passant as the pawn's diagonal step. Value 0 (Move{}) is "no move"; the null move (a pass)
// has from == to == 1.
class Move {
 public:
  enum Kind : int { kNormal = 0, kPromotion = 1, kEnPassant = 2, kCastling = 3 };

  // Trivial, so that move lists cost nothing to declare; Move() / Move{} is "no move".
  Move() = default;
  constexpr Move(Square from, Square to, Kind kind = kNormal, PieceType promo = kKnight)
      : v_(std::uint16_t(from | (to << 6) | (kind << 12) | ((promo - kKnight) << 14))) {}
  static constexpr Move Null() { return Move(1, 1); }

  constexpr Square From() const { return v_ & 63; }
  constexpr Square To() const { return (v_ >> 6) & 63; }
  constexpr Kind GetKind() const { return Kind((v_ >> 12) & 3); }
  constexpr PieceType Promotion() const { return PieceType(((v_ >> 14) & 3) + kKnight); }
  constexpr bool IsNull() const { return v_ == Null().v_; }
  constexpr bool IsSet() const { return v_ != 0; }
  constexpr std::uint16_t Raw() const { return v_; }
  constexpr bool operator==(const Move& o) const { return v_ == o.v_; }

 private:
  std::uint16_t v_;
};

// Room for every legal move of any position (the known maximum is 218).
constexpr int kMaxMoves = 256;

}  // namespace ludrex::chess
