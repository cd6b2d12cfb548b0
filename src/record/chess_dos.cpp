// The DOS base's game encoding (decoding only) and its packed texts.
#include <cstring>
#include <string>

#include "record/chess_codec.h"

namespace ludrex {
namespace {

constexpr int kDosSlots = 22;
constexpr int kDosCodes = 223;

struct DosTables {
  std::uint8_t slot[kDosCodes];
  std::uint8_t delta[2][kDosCodes];
  std::uint16_t start[2][kDosSlots];
};

DosTables BuildDosTables() {
  static constexpr std::uint8_t kKing[11] = {0x00, 0x10, 0x11, 0x01, 0x71, 0x70,
                                             0x77, 0x07, 0x17, 0x02, 0x06};
  static constexpr std::uint8_t kRook[14] = {0x70, 0x60, 0x50, 0x40, 0x30, 0x20, 0x10,
                                             0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
  static constexpr std::uint8_t kBishop[14] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                               0x71, 0x62, 0x53, 0x44, 0x35, 0x26, 0x17};
  static constexpr std::uint8_t kQueen[28] = {
      0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
      0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x71, 0x62, 0x53, 0x44, 0x35, 0x26, 0x17};
  static constexpr std::uint8_t kKnight[8] = {0x12, 0x72, 0x21, 0x61, 0x27, 0x67, 0x16, 0x76};
  static constexpr std::uint8_t kPawn[2][6] = {{0x10, 0x20, 0x01, 0x11, 0x07, 0x17},
                                               {0x70, 0x60, 0x01, 0x71, 0x07, 0x77}};
  DosTables t{};
  int c = 0;
  auto run = [&](int slot, const std::uint8_t* d, int n, const std::uint8_t* black = nullptr) {
    for (int i = 0; i < n; ++i, ++c) {
      t.slot[c] = std::uint8_t(slot);
      t.delta[0][c] = d[i];
      t.delta[1][c] = black ? black[i] : d[i];
    }
  };
  run(0, kKing, 11);
  run(1, kQueen, 28);
  run(2, kRook, 14);
  run(3, kRook, 14);
  run(4, kBishop, 14);
  run(5, kBishop, 14);
  run(6, kKnight, 8);
  run(7, kKnight, 8);
  for (int s = 8; s < 16; ++s) run(s, kPawn[0], 6, kPawn[1]);
  run(16, kKnight, 8);
  run(17, kBishop, 14);
  run(18, kRook, 14);
  run(19, kQueen, 28);
  // kind << 13 | square; the promotion slots wait off the board with their kinds.
  static constexpr std::uint8_t kKinds[kDosSlots] = {6, 5, 4, 4, 3, 3, 2, 2, 1, 1, 1,
                                                     1, 1, 1, 1, 1, 2, 3, 4, 5, 0, 0};
  static constexpr std::uint8_t kFiles[8] = {4, 3, 0, 7, 2, 5, 1, 6};
  for (int side = 0; side < 2; ++side) {
    for (int s = 0; s < kDosSlots; ++s) {
      unsigned sq = 0x88;
      if (s < 8)
        sq = unsigned(side ? 0x70 : 0x00) | kFiles[s];
      else if (s < 16)
        sq = unsigned(side ? 0x60 : 0x10) | unsigned(s - 8);
      t.start[side][s] = std::uint16_t(kKinds[s] << 13 | sq);
    }
  }
  return t;
}

const DosTables& DT() {
  static const DosTables tables = BuildDosTables();
  return tables;
}

DosCommentReader g_dosReader = nullptr;

constexpr const char* kCountries[30] = {"AUT", "BLA", "BUL", "CAN", "CRO", "DEN", "ENG", "ESP",
                                        "FRA", "GEO", "GER", "HUN", "IND", "ISD", "ISR", "ITA",
                                        "LAT", "NED", "NOR", "POL", "ROM", "RUS", "SLO", "SUI",
                                        "SVK", "SWE", "TCH", "UKR", "USA", "YUG"};

// The packed-text table by position (0, 14 and 15 never give a character directly).
constexpr char kPackedTable[49] = "  ai()ernolstu  bcdfghjkmpqvwxyz0123456789\"'-./ ";

}  // namespace

void SetDosCommentReader(DosCommentReader reader) { g_dosReader = reader; }
DosCommentReader GetDosCommentReader() { return g_dosReader; }

const char* DosCountryCode(std::int32_t number) {
  return number >= 0 && number < 30 ? kCountries[number] : nullptr;
}

void DecodeDosGame(const std::uint8_t* bytes, std::int32_t length, Game* game,
                   const String& param) {
  if (bytes == nullptr || length < 4) return;
  const DosTables& t = DT();
  const std::uint32_t reference = std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
                                  std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24;
  const DosCommentReader reader = reference != 0 ? g_dosReader : nullptr;
  std::uint16_t list[2][kDosSlots];
  std::memcpy(list, t.start, sizeof list);
  int side = 0;
  bool drop = false;  // the next move is applied but not appended
  ChessElement e{};
  e.kind = kElementMove;
  // Appends a move and passes the turn; a dropped move (the rook's part of castling) is applied
  // by the caller but neither appended nor counted as a turn.
  auto emit = [&](std::uint8_t kind, std::uint8_t from, std::uint8_t to) {
    if (drop) {
      drop = false;
      return;
    }
    e.piece = kind;
    e.from = from;
    e.to = to;
    if (reader)
      reader(reference, param, game, &e);
    else
      GameAppend(game, &e);
    side ^= 1;
  };
  // The element's target and kind for a pawn: a sideways step is an en passant capture written
  // sideways; a pawn reaching the last rank becomes a queen.
  auto pawnAdjust = [&](std::uint8_t kind, std::uint8_t delta, std::uint8_t& to) {
    if (kind != 1) return kind;
    if (delta == 0x01 || delta == 0x07) to = std::uint8_t((to + (side ? 0x70 : 0x10)) & 0x77);
    return (to >> 4) == (side ? 0 : 7) ? std::uint8_t(5) : kind;
  };
  // Applies the move of code c (0..222); gives its from, to and kind.
  auto tableMove = [&](std::uint8_t c, std::uint8_t& from, std::uint8_t& to, std::uint8_t& kind) {
    std::uint16_t& v = list[side][t.slot[c]];
    const std::uint8_t delta = t.delta[side][c];
    from = std::uint8_t(v);
    to = std::uint8_t((from + delta) & 0x77);
    v = std::uint16_t((v & 0xE000) | to);
    kind = pawnAdjust(std::uint8_t(v >> 13), delta, to);
  };

  std::int32_t pos = 4;
  while (pos < length) {
    const std::uint8_t c = bytes[pos++];
    if (c < kDosCodes) {
      std::uint8_t from, to, kind;
      tableMove(c, from, to, kind);
      emit(kind, from, to);
    } else if (c == 0xF9) {
      drop = true;
    } else if (c >= 0xFB && c <= 0xFE) {
      if (pos >= length || bytes[pos] >= kDosCodes) break;
      std::uint8_t from, to, pawnKind;
      tableMove(bytes[pos++], from, to, pawnKind);
      const std::uint8_t kind = std::uint8_t(c - 0xF9);
      list[side][16 + (c - 0xFB)] = std::uint16_t(kind << 13 | to);
      emit(kind, from, to);
    } else if (c == 0xFA) {
      while (length - pos >= 2) {
        const unsigned v = unsigned(bytes[pos]) | unsigned(bytes[pos + 1]) << 8;
        pos += 2;
        if (v == 0) break;
        if (v == 0xE040) {
          drop = true;
          continue;
        }
        const std::uint8_t from = std::uint8_t(((v >> 7) & 7) << 4 | ((v >> 10) & 7));
        std::uint8_t to = std::uint8_t((v & 7) << 4 | ((v >> 3) & 7));
        const std::uint8_t delta = std::uint8_t(((to | 8) - from) & 0x77);
        const std::uint8_t kind = pawnAdjust(std::uint8_t(v >> 13), delta, to);
        emit(kind, from, to);
      }
      break;
    } else if (c == 0xFF) {
      break;
    }  // 0xDF..0xF8: ignored
  }
  if (reader) reader(reference, param, game, nullptr);
}

String DecodeDosPackedText(const std::uint8_t* bytes, std::int32_t length) {
  String out;
  if (bytes == nullptr || length <= 0) return out;
  const std::int64_t values = std::int64_t(length) * 2;
  std::int64_t i = 0;
  auto next = [&](unsigned& v) {
    if (i >= values) return false;
    const std::uint8_t b = bytes[i >> 1];
    v = (i & 1) ? unsigned(b >> 4) : unsigned(b & 15);
    ++i;
    return true;
  };
  std::string text;
  bool capital = true;
  auto settle = [&] {
    const char last = text.back();
    capital = last == ' ' || last == '(' || last == '.';
  };
  auto tableChar = [&](unsigned k) {
    char ch = kPackedTable[k];
    if (capital && ch >= 'a' && ch <= 'z') ch = char(ch - 'a' + 'A');
    text.push_back(ch);
    settle();
  };
  unsigned v;
  while (next(v)) {
    if (v == 0) {
      capital = !capital;
    } else if (v <= 13) {
      tableChar(v);
    } else {
      unsigned low;
      if (!next(low)) break;
      const unsigned k = low + (v - 13) * 16;
      if (k != 47) {
        tableChar(k);
        continue;
      }
      unsigned lo, hi;
      if (!next(lo) || !next(hi)) break;
      const unsigned x = lo + hi * 16;
      if (x <= 29) {
        text += " (";
        text += kCountries[x];
        text += ")";
      } else {
        text.push_back(char(x));
      }
      settle();
    }
  }
  if (text.size() > kMaxStringLength) text.resize(kMaxStringLength);
  return String::Copy(text.data(), std::uint32_t(text.size()));
}

}  // namespace ludrex
