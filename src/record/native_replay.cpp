#include "record/native_replay.h"

#include <cstring>

#include "record/chess_codec.h"

namespace ludrex {
namespace {

constexpr std::uint16_t kAbsent = 0x0008;
constexpr std::uint8_t kNoSlot = 0xFF;
constexpr int kRoles = 18;
constexpr std::uint8_t kCastleLong = 0xCF;
constexpr std::uint8_t kCastleShort = 0xD0;
constexpr std::uint8_t kPromotion = 0xD1;
constexpr std::uint8_t kEnPassant = 0xD2;
constexpr std::uint8_t kNullMove = 0xD3;
constexpr std::uint8_t kLongMove = 0xD4;
constexpr std::uint8_t kSetup = 0xE6;

bool OnBoard(unsigned square) { return square < 128 && (square & 0x88) == 0; }

int Kind(int value) { return value < 0 ? -value : value; }

}  // namespace

void NativeReplay::Reset() {
  std::memset(board_, 0, sizeof board_);
  std::memset(slotAt_, kNoSlot, sizeof slotAt_);
  std::memset(counts_, 0, sizeof counts_);
  const std::uint16_t* start = GetNativeCodeTable().startList;
  for (int s = 0; s < 36; ++s) {
    list_[s] = kAbsent;
    unsigned sq = start[s] & 0xFF;
    int kind = start[s] >> 8;
    if (kind != 0) Place(sq, s < kRoles ? kind : -kind, s);
  }
  side_ = 0;
  castling_ = kWhiteShort | kWhiteLong | kBlackShort | kBlackLong;
  ep_ = -1;
}

void NativeReplay::Place(unsigned square, int value, int slot) {
  board_[square] = static_cast<std::int8_t>(value);
  slotAt_[square] = static_cast<std::uint8_t>(slot);
  list_[slot] = static_cast<std::uint16_t>(Kind(value) << 8 | square);
  ++counts_[value < 0 ? 1 : 0][Kind(value)];
}

void NativeReplay::Remove(unsigned square) {
  int value = board_[square];
  if (value == 0) return;
  --counts_[value < 0 ? 1 : 0][Kind(value)];
  if (slotAt_[square] != kNoSlot) list_[slotAt_[square]] = kAbsent;
  board_[square] = 0;
  slotAt_[square] = kNoSlot;
}

void NativeReplay::ClearRightsAt(unsigned square) {
  switch (square) {
    case 0x00: castling_ &= ~kWhiteLong; break;
    case 0x07: castling_ &= ~kWhiteShort; break;
    case 0x70: castling_ &= ~kBlackLong; break;
    case 0x77: castling_ &= ~kBlackShort; break;
    case 0x04: castling_ &= ~(kWhiteShort | kWhiteLong); break;
    case 0x74: castling_ &= ~(kBlackShort | kBlackLong); break;
    default: break;
  }
}

// Moves the piece of slot to square to, capturing what stands there; false (nothing changed)
// when the slot is empty or to holds a piece of the mover's side.
bool NativeReplay::MovePiece(int slot, unsigned to) {
  unsigned from = list_[slot] & 0xFF;
  if (!OnBoard(from) || !OnBoard(to) || slotAt_[from] != slot || board_[from] == 0) return false;
  int value = board_[from];
  if (board_[to] != 0 && (board_[to] < 0) == (value < 0)) return false;
  Remove(to);
  board_[from] = 0;
  slotAt_[from] = kNoSlot;
  board_[to] = static_cast<std::int8_t>(value);
  slotAt_[to] = static_cast<std::uint8_t>(slot);
  list_[slot] = static_cast<std::uint16_t>((list_[slot] & 0xFF00) | to);
  ClearRightsAt(from);
  ClearRightsAt(to);
  return true;
}

int NativeReplay::Play(const std::uint8_t* p, std::int32_t n) {
  if (p == nullptr || n <= 0) return kInvalid;
  const NativeCodeTable t = GetNativeCodeTable();
  const std::uint8_t c = p[0];
  // A move by a table code or a long code; len is the bytes it takes.
  auto decode = [&](std::int32_t at, int& slot, unsigned& to, int& len) {
    if (at >= n) return false;
    const std::uint8_t code = p[at];
    int role;
    std::uint8_t delta;
    if (code < kCastleLong) {
      role = t.role[code];
      delta = t.delta[side_][code];
      len = 1;
    } else if (code >= kLongMove && code < kSetup) {
      if (at + 1 >= n) return false;
      role = code - kLongMove;
      delta = p[at + 1];
      len = 2;
    } else {
      return false;
    }
    slot = side_ * kRoles + role;
    unsigned from = list_[slot] & 0xFF;
    if (!OnBoard(from)) return false;
    to = (from + delta) & 0x77;
    return true;
  };

  if (c < kCastleLong || (c >= kLongMove && c < kSetup) || c == kEnPassant) {
    const std::int32_t at = c == kEnPassant ? 1 : 0;
    int slot, len;
    unsigned to;
    if (!decode(at, slot, to, len)) return kInvalid;
    unsigned from = list_[slot] & 0xFF;
    int value = board_[from];
    if (c == kEnPassant) {
      unsigned victim = (from & 0x70) | (to & 0x07);
      if (Kind(value) != 1 || board_[to] != 0 || board_[victim] != (value < 0 ? 1 : -1)) {
        return kInvalid;
      }
      Remove(victim);
    }
    if (!MovePiece(slot, to)) return kInvalid;
    lastFrom_ = static_cast<std::uint8_t>(from);
    lastTo_ = static_cast<std::uint8_t>(to);
    lastPiece_ = static_cast<std::uint8_t>(Kind(value));
    int step = static_cast<int>(to >> 4) - static_cast<int>(from >> 4);
    ep_ = Kind(value) == 1 && (step == 2 || step == -2) ? static_cast<int>((from + to) / 2) : -1;
    side_ ^= 1;
    return at + len;
  }
  switch (c) {
    case kCastleLong:
    case kCastleShort: {
      const bool isLong = c == kCastleLong;
      const int ks = side_ * kRoles + 15;
      const unsigned from = list_[ks] & 0xFF;
      if (!OnBoard(from)) return kInvalid;
      const unsigned to = (from + (isLong ? 6 : 2)) & 0x77;
      const unsigned rookFrom = (from & 0x70) | (isLong ? 0 : 7);
      const unsigned rookTo = isLong ? to + 1 : to - 1;
      const int rookSlot = slotAt_[rookFrom];
      if (rookSlot == kNoSlot || Kind(board_[rookFrom]) != 4 || board_[to] != 0 ||
          (board_[rookTo] != 0 && rookTo != from)) {
        return kInvalid;
      }
      if (!MovePiece(ks, to)) return kInvalid;
      if (!MovePiece(rookSlot, rookTo)) return kInvalid;
      lastFrom_ = static_cast<std::uint8_t>(from);
      lastTo_ = static_cast<std::uint8_t>(to);
      lastPiece_ = 6;
      ep_ = -1;
      side_ ^= 1;
      return 1;
    }
    case kPromotion: {
      if (n < 3 || p[1] >= kCastleLong || (p[2] & 0x1F) >= kRoles) return kInvalid;
      int slot, len;
      unsigned to;
      if (!decode(1, slot, to, len)) return kInvalid;
      const int kind = p[2] >> 5;
      if (kind < 2 || kind > 5) return kInvalid;
      const unsigned from = list_[slot] & 0xFF;
      if (Kind(board_[from]) != 1) return kInvalid;
      if (!MovePiece(slot, to)) return kInvalid;
      const int side = side_;
      Remove(to);  // the pawn leaves; the new piece takes the slot the code names
      const int target = side * kRoles + (p[2] & 0x1F);
      if (list_[target] != kAbsent && OnBoard(list_[target] & 0xFF) &&
          slotAt_[list_[target] & 0xFF] == target) {
        // The named slot still holds a piece on the board: keep the pawn's slot instead.
        Place(to, side == 0 ? kind : -kind, slot);
      } else {
        Place(to, side == 0 ? kind : -kind, target);
      }
      lastFrom_ = static_cast<std::uint8_t>(from);
      lastTo_ = static_cast<std::uint8_t>(to);
      lastPiece_ = static_cast<std::uint8_t>(kind);
      ep_ = -1;
      side_ ^= 1;
      return 3;
    }
    case kNullMove:
      lastFrom_ = lastTo_ = 0xFF;
      lastPiece_ = 0;
      ep_ = -1;
      side_ ^= 1;
      return 1;
    case kSetup: {
      if (n < 77) return kInvalid;
      std::memset(board_, 0, sizeof board_);
      std::memset(slotAt_, kNoSlot, sizeof slotAt_);
      std::memset(counts_, 0, sizeof counts_);
      for (int s = 0; s < 36; ++s) {
        list_[s] = kAbsent;
        const unsigned sq = p[1 + 2 * s];
        const int kind = p[2 + 2 * s];
        if (kind >= 1 && kind <= 6 && OnBoard(sq) && board_[sq] == 0) {
          Place(sq, s < kRoles ? kind : -kind, s);
        }
      }
      const std::uint32_t state = static_cast<std::uint32_t>(p[73]) |
                                  static_cast<std::uint32_t>(p[74]) << 8 |
                                  static_cast<std::uint32_t>(p[75]) << 16 |
                                  static_cast<std::uint32_t>(p[76]) << 24;
      side_ = state & 1;
      castling_ = static_cast<std::uint8_t>((state >> 16) & 0x0F);
      ep_ = (state & (1u << 23)) != 0
                ? static_cast<int>((side_ == 0 ? 0x50 : 0x20) | ((state >> 20) & 7))
                : -1;
      return 77;
    }
    default:
      return kNotAMove;
  }
}

}  // namespace ludrex
