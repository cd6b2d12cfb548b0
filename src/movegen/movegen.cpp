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
  const Bitboard checkers = pos.AttackersTo(ksq, occ) & theirs;
  // A king is never captured: in a sound position it cannot be, and in a broken set-up the
  // capture would leave a side without a king.
  const Bitboard capturable = ~ours & ~pos.Pieces(them, kKing);
  Move* out = list;

  if (fromMask & Bit(ksq)) {
    Bitboard dests = KingAttacks(ksq) & capturable & toMask;
    const Bitboard occWithoutKing = occ ^ Bit(ksq);
    while (dests) {
      const Square to = PopLsb(dests);
      if (!(pos.AttackersTo(to, occWithoutKing) & theirs)) *out++ = Move(ksq, to);
    }
    if (!checkers && pos.Castling()) {
      const int shortRight = us == kWhite ? kWhiteOO : kBlackOO;
      const int longRight = us == kWhite ? kWhiteOOO : kBlackOOO;
      auto safe = [&](Square s) { return !(pos.AttackersTo(s, occ) & theirs); };
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

  Bitboard pinned = 0;
  Bitboard snipers = ((RookRays(ksq) & (pos.Pieces(kRook) | pos.Pieces(kQueen))) |
                      (BishopRays(ksq) & (pos.Pieces(kBishop) | pos.Pieces(kQueen)))) &
                     theirs;
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

bool HasLegalMove(const Position& pos) {
  Move list[kMaxMoves];
  return GenerateLegal(pos, list) > 0;
}

int WriteSan(const Position& pos, Move m, char* out) {
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
      const int count = GenerateLegal(pos, others, pos.Pieces(pos.SideToMove(), pt) & ~Bit(from),
                                      Bit(to));
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
  Position after = pos;
  after.Play(m);
  if (after.InCheck()) out[n++] = HasLegalMove(after) ? '+' : '#';
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
