// PGN text of one game: the game scanner, tag parsing, writing with escapes and the terminator.
#include "record/pgn_text.h"

#include <gtest/gtest.h>

#include "chess_helpers.h"
#include "helpers.h"
#include "record/field_chess.h"

namespace ludrex::testing {
namespace {

std::vector<std::int64_t> Starts(const std::string& text, std::size_t piece = 0) {
  PgnScanner s;
  std::vector<std::int64_t> starts;
  if (piece == 0) piece = text.size() + 1;
  for (std::size_t i = 0; i < text.size(); i += piece)
    s.Feed(text.data() + i, std::min(piece, text.size() - i), std::int64_t(i), starts);
  return starts;
}

TEST(PgnScan, FindsGameStarts) {
  const std::string two =
      "[Event \"a\"]\r\n[Site \"b\"]\r\n\r\n1. e4 *\r\n\r\n[Event \"c\"]\r\n1. d4 *\r\n";
  EXPECT_EQ(Starts(two), (std::vector<std::int64_t>{0, 38}));
  // Every line-end form; a piecewise feed finds the same starts.
  for (const char* eol : {"\n", "\r", "\r\n", "\n\r"}) {
    std::string t;
    for (int g = 0; g < 3; ++g) {
      t += std::string("[Event \"x\"]") + eol + "[Site \"y\"]" + eol + eol + "1. e4 e5" + eol;
    }
    auto whole = Starts(t);
    EXPECT_EQ(whole.size(), 3u) << int(eol[0]);
    for (std::size_t piece : {1u, 2u, 3u, 7u}) EXPECT_EQ(Starts(t, piece), whole) << piece;
  }
  // Games separated only by a blank line, or by nothing at all after the moves.
  EXPECT_EQ(Starts("[A \"1\"]\n\n1. e4\n\n[A \"2\"]\n1. d4\n[A \"3\"]\n").size(), 3u);
  // '[' inside comments does not start a game; a comment may run over lines.
  EXPECT_EQ(Starts("[A \"1\"]\n\n1. e4 {see\n[A \"x\"] here} e5 ; [B \"y\"]\n\n[A \"2\"]\n").size(),
            2u);
  EXPECT_TRUE(Starts("1. e4 e5 2. Nf3\n").empty());
  EXPECT_TRUE(Starts("").empty());
  // A '{' inside a tag value is not a comment.
  EXPECT_EQ(Starts("[A \"{\"]\n\n1. e4\n\n[A \"2\"]\n").size(), 2u);
}

TEST(PgnParse, TagsAndMoveText) {
  PgnGameText g;
  const std::string t =
      "; a comment line\n{ a comment }[Event \"The \\\"Cup\\\" \\\\ 1\"]\r\n"
      "  [whiteelo \"2500\"]\r\n[MyTag \"v\"] trailing\r\n[FEN \"8/8/8/8/8/8/8/K6k w - - 0 1\"]\r\n"
      "1. Kb1 Kg1\r\n\r\n   2. Kc1 *\r\n";
  ParsePgnGame(t.data(), t.size(), g);
  ASSERT_EQ(g.tags.size(), 4u);
  EXPECT_EQ(g.tags[0].name, "~16");
  EXPECT_EQ(g.tags[0].value, "The \"Cup\" \\ 1");
  EXPECT_EQ(g.tags[1].name, "~9");
  EXPECT_EQ(g.tags[2].name, "MyTag");
  EXPECT_EQ(g.tags[3].name, "FEN");
  EXPECT_EQ(g.moves, "[FEN \"8/8/8/8/8/8/8/K6k w - - 0 1\"]\r\n1. Kb1 Kg1\r\n2. Kc1 *\r\n");
  // An unterminated quote ends with its line; a game without moves; no tags at all.
  const std::string open = "[Event \"no end\r\n\r\n1. e4";
  ParsePgnGame(open.data(), open.size(), g);
  ASSERT_EQ(g.tags.size(), 1u);
  EXPECT_EQ(g.tags[0].value, "no end");
  EXPECT_EQ(g.moves, "1. e4\r\n");
  const std::string only = "[Event \"x\"]";
  ParsePgnGame(only.data(), only.size(), g);
  EXPECT_EQ(g.tags.size(), 1u);
  EXPECT_EQ(g.moves, "");
}

class PgnRecord : public ::testing::Test {
 protected:
  PgnRecord() {
    pattern_.Append(Spec(1, "~16"));
    pattern_.Append(Spec(3, "~15", "F"));
    pattern_.Append(Spec(2, "~9", "2u"));
    pattern_.Append(Spec(1, "Opening"));
    pattern_.Append(Spec(4, "~22"));
  }
  CaptureScope capture_;
  RecordPattern pattern_;
};

TEST_F(PgnRecord, WriteAndReadBack) {
  Record r(pattern_), back(pattern_);
  r[0].SetText(String("A \"quoted\" \\ event"));
  r[2].SetInt(2450);
  r[3].SetText(String("Sicilian"));
  const std::string moves = "1. e4 c5 2. Nf3 {plan} d6 (2... Nc6) 3. d4";
  r[4].Unpack(kPgnBase, reinterpret_cast<const std::uint8_t*>(moves.data()),
              std::int32_t(moves.size()), String(""));
  std::string text;
  WritePgnGame(r, false, text);
  EXPECT_EQ(text.substr(0, 40), "[Event \"A \\\"quoted\\\" \\\\ event\"]\r\n[Date \"");
  EXPECT_NE(text.find("[WhiteElo \"2450\"]\r\n[Opening \"Sicilian\"]\r\n\r\n1. e4"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 6), " *\r\n\r\n");  // no result field: " *"
  PgnGameText g;
  ParsePgnGame(text.data(), text.size(), g);
  FillRecordFromPgn(g, false, back);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back[i].CompareTo(r[i]), 0) << i;
  EXPECT_EQ(Elements(dynamic_cast<ChessField&>(back[4]).GetGame()),
            Elements(dynamic_cast<ChessField&>(r[4]).GetGame()));
  // A field without a tag is emptied.
  const std::string bare = "[Event \"x\"]\n\n1. d4 *\n";
  ParsePgnGame(bare.data(), bare.size(), g);
  FillRecordFromPgn(g, false, back);
  EXPECT_EQ(back[2].GetInt(), 0);
  EXPECT_EQ(back[3].IsEmpty(), 1);
  EXPECT_EQ(Str(back[4].ToText()), "1. Pd2-d4 ");
}

// Without a moves field the text is the tags, a blank, the marker and two line ends.
TEST_F(PgnRecord, RecordWithoutMovesEndsWithTheMarkerLine) {
  RecordPattern p;
  p.Append(Spec(1, "~16"));
  p.Append(Spec(5, "~14"));
  Record r(p), back(p);
  r[0].SetText(String("Open"));
  r[1].SetInt(2);
  std::string text;
  WritePgnGame(r, false, text);
  ByteBlock result = r[1].Pack(kPgnBase, String(""));
  const std::string marker(reinterpret_cast<const char*>(result.Data()), result.Count());
  EXPECT_EQ(text, "[Event \"Open\"]\r\n[Result \"" + marker + "\"]\r\n " + marker + "\r\n\r\n");
  PgnGameText g;
  ParsePgnGame(text.data(), text.size(), g);
  FillRecordFromPgn(g, false, back);
  EXPECT_EQ(back[0].CompareTo(r[0]), 0);
  EXPECT_EQ(back[1].GetInt(), 2);
}

// A NUL in a tag value is dropped on reading, and never written.
TEST_F(PgnRecord, NulNeverStaysInATagValue) {
  const std::string text("[Event \"a\0b\"]\r\n[Site \"\0\"]\r\n\r\n1. e4 *\r\n", 38);
  PgnGameText g;
  ParsePgnGame(text.data(), text.size(), g);
  ASSERT_EQ(g.tags.size(), 2u);
  EXPECT_EQ(g.tags[0].value, "ab");
  EXPECT_EQ(g.tags[1].value, "");
  EXPECT_EQ(g.moves, "1. e4 *\r\n");
  RecordPattern p;
  p.Append(Spec(1, "~16"));
  Record r(p);
  const std::string raw("x\0y", 3);
  r[0].Unpack(kPgnBase, reinterpret_cast<const std::uint8_t*>(raw.data()), 3, String(""));
  std::string out;
  WritePgnGame(r, false, out);
  EXPECT_EQ(out, "[Event \"xy\"]\r\n *\r\n\r\n");
}

// Many tags and many fields go through the name index: every field takes its own tag, a name
// given twice takes the last value, a field without a tag is emptied.
TEST_F(PgnRecord, WideGamesMatchTagsByName) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "[Tag" + std::to_string(i) + " \"v" + std::to_string(i) + "\"]\r\n";
  text += "[Dup \"first\"]\r\n[Dup \"last\"]\r\n\r\n1. e4 *\r\n";
  PgnGameText g;
  ParsePgnGame(text.data(), text.size(), g);
  ASSERT_EQ(g.tags.size(), 302u);
  RecordPattern p;
  for (int i = 299; i >= 0; --i) p.Append(Spec(1, ("Tag" + std::to_string(i)).c_str()));
  p.Append(Spec(1, "Dup"));
  p.Append(Spec(1, "Missing"));
  p.Append(Spec(4, "~22"));
  Record r(p);
  r[301].SetText(String("stale"));
  FillRecordFromPgn(g, false, r);
  for (int i = 0; i < 300; ++i) EXPECT_EQ(Str(r[299 - i].ToText()), "v" + std::to_string(i));
  EXPECT_EQ(Str(r[300].ToText()), "last");
  EXPECT_EQ(r[301].IsEmpty(), 1);
}

TEST_F(PgnRecord, ResultMarkerSetupAndOem) {
  RecordPattern p;
  p.Append(Spec(1, "~1"));
  p.Append(Spec(5, "~14"));
  p.Append(Spec(4, "~22"));
  Record r(p), back(p);
  r[0].SetText(String("\xC8\xE2\xE0\xED\xEE\xE2"));  // a Cyrillic name in 1251
  r[1].SetInt(1);
  const std::string fen = "[FEN \"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1\"]\r\n1. e4 Kd7";
  r[2].Unpack(kPgnBase, reinterpret_cast<const std::uint8_t*>(fen.data()), std::int32_t(fen.size()),
              String(""));
  std::string text;
  WritePgnGame(r, true, text);
  ByteBlock result = r[1].Pack(kPgnBase, String(""));
  const std::string marker(reinterpret_cast<const char*>(result.Data()), result.Count());
  EXPECT_EQ(text.substr(text.size() - marker.size() - 5), " " + marker + "\r\n\r\n");
  EXPECT_NE(text.find("[SetUp \"1\"]"), std::string::npos);
  EXPECT_EQ(text.find("\xC8\xE2"), std::string::npos);  // converted to 866
  PgnGameText g;
  ParsePgnGame(text.data(), text.size(), g);
  FillRecordFromPgn(g, true, back);
  EXPECT_EQ(back[0].CompareTo(r[0]), 0);
  EXPECT_EQ(back[1].GetInt(), 1);
  EXPECT_EQ(dynamic_cast<ChessField&>(back[2]).HasSetup(), 1);
  EXPECT_EQ(Elements(dynamic_cast<ChessField&>(back[2]).GetGame()),
            Elements(dynamic_cast<ChessField&>(r[2]).GetGame()));
}

}  // namespace
}  // namespace ludrex::testing
