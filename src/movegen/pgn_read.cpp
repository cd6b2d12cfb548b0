// The PGN move-text reader: one pass over the bytes, no allocation per token or move (elements
// and annotation bytes go straight into the game's growing arrays). A SAN move is resolved by
// generating only the legal moves of the named piece kind to the named square.
#include <cstring>

#include "movegen/game.h"
#include "movegen/game_store.h"
#include "movegen/movegen.h"

namespace ludrex {

namespace {

using namespace chess;

// Deeper nesting than this is not chess annotation; the reader stops there instead of letting
// hostile text grow the variation stack without bound.
constexpr std::size_t kMaxVariationDepth = 1024;

inline bool IsCastlingO(std::uint8_t c) { return c == 'O' || c == 'o' || c == '0'; }
inline bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
inline bool IsLineEnd(std::uint8_t c) { return c == '\r' || c == '\n'; }

inline PieceType PromotionLetter(std::uint8_t c) {
  switch (c) {
    case 'Q':
    case 'q':
      return kQueen;
    case 'R':
    case 'r':
      return kRook;
    case 'B':
    case 'b':
      return kBishop;
    case 'N':
    case 'n':
      return kKnight;
    default:
      return kNoPieceType;
  }
}

inline int HexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// What each byte means inside a SAN move: a file (0-7), a rank (8-15), a separator x or :
// (kSeparator), or anything else (kOther). Piece letters map separately.
constexpr std::uint8_t kSeparator = 16;
constexpr std::uint8_t kOther = 255;
struct SanTables {
  std::uint8_t coordinate[256];
  std::uint8_t piece[256];
  constexpr SanTables() : coordinate(), piece() {
    for (int c = 0; c < 256; ++c) coordinate[c] = kOther;
    for (int f = 0; f < 8; ++f) coordinate['a' + f] = std::uint8_t(f);
    for (int r = 0; r < 8; ++r) coordinate['1' + r] = std::uint8_t(8 + r);
    coordinate[std::uint8_t('x')] = kSeparator;
    coordinate[std::uint8_t(':')] = kSeparator;
    piece[std::uint8_t('P')] = kPawn;
    piece[std::uint8_t('N')] = kKnight;
    piece[std::uint8_t('B')] = kBishop;
    piece[std::uint8_t('R')] = kRook;
    piece[std::uint8_t('Q')] = kQueen;
    piece[std::uint8_t('K')] = kKing;
  }
};
constexpr SanTables kSan;

class PgnReader {
 public:
  PgnReader(Game& game, const std::uint8_t* begin, const std::uint8_t* end)
      : g_(game), p_(begin), end_(end), levels_(game.readLevels) {}

  bool Run();

 private:
  enum class Step { kGoOn, kEnd, kStop };

  bool Match(const char* s) const {
    const std::size_t n = std::strlen(s);
    return std::size_t(end_ - p_) >= n && std::memcmp(p_, s, n) == 0;
  }
  void SkipLine() {
    while (p_ < end_ && !IsLineEnd(*p_)) ++p_;
  }
  void AddSymbol(const char* digits, std::size_t n) {
    const bool dos = n == 2 && digits[0] == '2' && (digits[1] == '2' || digits[1] == '4');
    g_.BeginAnnotation();
    g_.pool.push_back(dos ? kAnnotationDosSymbol : kAnnotationSymbol);
    g_.pool.push_back('$');
    g_.pool.insert(g_.pool.end(), digits, digits + n);
    g_.EndAnnotation();
  }
  // A symbol token of len bytes that stands for the NAG with the given digits.
  Step Symbol(std::size_t len, const char* digits) {
    p_ += len;
    AddSymbol(digits, std::strlen(digits));
    return Step::kGoOn;
  }
  // The position before the last move is not kept: a variation takes the move back.
  void Played(Move m, PieceType pieceAfter) {
    g_.AddMove(std::uint8_t(pieceAfter), m.IsNull() ? kNullSquare : To88(m.From()),
               m.IsNull() ? kNullSquare : To88(m.To()));
    current_.Play(m, &undo_);
    hasLast_ = true;
    movesSeen_ = true;
  }
  void SetUp(const Position& pos) {
    std::int8_t board[128];
    pos.GetBoard(board);
    g_.AddSetup(board, pos.State());
    current_ = pos;
    hasLast_ = false;
  }
  void CloseVariations() {
    while (!levels_.empty()) {
      g_.AddMark(kElementVariationEnd);
      levels_.pop_back();
    }
  }
  // Passes over + # and "e.p." / "ep" after a move.
  const std::uint8_t* SkipMoveSuffix(const std::uint8_t* s) const;

  Step Result(std::size_t len) {
    p_ += len;
    return levels_.empty() ? Step::kEnd : Step::kGoOn;
  }
  Step Number();
  Step Comment();
  Step EscapedComment(const std::uint8_t* s);
  Step FenComment(const std::uint8_t* s);
  Step LineComment();
  Step VariationStart();
  Step VariationEnd();
  Step Nag();
  Step Symbols();
  Step TagLine();
  Step Castling();
  Step SanMove();

  Game& g_;
  const std::uint8_t* p_;
  const std::uint8_t* const end_;
  std::vector<ReadLevel>& levels_;
  Position current_ = Position::Start();
  Undo undo_{};           // takes back the last move of the current line
  bool hasLast_ = false;  // the current line has a move to take back
  bool movesSeen_ = false;
};

bool PgnReader::Run() {
  levels_.clear();
  bool lineStart = true;
  while (p_ < end_) {
    const std::uint8_t c = *p_;
    if (c <= ' ') {
      if (IsLineEnd(c)) lineStart = true;
      ++p_;
      continue;
    }
    if (c == '%' && lineStart) {
      SkipLine();
      continue;
    }
    lineStart = false;
    Step step = Step::kGoOn;
    switch (c) {
      case '{':
        step = Comment();
        break;
      case ';':
        step = LineComment();
        break;
      case '(':
        step = VariationStart();
        break;
      case ')':
        step = VariationEnd();
        break;
      case '$':
        step = Nag();
        break;
      case '!':
      case '?':
        step = Symbols();
        break;
      case '*':
        step = Result(1);
        break;
      case '[':
        step = TagLine();
        break;
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        step = Number();
        break;
      case '-':
        if (Match("--")) {
          p_ += 2;
          Played(Move::Null(), kNoPieceType);
        } else if (Match("-+")) {
          step = Symbol(2, "19");
        } else if (Match("-/+")) {
          step = Symbol(3, "17");
        } else {
          ++p_;
        }
        break;
      case '+':
        if (Match("+-"))
          step = Symbol(2, "18");
        else if (Match("+/-"))
          step = Symbol(3, "16");
        else if (Match("+/="))
          step = Symbol(3, "14");
        else if (Match("+="))
          step = Symbol(2, "14");
        else
          ++p_;
        break;
      case '=':
        if (Match("=+"))
          step = Symbol(2, "15");
        else if (Match("=/+"))
          step = Symbol(3, "15");
        else
          step = Symbol(1, "10");
        break;
      case 'O':
      case 'o':
        step = Castling();
        break;
      case 'Z':
        if (Match("Z0")) {
          p_ += 2;
          Played(Move::Null(), kNoPieceType);
        } else {
          step = Step::kStop;
        }
        break;
      case 'K':
      case 'Q':
      case 'R':
      case 'B':
      case 'N':
      case 'P':
      case 'a':
      case 'b':
      case 'c':
      case 'd':
      case 'e':
      case 'f':
      case 'g':
      case 'h':
        step = SanMove();
        break;
      default:
        // Any other letter starts a word that is no move; other bytes are stray and skipped.
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
          step = Step::kStop;
        else
          ++p_;
        break;
    }
    if (step == Step::kEnd) break;
    if (step == Step::kStop) {
      CloseVariations();
      return false;
    }
  }
  CloseVariations();
  return true;
}

PgnReader::Step PgnReader::Number() {
  const std::uint8_t* s = p_ + 1;
  if (s < end_ && (*s == '-' || *s == '/')) {
    if (Match("1-0") || Match("0-1")) return Result(3);
    if (Match("1/2-1/2")) return Result(7);
    if (Match("1/2")) return Result(3);
    if (Match("0-0")) return Castling();
  }
  while (s < end_ && IsDigit(*s)) ++s;
  while (s < end_ && *s == '.') ++s;
  p_ = s;
  return Step::kGoOn;
}

PgnReader::Step PgnReader::Comment() {
  const std::uint8_t* s = p_ + 1;
  if (end_ - s >= 2 && s[0] == '\\' && s[1] == '#') return EscapedComment(s + 2);
  if (end_ - s >= 2 && s[0] == '\\' && s[1] == '@') return FenComment(s + 2);
  const void* found = std::memchr(s, '}', std::size_t(end_ - s));
  const std::uint8_t* close = found ? static_cast<const std::uint8_t*>(found) : end_;
  g_.BeginAnnotation();
  std::vector<std::uint8_t>& pool = g_.pool;
  pool.push_back(kAnnotationComment);
  // A line end inside a comment (CR, LF, CR LF or LF CR) reads as one blank.
  // A NUL reads as a blank too: a comment never keeps one.
  while (s < close) {
    const std::uint8_t* run = s;
    while (s < close && !IsLineEnd(*s) && *s != 0) ++s;
    pool.insert(pool.end(), run, s);
    if (s == close) break;
    if (*s == 0) {
      pool.push_back(' ');
      ++s;
      continue;
    }
    pool.push_back(' ');
    if (close - s >= 2 && IsLineEnd(s[1]) && s[0] != s[1]) ++s;
    ++s;
  }
  g_.EndAnnotation();
  p_ = close < end_ ? close + 1 : end_;
  return Step::kGoOn;
}

// "{\#" ... "}": the exact annotation bytes, escaped; raw line ends are soft breaks.
PgnReader::Step PgnReader::EscapedComment(const std::uint8_t* s) {
  g_.BeginAnnotation();
  std::vector<std::uint8_t>& pool = g_.pool;
  while (s < end_) {
    const std::uint8_t c = *s;
    if (c == '}') {
      ++s;
      break;
    }
    if (IsLineEnd(c) || c == 0) {  // a raw NUL is dropped; "\x00" is an exact byte
      ++s;
      continue;
    }
    if (c == '\\' && end_ - s >= 2) {
      const std::uint8_t e = s[1];
      if (e == 'n') {
        pool.push_back('\n');
      } else if (e == 'r') {
        pool.push_back('\r');
      } else if (e == 'x' && end_ - s >= 4 && HexValue(s[2]) >= 0 && HexValue(s[3]) >= 0) {
        pool.push_back(std::uint8_t(HexValue(s[2]) * 16 + HexValue(s[3])));
        s += 2;
      } else {
        pool.push_back(e);
      }
      s += 2;
      continue;
    }
    pool.push_back(c);
    ++s;
  }
  g_.EndAnnotation();
  p_ = s;
  return Step::kGoOn;
}

// "{\@" FEN "}": a set-up position in the middle of the game.
PgnReader::Step PgnReader::FenComment(const std::uint8_t* s) {
  char fen[256];
  std::size_t n = 0;
  while (s < end_ && *s != '}') {
    if (n == sizeof fen) return Step::kStop;
    fen[n++] = IsLineEnd(*s) ? ' ' : char(*s);
    ++s;
  }
  p_ = s < end_ ? s + 1 : end_;
  Position pos;
  if (!pos.SetFen(fen, n)) return Step::kStop;
  SetUp(pos);
  return Step::kGoOn;
}

PgnReader::Step PgnReader::LineComment() {
  const std::uint8_t* s = ++p_;
  SkipLine();
  g_.BeginAnnotation();
  g_.pool.push_back(kAnnotationComment);
  for (; s < p_; ++s) g_.pool.push_back(*s == 0 ? std::uint8_t(' ') : *s);
  g_.EndAnnotation();
  return Step::kGoOn;
}

PgnReader::Step PgnReader::VariationStart() {
  if (levels_.size() >= kMaxVariationDepth) return Step::kStop;
  ++p_;
  levels_.push_back({current_, undo_, hasLast_});
  if (hasLast_) current_.Unplay(undo_);
  hasLast_ = false;
  g_.AddMark(kElementVariationStart);
  movesSeen_ = true;
  return Step::kGoOn;
}

PgnReader::Step PgnReader::VariationEnd() {
  ++p_;
  if (levels_.empty()) return Step::kGoOn;
  current_ = levels_.back().current;
  undo_ = levels_.back().undo;
  hasLast_ = levels_.back().hasLast;
  levels_.pop_back();
  g_.AddMark(kElementVariationEnd);
  return Step::kGoOn;
}

PgnReader::Step PgnReader::Nag() {
  const std::uint8_t* digits = ++p_;
  while (p_ < end_ && IsDigit(*p_)) ++p_;
  if (p_ > digits) AddSymbol(reinterpret_cast<const char*>(digits), std::size_t(p_ - digits));
  return Step::kGoOn;
}

PgnReader::Step PgnReader::Symbols() {
  while (p_ < end_ && (*p_ == '!' || *p_ == '?')) {
    const std::uint8_t a = *p_;
    const std::uint8_t b = end_ - p_ >= 2 ? p_[1] : 0;
    if (a == '!' && b == '!')
      Symbol(2, "3");
    else if (a == '?' && b == '?')
      Symbol(2, "4");
    else if (a == '!' && b == '?')
      Symbol(2, "5");
    else if (a == '?' && b == '!')
      Symbol(2, "6");
    else
      Symbol(1, a == '!' ? "1" : "2");
  }
  return Step::kGoOn;
}

// A tag line. Before the first move: [FEN "..."] sets up the position, other tags are skipped.
// After moves it is the next game's header, which ends this game.
PgnReader::Step PgnReader::TagLine() {
  if (movesSeen_) return Step::kEnd;
  const std::uint8_t* s = p_ + 1;
  while (s < end_ && (*s == ' ' || *s == '\t')) ++s;
  const std::uint8_t* name = s;
  while (s<end_&& * s> ' ' && *s != '"' && *s != ']') ++s;
  const std::size_t nameLength = std::size_t(s - name);
  while (s < end_ && (*s == ' ' || *s == '\t')) ++s;
  const std::uint8_t* value = s;
  const std::uint8_t* valueEnd = s;
  if (s < end_ && *s == '"') {
    value = ++s;
    while (s < end_ && *s != '"' && !IsLineEnd(*s)) {
      if (*s == '\\' && end_ - s >= 2) ++s;
      ++s;
    }
    valueEnd = s < end_ ? s : end_;
  }
  while (s < end_ && *s != ']' && !IsLineEnd(*s)) ++s;
  p_ = s < end_ && *s == ']' ? s + 1 : s;
  const bool isFen = nameLength == 3 && (name[0] | 0x20) == 'f' && (name[1] | 0x20) == 'e' &&
                     (name[2] | 0x20) == 'n';
  if (!isFen) return Step::kGoOn;
  Position pos;
  if (!pos.SetFen(reinterpret_cast<const char*>(value), std::size_t(valueEnd - value))) {
    return Step::kStop;
  }
  SetUp(pos);
  return Step::kGoOn;
}

const std::uint8_t* PgnReader::SkipMoveSuffix(const std::uint8_t* s) const {
  while (s < end_ && (*s == '+' || *s == '#')) ++s;
  if (s == end_ || (*s != 'e' && *s != ' ')) return s;
  if (end_ - s >= 4 && std::memcmp(s, "e.p.", 4) == 0) return s + 4;
  if (end_ - s >= 5 && s[0] == ' ' && std::memcmp(s + 1, "e.p.", 4) == 0) return s + 5;
  if (end_ - s >= 2 && s[0] == 'e' && s[1] == 'p' &&
      (end_ - s == 2 || !((s[2] | 0x20) >= 'a' && (s[2] | 0x20) <= 'z'))) {
    return s + 2;
  }
  return s;
}

PgnReader::Step PgnReader::Castling() {
  const std::uint8_t* s = p_;
  int os = 0;
  while (s < end_ && IsCastlingO(*s)) {
    ++os;
    ++s;
    if (end_ - s >= 2 && *s == '-' && IsCastlingO(s[1])) ++s;
  }
  if (os != 2 && os != 3) return Step::kStop;
  const Square king = current_.KingSquare(current_.SideToMove());
  if (king == kNoSquare) return Step::kStop;
  const Square to = os == 2 ? king + 2 : king - 2;
  if (to < 0 || to > 63) return Step::kStop;
  Move list[kMaxMoves];
  const int n = GenerateLegal(current_, list, Bit(king), Bit(to));
  for (int i = 0; i < n; ++i) {
    if (list[i].GetKind() == Move::kCastling) {
      p_ = SkipMoveSuffix(s);
      Played(list[i], kKing);
      return Step::kGoOn;
    }
  }
  return Step::kStop;
}

PgnReader::Step PgnReader::SanMove() {
  const std::uint8_t* s = p_;
  PieceType piece = PieceType(kSan.piece[*s]);
  if (piece != kNoPieceType) ++s;

  // Coordinates in order: files 0..7, ranks 8..15. Separators x : - are passed over.
  int items[4];
  int count = 0;
  while (s < end_) {
    const std::uint8_t c = *s;
    const std::uint8_t v = kSan.coordinate[c];
    if (v < kSeparator) {
      if (c == 'e' && end_ - s >= 2 && (s[1] == 'p' || s[1] == '.')) break;  // "ep", "e.p."
      if (count == 4) return Step::kStop;
      items[count++] = v;
    } else if (v != kSeparator && !(c == '-' && end_ - s >= 2 && s[1] >= 'a' && s[1] <= 'h')) {
      break;
    }
    ++s;
  }
  if (count < 2 || items[count - 2] >= 8 || items[count - 1] < 8) return Step::kStop;
  const Square to = MakeSquare(items[count - 2], items[count - 1] - 8);
  int fileHint = -1, rankHint = -1;
  if (count == 3) {
    (items[0] < 8 ? fileHint : rankHint) = items[0] & 7;
  } else if (count == 4) {
    if (items[0] >= 8 || items[1] < 8) return Step::kStop;
    fileHint = items[0];
    rankHint = items[1] - 8;
  }

  PieceType promotion = kNoPieceType;
  if (s < end_) {
    if (*s == '=' && end_ - s >= 2 && PromotionLetter(s[1])) {
      promotion = PromotionLetter(s[1]);
      s += 2;
    } else if (*s == '(' && end_ - s >= 3 && PromotionLetter(s[1]) && s[2] == ')') {
      promotion = PromotionLetter(s[1]);
      s += 3;
    } else if ((piece == kNoPieceType || piece == kPawn) && PromotionLetter(*s) &&
               (RankOf(to) == 0 || RankOf(to) == 7)) {
      promotion = PromotionLetter(*s);
      ++s;
    }
  }
  s = SkipMoveSuffix(s);

  const Color us = current_.SideToMove();
  if (piece == kNoPieceType) {
    piece = kPawn;
    if (fileHint >= 0 && rankHint >= 0) {
      // Long notation without a piece letter: the piece is whatever stands on the from-square.
      const Piece there = current_.At(MakeSquare(fileHint, rankHint));
      if (there != kNoPiece && ColorOf(there) == us) piece = TypeOf(there);
    }
  }
  Bitboard from = current_.Pieces(us, piece);
  if (fileHint >= 0) {
    from &= FileBB(fileHint);
  } else if (piece == kPawn) {
    from &= FileBB(FileOf(to));  // a pawn move without a file is a push
  }
  if (rankHint >= 0) from &= RankBB(rankHint);

  Move list[kMaxMoves];
  const int n = GenerateTo(current_, list, from, to);
  Move chosen{};
  int matches = 0;
  for (int i = 0; i < n; ++i) {
    const Move m = list[i];
    if (m.GetKind() == Move::kPromotion &&
        m.Promotion() != (promotion != kNoPieceType ? promotion : kQueen)) {
      continue;
    }
    chosen = m;
    ++matches;
  }
  if (matches != 1) return Step::kStop;
  p_ = s;
  Played(chosen, chosen.GetKind() == Move::kPromotion ? chosen.Promotion() : piece);
  return Step::kGoOn;
}

}  // namespace

bool GameReadPgn(Game* game, const char* bytes, int length) {
  if (!game || !bytes || length <= 0) return true;
  const std::uint8_t* begin = reinterpret_cast<const std::uint8_t*>(bytes);
  PgnReader reader(*game, begin, begin + length);
  return reader.Run();
}

}  // namespace ludrex
