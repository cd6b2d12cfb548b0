#include "qv/qv_key.h"

#include <cstring>
#include <vector>

namespace ludrex::qv {
namespace {

// Nibble codes of the key: 1-6 White pawn to king, 7-12 Black pawn to king, 13 a White pawn and
// 14 a Black pawn that may be taken en passant.
constexpr std::uint8_t kWhiteEpPawn = 13;
constexpr std::uint8_t kBlackEpPawn = 14;

std::uint64_t SplitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t Rotl(std::uint64_t x, unsigned r) { return (x << r) | (x >> ((64 - r) & 63)); }

bool OnBoard(unsigned square) { return (square & 0x88) == 0 && square < 128; }

// The 0x88 square of the pawn that may be taken en passant, or -1 when none can be: the pawn
// that made the double step must stand beside the passed square, and a pawn of the side to move
// must stand next to it on the same rank.
int CapturablePawn(const QvPosition& p) {
  unsigned ep = p.epSquare;
  if (ep > 0x77 || !OnBoard(ep)) return -1;
  unsigned rank = ep >> 4, file = ep & 7;
  int mover = p.side == 0 ? 1 : -1;  // the pawn kind of the side to move
  unsigned pawnRank;
  if (p.side == 0) {
    if (rank != 5) return -1;
    pawnRank = 4;
  } else {
    if (rank != 2) return -1;
    pawnRank = 3;
  }
  unsigned pawn = pawnRank << 4 | file;
  if (p.board[pawn] != -mover) return -1;  // the opponent's pawn that double-stepped
  if (p.board[ep] != 0) return -1;
  bool capturer = (file > 0 && p.board[pawn - 1] == mover) || (file < 7 && p.board[pawn + 1] == mover);
  return capturer ? static_cast<int>(pawn) : -1;
}

}  // namespace

const std::uint32_t* QvKeyTable() {
  static const std::vector<std::uint32_t> table = [] {
    std::vector<std::uint32_t> t(2 * 65536);
    std::uint64_t state = 0x6C75647265785156ull;  // fixed seed: the table never changes
    for (auto& code : t) code = static_cast<std::uint32_t>(SplitMix(state) >> 16);
    return t;
  }();
  return table.data();
}

std::size_t QvMakeKey(const QvPosition& p, std::uint8_t* key) {
  int epPawn = CapturablePawn(p);
  std::uint64_t occupancy = 0;
  std::uint8_t nibbles[64];
  std::size_t pieces = 0;
  for (unsigned sq = 0; sq < 64; ++sq) {
    unsigned x = (sq >> 3) << 4 | (sq & 7);
    int v = p.board[x];
    if (v == 0 || v < -6 || v > 6) continue;
    occupancy |= std::uint64_t{1} << sq;
    std::uint8_t code = v > 0 ? static_cast<std::uint8_t>(v) : static_cast<std::uint8_t>(6 - v);
    if (static_cast<int>(x) == epPawn) code = v > 0 ? kWhiteEpPawn : kBlackEpPawn;
    nibbles[pieces++] = code;
  }
  for (int i = 0; i < 8; ++i) key[i] = static_cast<std::uint8_t>(occupancy >> (8 * i));
  std::size_t n = 8;
  // More than 32 pieces cannot occur in a legal position; the key stays exact up to 32 and
  // longer positions are cut (their keys may then meet).
  if (pieces > 32) pieces = 32;
  for (std::size_t i = 0; i < pieces; i += 2) {
    std::uint8_t lo = nibbles[i], hi = i + 1 < pieces ? nibbles[i + 1] : 0;
    key[n++] = static_cast<std::uint8_t>(lo | hi << 4);
  }
  key[n++] = static_cast<std::uint8_t>((p.side != 0 ? 1 : 0) | (p.castling & 0x0F) << 1);
  return n;
}

std::uint64_t QvHashKey(const std::uint8_t* key, std::size_t length) {
  const std::uint32_t* table = QvKeyTable();
  std::uint64_t h = 0x243F6A8885A308D3ull ^ length;
  for (std::size_t i = 0; i < length; i += 2) {
    unsigned chunk = key[i] | (i + 1 < length ? key[i + 1] << 8 : 0u);
    std::uint64_t code = static_cast<std::uint64_t>(table[chunk]) << 32 |
                         table[65536 + ((chunk + i * 0x9E37u) & 0xFFFF)];
    h = Rotl(h, 13) ^ code;
  }
  // Final mix, so that every bit of the result depends on every code.
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

}  // namespace ludrex::qv
