// A chess position as a small value type (copy it to keep a position; Play changes it in place),
// with FEN reading and writing and the conversion to and from the 128-byte boards and state
// words of set-up positions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "movegen/bitboard.h"
#include "movegen/types.h"

namespace ludrex::chess {

// The 32-bit state word of a set-up position (element kind 5). These bits are stored in bases:
// never renumber them.
//   bit 0       side to move: 0 White, 1 Black
//   bits 1-7    half-move clock (plies since the last capture or pawn move), saturated at 127
//   bits 8-15   full-move number, saturated at 255; 0 is read as 1
//   bit 16      White may castle short (O-O)
//   bit 17      White may castle long (O-O-O)
//   bit 18      Black may castle short
//   bit 19      Black may castle long
//   bits 20-22  file of the en-passant target square (0 = a), valid when bit 23 is set
//   bit 23      an en-passant capture is possible on that file
//   bits 24-31  reserved, written as 0 and ignored on reading
// Bits 16-23 (bytes 2 and 3 together with bit 0) say everything besides the board that makes
// two positions equal; the counters in bits 1-15 do not.
namespace setup_state {
constexpr std::uint32_t kBlackToMove = 1u << 0;
constexpr int kHalfmoveShift = 1;
constexpr std::uint32_t kHalfmoveMask = 0x7Fu << kHalfmoveShift;
constexpr int kFullmoveShift = 8;
constexpr std::uint32_t kFullmoveMask = 0xFFu << kFullmoveShift;
constexpr std::uint32_t kWhiteShort = 1u << 16;
constexpr std::uint32_t kWhiteLong = 1u << 17;
constexpr std::uint32_t kBlackShort = 1u << 18;
constexpr std::uint32_t kBlackLong = 1u << 19;
constexpr int kCastlingShift = 16;
constexpr int kEpFileShift = 20;
constexpr std::uint32_t kEpFileMask = 7u << kEpFileShift;
constexpr std::uint32_t kEpValid = 1u << 23;
}  // namespace setup_state

// Castling rights inside Position (same order as state bits 16-19).
enum CastlingRight : int {
  kWhiteOO = 1,
  kWhiteOOO = 2,
  kBlackOO = 4,
  kBlackOOO = 8,
};

// Longest FEN that WriteFen produces, without a terminator.
constexpr int kMaxFenLength = 96;

// What Position::Play saves so that Unplay can take the move back.
struct Undo {
  Move move;
  Piece captured;
  std::uint8_t castling;
  std::int8_t ep;
  std::uint8_t halfmove;
  std::uint16_t fullmove;
  Bitboard checkers;
};

class Position {
 public:
  // The empty board, White to move (a starting point for SetBoard / SetFen).
  Position() = default;
  // The standard start position.
  static Position Start();

  // Reads a FEN (fields after the piece placement may be missing: White to move, no castling,
  // no en passant, clocks 0 and 1). Any placement of the twelve piece letters on the 64 squares
  // is taken, even one that is not a legal chess position. Returns false, leaving *this
  // unchanged, when the text is not a FEN. Reads at most n bytes.
  bool SetFen(const char* text, std::size_t n);
  // Writes the FEN (no terminator) into out, which must hold kMaxFenLength bytes; returns its
  // length.
  int WriteFen(char* out) const;

  // From a 128-byte 0x88 board (+kind White, -kind Black, 0 empty; other values and the squares
  // off the board are ignored) and a state word (setup_state).
  void SetBoard(const std::int8_t* board, std::uint32_t state);
  // The 128-byte board (off-board bytes 0) and the state word of this position.
  void GetBoard(std::int8_t* board) const;
  std::uint32_t State() const;

  Piece At(Square s) const { return board_[s]; }
  Bitboard Occupied() const { return byColor_[kWhite] | byColor_[kBlack]; }
  Bitboard Pieces(Color c) const { return byColor_[c]; }
  Bitboard Pieces(PieceType t) const { return byType_[t]; }
  Bitboard Pieces(Color c, PieceType t) const { return byColor_[c] & byType_[t]; }
  Color SideToMove() const { return side_; }
  int Castling() const { return castling_; }
  // The en-passant target square, kNoSquare unless a pawn of the side to move attacks it.
  Square EpSquare() const { return ep_; }
  int Halfmove() const { return halfmove_; }
  int Fullmove() const { return fullmove_; }

  // Pieces of either colour that attack s when the board holds occ.
  Bitboard AttackersTo(Square s, Bitboard occ) const;
  // The square of the king of colour c, kNoSquare unless there is exactly one.
  Square KingSquare(Color c) const {
    const Bitboard k = Pieces(c, kKing);
    return (k == 0 || MoreThanOne(k)) ? kNoSquare : Lsb(k);
  }
  // True when a piece of colour c attacks s with the board holding occ.
  bool AttackedBy(Square s, Color c, Bitboard occ) const;
  // Pieces of the opponent that give check to the side to move (kept up to date by Play).
  Bitboard Checkers() const { return checkers_; }
  bool InCheck() const { return checkers_ != 0; }
  // Moves are generated only when the side to move has exactly one king.
  bool Playable() const { return KingSquare(side_) != kNoSquare; }

  // Plays a move that GenerateLegal produced for this position (or Move::Null(), a pass that
  // only hands the move to the other side). With undo, saves what Unplay needs.
  void Play(Move m, Undo* undo = nullptr);
  // Takes back the move that Play saved in undo (the last move played on this position).
  void Unplay(const Undo& undo);

  bool operator==(const Position& o) const;

 private:
  void PutPiece(Piece p, Square s);
  void RemovePiece(Square s);
  // Drops castling rights whose king or rook is not at home and an en-passant square that no
  // capture could use, so that equal positions compare equal.
  void Sanitize();
  Bitboard ComputeCheckers() const;

  Bitboard checkers_ = 0;
  Bitboard byType_[7] = {};
  Bitboard byColor_[2] = {};
  Piece board_[64] = {};
  Color side_ = kWhite;
  std::uint8_t castling_ = 0;
  std::int8_t ep_ = kNoSquare;
  std::uint8_t halfmove_ = 0;
  std::uint16_t fullmove_ = 1;
};

}  // namespace ludrex::chess
