// Position keys of the tree index: an exact, compact encoding of a chess position (board, side to
// move, castling rights, a capturable en-passant pawn) and a 64-bit hash of a key drawn from a
// fixed table of 2 x 65536 codes. Two positions that differ by the rules of chess never share a
// key; positions that are equal by the rules always do (an en-passant square that no pawn of the
// side to move can capture on is not part of the key).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ludrex::qv {

// Longest key: 8 bytes of occupancy, 4 bits for each of at most 32 pieces, one state byte.
constexpr std::size_t kMaxKeyLength = 25;

// Castling-right bits of QvPosition::castling.
constexpr std::int8_t kCastleWhiteShort = 1;
constexpr std::int8_t kCastleWhiteLong = 2;
constexpr std::int8_t kCastleBlackShort = 4;
constexpr std::int8_t kCastleBlackLong = 8;

// The position record the encoder reads: kind (always 5), the board (128 signed bytes indexed by
// the 0x88 square, +kind White, -kind Black, kinds 1 pawn to 6 king), the side to move (0 White,
// 1 Black), the castling rights (the bits above) and the en-passant square (the 0x88 square a
// pawn passed over with its double step; any value off the board means none).
struct QvPosition {
  std::int32_t kind = 5;
  std::int8_t board[128] = {};
  std::int8_t side = 0;
  std::int8_t castling = 0;
  std::uint16_t epSquare = 0xFFFF;
};

// The code table: 2 x 65536 32-bit codes, the same in every process (built on first use).
const std::uint32_t* QvKeyTable();

// Writes the key of position into key (at least kMaxKeyLength bytes) and returns its length.
// Squares holding a value outside -6..6 count as empty.
std::size_t QvMakeKey(const QvPosition& position, std::uint8_t* key);

// The 64-bit hash of a key through the code table. Stores order their buckets by it.
std::uint64_t QvHashKey(const std::uint8_t* key, std::size_t length);

}  // namespace ludrex::qv
