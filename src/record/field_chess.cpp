#include "record/field_chess.h"

#include <cstring>
#include <string>

#include "frame/error.h"
#include "record/chess_codec.h"

namespace ludrex {
namespace {

// Finishes the game when the scope ends, also when decoding raised.
struct FinishOnExit {
  Game* game;
  ~FinishOnExit() { GameFinish(game); }
};

// The next move or set-up element of the main line (variation contents skipped); false at the
// end of the game.
bool NextMainLine(Game* game, ChessElement& e) {
  int depth = 0;
  while (GameNext(game, &e)) {
    if (e.kind == kElementVariationStart) {
      ++depth;
    } else if (e.kind == kElementVariationEnd) {
      if (depth > 0) --depth;
    } else if (depth == 0 && (e.kind == kElementMove || e.kind == kElementSetup)) {
      return true;
    }
  }
  return false;
}

bool SameElement(const ChessElement& a, const ChessElement& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == kElementMove) return a.piece == b.piece && a.from == b.from && a.to == b.to;
  if (((a.state ^ b.state) & 0xFFFF0001u) != 0) return false;
  for (unsigned sq = 0; sq < 128; ++sq)
    if ((sq & 0x88) == 0 && a.board[sq] != b.board[sq]) return false;
  return true;
}

void AppendSquare(std::string& s, std::uint8_t sq) {
  s.push_back(char('a' + (sq & 7)));
  s.push_back(char('1' + ((sq >> 4) & 7)));
}

}  // namespace

ChessField::ChessField(const FieldSpec& spec) : Field(spec), game_(GameCreate(0)), raw_(1) {}

ChessField::~ChessField() {
  GameDestroy(game_);
  GameDestroy(scratch_);
}

void ChessField::Assign(const Field& other) {
  if (other.TypeCode() != TypeCode()) Refuse();
  const auto& o = static_cast<const ChessField&>(other);
  if (&o == this) return;
  raw_.Clear();
  raw_.Append(o.raw_.Data(), o.raw_.Count());
  GameClear(game_);
  FinishOnExit finish{game_};
  GameRewind(o.game_);
  ChessElement e;
  while (GameNext(o.game_, &e)) GameAppend(game_, &e);
}

int ChessField::IsEmpty() const {
  if (RawMode()) return raw_.Count() == 0;
  ChessElement e;
  GameRewind(game_);
  return GameNext(game_, &e) ? 0 : 1;
}

void ChessField::SetEmpty() {
  raw_.Clear();
  GameClear(game_);
  GameFinish(game_);
}

int ChessField::HasSetup() const { return RawMode() ? RawHasSetup() : GameRewind(game_); }

void ChessField::NativeBytes(ByteBlock& out) const {
  if (RawMode()) {
    SetBytes(out, raw_.Data(), raw_.Count());
  } else {
    EncodeNativeGame(game_, out);
  }
}

Game* ChessField::ReadableGame() const {
  if (!RawMode()) return game_;
  if (scratch_ == nullptr) scratch_ = GameCreate(0);
  GameClear(scratch_);
  FinishOnExit finish{scratch_};
  DecodeNativeGame(raw_.Data(), raw_.Count(), scratch_);
  return scratch_;
}

ByteBlock ChessField::GetKey() const {
  ByteBlock key;
  NativeBytes(key);
  key.Append(0);
  ApplyDescending(key.Data(), key.Count());
  return key;
}

std::int32_t ChessField::PutKey(std::uint8_t* out, std::int32_t room) const {
  NativeBytes(keyBytes_);
  const std::int32_t n = keyBytes_.Count();
  const std::int64_t need = std::int64_t(n) + (RawMode() ? 0 : 1);
  if (need > 0x7FFFFFFF) Raise(1);
  if (room < need) return -std::int32_t(need);
  if (n > 0) std::memcpy(out, keyBytes_.Data(), std::size_t(n));
  if (!RawMode()) out[n] = 0;
  ApplyDescending(out, std::int32_t(need));
  return std::int32_t(need);
}

int ChessField::CompareTo(const Field& other) const {
  CheckSameType(other);
  const auto& o = static_cast<const ChessField&>(other);
  if (&o == this) return 0;
  Game* a = ReadableGame();
  Game* b = o.ReadableGame();
  GameRewind(a);
  GameRewind(b);
  ChessElement ea{}, eb{};
  for (;;) {
    const bool more = NextMainLine(a, ea);
    const bool moreB = NextMainLine(b, eb);
    if (!more && !moreB) return 0;
    // The end of a game compares as the null move {1, 0, 0xFF, 0xFF}.
    if (!more) ea = ChessElement{kElementMove, 0, kNullSquare, kNullSquare, 0, nullptr, nullptr, 0};
    if (!moreB)
      eb = ChessElement{kElementMove, 0, kNullSquare, kNullSquare, 0, nullptr, nullptr, 0};
    if (!SameElement(ea, eb)) return -1;
    if (!more || !moreB) {
      // One game ended and the other holds a null move there: go on with the longer one.
      Game* rest = more ? a : b;
      ChessElement er{};
      while (NextMainLine(rest, er)) {
        if (!(er.kind == kElementMove && er.from == kNullSquare && er.to == kNullSquare &&
              er.piece == 0))
          return -1;
      }
      return 0;
    }
  }
}

String ChessField::ToText() const {
  Game* g = ReadableGame();
  std::string text;
  GameRewind(g);
  ChessElement e;
  int depth = 0;
  int side = 0;
  int number = 1;
  while (GameNext(g, &e)) {
    if (e.kind == kElementVariationStart) {
      ++depth;
      continue;
    }
    if (e.kind == kElementVariationEnd) {
      if (depth > 0) --depth;
      continue;
    }
    if (depth > 0) continue;
    if (e.kind != kElementMove) {
      if (e.kind == kElementSetup) side = e.state & 1;
      text = "Error";
      continue;
    }
    if (side == 0) {
      text += std::to_string(number);
      text += ". ";
    } else {
      ++number;
    }
    if (e.from == kNullSquare && e.to == kNullSquare) {
      text += "-- ";
    } else {
      text.push_back(e.piece < 7 ? " PNBRQK"[e.piece] : '?');
      AppendSquare(text, e.from);
      text.push_back('-');
      AppendSquare(text, e.to);
      text.push_back(' ');
    }
    side ^= 1;
    if (text.size() > kMaxStringLength) break;
  }
  if (text.size() > kMaxStringLength) text.resize(kMaxStringLength);
  return String::Copy(text.data(), std::uint32_t(text.size()));
}

void ChessField::Pack(std::int32_t baseType, const String&, ByteBlock& out) {
  CheckBaseType(baseType);
  if (baseType == kNativeBase) return NativeBytes(out);
  if (baseType != kPgnBase) Raise(805);
  char* text = nullptr;
  int length = 0;
  GameWritePgn(ReadableGame(), &text, &length);
  SetBytes(out, text, length);
}

void ChessField::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                        const String& param) {
  CheckBaseType(baseType);
  GameClear(game_);
  raw_.Clear();
  FinishOnExit finish{game_};
  if (bytes == nullptr || length < 0) length = 0;
  switch (baseType) {
    case kNativeBase:
      if (RawMode()) {
        if (length > 0) raw_.Append(bytes, length);
      } else {
        DecodeNativeGame(bytes, length, game_);
      }
      break;
    case kDosBase:
      DecodeDosGame(bytes, length, game_, param);
      break;
    case kPgnBase:
      readToEnd_ = length <= 0 || GameReadPgn(game_, reinterpret_cast<const char*>(bytes), length);
      break;
    case kCbhBase:
      readToEnd_ = length <= 0 || GameReadCbh(game_, bytes, length);
      break;
    default:  // the .cbf bodies are not read by this component
      Raise(805);
  }
}

}  // namespace ludrex
