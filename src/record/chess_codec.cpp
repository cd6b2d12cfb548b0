// The native encoding of a game score: code tables, encoder, decoder and the byte-stepping
// operations.
#include "record/chess_codec.h"

#include <cstring>
#include <limits>
#include <vector>

#include "frame/error.h"

namespace ludrex {
namespace {

constexpr std::uint16_t kAbsent = 0x0008;  // kind 0 on square 8, off the board
constexpr std::uint8_t kNoSlot = 0xFF;
constexpr std::uint8_t kNoCode = 0xFF;
constexpr int kSlots = 36;
constexpr int kRoles = 18;
constexpr int kTableCodes = 207;

// Special codes.
constexpr std::uint8_t kCastleLong = 0xCF;
constexpr std::uint8_t kCastleShort = 0xD0;
constexpr std::uint8_t kPromotion = 0xD1;
constexpr std::uint8_t kEnPassant = 0xD2;
constexpr std::uint8_t kNullMove = 0xD3;
constexpr std::uint8_t kLongMove = 0xD4;  // 0xD4 + role, 0xD4..0xE5
constexpr std::uint8_t kSetup = 0xE6;
constexpr std::uint8_t kVarStart = 0xE7;
constexpr std::uint8_t kVarEnd = 0xE8;
constexpr std::uint8_t kNote1 = 0xE9;
constexpr std::uint8_t kNote2 = 0xEA;
constexpr std::uint8_t kNoteShort = 0xEB;
constexpr std::uint8_t kNoteLong = 0xEC;
constexpr std::uint8_t kEndCodes = 0xED;

constexpr std::uint16_t kStartList[kSlots] = {
    0x0110, 0x0111, 0x0112, 0x0113, 0x0114, 0x0115, 0x0116, 0x0117,  0x0201,
    0x0206, 0x0302, 0x0305, 0x0400, 0x0407, 0x0503, 0x0604, kAbsent, kAbsent,  // White
    0x0160, 0x0161, 0x0162, 0x0163, 0x0164, 0x0165, 0x0166, 0x0167,  0x0271,
    0x0276, 0x0372, 0x0375, 0x0470, 0x0477, 0x0573, 0x0674, kAbsent, kAbsent};  // Black

// The kind a role starts with (0 for the spare roles).
constexpr std::uint8_t kStartKind[kRoles] = {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 3, 3, 4, 4, 5, 6, 0, 0};

struct Tables {
  std::uint8_t role[kTableCodes];
  std::uint8_t delta[2][kTableCodes];
  std::uint8_t code[2][kRoles][128];  // first code of (side, role, delta), kNoCode when none
};

Tables BuildTables() {
  static constexpr std::uint8_t kPawn[2][4] = {{0x10, 0x17, 0x11, 0x20}, {0x70, 0x77, 0x71, 0x60}};
  static constexpr std::uint8_t kKnight[8] = {0x67, 0x76, 0x16, 0x27, 0x21, 0x12, 0x72, 0x61};
  static constexpr std::uint8_t kBishop[13] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                               0x17, 0x26, 0x35, 0x53, 0x62, 0x71};
  static constexpr std::uint8_t kRook[14] = {0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,
                                             0x70, 0x60, 0x50, 0x40, 0x30, 0x20, 0x10};
  static constexpr std::uint8_t kKing[8] = {0x11, 0x77, 0x17, 0x71, 0x07, 0x01, 0x70, 0x10};
  Tables t{};
  int c = 0;
  auto run = [&](int role, const std::uint8_t* d, int n, const std::uint8_t* black = nullptr) {
    for (int i = 0; i < n; ++i, ++c) {
      t.role[c] = std::uint8_t(role);
      t.delta[0][c] = d[i];
      t.delta[1][c] = black ? black[i] : d[i];
    }
  };
  for (int r = 0; r < 8; ++r) run(r, kPawn[0], 4, kPawn[1]);
  for (int r = 8; r < 10; ++r) run(r, kKnight, 8);
  for (int r = 10; r < 12; ++r) run(r, kBishop, 13);
  for (int r = 12; r < 14; ++r) run(r, kRook, 14);
  run(14, kBishop, 13);
  run(14, kRook, 14);
  run(15, kKing, 8);
  for (int r = 16; r < 18; ++r) {
    run(r, kBishop, 13);
    run(r, kRook, 14);
    run(r, kKnight, 8);
  }
  std::memset(t.code, kNoCode, sizeof t.code);
  for (int side = 0; side < 2; ++side)
    for (int code = kTableCodes - 1; code >= 0; --code)  // backwards: the first code wins
      t.code[side][t.role[code]][t.delta[side][code]] = std::uint8_t(code);
  return t;
}

const Tables& T() {
  static const Tables tables = BuildTables();
  return tables;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
  p[2] = std::uint8_t(v >> 16);
  p[3] = std::uint8_t(v >> 24);
}

// ---- Encoder -------------------------------------------------------------------------------

struct EncodeState {
  std::uint16_t list[kSlots];
  std::uint8_t index[128];  // slot of the piece on each square, kNoSlot when empty
  std::uint8_t side;

  void Rebuild() {
    std::memset(index, kNoSlot, sizeof index);
    for (int s = 0; s < kSlots; ++s) {
      const unsigned sq = list[s] & 0xFF;
      if ((sq & 0x88) == 0) index[sq] = std::uint8_t(s);
    }
  }
};

// Output with growth in steps of at least 10240 bytes; the block's own room is reused.
class Emitter {
 public:
  explicit Emitter(ByteBlock& out) : out_(out) {}
  std::uint8_t* Room(std::int64_t k) {
    const std::int64_t need = n_ + k;
    if (need > out_.Count()) {
      if (need > std::numeric_limits<std::int32_t>::max()) Raise(1);
      std::int64_t grow = std::int64_t(out_.Count()) + 10240;
      if (grow > std::numeric_limits<std::int32_t>::max()) grow = need;
      out_.SetCount(need > grow ? need : grow);
    }
    std::uint8_t* p = out_.Data() + n_;
    n_ = need;
    return p;
  }
  void Byte(std::uint8_t b) { *Room(1) = b; }
  void Finish() { out_.SetCount(n_); }

 private:
  ByteBlock& out_;
  std::int64_t n_ = 0;
};

// Slot list of a set-up board; raises 807 when a side has no free slot for a piece.
void ListFromBoard(const std::int8_t* board, std::uint16_t* list) {
  for (int s = 0; s < kSlots; ++s) list[s] = kAbsent;
  bool placed[128] = {};
  // Pieces on the start square of a slot of their side with that slot's kind keep that slot.
  for (int s = 0; s < kSlots; ++s) {
    const int side = s / kRoles, role = s % kRoles;
    if (kStartKind[role] == 0) continue;
    const unsigned sq = kStartList[s] & 0xFF;
    const int v = board[sq];
    const int want = side == 0 ? kStartKind[role] : -int(kStartKind[role]);
    if (v == want) {
      list[s] = kStartList[s];
      placed[sq] = true;
    }
  }
  for (unsigned sq = 0; sq < 128; ++sq) {
    if ((sq & 0x88) != 0 || placed[sq] || board[sq] == 0) continue;
    const int v = board[sq];
    const int side = v < 0 ? 1 : 0;
    const unsigned kind = unsigned(v < 0 ? -v : v);
    const int base = side * kRoles;
    int slot = -1;
    if (kind != 1) {
      for (int r = 8; r < 16 && slot < 0; ++r)
        if (kStartKind[r] == kind && list[base + r] == kAbsent) slot = base + r;
      for (int r = 16; r < 18 && slot < 0; ++r)
        if (list[base + r] == kAbsent) slot = base + r;
    }
    for (int r = 0; r < 8 && slot < 0; ++r)
      if (list[base + r] == kAbsent) slot = base + r;
    if (slot < 0) Raise(807);
    list[slot] = std::uint16_t(kind << 8 | sq);
  }
}

}  // namespace

void BuildGameScoreTables() { (void)T(); }

NativeCodeTable GetNativeCodeTable() {
  const Tables& t = T();
  return NativeCodeTable{t.role, {t.delta[0], t.delta[1]}, kStartList};
}

void EncodeNativeGame(Game* game, ByteBlock& out) {
  const Tables& t = T();
  Emitter em(out);
  EncodeState cur, before;
  std::memcpy(cur.list, kStartList, sizeof cur.list);
  cur.side = 0;
  cur.Rebuild();
  before = cur;
  struct Saved {
    EncodeState before, cur;
  };
  std::vector<Saved> stack;

  ChessElement e;
  GameRewind(game);
  while (GameNext(game, &e)) {
    switch (e.kind) {
      case kElementMove: {
        before = cur;
        const std::uint8_t side = cur.side;
        cur.side ^= 1;
        if (e.from == kNullSquare) {
          em.Byte(kNullMove);
          break;
        }
        const std::uint8_t from = e.from & 0x77, to = e.to & 0x77;
        const std::uint8_t slot = cur.index[from];
        if (slot == kNoSlot || slot / kRoles != side) {
          em.Byte(kNullMove);
          break;
        }
        const std::uint8_t delta = std::uint8_t(((to | 8) - from) & 0x77);
        const std::uint8_t role = slot % kRoles;
        const std::uint8_t piece = e.piece & 7;
        const std::uint8_t slotKind = std::uint8_t(cur.list[slot] >> 8);
        bool enPassant = false, promotion = false, castling = false;
        if (piece == 1 && cur.index[to] == kNoSlot &&
            (delta == 0x11 || delta == 0x17 || delta == 0x71 || delta == 0x77)) {
          enPassant = true;
          em.Byte(kEnPassant);
        } else if (slotKind != piece) {
          promotion = true;
          em.Byte(kPromotion);
        } else if (piece == 6 && (delta == 6 || delta == 2)) {
          castling = true;
          em.Byte(delta == 6 ? kCastleLong : kCastleShort);
        }
        if (!castling) {
          const std::uint8_t code = t.code[side][role][delta];
          if (code != kNoCode) {
            em.Byte(code);
          } else {
            if (promotion) Raise(811);
            std::uint8_t* p = em.Room(2);
            p[0] = std::uint8_t(kLongMove + role);
            p[1] = delta;
          }
        }
        // The position after the move.
        if (enPassant) {
          const std::uint8_t victim = (from & 0x70) | (to & 0x07);
          const std::uint8_t vs = cur.index[victim];
          if (vs != kNoSlot) {
            cur.list[vs] = kAbsent;
            cur.index[victim] = kNoSlot;
          }
        }
        const std::uint8_t captured = cur.index[to];
        if (captured != kNoSlot) cur.list[captured] = kAbsent;
        cur.index[from] = kNoSlot;
        cur.index[to] = slot;
        cur.list[slot] = std::uint16_t((cur.list[slot] & 0xFF00) | to);
        if (castling) {
          const std::uint8_t rookFrom = delta == 6 ? (to & 0x70) : ((to & 0x70) | 7);
          const std::uint8_t rookTo = delta == 6 ? to + 1 : to - 1;
          const std::uint8_t rs = cur.index[rookFrom];
          if (rs != kNoSlot) {
            cur.index[rookFrom] = kNoSlot;
            if (cur.index[rookTo] != kNoSlot) cur.list[cur.index[rookTo]] = kAbsent;
            cur.index[rookTo] = rs;
            cur.list[rs] = std::uint16_t((cur.list[rs] & 0xFF00) | rookTo);
          }
        }
        if (promotion) {
          cur.list[slot] = kAbsent;
          const int base = side * kRoles;
          int chosen = slot;
          for (int r = 0; r < kRoles; ++r) {
            if (cur.list[base + r] == kAbsent && (kStartKind[r] == 0 || kStartKind[r] == piece)) {
              chosen = base + r;
              break;
            }
          }
          em.Byte(std::uint8_t((chosen % kRoles) | piece << 5));
          cur.list[chosen] = std::uint16_t(piece << 8 | to);
          cur.index[to] = std::uint8_t(chosen);
        }
        break;
      }
      case kElementVariationStart:
        em.Byte(kVarStart);
        stack.push_back({before, cur});
        cur = before;
        break;
      case kElementVariationEnd:
        em.Byte(kVarEnd);
        if (stack.empty()) Raise(808);
        before = stack.back().before;
        cur = stack.back().cur;
        stack.pop_back();
        break;
      case kElementAnnotation: {
        const std::uint32_t n = e.bytes ? e.count : 0;
        std::uint8_t* p;
        if (n == 1) {
          p = em.Room(2);
          *p++ = kNote1;
        } else if (n == 2) {
          p = em.Room(3);
          *p++ = kNote2;
        } else if (n < 256) {
          p = em.Room(2 + std::int64_t(n));
          *p++ = kNoteShort;
          *p++ = std::uint8_t(n);
        } else {
          p = em.Room(5 + std::int64_t(n));
          *p++ = kNoteLong;
          PutLe32(p, n);
          p += 4;
        }
        if (n) std::memcpy(p, e.bytes, n);
        break;
      }
      case kElementSetup: {
        static const std::int8_t kEmptyBoard[128] = {};
        before = cur;
        ListFromBoard(e.board ? e.board : kEmptyBoard, cur.list);
        cur.side = e.state & 1;
        cur.Rebuild();
        std::uint8_t* p = em.Room(77);
        *p++ = kSetup;
        for (int s = 0; s < kSlots; ++s) {
          *p++ = std::uint8_t(cur.list[s]);
          *p++ = std::uint8_t(cur.list[s] >> 8);
        }
        PutLe32(p, e.state);
        break;
      }
      default:
        Raise(812);
    }
  }
  if (!stack.empty()) Raise(813);
  em.Finish();
}

// ---- Decoder -------------------------------------------------------------------------------

namespace {

struct DecodeState {
  std::uint16_t list[kSlots];
  std::uint8_t side;
};

// A cut-short or malformed code: what was decoded stays, the caller learns through 812.
[[noreturn]] void CutShort() { Raise(812); }

}  // namespace

void DecodeNativeGame(const std::uint8_t* bytes, std::int32_t length, Game* game) {
  if (bytes == nullptr || length <= 0) return;
  const Tables& t = T();
  DecodeState cur, before;
  std::memcpy(cur.list, kStartList, sizeof cur.list);
  cur.side = 0;
  before = cur;
  struct Saved {
    DecodeState before, cur;
  };
  std::vector<Saved> stack;
  const std::uint8_t* p = bytes;
  const std::uint8_t* const end = bytes + length;
  ChessElement e{};
  static constexpr ChessElement kStartMark{kElementVariationStart, 0, 0, 0, 0, nullptr, nullptr, 0};
  static constexpr ChessElement kEndMark{kElementVariationEnd, 0, 0, 0, 0, nullptr, nullptr, 0};

  // A move by table code (0..0xCE) or long code (0xD4..0xE5 and its delta) at p; advances p.
  auto moveOf = [&](std::uint8_t& from, std::uint8_t& to, int& slot) {
    const std::uint8_t c = *p++;
    std::uint8_t delta;
    int role;
    if (c < kCastleLong) {
      role = t.role[c];
      delta = t.delta[cur.side][c];
    } else if (c >= kLongMove && c < kSetup) {
      if (p == end) CutShort();
      role = c - kLongMove;
      delta = *p++;
    } else {
      CutShort();
    }
    slot = cur.side * kRoles + role;
    from = std::uint8_t(cur.list[slot]);
    to = std::uint8_t((from + delta) & 0x77);
  };
  auto appendMove = [&](std::uint8_t kind, std::uint8_t from, std::uint8_t to) {
    e.kind = kElementMove;
    e.piece = kind;
    e.from = from;
    e.to = to;
    GameAppend(game, &e);
  };

  while (p < end && *p < kEndCodes) {
    const std::uint8_t c = *p;
    if (c < kCastleLong || c == kEnPassant || (c >= kLongMove && c < kSetup)) {
      if (c == kEnPassant) {
        if (++p == end) CutShort();
      }
      std::uint8_t from, to;
      int slot;
      moveOf(from, to, slot);
      before = cur;
      appendMove(std::uint8_t(cur.list[slot] >> 8), from, to);
      cur.list[slot] = std::uint16_t((cur.list[slot] & 0xFF00) | to);
      cur.side ^= 1;
      continue;
    }
    switch (c) {
      case kCastleLong:
      case kCastleShort: {
        ++p;
        before = cur;
        const int ks = cur.side * kRoles + 15;
        const int rs = cur.side * kRoles + (c == kCastleLong ? 12 : 13);
        const std::uint8_t from = std::uint8_t(cur.list[ks]);
        const std::uint8_t to = std::uint8_t((from + (c == kCastleLong ? 6 : 2)) & 0x77);
        appendMove(6, from, to);
        cur.list[ks] = std::uint16_t((cur.list[ks] & 0xFF70) | (c == kCastleLong ? 2 : 6));
        cur.list[rs] = std::uint16_t((cur.list[rs] & 0xFF70) | (c == kCastleLong ? 3 : 5));
        cur.side ^= 1;
        break;
      }
      case kPromotion: {
        if (end - p < 3 || p[1] >= kCastleLong || (p[2] & 0x1F) >= kRoles) CutShort();
        ++p;
        std::uint8_t from, to;
        int slot;
        moveOf(from, to, slot);
        const std::uint8_t x = *p++;
        before = cur;
        cur.list[slot] = std::uint16_t((cur.list[slot] & 0xFF00) | to);
        appendMove(std::uint8_t(x >> 5), from, to);
        cur.list[cur.side * kRoles + (x & 0x1F)] = std::uint16_t((x >> 5) << 8 | to);
        cur.side ^= 1;
        break;
      }
      case kNullMove:
        ++p;
        before = cur;
        appendMove(0, kNullSquare, kNullSquare);
        cur.side ^= 1;
        break;
      case kSetup: {
        if (end - p < 77) CutShort();
        ++p;
        before = cur;
        std::int8_t board[128] = {};
        for (int s = 0; s < kSlots; ++s, p += 2) {
          cur.list[s] = std::uint16_t(p[0] | p[1] << 8);
          const unsigned sq = p[0], kind = p[1];
          if (sq < 128 && kind != 0) board[sq] = std::int8_t(s < kRoles ? int(kind) : -int(kind));
        }
        e = ChessElement{};
        e.kind = kElementSetup;
        e.board = board;
        e.state = Le32(p);
        p += 4;
        cur.side = e.state & 1;
        GameAppend(game, &e);
        e.board = nullptr;
        e.state = 0;
        break;
      }
      case kVarStart:
        ++p;
        stack.push_back({before, cur});
        cur = before;
        GameAppend(game, &kStartMark);
        break;
      case kVarEnd:
        ++p;
        if (stack.empty()) Raise(808);
        before = stack.back().before;
        cur = stack.back().cur;
        stack.pop_back();
        GameAppend(game, &kEndMark);
        break;
      default: {  // annotations
        std::uint64_t n;
        std::int64_t head;
        const std::int64_t left = end - p;
        if (c == kNote1) {
          n = 1, head = 1;
        } else if (c == kNote2) {
          n = 2, head = 1;
        } else if (c == kNoteShort) {
          if (left < 2) CutShort();
          n = p[1], head = 2;
        } else {
          if (left < 5) CutShort();
          n = Le32(p + 1), head = 5;
        }
        if (std::uint64_t(left - head) < n) CutShort();
        e = ChessElement{};
        e.kind = kElementAnnotation;
        e.count = std::uint32_t(n);
        e.bytes = p + head;
        GameAppend(game, &e);
        e.count = 0;
        e.bytes = nullptr;
        p += head + std::int64_t(n);
        break;
      }
    }
  }
}

// ---- Operations on native bytes ------------------------------------------------------------

std::int32_t NativeCodeLength(const std::uint8_t* bytes, std::int32_t n) {
  if (bytes == nullptr || n <= 0) return 0;
  const std::uint8_t c = bytes[0];
  std::int64_t len;
  if (c < kPromotion || c == kNullMove || c == kVarStart || c == kVarEnd) {
    len = 1;
  } else if (c == kPromotion || c == kEnPassant || (c >= kLongMove && c < kSetup) || c == kNote1) {
    len = 2;
  } else if (c == kNote2) {
    len = 3;
  } else if (c == kSetup) {
    len = 77;
  } else if (c == kNoteShort) {
    if (n < 2) return 0;
    len = 2 + std::int64_t(bytes[1]);
  } else if (c == kNoteLong) {
    if (n < 5) return 0;
    len = 5 + std::int64_t(Le32(bytes + 1));
  } else {
    return 0;
  }
  return len <= n ? std::int32_t(len) : 0;
}

namespace {
// The whole length of the code at bytes (a promotion with its slot byte).
std::int32_t WholeCodeLength(const std::uint8_t* bytes, std::int32_t n) {
  if (n >= 1 && bytes[0] == kPromotion) return n >= 3 ? 3 : 0;
  return NativeCodeLength(bytes, n);
}
}  // namespace

std::int32_t NativeCommonPrefix(const std::uint8_t* a, const std::uint8_t* b, std::int32_t n) {
  std::int32_t i = 0;
  while (i < n) {
    const std::int32_t len = WholeCodeLength(a + i, n - i);
    if (len == 0 || std::memcmp(a + i, b + i, std::size_t(len)) != 0) return i;
    i += len;
  }
  return i;
}

std::int32_t NativeSkipVariation(const std::uint8_t* bytes, std::int32_t n, std::int32_t position) {
  if (position < 0) position = 0;
  int depth = 1;
  while (position < n) {
    const std::int32_t len = NativeCodeLength(bytes + position, n - position);
    if (len == 0) return n;
    const std::uint8_t c = bytes[position];
    position += len;
    if (c == kVarStart) {
      ++depth;
    } else if (c == kVarEnd && --depth == 0) {
      return position;
    }
  }
  return n;
}

std::int32_t NativeMainLine(std::uint8_t* bytes, std::int32_t n) {
  std::int32_t r = 0, w = 0;
  while (r < n) {
    const std::int32_t len = WholeCodeLength(bytes + r, n - r);
    if (len == 0) break;
    const std::uint8_t c = bytes[r];
    if (c == kVarStart) {
      r = NativeSkipVariation(bytes, n, r + 1);
      continue;
    }
    if (c < kVarEnd) {  // moves and set-up positions
      if (w != r) std::memmove(bytes + w, bytes + r, std::size_t(len));
      w += len;
    }
    r += len;
  }
  return w;
}

}  // namespace ludrex
