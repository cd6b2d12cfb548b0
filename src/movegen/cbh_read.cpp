// The reader of ChessBase ".cbh" game bodies: one game's record of the move file (".cbg"),
// optionally followed by the game's record of the annotation file (".cba").
//
// The move record: a flags byte (bits 0-5 the encoding mode, bit 6 a set-up start position
// follows), a 24-bit big-endian size of the whole record, the 28-byte start position when bit 6
// is set, then the move bytes to the end of the record. Every move byte is first taken through
// the mode's translation table together with n, the number of moves decoded so far in the game
// (variations included, never reset): the "pre" modes read table[(byte - n) mod 256], the "post"
// modes (table[byte] - n) mod 256. The resulting code names a piece by its number among the
// pieces of its kind (numbered in the order the squares a1, a2 .. a8, b1 .. h8 of the start
// position hold them; a captured piece's higher-numbered companions move down one; pawns keep
// their numbers) and its step, taken modulo 8 on both coordinates.
//
// The tree of moves is stored depth first, the main move first at every position: 254 before
// a move remembers the position it is played from, 255 goes back to the last remembered
// position, or ends the game when none is left. It is rebuilt here and handed to the game in
// the library's order: each move followed by its alternatives as variations.
//
// The annotation record: game id (3 bytes), 4 bytes, annotation count + 1 (3 bytes), record size
// (4 bytes), then annotations of {position (signed 24 bits; -1 before the first move, else the
// index of the move in stored order), type, size (16 bits, including these 6 bytes), data}. The
// texts (type 0x02 after a move, 0x82 before it) and the symbols (type 0x03, up to three NAG
// bytes) become annotations; the other types are skipped.
#include <cstring>
#include <vector>

#include "movegen/game.h"
#include "movegen/position.h"
#include "platform/platform.h"

namespace ludrex {
namespace {

// Mode 0 ("compact", pre): code = kTable0[(byte - n) & 255].
constexpr std::uint8_t kTable0[256] = {
    0xa2, 0x95, 0x43, 0xf5, 0xc1, 0x3d, 0x4a, 0x6c, 0x53, 0x83, 0xcc, 0x7c, 0xff, 0xae, 0x68, 0xad,
    0xd1, 0x92, 0x8b, 0x8d, 0x35, 0x81, 0x5e, 0x74, 0x26, 0x8e, 0xab, 0xca, 0xfd, 0x9a, 0xf3, 0xa0,
    0xa5, 0x15, 0xfc, 0xb1, 0x1e, 0xed, 0x30, 0xea, 0x22, 0xeb, 0xa7, 0xcd, 0x4e, 0x6f, 0x2e, 0x24,
    0x32, 0x94, 0x41, 0x8c, 0x6e, 0x58, 0x82, 0x50, 0xbb, 0x02, 0x8a, 0xd8, 0xfa, 0x60, 0xde, 0x52,
    0xba, 0x46, 0xac, 0x29, 0x9d, 0xd7, 0xdf, 0x08, 0x21, 0x01, 0x66, 0xa3, 0xf1, 0x19, 0x27, 0xb5,
    0x91, 0xd5, 0x42, 0x0e, 0xb4, 0x4c, 0xd9, 0x18, 0x5f, 0xbc, 0x25, 0xa6, 0x96, 0x04, 0x56, 0x6a,
    0xaa, 0x33, 0x1c, 0x2b, 0x73, 0xf0, 0xdd, 0xa4, 0x37, 0xd3, 0xc5, 0x10, 0xbf, 0x5a, 0x23, 0x34,
    0x75, 0x5b, 0xb8, 0x55, 0xd2, 0x6b, 0x09, 0x3a, 0x57, 0x12, 0xb3, 0x77, 0x48, 0x85, 0x9b, 0x0f,
    0x9e, 0xc7, 0xc8, 0xa1, 0x7f, 0x7a, 0xc0, 0xbd, 0x31, 0x6d, 0xf6, 0x3e, 0xc3, 0x11, 0x71, 0xce,
    0x7d, 0xda, 0xa8, 0x54, 0x90, 0x97, 0x1f, 0x44, 0x40, 0x16, 0xc9, 0xe3, 0x2c, 0xcb, 0x84, 0xec,
    0x9f, 0x3f, 0x5c, 0xe6, 0x76, 0x0b, 0x3c, 0x20, 0xb7, 0x36, 0x00, 0xdc, 0xe7, 0xf9, 0x4f, 0xf7,
    0xaf, 0x06, 0x07, 0xe0, 0x1a, 0x0a, 0xa9, 0x4b, 0x0c, 0xd6, 0x63, 0x87, 0x89, 0x1d, 0x13, 0x1b,
    0xe4, 0x70, 0x05, 0x47, 0x67, 0x7b, 0x2f, 0xee, 0xe2, 0xe8, 0x98, 0x0d, 0xef, 0xcf, 0xc4, 0xf4,
    0xfb, 0xb0, 0x17, 0x99, 0x64, 0xf2, 0xd4, 0x2a, 0x03, 0x4d, 0x78, 0xc6, 0xfe, 0x65, 0x86, 0x88,
    0x79, 0x45, 0x3b, 0xe5, 0x49, 0x8f, 0x2d, 0xb9, 0xbe, 0x62, 0x93, 0x14, 0xe9, 0xd0, 0x38, 0x9c,
    0xb2, 0xc2, 0x59, 0x5d, 0xb6, 0x72, 0x51, 0xf8, 0x28, 0x7e, 0x61, 0x39, 0xe1, 0xdb, 0x69, 0x80};

// Mode 4 ("compact", post): code = (kTable4[byte] - n) & 255.
constexpr std::uint8_t kTable4[256] = {
    0x58, 0xa3, 0xee, 0x72, 0x47, 0xb9, 0x1f, 0xa0, 0x26, 0xfd, 0xdc, 0x6d, 0xf1, 0xe3, 0xcb, 0xc5,
    0xe2, 0xd0, 0x29, 0xe7, 0x89, 0xe1, 0xae, 0x7b, 0x34, 0x41, 0x35, 0x4b, 0xa5, 0x7c, 0xf6, 0xe5,
    0xdb, 0x8c, 0x5f, 0x37, 0x05, 0xbb, 0x32, 0x54, 0x4c, 0xef, 0x5d, 0x2a, 0x7f, 0xd3, 0x81, 0x86,
    0xdf, 0x18, 0xc3, 0x44, 0x16, 0xf7, 0x85, 0x0f, 0x4d, 0x30, 0x79, 0x14, 0x45, 0xaa, 0xa2, 0x6c,
    0x15, 0x92, 0xa6, 0x62, 0x48, 0x19, 0xe9, 0x3c, 0x38, 0x94, 0x28, 0xa8, 0x66, 0x09, 0x03, 0x63,
    0x20, 0x7d, 0x36, 0xd7, 0x2e, 0x98, 0xec, 0xda, 0x01, 0x13, 0x24, 0x73, 0xcd, 0x9e, 0xcf, 0xd9,
    0xd5, 0x68, 0x8b, 0xd2, 0xab, 0x5b, 0x69, 0xb0, 0x27, 0xfc, 0x31, 0x1b, 0x53, 0x7e, 0x65, 0x76,
    0x55, 0x75, 0xaf, 0x0a, 0xcc, 0xc7, 0xc4, 0xb2, 0xb5, 0x22, 0xe8, 0xa7, 0xbe, 0xf5, 0x00, 0x5a,
    0x21, 0xd1, 0x74, 0x8e, 0xde, 0x9c, 0xe4, 0x42, 0x2b, 0xb1, 0x9b, 0x93, 0xc1, 0x78, 0x70, 0xd6,
    0xb6, 0xad, 0x4e, 0x6a, 0x64, 0x7a, 0x57, 0x49, 0x11, 0x9d, 0x12, 0xc0, 0x3a, 0x2f, 0xe6, 0x84,
    0xc6, 0x07, 0xce, 0x08, 0x82, 0x04, 0x90, 0xb8, 0x87, 0xca, 0x6e, 0x1e, 0x40, 0x1a, 0x50, 0xb4,
    0x10, 0xbc, 0x43, 0x8a, 0x71, 0x0b, 0x8d, 0x5c, 0x3b, 0x3f, 0x88, 0xba, 0xf4, 0xf3, 0x61, 0x1d,
    0xf9, 0xfe, 0x25, 0x51, 0x0d, 0xeb, 0xc8, 0x59, 0x17, 0x46, 0xa4, 0xf2, 0x56, 0xb7, 0x02, 0x2d,
    0x33, 0x9f, 0xd8, 0x83, 0xfb, 0xbf, 0xea, 0xed, 0xac, 0x60, 0x67, 0x39, 0xdd, 0x96, 0x6b, 0xa9,
    0xc2, 0x77, 0x0c, 0x0e, 0x91, 0xfa, 0x99, 0x9a, 0xe0, 0xa1, 0xf0, 0x5e, 0xc9, 0x06, 0x4f, 0xbd,
    0x52, 0x80, 0xd4, 0xf8, 0x97, 0x23, 0x3e, 0x1c, 0x2c, 0x95, 0x4a, 0x8f, 0x3d, 0x6f, 0xff, 0xb3};

// Codes after translation.
constexpr int kNullMove = 0;
constexpr int kKingFirst = 1;       // 1-8: king steps
constexpr int kCastleShort = 9;
constexpr int kCastleLong = 10;
constexpr int kQueen1 = 11;         // 28 codes each
constexpr int kRook1 = 39;          // 14 codes each
constexpr int kRook2 = 53;
constexpr int kBishop1 = 67;
constexpr int kBishop2 = 81;
constexpr int kKnight1 = 95;        // 8 codes each
constexpr int kKnight2 = 103;
constexpr int kPawns = 111;         // 4 codes per pawn, 8 pawns
constexpr int kQueen2 = 143;
constexpr int kQueen3 = 171;
constexpr int kRook3 = 199;
constexpr int kBishop3 = 213;
constexpr int kKnight3 = 227;
constexpr int kTwoByteMove = 235;
constexpr int kIgnored = 236;
constexpr int kPush = 254;
constexpr int kPop = 255;

constexpr int kMaxDepth = 1000;     // nesting of variations
constexpr int kMaxOfKind = 16;      // pieces of one kind on one side
constexpr int kMaxMoves = 1 << 20;  // moves of one game, variations included

struct Step {
  std::int8_t dx, dy;
};
constexpr Step kKingSteps[8] = {{0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}, {-1, 1}};
constexpr Step kKnightSteps[8] = {{2, 1},   {1, 2},   {-1, 2}, {-2, 1},
                                  {-2, -1}, {-1, -2}, {1, -2}, {2, -1}};

// A position as the move codes see it. Squares are numbered file * 8 + rank (a1 0, a2 1, h8 63).
struct CbPosition {
  std::int8_t board[64];  // +kind White, -kind Black, 0 empty
  // Squares of the pieces of each side and kind (2 knight .. 6 king) in their numbering order.
  std::uint8_t list[2][7][kMaxOfKind];
  std::uint8_t count[2][7];
  std::uint8_t pawn[2][kMaxOfKind];  // pawns keep their numbers; 0xFF once gone
  std::uint8_t pawnCount[2];
  int side;  // to move

  void Build() {
    std::memset(list, 0, sizeof list);
    std::memset(count, 0, sizeof count);
    std::memset(pawn, 0xFF, sizeof pawn);
    std::memset(pawnCount, 0, sizeof pawnCount);
    for (int s = 0; s < 64; ++s) {
      int v = board[s];
      if (v == 0) continue;
      int color = v > 0 ? 0 : 1;
      int kind = v > 0 ? v : -v;
      if (kind == 1) {
        if (pawnCount[color] < kMaxOfKind) pawn[color][pawnCount[color]++] = std::uint8_t(s);
      } else if (count[color][kind] < kMaxOfKind) {
        list[color][kind][count[color][kind]++] = std::uint8_t(s);
      }
    }
  }
};

inline int File(int s) { return s >> 3; }
inline int Rank(int s) { return s & 7; }
inline int Square(int file, int rank) { return ((file & 7) << 3) | (rank & 7); }
inline std::uint8_t To0x88(int s) { return std::uint8_t(Rank(s) * 16 + File(s)); }

// What the codes of the queens, rooks, bishops and knights move: the kind, the piece's number
// among those of its kind, and the step (taken modulo 8). kind 0: not such a code.
struct PieceCode {
  std::uint8_t kind, number;
  std::int8_t dx, dy;
};

const PieceCode* PieceCodes() {
  static const std::vector<PieceCode> table = [] {
    std::vector<PieceCode> t(256, PieceCode{0, 0, 0, 0});
    struct Run {
      int first, kind, number;
    };
    static constexpr Run kRuns[] = {
        {kQueen1, 5, 0},  {kRook1, 4, 0},    {kRook2, 4, 1},   {kBishop1, 3, 0},
        {kBishop2, 3, 1}, {kKnight1, 2, 0},  {kKnight2, 2, 1}, {kQueen2, 5, 1},
        {kQueen3, 5, 2},  {kRook3, 4, 2},    {kBishop3, 3, 2}, {kKnight3, 2, 2}};
    for (const Run& r : kRuns) {
      const int n = r.kind == 5 ? 28 : r.kind == 2 ? 8 : 14;
      for (int k = 0; k < n; ++k) {
        int dx = 0, dy = 0;
        if (r.kind == 2) {
          dx = kKnightSteps[k].dx;
          dy = kKnightSteps[k].dy;
        } else {
          // Queen: up, right, up-right, down-right (7 each); rook: up, right; bishop:
          // up-right, down-right.
          int group = k / 7;
          const int i = k % 7 + 1;
          if (r.kind == 3) group += 2;
          if (group == 0) dy = i;
          else if (group == 1) dx = i;
          else if (group == 2) dx = i, dy = i;
          else dx = i, dy = -i;
        }
        t[std::size_t(r.first + k)] =
            PieceCode{std::uint8_t(r.kind), std::uint8_t(r.number), std::int8_t(dx), std::int8_t(dy)};
      }
    }
    return t;
  }();
  return table.data();
}

struct Node {
  std::uint8_t piece, from, to;  // from = to = 0xFF: a null move
  std::int32_t firstChild, lastChild, nextSibling;
};

struct Annotation {
  std::int32_t position;
  std::uint8_t type;
  const std::uint8_t* data;
  std::int32_t length;
};

// True when the bytes hold a character above 0x7F and are well-formed UTF-8 throughout.
bool IsUtf8Text(const std::uint8_t* p, std::int32_t n) {
  bool wide = false;
  for (std::int32_t i = 0; i < n;) {
    const std::uint8_t c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    const int more = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : -1;
    if (more < 0 || i + more >= n) return false;
    for (int k = 1; k <= more; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
    }
    wide = true;
    i += more + 1;
  }
  return wide;
}

class CbhReader {
 public:
  bool Read(Game* game, const std::uint8_t* bytes, int length);

 private:
  bool ReadSetup(const std::uint8_t* p);
  bool ReadMoves(const std::uint8_t* p, int n, int mode);
  bool ReadAnnotations(const std::uint8_t* p, int n);
  // Removes whatever stands on square s (a piece of the side not to move).
  bool Capture(int s);
  // Plays a move of the piece on from; promotion is the new kind for a pawn that reaches the
  // last rank (0: a queen).
  bool Play(int from, int to, int promotion);
  bool PlayCastle(bool shortSide);
  void AddNode(std::uint8_t piece, std::uint8_t from, std::uint8_t to);
  void Emit(Game* game);
  bool EmitLine(Game* game, std::int32_t parent, int depth);
  void EmitMove(Game* game, std::int32_t node);
  void EmitAnnotations(Game* game, std::int32_t position, bool before);

  CbPosition pos_;
  std::vector<CbPosition> stack_;
  std::vector<std::int32_t> parentStack_;
  std::vector<Node> nodes_;
  std::int32_t parent_ = 0;
  bool setup_ = false;
  std::int8_t setupBoard_[128];
  std::uint32_t setupState_ = 0;
  std::vector<Annotation> annotations_;
  std::vector<std::int32_t> annotationStart_;  // by position + 1, counting sort
  std::vector<Annotation> sorted_;
  std::vector<std::int32_t> fill_;
  std::vector<std::uint8_t> text_;
  bool complete_ = true;
};

bool CbhReader::ReadSetup(const std::uint8_t* p) {
  static constexpr std::int8_t kPieces[8] = {0, 6, 5, 2, 3, 4, 1, 0};  // K Q N B R P by 3 bits
  std::memset(pos_.board, 0, sizeof pos_.board);
  const std::uint8_t* bits = p + 4;
  int bit = 0;
  auto next = [&](int n) -> int {
    int v = 0;
    for (int i = 0; i < n; ++i, ++bit) {
      if (bit >= 192) return -1;
      v = (v << 1) | ((bits[bit >> 3] >> (7 - (bit & 7))) & 1);
    }
    return v;
  };
  for (int s = 0; s < 64; ++s) {
    int occupied = next(1);
    if (occupied < 0) return false;
    if (occupied == 0) continue;
    int color = next(1);
    int code = next(3);
    if (color < 0 || code < 0 || kPieces[code] == 0) return false;
    pos_.board[s] = std::int8_t(color ? -kPieces[code] : kPieces[code]);
  }
  pos_.side = (p[1] >> 4) & 1;
  std::memset(setupBoard_, 0, sizeof setupBoard_);
  for (int s = 0; s < 64; ++s) setupBoard_[To0x88(s)] = pos_.board[s];
  std::uint32_t state = pos_.side ? chess::setup_state::kBlackToMove : 0;
  if (p[2] & 2) state |= chess::setup_state::kWhiteShort;
  if (p[2] & 1) state |= chess::setup_state::kWhiteLong;
  if (p[2] & 8) state |= chess::setup_state::kBlackShort;
  if (p[2] & 4) state |= chess::setup_state::kBlackLong;
  int ep = p[1] & 15;
  if (ep >= 1 && ep <= 8) {
    state |= chess::setup_state::kEpValid | (std::uint32_t(ep - 1) << chess::setup_state::kEpFileShift);
  }
  int moveNumber = p[3] == 0 ? 1 : p[3];
  state |= std::uint32_t(moveNumber) << chess::setup_state::kFullmoveShift;
  setupState_ = state;
  setup_ = true;
  return true;
}

bool CbhReader::Capture(int s) {
  int v = pos_.board[s];
  if (v == 0) return true;
  int color = v > 0 ? 0 : 1;
  if (color == pos_.side) return false;
  int kind = v > 0 ? v : -v;
  if (kind == 6) return false;  // a king is never taken
  if (kind == 1) {
    for (int i = 0; i < pos_.pawnCount[color]; ++i) {
      if (pos_.pawn[color][i] == s) pos_.pawn[color][i] = 0xFF;
    }
  } else {
    std::uint8_t* l = pos_.list[color][kind];
    int n = pos_.count[color][kind];
    for (int i = 0; i < n; ++i) {
      if (l[i] == s) {
        std::memmove(l + i, l + i + 1, std::size_t(n - i - 1));
        --pos_.count[color][kind];
        break;
      }
    }
  }
  pos_.board[s] = 0;
  return true;
}

bool CbhReader::PlayCastle(bool shortSide) {
  const int side = pos_.side;
  if (pos_.count[side][6] != 1) return false;
  const int king = pos_.list[side][6][0];
  const int kingTo = Square(File(king) + (shortSide ? 2 : -2), Rank(king));
  const int rookFrom = Square(shortSide ? 7 : 0, Rank(king));
  const int rookTo = Square(shortSide ? 5 : 3, Rank(king));
  const std::int8_t rook = std::int8_t(side ? -4 : 4);
  if (File(king) + (shortSide ? 2 : -2) < 0 || File(king) + (shortSide ? 2 : -2) > 7) return false;
  if (pos_.board[rookFrom] != rook) return false;
  if ((pos_.board[kingTo] != 0 && kingTo != rookFrom) ||
      (pos_.board[rookTo] != 0 && rookTo != king))
    return false;
  std::uint8_t* rooks = pos_.list[side][4];
  for (int i = 0; i < pos_.count[side][4]; ++i) {
    if (rooks[i] == rookFrom) rooks[i] = std::uint8_t(rookTo);
  }
  pos_.list[side][6][0] = std::uint8_t(kingTo);
  pos_.board[king] = 0;
  pos_.board[rookFrom] = 0;
  pos_.board[kingTo] = std::int8_t(side ? -6 : 6);
  pos_.board[rookTo] = rook;
  AddNode(6, To0x88(king), To0x88(kingTo));
  pos_.side ^= 1;
  return true;
}

bool CbhReader::Play(int from, int to, int promotion) {
  const int side = pos_.side;
  const int v = pos_.board[from];
  if (v == 0 || (v > 0 ? 0 : 1) != side || from == to) return false;
  const int kind = v > 0 ? v : -v;
  if (kind == 6 && Rank(from) == Rank(to) && (File(to) - File(from) == 2 || File(from) - File(to) == 2)) {
    return PlayCastle(File(to) > File(from));
  }
  const int target = pos_.board[to];
  if (target != 0 && (target > 0 ? 0 : 1) == side) return false;
  if (kind == 1 && target == 0 && File(from) != File(to)) {
    // En passant: the pawn taken stands beside the mover, on the square the taker passes.
    const int victim = Square(File(to), Rank(from));
    if (pos_.board[victim] != (side ? 1 : -1)) return false;
    if (!Capture(victim)) return false;
  }
  if (!Capture(to)) return false;
  int after = kind;
  if (kind == 1) {
    int i = 0;
    while (i < pos_.pawnCount[side] && pos_.pawn[side][i] != from) ++i;
    if (i == pos_.pawnCount[side]) return false;
    const bool last = Rank(to) == (side ? 0 : 7);
    if (last) {
      after = promotion == 0 ? 5 : promotion;
      pos_.pawn[side][i] = 0xFF;
      if (pos_.count[side][after] >= kMaxOfKind) return false;
      pos_.list[side][after][pos_.count[side][after]++] = std::uint8_t(to);
    } else {
      pos_.pawn[side][i] = std::uint8_t(to);
    }
  } else {
    std::uint8_t* l = pos_.list[side][kind];
    int i = 0;
    while (i < pos_.count[side][kind] && l[i] != from) ++i;
    if (i == pos_.count[side][kind]) return false;
    l[i] = std::uint8_t(to);
  }
  pos_.board[from] = 0;
  pos_.board[to] = std::int8_t(side ? -after : after);
  AddNode(std::uint8_t(after), To0x88(from), To0x88(to));
  pos_.side ^= 1;
  return true;
}

void CbhReader::AddNode(std::uint8_t piece, std::uint8_t from, std::uint8_t to) {
  const std::int32_t index = std::int32_t(nodes_.size());
  nodes_.push_back(Node{piece, from, to, -1, -1, -1});
  Node& parent = nodes_[std::size_t(parent_)];
  if (parent.lastChild < 0) {
    parent.firstChild = index;
  } else {
    nodes_[std::size_t(parent.lastChild)].nextSibling = index;
  }
  parent.lastChild = index;
  parent_ = index;
}

bool CbhReader::ReadMoves(const std::uint8_t* p, int n, int mode) {
  const bool post = mode == 4;
  const std::uint8_t* table = post ? kTable4 : kTable0;
  int moves = 0;
  auto code = [&](std::uint8_t b) -> int {
    return post ? (table[b] - moves) & 255 : table[(b - moves) & 255];
  };
  for (int i = 0; i < n; ++i) {
    const int c = code(p[i]);
    if (c == kPush) {
      if (int(stack_.size()) >= kMaxDepth) return false;
      stack_.push_back(pos_);
      parentStack_.push_back(parent_);
      continue;
    }
    if (c == kPop) {
      if (stack_.empty()) return true;  // the end of the game
      pos_ = stack_.back();
      parent_ = parentStack_.back();
      stack_.pop_back();
      parentStack_.pop_back();
      continue;
    }
    if (c == kIgnored) continue;
    if (moves >= kMaxMoves) return false;
    const int side = pos_.side;
    bool ok = true;
    if (c == kNullMove) {
      AddNode(0, 0xFF, 0xFF);
      pos_.side ^= 1;
    } else if (c < kCastleShort) {
      if (pos_.count[side][6] != 1) return false;
      const int k = pos_.list[side][6][0];
      const Step st = kKingSteps[c - kKingFirst];
      ok = Play(k, Square(File(k) + st.dx, Rank(k) + st.dy), 0);
    } else if (c == kCastleShort || c == kCastleLong) {
      ok = PlayCastle(c == kCastleShort);
    } else if (c == kTwoByteMove) {
      if (i + 2 >= n) return false;
      const int v = (code(p[i + 1]) << 8) | code(p[i + 2]);
      i += 2;
      static constexpr int kPromotion[4] = {5, 4, 3, 2};
      const int from = v & 63, to = (v >> 6) & 63;
      ok = Play(from, to, kPromotion[(v >> 12) & 3]);
    } else if (c >= kPawns && c < kQueen2) {
      const int number = (c - kPawns) >> 2, what = (c - kPawns) & 3;
      if (number >= pos_.pawnCount[side] || pos_.pawn[side][number] == 0xFF) return false;
      const int s = pos_.pawn[side][number];
      const int dir = side ? -1 : 1;
      int dx = 0, dy = dir;
      if (what == 1) dy = 2 * dir;
      if (what == 2) dx = dir;   // towards the mover's right
      if (what == 3) dx = -dir;  // towards the mover's left
      const int f = File(s) + dx, r = Rank(s) + dy;
      if (f < 0 || f > 7 || r < 0 || r > 7) return false;
      ok = Play(s, Square(f, r), 0);
    } else {
      const PieceCode& pc = PieceCodes()[c];
      if (pc.kind == 0) return false;  // codes not in use
      if (pc.number >= pos_.count[side][pc.kind]) return false;
      const int s = pos_.list[side][pc.kind][pc.number];
      ok = Play(s, Square(File(s) + pc.dx, Rank(s) + pc.dy), 0);
    }
    if (!ok) return false;
    ++moves;
  }
  // The bytes ended without the final 255: complete only outside every variation.
  return stack_.empty();
}

bool CbhReader::ReadAnnotations(const std::uint8_t* p, int n) {
  if (n < 14) return false;
  std::uint32_t size = (std::uint32_t(p[10]) << 24) | (std::uint32_t(p[11]) << 16) |
                       (std::uint32_t(p[12]) << 8) | p[13];
  if (size < 14 || size > std::uint32_t(n)) return false;
  for (std::uint32_t at = 14; at < size;) {
    if (size - at < 6) return false;
    const std::uint8_t* a = p + at;
    std::int32_t position = std::int32_t((std::uint32_t(a[0]) << 16) | (std::uint32_t(a[1]) << 8) | a[2]);
    if (position & 0x800000) position -= 0x1000000;
    const std::uint32_t length = (std::uint32_t(a[4]) << 8) | a[5];
    if (length < 6 || length > size - at) return false;
    annotations_.push_back(Annotation{position, a[3], a + 6, std::int32_t(length - 6)});
    at += length;
  }
  return true;
}

void CbhReader::EmitAnnotations(Game* game, std::int32_t position, bool before) {
  if (annotations_.empty()) return;
  const std::size_t slot = std::size_t(position + 1);
  if (slot + 1 >= annotationStart_.size()) return;
  ChessElement e{};
  e.kind = kElementAnnotation;
  for (std::int32_t k = annotationStart_[slot]; k < annotationStart_[slot + 1]; ++k) {
    const Annotation& a = sorted_[std::size_t(k)];
    const bool textBefore = a.type == 0x82 || (position < 0 && a.type == 0x02);
    if ((before && textBefore) || (!before && a.type == 0x02 && position >= 0)) {
      // Text: a byte of unknown use, the language, then the text, in a single-byte code page
      // or in UTF-8 (which is turned into Windows-1251).
      if (a.length < 2) continue;
      const std::uint8_t* t = a.data + 2;
      const std::int32_t n = a.length - 2;
      text_.assign(1, kAnnotationComment);
      if (IsUtf8Text(t, n)) {
        text_.resize(std::size_t(n) + 1);
        const std::size_t got = platform::Utf8ToCp1251(reinterpret_cast<const char*>(t), std::size_t(n),
                                                       reinterpret_cast<char*>(text_.data() + 1), std::size_t(n));
        text_.resize(got + 1);
      } else {
        text_.insert(text_.end(), t, t + n);
      }
    } else if (!before && a.type == 0x03 && position >= 0) {
      for (std::int32_t i = 0; i < a.length && i < 3; ++i) {
        if (a.data[i] == 0) continue;
        char buf[8];
        int len = 0;
        buf[len++] = char(kAnnotationSymbol);
        buf[len++] = '$';
        const int v = a.data[i];
        if (v >= 100) buf[len++] = char('0' + v / 100);
        if (v >= 10) buf[len++] = char('0' + v / 10 % 10);
        buf[len++] = char('0' + v % 10);
        e.count = std::uint32_t(len);
        e.bytes = reinterpret_cast<const std::uint8_t*>(buf);
        GameAppend(game, &e);
      }
      continue;
    } else {
      continue;
    }
    e.count = std::uint32_t(text_.size());
    e.bytes = text_.data();
    GameAppend(game, &e);
  }
}

void CbhReader::EmitMove(Game* game, std::int32_t node) {
  const Node& n = nodes_[std::size_t(node)];
  const std::int32_t position = node - 1;  // the root is node 0
  const bool notes = !annotations_.empty();
  if (notes) EmitAnnotations(game, position, true);
  ChessElement e{};
  e.kind = kElementMove;
  e.piece = n.piece;
  e.from = n.from;
  e.to = n.to;
  GameAppend(game, &e);
  if (notes) EmitAnnotations(game, position, false);
}

bool CbhReader::EmitLine(Game* game, std::int32_t parent, int depth) {
  if (depth > kMaxDepth) return false;
  for (std::int32_t c = nodes_[std::size_t(parent)].firstChild; c >= 0;
       c = nodes_[std::size_t(c)].firstChild) {
    EmitMove(game, c);
    for (std::int32_t alt = nodes_[std::size_t(c)].nextSibling; alt >= 0;
         alt = nodes_[std::size_t(alt)].nextSibling) {
      ChessElement mark{};
      mark.kind = kElementVariationStart;
      GameAppend(game, &mark);
      EmitMove(game, alt);
      const bool ok = EmitLine(game, alt, depth + 1);
      mark.kind = kElementVariationEnd;
      GameAppend(game, &mark);
      if (!ok) return false;
    }
  }
  return true;
}

void CbhReader::Emit(Game* game) {
  if (setup_) {
    ChessElement e{};
    e.kind = kElementSetup;
    e.board = setupBoard_;
    e.state = setupState_;
    GameAppend(game, &e);
  }
  // Annotations by position, in their order within a position.
  const std::size_t slots = nodes_.size() + 1;  // positions -1 .. moves - 1, plus an end
  if (!annotations_.empty()) {
    annotationStart_.assign(slots + 1, 0);
    for (const Annotation& a : annotations_) {
      if (a.position >= -1 && std::size_t(a.position + 1) < slots) ++annotationStart_[std::size_t(a.position + 2)];
    }
    for (std::size_t i = 1; i <= slots; ++i) annotationStart_[i] += annotationStart_[i - 1];
    sorted_.resize(std::size_t(annotationStart_[slots]));
    fill_.assign(annotationStart_.begin(), annotationStart_.end());
    auto& fill = fill_;
    for (const Annotation& a : annotations_) {
      if (a.position >= -1 && std::size_t(a.position + 1) < slots) {
        sorted_[std::size_t(fill[std::size_t(a.position + 1)]++)] = a;
      }
    }
    EmitAnnotations(game, -1, true);
  }
  if (!EmitLine(game, 0, 0)) complete_ = false;
}

bool CbhReader::Read(Game* game, const std::uint8_t* bytes, int length) {
  nodes_.clear();
  nodes_.push_back(Node{0, 0, 0, -1, -1, -1});
  stack_.clear();
  parentStack_.clear();
  annotations_.clear();
  parent_ = 0;
  setup_ = false;
  complete_ = true;
  if (bytes == nullptr || length < 4) return length <= 0;
  const std::uint32_t size =
      (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8) | bytes[3];
  if (size < 4 || size > std::uint32_t(length)) return false;
  const int mode = bytes[0] & 0x3F;
  int at = 4;
  if (bytes[0] & 0x40) {
    if (size < 32) return false;
    if (!ReadSetup(bytes + 4)) return false;
    at = 32;
  } else {
    static const std::int8_t kStart[64] = {4, 1, 0, 0, 0, 0, -1, -4, 2, 1, 0, 0, 0, 0, -1, -2,
                                           3, 1, 0, 0, 0, 0, -1, -3, 5, 1, 0, 0, 0, 0, -1, -5,
                                           6, 1, 0, 0, 0, 0, -1, -6, 3, 1, 0, 0, 0, 0, -1, -3,
                                           2, 1, 0, 0, 0, 0, -1, -2, 4, 1, 0, 0, 0, 0, -1, -4};
    std::memcpy(pos_.board, kStart, sizeof kStart);
    pos_.side = 0;
  }
  pos_.Build();
  if (mode != 0 && mode != 4) {
    Emit(game);
    return false;  // encodings whose tables are not known here
  }
  bool ok = ReadMoves(bytes + at, int(size) - at, mode);
  if (std::uint32_t(length) > size && !ReadAnnotations(bytes + size, length - int(size))) ok = false;
  Emit(game);
  return ok && complete_;
}

}  // namespace

bool GameReadCbh(Game* game, const std::uint8_t* bytes, int length) {
  static thread_local CbhReader reader;
  return reader.Read(game, bytes, length);
}

}  // namespace ludrex
