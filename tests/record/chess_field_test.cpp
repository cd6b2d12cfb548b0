// The game-score field: keys, comparison, display text, packing per base type and raw mode.
#include <gtest/gtest.h>

#include "chess_helpers.h"
#include "helpers.h"
#include "record/field_chess.h"

namespace ludrex::testing {
namespace {

using V = std::vector<std::uint8_t>;

class ChessFields : public ::testing::Test {
 protected:
  static void Pgn(Field& f, const std::string& text) {
    f.Unpack(kPgnBase, reinterpret_cast<const std::uint8_t*>(text.data()),
             std::int32_t(text.size()), String(""));
  }
  CaptureScope capture_;
};

TEST_F(ChessFields, EmptyGameKeysAndTests) {
  auto f = Make(4);
  EXPECT_EQ(f->IsEmpty(), 1);
  EXPECT_EQ(Bytes(f->GetKey()), V{0x00});
  auto d = Make(4, "", kFlagDescending);
  EXPECT_EQ(Bytes(d->GetKey()), V{0xFF});
  EXPECT_EQ(As<ChessField>(f).HasSetup(), 0);
  EXPECT_NE(f->GetBody(), nullptr);
  EXPECT_EQ(f->GetBodySize(), 0);
  Pgn(*f, "1. e4 e5 2. Nf3");
  EXPECT_EQ(f->IsEmpty(), 0);
  EXPECT_EQ(Bytes(f->GetKey()), (V{19, 19, 43, 0}));
  std::uint8_t buf[8];
  EXPECT_EQ(f->PutKey(buf, 3), -4);
  EXPECT_EQ(f->PutKey(buf, 4), 4);
  EXPECT_EQ(V(buf, buf + 4), (V{19, 19, 43, 0}));
  f->SetEmpty();
  EXPECT_EQ(f->IsEmpty(), 1);
  Pgn(*f, "[FEN \"8/8/8/8/8/8/8/K6k w - - 0 1\"]\r\n1. Kb1");
  EXPECT_EQ(As<ChessField>(f).HasSetup(), 1);
}

TEST_F(ChessFields, CompareMainLinesOnly) {
  auto a = Make(4), b = Make(4);
  Pgn(*a, "1. e4 e5 (1... c5 2. Nf3) 2. Nf3 {good} Nc6");
  Pgn(*b, "1. e4 e5 (1... e6 2. d4 d5) 2. Nf3 Nc6 $1");
  EXPECT_EQ(a->CompareTo(*b), 0);
  EXPECT_EQ(b->CompareTo(*a), 0);
  Pgn(*b, "1. e4 e5 2. Nf3");
  EXPECT_EQ(a->CompareTo(*b), -1);
  EXPECT_EQ(b->CompareTo(*a), -1);       // never 1
  Pgn(*b, "1. e4 e5 2. Nf3 Nc6 3. --");  // a trailing null move equals the end
  EXPECT_EQ(a->CompareTo(*b), 0);
  EXPECT_EQ(a->CompareTo(*a), 0);
  auto s = Make(1);
  EXPECT_RAISES(816, a->CompareTo(*s));
  EXPECT_RAISES(803, a->Assign(*s));
}

TEST_F(ChessFields, DisplayText) {
  auto f = Make(4);
  Pgn(*f, "1. e4 e5 (1... c5) 2. O-O-O");  // not legal: the reader stops
  EXPECT_EQ(Str(f->ToText()), "1. Pe2-e4 Pe7-e5 ");
  Pgn(*f, "1. e4 {a comment} e5 2. --");
  EXPECT_EQ(Str(f->ToText()), "ErrorPe7-e5 2. -- ");
  EXPECT_EQ(Str(f->ToText()).substr(0, 5), "Error");
}

TEST_F(ChessFields, PackUnpackPerBaseType) {
  auto f = Make(4), g = Make(4);
  const std::string text = "1. d4 Nf6 2. c4 e6 (2... g6 3. Nc3 Bg7) 3. Nc3 Bb4 {Nimzo} 4. Qc2 $1";
  Pgn(*f, text);
  ByteBlock native = f->Pack(kNativeBase, String(""));
  g->Unpack(kNativeBase, native.Data(), native.Count(), String(""));
  EXPECT_EQ(Elements(As<ChessField>(g).GetGame()), Elements(As<ChessField>(f).GetGame()));
  ByteBlock pgn = f->Pack(kPgnBase, String(""));
  g->SetEmpty();
  g->Unpack(kPgnBase, pgn.Data(), pgn.Count(), String(""));
  EXPECT_EQ(Elements(As<ChessField>(g).GetGame()), Elements(As<ChessField>(f).GetGame()));
  g->Assign(*f);
  EXPECT_EQ(Elements(As<ChessField>(g).GetGame()), Elements(As<ChessField>(f).GetGame()));
  EXPECT_RAISES(805, f->Pack(kDosBase, String("")));
  EXPECT_RAISES(805, f->Pack(kReferenceBase, String("")));
  EXPECT_RAISES(901, f->Pack(7, String("")));
  EXPECT_RAISES(805, g->Unpack(kReferenceBase, native.Data(), native.Count(), String("")));
  EXPECT_EQ(g->IsEmpty(), 1);  // every path clears the game first
  // A DOS body.
  const V dos = {0, 0, 0, 0, 136, 136};
  g->Unpack(kDosBase, dos.data(), 6, String(""));
  EXPECT_EQ(Str(g->ToText()), "1. Pe2-e4 Pe7-e5 ");
  // Bad native bytes: the moves before the damage stay, the error is numbered.
  const V bad = {19, 19, 0xEC, 9};
  EXPECT_RAISES(812, g->Unpack(kNativeBase, bad.data(), 4, String("")));
  EXPECT_EQ(Str(g->ToText()), "1. Pe2-e4 Pe7-e5 ");
}

TEST_F(ChessFields, RawMode) {
  auto f = Make(4, "", kFlagRawGame), g = Make(4);
  const V game = {19, 19, 43, 0xE7, 0x0C, 0xE8};
  f->Unpack(kNativeBase, game.data(), 6, String(""));
  EXPECT_EQ(f->IsEmpty(), 0);
  ChessElement e;
  GameRewind(As<ChessField>(f).GetGame());
  EXPECT_EQ(GameNext(As<ChessField>(f).GetGame(), &e), 0);  // nothing decoded
  EXPECT_EQ(Bytes(f->Pack(kNativeBase, String(""))), game);
  V key = game;
  key.push_back(0);
  EXPECT_EQ(Bytes(f->GetKey()), key);
  std::uint8_t buf[8];
  EXPECT_EQ(f->PutKey(buf, 5), -6);
  EXPECT_EQ(f->PutKey(buf, 8), 6);
  EXPECT_EQ(V(buf, buf + 6), game);
  EXPECT_EQ(As<ChessField>(f).HasSetup(), 0);
  // Comparison and text see the decoded game.
  g->Unpack(kNativeBase, game.data(), 6, String(""));
  EXPECT_EQ(f->CompareTo(*g), 0);
  EXPECT_EQ(g->CompareTo(*f), 0);
  EXPECT_EQ(Str(f->ToText()), "1. Pe2-e4 Pe7-e5 2. Ng1-f3 ");
  // Raw bytes are kept even when they would not decode.
  const V junk = {0xE6, 1, 2};
  f->Unpack(kNativeBase, junk.data(), 3, String(""));
  EXPECT_EQ(Bytes(f->Pack(kNativeBase, String(""))), junk);
  EXPECT_EQ(As<ChessField>(f).HasSetup(), 1);
  f->SetEmpty();
  EXPECT_EQ(f->IsEmpty(), 1);
}

}  // namespace
}  // namespace ludrex::testing
