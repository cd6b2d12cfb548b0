#include "movegen/movegen.h"

namespace ludrex::chess {

namespace {

inline Move* AddPromotions(Move* out, Square from, Square to) {
  *out++ = Move(from, to, Move::kPromotion, kQueen);
  *out++ = Move(from, to, Move::kPromotion, kRook);
  *out++ = Move(from, to, Move::kPromotion, kBishop);
  *out++ = Move(from, to, Move::kPromotion, kKnight);
  return out;
}

inline Move* AddMoves(Move* out, Square from, Bitboard dests) {
  while (dests) *out++ = Move(from, PopLsb(dests));
  return out;
}

}  // namespace

int GenerateLegal(const Position& pos, Move* list, Bitboard fromMask, Bitboard toMask) {
  const Color us = pos.SideToMove(), them = ~us;
  const Square ksq = pos.KingSquare(us);
  if (ksq == kNoSquare) return 0;
  const Bitboard occ = pos.Occupied();
  const Bitboard ours = pos.Pieces(us), theirs = pos.Pieces(them);
  const Bitboard checkers = pos.Checkers();
  // A king is never captured: in a sound position it cannot be, and in a broken set-up the
  // capture would leave a side without a king.
  const Bitboard capturable = ~ours & ~pos.Pieces(them, kKing);
  Move* out = list;

  if (fromMask & Bit(ksq)) {
    Bitboard dests = KingAttacks(ksq) & capturable & toMask;
    const Bitboard occWithoutKing = occ ^ Bit(ksq);
    while (dests) {
      const Square to = PopLsb(dests);
      if (!pos.AttackedBy(to, them, occWithoutKing)) *out++ = Move(ksq, to);
    }
    if (!checkers && pos.Castling()) {
      const int shortRight = us == kWhite ? kWhiteOO : kBlackOO;
      const int longRight = us == kWhite ? kWhiteOOO : kBlackOOO;
      auto safe = [&](Square s) { return !pos.AttackedBy(s, them, occ); };
      if ((pos.Castling() & shortRight) && (toMask & Bit(ksq + 2)) &&
          !(Between(ksq, ksq + 3) & occ) && safe(ksq + 1) && safe(ksq + 2)) {
        *out++ = Move(ksq, ksq + 2, Move::kCastling);
      }
      if ((pos.Castling() & longRight) && (toMask & Bit(ksq - 2)) &&
          !(Between(ksq, ksq - 4) & occ) && safe(ksq - 1) && safe(ksq - 2)) {
        *out++ = Move(ksq, ksq - 2, Move::kCastling);
      }
    }
  }
  if (MoreThanOne(checkers)) return int(out - list);

  Bitboard target = capturable & toMask;
  if (checkers) target &= Between(ksq, Lsb(checkers)) | checkers;

  // Only pieces on a line from the king can be pinned; a narrow fromMask often has none.
  Bitboard pinned = 0;
  const Bitboard kingLines = RookRays(ksq) | BishopRays(ksq);
  Bitboard snipers = 0;
  if (fromMask & ours & kingLines) {
    snipers = ((RookRays(ksq) & (pos.Pieces(kRook) | pos.Pieces(kQueen))) |
               (BishopRays(ksq) & (pos.Pieces(kBishop) | pos.Pieces(kQueen)))) &
              theirs;
  }
  while (snipers) {
    const Bitboard b = Between(ksq, PopLsb(snipers)) & occ;
    if (b && !MoreThanOne(b) && (b & ours)) pinned |= b;
  }

  // Pawns. A pawn standing on its last rank (possible only in a broken set-up) cannot move.
  const int up = us == kWhite ? 8 : -8;
  const Bitboard lastRank = RankBB(us == kWhite ? 7 : 0);
  const Bitboard startRank = RankBB(us == kWhite ? 1 : 6);
  const Square ep = pos.EpSquare();
  Bitboard pawns = pos.Pieces(us, kPawn) & fromMask & ~lastRank;
  while (pawns) {
    const Square from = PopLsb(pawns);
    Bitboard dests = PawnAttacks(us, from) & theirs;
    const Square one = from + up;
    if (!(occ & Bit(one))) {
      dests |= Bit(one);
      if ((startRank & Bit(from)) && !(occ & Bit(one + up))) dests |= Bit(one + up);
    }
    dests &= target;
    if (pinned & Bit(from)) dests &= Line(ksq, from);
    while (dests) {
      const Square to = PopLsb(dests);
      if (lastRank & Bit(to)) {
        out = AddPromotions(out, from, to);
      } else {
        *out++ = Move(from, to);
      }
    }
    if (ep != kNoSquare && (PawnAttacks(us, from) & Bit(ep)) && (toMask & Bit(ep))) {
      const Square captured = ep - up;
      const Bitboard after = (occ ^ Bit(from) ^ Bit(captured)) | Bit(ep);
      if (!(pos.AttackersTo(ksq, after) & theirs & ~Bit(captured))) {
        *out++ = Move(from, ep, Move::kEnPassant);
      }
    }
  }

  for (int t = kKnight; t <= kQueen; ++t) {
    Bitboard pieces = pos.Pieces(us, PieceType(t)) & fromMask;
    while (pieces) {
      const Square from = PopLsb(pieces);
      Bitboard dests = AttacksOf(PieceType(t), from, occ) & target;
      if (pinned & Bit(from)) dests &= Line(ksq, from);
      out = AddMoves(out, from, dests);
    }
  }
  return int(out - list);
}

int GenerateTo(const Position& pos, Move* list, Bitboard fromMask, Square to) {
  const Color us = pos.SideToMove(), them = ~us;
  const Bitboard ours = pos.Pieces(us);
  const Bitboard king = pos.Pieces(us, kKing);
  const Square ksq = pos.KingSquare(us);
  if (ksq == kNoSquare || (ours & Bit(to))) return 0;
  // Check evasions and castling take the general path.
  if (pos.InCheck() || ((fromMask & king) && (to == ksq + 2 || to == ksq - 2))) {
    return GenerateLegal(pos, list, fromMask, Bit(to));
  }
  if (pos.Pieces(them, kKing) & Bit(to)) return 0;
  const Bitboard occ = pos.Occupied();
  const Bitboard theirs = pos.Pieces(them);
  Move* out = list;
  if ((fromMask & king) && (KingAttacks(to) & king) && !pos.AttackedBy(to, them, occ ^ king)) {
    *out++ = Move(ksq, to);
  }
  const Bitboard kingLines = RookRays(ksq) | BishopRays(ksq);
  // Not in check, a piece off the king's lines cannot be pinned; one on them is pinned when
  // its move uncovers a slider (a piece captured on to no longer attacks).
  auto legal = [&](Square from) {
    if (!(kingLines & Bit(from))) return true;
    const Bitboard diagonal = (pos.Pieces(kBishop) | pos.Pieces(kQueen)) & theirs & ~Bit(to);
    const Bitboard straight = (pos.Pieces(kRook) | pos.Pieces(kQueen)) & theirs & ~Bit(to);
    const Bitboard after = (occ ^ Bit(from)) | Bit(to);
    return !(BishopAttacks(ksq, after) & diagonal) && !(RookAttacks(ksq, after) & straight);
  };
  // Pieces that reach to, seen from to; sliders are computed only when a candidate is one.
  const Bitboard candidates = ours & fromMask;
  const Bitboard diagonalMovers = candidates & (pos.Pieces(kBishop) | pos.Pieces(kQueen));
  const Bitboard straightMovers = candidates & (pos.Pieces(kRook) | pos.Pieces(kQueen));
  Bitboard from = KnightAttacks(to) & candidates & pos.Pieces(kKnight);
  if (diagonalMovers) from |= BishopAttacks(to, occ) & diagonalMovers;
  if (straightMovers) from |= RookAttacks(to, occ) & straightMovers;
  while (from) {
    const Square f = PopLsb(from);
    if (legal(f)) *out++ = Move(f, to);
  }
  const Bitboard pawns = pos.Pieces(us, kPawn) & fromMask & ~RankBB(us == kWhite ? 7 : 0);
  if (!pawns) return int(out - list);
  const int up = us == kWhite ? 8 : -8;
  const bool last = RankOf(to) == (us == kWhite ? 7 : 0);
  auto add = [&](Square f) {
    if (!legal(f)) return;
    if (last) {
      out = AddPromotions(out, f, to);
    } else {
      *out++ = Move(f, to);
    }
  };
  if (theirs & Bit(to)) {
    Bitboard from = PawnAttacks(them, to) & pawns;
    while (from) add(PopLsb(from));
  } else if (!(occ & Bit(to))) {
    const Square one = to - up;
    if (one >= 0 && one < 64) {
      if (pawns & Bit(one)) {
        add(one);
      } else if (RankOf(to) == (us == kWhite ? 3 : 4) && !(occ & Bit(one)) &&
                 (pawns & Bit(one - up))) {
        add(one - up);
      }
    }
    if (to == pos.EpSquare()) {
      Bitboard from = PawnAttacks(them, to) & pawns;
      const Square captured = to - up;
      while (from) {
        const Square f = PopLsb(from);
        const Bitboard after = (occ ^ Bit(f) ^ Bit(captured)) | Bit(to);
        if (!(pos.AttackersTo(ksq, after) & theirs & ~Bit(captured))) {
          *out++ = Move(f, to, Move::kEnPassant);
        }
      }
    }
  }
  return int(out - list);
}

bool HasLegalMove(const Position& pos) {
  Move list[kMaxMoves];
  // King moves first: they answer most checks without generating the rest.
  const Bitboard king = pos.Pieces(pos.SideToMove(), kKing);
  return GenerateLegal(pos, list, king) > 0 || GenerateLegal(pos, list, ~king) > 0;
}

int WriteSan(const Position& pos, Move m, char* out, const Position* after) {
  static constexpr char kLetters[] = " PNBRQK";
  int n = 0;
  if (m.IsNull()) {
    out[0] = out[1] = '-';
    return 2;
  }
  const Square from = m.From(), to = m.To();
  const PieceType pt = TypeOf(pos.At(from));
  if (m.GetKind() == Move::kCastling) {
    out[n++] = 'O';
    out[n++] = '-';
    out[n++] = 'O';
    if (to < from) {
      out[n++] = '-';
      out[n++] = 'O';
    }
  } else {
    const bool capture = pos.At(to) != kNoPiece || m.GetKind() == Move::kEnPassant;
    if (pt == kPawn) {
      if (capture) out[n++] = char('a' + FileOf(from));
    } else {
      out[n++] = kLetters[pt];
      Move others[kMaxMoves];
      const int count = GenerateTo(pos, others, pos.Pieces(pos.SideToMove(), pt) & ~Bit(from), to);
      if (count) {
        bool sameFile = false, sameRank = false;
        for (int i = 0; i < count; ++i) {
          sameFile |= FileOf(others[i].From()) == FileOf(from);
          sameRank |= RankOf(others[i].From()) == RankOf(from);
        }
        if (!sameFile || sameRank) out[n++] = char('a' + FileOf(from));
        if (sameFile) out[n++] = char('1' + RankOf(from));
      }
    }
    if (capture) out[n++] = 'x';
    out[n++] = char('a' + FileOf(to));
    out[n++] = char('1' + RankOf(to));
    if (m.GetKind() == Move::kPromotion) {
      out[n++] = '=';
      out[n++] = kLetters[m.Promotion()];
    }
  }
  Position played;
  if (!after) {
    played = pos;
    played.Play(m);
    after = &played;
  }
  if (after->InCheck()) out[n++] = HasLegalMove(*after) ? '+' : '#';
  return n;
}

std::uint64_t Perft(const Position& pos, int depth) {
  if (depth <= 0) return 1;
  Move list[kMaxMoves];
  const int n = GenerateLegal(pos, list);
  if (depth == 1) return std::uint64_t(n);
  std::uint64_t nodes = 0;
  for (int i = 0; i < n; ++i) {
    Position next = pos;
    next.Play(list[i]);
    nodes += Perft(next, depth - 1);
  }
  return nodes;
}

}  // namespace ludrex::chess
