// The PGN move-text writer. It replays the game on a board to write SAN, wraps lines before
// 80 characters and writes every annotation in a form the reader turns back into the same bytes.
#include <cstring>

#include "movegen/game.h"
#include "movegen/game_store.h"
#include "movegen/movegen.h"

namespace ludrex {

namespace {

using namespace chess;

constexpr std::size_t kMaxLine = 79;    // characters before the CR LF
constexpr std::size_t kResultRoom = 8;  // " 1/2-1/2" after the last line

// The symbols that the reader turns into $1 .. $6, written right after their move.
const char* const kMoveSymbols[7] = {nullptr, "!", "?", "!!", "??", "!?", "?!"};

// The NAG number (1..6) of an annotation [2, '$', digit], else 0.
int MoveSymbolOf(const std::uint8_t* b, std::uint32_t n) {
  if (n == 3 && b[0] == kAnnotationSymbol && b[1] == '$' && b[2] >= '1' && b[2] <= '6') {
    return b[2] - '0';
  }
  return 0;
}

// True when bytes [2 or 3, '$', digits...] read back with this very type byte.
bool IsPlainSymbol(const std::uint8_t* b, std::uint32_t n) {
  if (n < 3 || b[1] != '$' || (b[0] != kAnnotationSymbol && b[0] != kAnnotationDosSymbol)) {
    return false;
  }
  for (std::uint32_t i = 2; i < n; ++i) {
    if (b[i] < '0' || b[i] > '9') return false;
  }
  const bool dos = n == 4 && b[2] == '2' && (b[3] == '2' || b[3] == '4');
  return dos == (b[0] == kAnnotationDosSymbol);
}

// A byte that must not begin a line: the game-text reader drops leading blanks and treats a
// line starting with '[' as the next header and one starting with '%' as an escape line.
inline bool BadLineStart(std::uint8_t c) { return c <= ' ' || c == '[' || c == '%'; }

class PgnWriter {
 public:
  explicit PgnWriter(Game& game) : g_(game), out_(game.text), levels_(game.levels) {}

  void Run();

 private:
  // Appends a token, after a blank or, when it would not fit, a line end.
  void Token(const char* s, std::size_t n) {
    Separate(n);
    out_.append(s, n);
    line_ += n;
  }
  // Before a piece of n characters: a blank, or a line end when the piece would not fit.
  void Separate(std::size_t n) {
    const bool glue = glue_;
    glue_ = false;
    if (line_ == 0) return;
    if (glue && line_ + n <= kMaxLine) return;
    if (line_ + 1 + n > kMaxLine) {
      out_ += "\r\n";
      line_ = 0;
      lastBlank_ = std::string::npos;
    } else {
      lastBlank_ = out_.size();
      out_ += ' ';
      ++line_;
    }
  }
  void Token(const char* s) { Token(s, std::strlen(s)); }
  void MoveNumber(bool white);
  void WriteMove(std::size_t& index);
  void WriteAnnotation(const std::uint8_t* b, std::uint32_t n);
  bool PlainComment(const std::uint8_t* prefix, std::size_t prefixLength, const std::uint8_t* text,
                    std::size_t n);
  void EscapedAnnotation(const std::uint8_t* b, std::uint32_t n);
  void Unit(const char* s, std::size_t n);

  Game& g_;
  std::string& out_;
  std::vector<VariationLevel>& levels_;
  std::size_t line_ = 0;
  std::size_t lastBlank_ = std::string::npos;  // the last blank that may become a line end
  bool glue_ = false;  // the next piece follows without a blank when it fits
  VariationLevel level_{};
  bool needNumber_ = true;  // Black's next move gets "N..."
};

void PgnWriter::Run() {
  out_.clear();
  levels_.clear();
  const std::vector<StoredElement>& el = g_.elements;
  std::size_t i = 0;
  Position start = Position::Start();
  if (!el.empty() && el[0].kind == kElementSetup) {
    start.SetBoard(reinterpret_cast<const std::int8_t*>(g_.pool.data() + el[0].offset),
                   el[0].state);
    char fen[kMaxFenLength];
    const int n = start.WriteFen(fen);
    out_ += "[SetUp \"1\"]\r\n[FEN \"";
    out_.append(fen, std::size_t(n));
    out_ += "\"]\r\n";
    i = 1;
  }
  out_ += "\r\n";
  level_ = {start, start, false, false};

  for (; i < el.size(); ++i) {
    const StoredElement& e = el[i];
    switch (e.kind) {
      case kElementMove:
        WriteMove(i);
        break;
      case kElementVariationStart:
        levels_.push_back(level_);
        level_.current = level_.before;
        level_.broken = level_.brokenBefore;
        Token("(", 1);
        glue_ = true;  // "(12. e4"
        needNumber_ = true;
        break;
      case kElementVariationEnd:
        if (levels_.empty()) break;  // a ')' without '(' has no place in the text
        level_ = levels_.back();
        levels_.pop_back();
        glue_ = true;  // "e4)"
        Token(")", 1);
        needNumber_ = true;
        break;
      case kElementAnnotation:
        WriteAnnotation(g_.pool.data() + e.offset, e.count);
        break;
      case kElementSetup: {
        Position pos;
        pos.SetBoard(reinterpret_cast<const std::int8_t*>(g_.pool.data() + e.offset), e.state);
        char fen[kMaxFenLength];
        const int n = pos.WriteFen(fen);
        PlainComment(reinterpret_cast<const std::uint8_t*>("\\@"), 2,
                     reinterpret_cast<const std::uint8_t*>(fen), std::size_t(n));
        level_ = {pos, pos, false, false};
        needNumber_ = true;
        break;
      }
      default:
        break;  // other kinds have no PGN form
    }
  }
  // The game text puts " 1/2-1/2" after the last line: keep room for it.
  if (line_ + kResultRoom > kMaxLine) {
    if (lastBlank_ != std::string::npos && out_.size() - lastBlank_ - 1 + kResultRoom <= kMaxLine) {
      out_.replace(lastBlank_, 1, "\r\n");
    } else {
      out_ += "\r\n";
    }
  }
}

void PgnWriter::MoveNumber(bool white) {
  if (!white && !needNumber_) return;
  char buf[16];
  unsigned v = unsigned(level_.current.Fullmove());
  int n = 0;
  char digits[8];
  int k = 0;
  do {
    digits[k++] = char('0' + v % 10);
    v /= 10;
  } while (v);
  while (k) buf[n++] = digits[--k];
  buf[n++] = '.';
  if (!white) {
    buf[n++] = '.';
    buf[n++] = '.';
  }
  Token(buf, std::size_t(n));
}

void PgnWriter::WriteMove(std::size_t& index) {
  const StoredElement& e = g_.elements[index];
  char san[kMaxSanLength + 4];
  int n = 0;
  Move move{};
  if (!level_.broken) {
    if (e.from == kNullSquare && e.to == kNullSquare) {
      move = Move::Null();
    } else {
      const Square from = From88(e.from), to = From88(e.to);
      if (from != kNoSquare && to != kNoSquare) {
        Move list[kMaxMoves];
        const int count = GenerateTo(level_.current, list, Bit(from), to);
        const PieceType promotion =
            e.piece >= kKnight && e.piece <= kQueen ? PieceType(e.piece) : kQueen;
        for (int k = 0; k < count; ++k) {
          if (list[k].GetKind() != Move::kPromotion || list[k].Promotion() == promotion) {
            move = list[k];
            break;
          }
        }
      }
    }
    if (move.IsSet()) {
      MoveNumber(level_.current.SideToMove() == kWhite);
      level_.before = level_.current;
      level_.brokenBefore = false;
      level_.current.Play(move);
      n = WriteSan(level_.before, move, san, &level_.current);
    }
  }
  if (!move.IsSet()) {
    // Not a legal move here: long notation, and the rest of this line cannot be replayed.
    if (e.from == kNullSquare && e.to == kNullSquare) {
      san[n++] = '-';
      san[n++] = '-';
    } else {
      if (e.piece >= kKnight && e.piece <= kKing) san[n++] = " PNBRQK"[e.piece];
      auto square = [&](std::uint8_t sq) {
        const bool ok = !(sq & 0x88);
        san[n++] = ok ? char('a' + (sq & 7)) : 'z';
        san[n++] = ok ? char('1' + (sq >> 4)) : '9';
      };
      square(e.from);
      san[n++] = '-';
      square(e.to);
    }
  }
  // A move symbol right after the move is written with it ("e4!").
  if (index + 1 < g_.elements.size()) {
    const StoredElement& next = g_.elements[index + 1];
    if (next.kind == kElementAnnotation) {
      const int symbol = MoveSymbolOf(g_.pool.data() + next.offset, next.count);
      if (symbol) {
        const char* text = kMoveSymbols[symbol];
        while (*text) san[n++] = *text++;
        ++index;
      }
    }
  }
  Token(san, std::size_t(n));
  needNumber_ = false;
  if (move.IsSet()) {
    // Played above.
  } else if (!level_.broken) {
    // A variation on this move still starts from a known position.
    level_.before = level_.current;
    level_.brokenBefore = false;
    level_.broken = true;
  } else {
    level_.brokenBefore = true;
  }
}

void PgnWriter::WriteAnnotation(const std::uint8_t* b, std::uint32_t n) {
  if (IsPlainSymbol(b, n)) {
    Token(reinterpret_cast<const char*>(b + 1), n - 1);
    return;
  }
  needNumber_ = true;
  if (n >= 1 && b[0] == kAnnotationComment) {
    const std::uint8_t* text = b + 1;
    const std::size_t len = n - 1;
    bool plain = len < 2 || text[0] != '\\' || (text[1] != '#' && text[1] != '@');
    for (std::size_t k = 0; plain && k < len; ++k) {
      const std::uint8_t c = text[k];
      if (c == '}' || (c < ' ' && c != '\t')) plain = false;
    }
    if (plain && PlainComment(nullptr, 0, text, len)) return;
  }
  EscapedAnnotation(b, n);
}

// Writes "{" prefix text "}", breaking lines only at a blank of the text that is followed by a
// byte that may start a line (the reader reads that line end back as the blank). Returns false,
// writing nothing, when some piece between such blanks is too long for a line.
bool PgnWriter::PlainComment(const std::uint8_t* prefix, std::size_t prefixLength,
                             const std::uint8_t* text, std::size_t n) {
  auto isBreak = [&](std::size_t k) {
    return text[k] == ' ' && k + 1 < n && !BadLineStart(text[k + 1]);
  };
  std::size_t piece = 1 + prefixLength;  // "{" and the prefix
  for (std::size_t k = 0; k < n; ++k) {
    if (isBreak(k)) {
      if (piece > kMaxLine) return false;
      piece = 0;
    } else {
      ++piece;
    }
  }
  if (piece + 1 > kMaxLine) return false;

  // The blank before the comment is the writer's, those between pieces are the text's; either
  // becomes a line end when the next piece does not fit.
  std::size_t start = 0;
  bool first = true;
  for (std::size_t k = 0; k <= n; ++k) {
    if (k < n && !isBreak(k)) continue;
    const std::size_t len = k - start + (first ? 1 + prefixLength : 0) + (k == n ? 1 : 0);
    Separate(len);
    if (first) {
      out_ += '{';
      if (prefixLength) out_.append(reinterpret_cast<const char*>(prefix), prefixLength);
    }
    out_.append(reinterpret_cast<const char*>(text + start), k - start);
    if (k == n) out_ += '}';
    line_ += len;
    first = false;
    start = k + 1;
  }
  return true;
}

void PgnWriter::Unit(const char* s, std::size_t n) {
  if (line_ + n > kMaxLine) {
    out_ += "\r\n";
    line_ = 0;
    lastBlank_ = std::string::npos;
  }
  out_.append(s, n);
  line_ += n;
}

// "{\#" and the exact bytes: \\ \} \n \r \xHH escapes; raw line ends between escapes are soft.
void PgnWriter::EscapedAnnotation(const std::uint8_t* b, std::uint32_t n) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  Token("{\\#", 3);
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint8_t c = b[k];
    char unit[4];
    std::size_t len = 0;
    if (c == '\\' || c == '}') {
      unit[len++] = '\\';
      unit[len++] = char(c);
    } else if (c == '\n') {
      unit[len++] = '\\';
      unit[len++] = 'n';
    } else if (c == '\r') {
      unit[len++] = '\\';
      unit[len++] = 'r';
    } else if (c < ' ' || c == 0x7F) {
      len = 4;
    } else {
      unit[len++] = char(c);
      // A byte that may not begin a line is escaped when it would.
      if (line_ + 1 > kMaxLine && BadLineStart(c)) len = 4;
    }
    if (len == 4) {
      unit[0] = '\\';
      unit[1] = 'x';
      unit[2] = kHex[c >> 4];
      unit[3] = kHex[c & 15];
    }
    Unit(unit, len);
  }
  Unit("}", 1);
}

}  // namespace

void GameWritePgn(Game* game, char** text, int* length) {
  if (!game) {
    if (text) *text = nullptr;
    if (length) *length = 0;
    return;
  }
  PgnWriter writer(*game);
  writer.Run();
  if (text) *text = game->text.data();
  if (length) *length = int(game->text.size());
}

}  // namespace ludrex
