#include "movegen/position.h"

#include <cstring>

namespace ludrex::chess {

namespace {

constexpr char kPieceLetters[] = " PNBRQK";

// Castling rights that survive a move from or to each square.
struct CastlingMasks {
  std::uint8_t keep[64];
  constexpr CastlingMasks() : keep() {
    for (int s = 0; s < 64; ++s) keep[s] = 15;
    keep[4] = std::uint8_t(15 & ~(kWhiteOO | kWhiteOOO));
    keep[0] = std::uint8_t(15 & ~kWhiteOOO);
    keep[7] = std::uint8_t(15 & ~kWhiteOO);
    keep[60] = std::uint8_t(15 & ~(kBlackOO | kBlackOOO));
    keep[56] = std::uint8_t(15 & ~kBlackOOO);
    keep[63] = std::uint8_t(15 & ~kBlackOO);
  }
};
constexpr CastlingMasks kCastlingMasks;

int PieceFromLetter(char c) {
  switch (c) {
    case 'P':
      return MakePiece(kWhite, kPawn);
    case 'N':
      return MakePiece(kWhite, kKnight);
    case 'B':
      return MakePiece(kWhite, kBishop);
    case 'R':
      return MakePiece(kWhite, kRook);
    case 'Q':
      return MakePiece(kWhite, kQueen);
    case 'K':
      return MakePiece(kWhite, kKing);
    case 'p':
      return MakePiece(kBlack, kPawn);
    case 'n':
      return MakePiece(kBlack, kKnight);
    case 'b':
      return MakePiece(kBlack, kBishop);
    case 'r':
      return MakePiece(kBlack, kRook);
    case 'q':
      return MakePiece(kBlack, kQueen);
    case 'k':
      return MakePiece(kBlack, kKing);
    default:
      return -1;
  }
}

}  // namespace

Position Position::Start() {
  static const Position start = [] {
    Position p;
    static const char kStart[] = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
    p.SetFen(kStart, sizeof kStart - 1);
    return p;
  }();
  return start;
}

void Position::PutPiece(Piece p, Square s) {
  board_[s] = p;
  byType_[TypeOf(p)] |= Bit(s);
  byColor_[ColorOf(p)] |= Bit(s);
}

void Position::RemovePiece(Square s) {
  Piece p = board_[s];
  if (p == kNoPiece) return;
  byType_[TypeOf(p)] &= ~Bit(s);
  byColor_[ColorOf(p)] &= ~Bit(s);
  board_[s] = kNoPiece;
}

Bitboard Position::AttackersTo(Square s, Bitboard occ) const {
  return (PawnAttacks(kBlack, s) & Pieces(kWhite, kPawn)) |
         (PawnAttacks(kWhite, s) & Pieces(kBlack, kPawn)) | (KnightAttacks(s) & byType_[kKnight]) |
         (KingAttacks(s) & byType_[kKing]) |
         (BishopAttacks(s, occ) & (byType_[kBishop] | byType_[kQueen])) |
         (RookAttacks(s, occ) & (byType_[kRook] | byType_[kQueen]));
}

bool Position::AttackedBy(Square s, Color c, Bitboard occ) const {
  const Bitboard theirs = byColor_[c];
  if ((PawnAttacks(~c, s) & byType_[kPawn] & theirs) ||
      (KnightAttacks(s) & byType_[kKnight] & theirs) ||
      (KingAttacks(s) & byType_[kKing] & theirs)) {
    return true;
  }
  const Bitboard diagonal = (byType_[kBishop] | byType_[kQueen]) & theirs;
  if ((BishopRays(s) & diagonal) && (BishopAttacks(s, occ) & diagonal)) return true;
  const Bitboard straight = (byType_[kRook] | byType_[kQueen]) & theirs;
  return (RookRays(s) & straight) && (RookAttacks(s, occ) & straight);
}

Bitboard Position::ComputeCheckers() const {
  const Square k = KingSquare(side_);
  if (k == kNoSquare) return 0;
  const Bitboard theirs = byColor_[~side_];
  const Bitboard occ = Occupied();
  Bitboard c =
      ((PawnAttacks(side_, k) & byType_[kPawn]) | (KnightAttacks(k) & byType_[kKnight])) & theirs;
  const Bitboard diagonal = (byType_[kBishop] | byType_[kQueen]) & theirs;
  if (BishopRays(k) & diagonal) c |= BishopAttacks(k, occ) & diagonal;
  const Bitboard straight = (byType_[kRook] | byType_[kQueen]) & theirs;
  if (RookRays(k) & straight) c |= RookAttacks(k, occ) & straight;
  return c;
}

void Position::Play(Move m, Undo* undo) {
  const Color us = side_, them = ~us;
  if (undo) {
    undo->move = m;
    undo->captured = m.IsNull() || m.GetKind() == Move::kCastling ? kNoPiece
                     : m.GetKind() == Move::kEnPassant            ? MakePiece(them, kPawn)
                                                                  : board_[m.To()];
    undo->castling = castling_;
    undo->ep = ep_;
    undo->halfmove = halfmove_;
    undo->fullmove = fullmove_;
    undo->checkers = checkers_;
  }
  if (halfmove_ < 255) ++halfmove_;
  if (us == kBlack && fullmove_ < 65535) ++fullmove_;
  side_ = them;
  ep_ = kNoSquare;
  if (m.IsNull()) {
    checkers_ = ComputeCheckers();
    return;
  }

  const Square from = m.From(), to = m.To();
  const Piece pc = board_[from];
  switch (m.GetKind()) {
    case Move::kCastling: {
      const bool shortSide = to > from;
      const Square rookFrom = shortSide ? from + 3 : from - 4;
      const Square rookTo = shortSide ? from + 1 : from - 1;
      const Piece rook = board_[rookFrom];
      RemovePiece(from);
      RemovePiece(rookFrom);
      PutPiece(pc, to);
      PutPiece(rook, rookTo);
      break;
    }
    case Move::kEnPassant:
      RemovePiece(us == kWhite ? to - 8 : to + 8);
      RemovePiece(from);
      PutPiece(pc, to);
      halfmove_ = 0;
      break;
    case Move::kPromotion:
      if (board_[to] != kNoPiece) RemovePiece(to);
      RemovePiece(from);
      PutPiece(MakePiece(us, m.Promotion()), to);
      halfmove_ = 0;
      break;
    default: {
      if (board_[to] != kNoPiece) {
        RemovePiece(to);
        halfmove_ = 0;
      }
      const Bitboard fromTo = Bit(from) | Bit(to);
      byType_[TypeOf(pc)] ^= fromTo;
      byColor_[us] ^= fromTo;
      board_[from] = kNoPiece;
      board_[to] = pc;
      if (TypeOf(pc) == kPawn) {
        halfmove_ = 0;
        if ((from ^ to) == 16) {
          const Square passed = (from + to) / 2;
          if (PawnAttacks(us, passed) & Pieces(them, kPawn)) ep_ = std::int8_t(passed);
        }
      }
      break;
    }
  }
  castling_ &= kCastlingMasks.keep[from] & kCastlingMasks.keep[to];
  if (m.GetKind() != Move::kNormal && m.GetKind() != Move::kPromotion) {
    checkers_ = ComputeCheckers();
    return;
  }
  // The check can only come from the moved piece or from a slider it uncovered.
  checkers_ = 0;
  const Square king = KingSquare(them);
  if (king == kNoSquare) return;
  const Bitboard occ = Occupied();
  const Piece moved = board_[to];
  switch (TypeOf(moved)) {
    case kPawn:
      if (PawnAttacks(us, to) & Bit(king)) checkers_ = Bit(to);
      break;
    case kKnight:
      if (KnightAttacks(to) & Bit(king)) checkers_ = Bit(to);
      break;
    case kBishop:
      if ((BishopRays(to) & Bit(king)) && (BishopAttacks(to, occ) & Bit(king))) checkers_ = Bit(to);
      break;
    case kRook:
      if ((RookRays(to) & Bit(king)) && (RookAttacks(to, occ) & Bit(king))) checkers_ = Bit(to);
      break;
    case kQueen:
      if (((BishopRays(to) | RookRays(to)) & Bit(king)) &&
          ((BishopAttacks(to, occ) | RookAttacks(to, occ)) & Bit(king))) {
        checkers_ = Bit(to);
      }
      break;
    default:
      break;
  }
  const Bitboard ours = byColor_[us];
  if (BishopRays(king) & Bit(from)) {
    checkers_ |= BishopAttacks(king, occ) & (byType_[kBishop] | byType_[kQueen]) & ours;
  } else if (RookRays(king) & Bit(from)) {
    checkers_ |= RookAttacks(king, occ) & (byType_[kRook] | byType_[kQueen]) & ours;
  }
}

void Position::Unplay(const Undo& undo) {
  const Color us = ~side_;  // the side that made the move
  side_ = us;
  castling_ = undo.castling;
  ep_ = undo.ep;
  halfmove_ = undo.halfmove;
  fullmove_ = undo.fullmove;
  checkers_ = undo.checkers;
  const Move m = undo.move;
  if (m.IsNull()) return;
  const Square from = m.From(), to = m.To();
  switch (m.GetKind()) {
    case Move::kCastling: {
      const bool shortSide = to > from;
      const Square rookFrom = shortSide ? from + 3 : from - 4;
      const Square rookTo = shortSide ? from + 1 : from - 1;
      const Piece king = board_[to], rook = board_[rookTo];
      RemovePiece(to);
      RemovePiece(rookTo);
      PutPiece(king, from);
      PutPiece(rook, rookFrom);
      break;
    }
    case Move::kEnPassant: {
      const Piece pawn = board_[to];
      RemovePiece(to);
      PutPiece(pawn, from);
      PutPiece(undo.captured, us == kWhite ? to - 8 : to + 8);
      break;
    }
    default: {
      const Piece moved = m.GetKind() == Move::kPromotion ? MakePiece(us, kPawn) : board_[to];
      RemovePiece(to);
      PutPiece(moved, from);
      if (undo.captured != kNoPiece) PutPiece(undo.captured, to);
      break;
    }
  }
}

void Position::Sanitize() {
  auto at = [this](Square s, Color c, PieceType t) { return board_[s] == MakePiece(c, t); };
  if (!at(4, kWhite, kKing)) castling_ &= ~(kWhiteOO | kWhiteOOO);
  if (!at(7, kWhite, kRook)) castling_ &= ~kWhiteOO;
  if (!at(0, kWhite, kRook)) castling_ &= ~kWhiteOOO;
  if (!at(60, kBlack, kKing)) castling_ &= ~(kBlackOO | kBlackOOO);
  if (!at(63, kBlack, kRook)) castling_ &= ~kBlackOO;
  if (!at(56, kBlack, kRook)) castling_ &= ~kBlackOOO;
  if (ep_ != kNoSquare) {
    const Color us = side_, them = ~us;
    const int forward = us == kWhite ? 8 : -8;
    const Square ep = ep_;
    const bool ok = RankOf(ep) == (us == kWhite ? 5 : 2) && board_[ep] == kNoPiece &&
                    board_[ep + forward] == kNoPiece &&
                    board_[ep - forward] == MakePiece(them, kPawn) &&
                    (PawnAttacks(them, ep) & Pieces(us, kPawn)) != 0;
    if (!ok) ep_ = kNoSquare;
  }
  checkers_ = ComputeCheckers();
}

bool Position::SetFen(const char* text, std::size_t n) {
  Position p;
  std::size_t i = 0;
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  int rank = 7, file = 0;
  bool any = false;
  for (; i < n && text[i] != ' ' && text[i] != '\t'; ++i) {
    const char c = text[i];
    if (c == '/') {
      if (rank == 0) return false;
      --rank;
      file = 0;
    } else if (c >= '1' && c <= '8') {
      file += c - '0';
      if (file > 8) return false;
    } else {
      const int piece = PieceFromLetter(c);
      if (piece < 0 || file > 7) return false;
      p.PutPiece(Piece(piece), MakeSquare(file, rank));
      ++file;
    }
    any = true;
  }
  if (!any || rank != 0) return false;

  auto skipBlanks = [&] {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  auto atFieldEnd = [&] { return i >= n || text[i] == ' ' || text[i] == '\t'; };
  skipBlanks();
  if (i < n) {
    if (text[i] == 'w' || text[i] == 'W') {
      p.side_ = kWhite;
    } else if (text[i] == 'b' || text[i] == 'B') {
      p.side_ = kBlack;
    } else {
      return false;
    }
    ++i;
    if (!atFieldEnd()) return false;
  }
  skipBlanks();
  if (i < n) {
    if (text[i] == '-') {
      ++i;
    } else {
      for (; !atFieldEnd(); ++i) {
        const char c = text[i];
        if (c == 'K')
          p.castling_ |= kWhiteOO;
        else if (c == 'Q')
          p.castling_ |= kWhiteOOO;
        else if (c == 'k')
          p.castling_ |= kBlackOO;
        else if (c == 'q')
          p.castling_ |= kBlackOOO;
        else if (c >= 'A' && c <= 'H')
          p.castling_ |= c > 'E' ? kWhiteOO : kWhiteOOO;
        else if (c >= 'a' && c <= 'h')
          p.castling_ |= c > 'e' ? kBlackOO : kBlackOOO;
        else
          return false;
      }
    }
    if (!atFieldEnd()) return false;
  }
  skipBlanks();
  if (i < n) {
    if (text[i] == '-') {
      ++i;
    } else if (i + 1 < n && text[i] >= 'a' && text[i] <= 'h' && text[i + 1] >= '1' &&
               text[i + 1] <= '8') {
      p.ep_ = std::int8_t(MakeSquare(text[i] - 'a', text[i + 1] - '1'));
      i += 2;
    } else {
      return false;
    }
    if (!atFieldEnd()) return false;
  }
  auto readNumber = [&](int& out, int limit) {
    skipBlanks();
    if (i >= n) return true;
    if (text[i] < '0' || text[i] > '9') return false;
    long v = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (v < 1000000) v = v * 10 + (text[i] - '0');
    }
    out = v > limit ? limit : int(v);
    return atFieldEnd();
  };
  int half = 0, full = 1;
  if (!readNumber(half, 255) || !readNumber(full, 65535)) return false;
  p.halfmove_ = std::uint8_t(half);
  p.fullmove_ = std::uint16_t(full < 1 ? 1 : full);
  p.Sanitize();
  *this = p;
  return true;
}

int Position::WriteFen(char* out) const {
  int n = 0;
  for (int rank = 7; rank >= 0; --rank) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      const Piece p = board_[MakeSquare(file, rank)];
      if (p == kNoPiece) {
        ++empty;
        continue;
      }
      if (empty) out[n++] = char('0' + empty);
      empty = 0;
      const char c = kPieceLetters[TypeOf(p)];
      out[n++] = ColorOf(p) == kWhite ? c : char(c + ('a' - 'A'));
    }
    if (empty) out[n++] = char('0' + empty);
    if (rank) out[n++] = '/';
  }
  out[n++] = ' ';
  out[n++] = side_ == kWhite ? 'w' : 'b';
  out[n++] = ' ';
  if (castling_ == 0) out[n++] = '-';
  if (castling_ & kWhiteOO) out[n++] = 'K';
  if (castling_ & kWhiteOOO) out[n++] = 'Q';
  if (castling_ & kBlackOO) out[n++] = 'k';
  if (castling_ & kBlackOOO) out[n++] = 'q';
  out[n++] = ' ';
  if (ep_ == kNoSquare) {
    out[n++] = '-';
  } else {
    out[n++] = char('a' + FileOf(ep_));
    out[n++] = char('1' + RankOf(ep_));
  }
  auto number = [&](unsigned v) {
    char digits[8];
    int k = 0;
    do {
      digits[k++] = char('0' + v % 10);
      v /= 10;
    } while (v);
    out[n++] = ' ';
    while (k) out[n++] = digits[--k];
  };
  number(halfmove_);
  number(fullmove_);
  return n;
}

void Position::SetBoard(const std::int8_t* board, std::uint32_t state) {
  using namespace setup_state;
  Position p;
  for (Square s = 0; s < 64; ++s) {
    const int v = board[To88(s)];
    if (v >= kPawn && v <= kKing) p.PutPiece(MakePiece(kWhite, PieceType(v)), s);
    if (v <= -kPawn && v >= -kKing) p.PutPiece(MakePiece(kBlack, PieceType(-v)), s);
  }
  p.side_ = (state & kBlackToMove) ? kBlack : kWhite;
  p.halfmove_ = std::uint8_t((state & kHalfmoveMask) >> kHalfmoveShift);
  const unsigned full = (state & kFullmoveMask) >> kFullmoveShift;
  p.fullmove_ = std::uint16_t(full ? full : 1);
  p.castling_ = std::uint8_t((state >> kCastlingShift) & 15);
  if (state & kEpValid) {
    const int file = int((state & kEpFileMask) >> kEpFileShift);
    p.ep_ = std::int8_t(MakeSquare(file, p.side_ == kWhite ? 5 : 2));
  }
  p.Sanitize();
  *this = p;
}

void Position::GetBoard(std::int8_t* board) const {
  std::memset(board, 0, 128);
  for (Square s = 0; s < 64; ++s) {
    const Piece p = board_[s];
    if (p == kNoPiece) continue;
    board[To88(s)] = std::int8_t(ColorOf(p) == kWhite ? TypeOf(p) : -TypeOf(p));
  }
}

std::uint32_t Position::State() const {
  using namespace setup_state;
  std::uint32_t st = side_ == kBlack ? kBlackToMove : 0;
  st |= std::uint32_t(halfmove_ > 127 ? 127 : halfmove_) << kHalfmoveShift;
  st |= std::uint32_t(fullmove_ > 255 ? 255 : fullmove_) << kFullmoveShift;
  st |= std::uint32_t(castling_) << kCastlingShift;
  if (ep_ != kNoSquare) st |= kEpValid | (std::uint32_t(FileOf(ep_)) << kEpFileShift);
  return st;
}

bool Position::operator==(const Position& o) const {
  return std::memcmp(board_, o.board_, sizeof board_) == 0 && side_ == o.side_ &&
         castling_ == o.castling_ && ep_ == o.ep_;
}

}  // namespace ludrex::chess
