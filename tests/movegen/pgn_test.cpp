// The PGN move-text reader's accepted notations, the writer's layout, annotation forms and
// the game container.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game_helpers.h"

namespace ludrex::testing {
namespace {

Element MoveEl(int piece, int from, int to) {
  Element e;
  e.kind = kElementMove;
  e.piece = piece;
  e.from = from;
  e.to = to;
  return e;
}
Element Mark(int kind) {
  Element e;
  e.kind = kind;
  return e;
}
Element Note(std::string bytes) {
  Element e;
  e.kind = kElementAnnotation;
  e.bytes.assign(bytes.begin(), bytes.end());
  return e;
}
Element Comment(const std::string& text) { return Note(std::string(1, '\x04') + text); }
Element Symbol(const std::string& text) { return Note(std::string(1, '\x02') + text); }

class PgnTest : public ::testing::Test {
 protected:
  void SetUp() override { g_ = GameCreate(0); }
  void TearDown() override { GameDestroy(g_); }
  std::vector<Element> ReadText(const std::string& text, bool expectComplete = true) {
    bool complete = false;
    std::vector<Element> e = Read(g_, text, &complete);
    EXPECT_EQ(complete, expectComplete) << text;
    return e;
  }
  // Written text of the elements; reading it back must give them again.
  // Also through the line handling of a game text (ThroughGameText).
  std::string RoundTrip(const std::vector<Element>& elements) {
    const std::string text = WriteElements(g_, elements);
    ExpectShortCrLfLines(text);
    EXPECT_EQ(ReadText(text), elements) << text;
    EXPECT_EQ(ReadText(ThroughGameText(text)), elements) << ThroughGameText(text);
    return text;
  }
  Game* g_ = nullptr;
};

const std::vector<Element> kItalian = {MoveEl(1, 0x14, 0x34), MoveEl(1, 0x64, 0x44),
                                       MoveEl(2, 0x06, 0x25), MoveEl(2, 0x71, 0x52),
                                       MoveEl(3, 0x05, 0x32)};

TEST_F(PgnTest, NotationsOfTheSameMoves) {
  for (const char* text :
       {"1. e4 e5 2. Nf3 Nc6 3. Bc4", "1.e4 e5 2.Nf3 Nc6 3.Bc4 *",
        "1. e2-e4 e7-e5 2. Ng1-f3 Nb8-c6 3. Bf1-c4", "e2e4 e7e5 g1f3 b8c6 f1c4",
        "1. Pe2e4 1... e5 2. Ngf3 Nbc6 3. Bfc4 1-0", "  1. e4 e5\r\n2. Nf3\n\rNc6\r3. Bc4\n",
        "1 e4 e5 2 Nf3 Nc6 3 Bc4 1/2-1/2"}) {
    EXPECT_EQ(ReadText(text), kItalian) << text;
  }
}

TEST_F(PgnTest, CommentsNagsNullMovesAndEscapeLines) {
  const std::vector<Element> expected = {
      Comment("start"),       MoveEl(1, 0x14, 0x34), Symbol("$1"),          Symbol("$14"),
      Comment(" to the end"), MoveEl(1, 0x64, 0x44), Symbol("$5"),          Symbol("$4"),
      MoveEl(0, 0xFF, 0xFF),  Note("\x03$22"),       MoveEl(0, 0xFF, 0xFF), Comment("two lines"),
      Symbol("$18"),          Symbol("$6")};
  EXPECT_EQ(ReadText("{start} 1. e4! $14 ; to the end\r\n% escape line e4 e5\r\n1... e5!? ?? 2. -- "
                     "$22 Z0 {two\r\nlines} +- ?!"),
            expected);
}

TEST_F(PgnTest, NestedVariations) {
  const std::vector<Element> expected = {MoveEl(1, 0x14, 0x34),
                                         MoveEl(1, 0x64, 0x44),
                                         Mark(2),
                                         MoveEl(1, 0x62, 0x42),
                                         Mark(2),
                                         MoveEl(1, 0x64, 0x54),
                                         MoveEl(1, 0x13, 0x33),
                                         Mark(3),
                                         MoveEl(2, 0x06, 0x25),
                                         Mark(3),
                                         Mark(2),
                                         MoveEl(1, 0x64, 0x54),
                                         Mark(3),
                                         MoveEl(2, 0x06, 0x25)};
  const std::string text = "1. e4 e5 (1... c5 (1... e6 2. d4) 2. Nf3) (1... e6) 2. Nf3";
  EXPECT_EQ(ReadText(text), expected);
  const std::string written = RoundTrip(expected);
  EXPECT_EQ(written, "\r\n" + text);
}

TEST_F(PgnTest, SetUpGamesCarryTheirFen) {
  const std::string fen = "4k3/8/8/8/8/8/4P3/4K3 b - - 0 40";
  const std::vector<Element> e =
      ReadText("[SetUp \"1\"]\r\n[FEN \"" + fen + "\"]\r\n\r\n40... Kd7 41. e4");
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].kind, kElementSetup);
  EXPECT_EQ(e[0].state, 1u | (40u << 8));
  EXPECT_EQ(e[0].board[0x14], 1);
  EXPECT_EQ(e[0].board[0x74], -6);
  EXPECT_EQ(e[1], MoveEl(6, 0x74, 0x63));
  EXPECT_NE(GameRewind(g_), 0);
  const std::string text = RoundTrip(e);
  EXPECT_EQ(text, "[SetUp \"1\"]\r\n[FEN \"" + fen + "\"]\r\n\r\n40... Kd7 41. e4");
  // A game from the start position is not a set-up game.
  ReadText("1. e4");
  EXPECT_EQ(GameRewind(g_), 0);
  // A FEN the reader cannot read stops it.
  EXPECT_TRUE(ReadText("[FEN \"not a position\"]\r\n1. e4", false).empty());
}

TEST_F(PgnTest, WriterNumbersAndLayout) {
  // Black's move gets its number after a comment, a variation and at the start of a set-up.
  std::vector<Element> e = kItalian;
  e.insert(e.begin() + 1, Comment("best"));
  e.insert(e.begin() + 4, Mark(2));
  e.insert(e.begin() + 5, MoveEl(2, 0x06, 0x27));
  e.insert(e.begin() + 6, Mark(3));
  EXPECT_EQ(RoundTrip(e), "\r\n1. e4 {best} 1... e5 2. Nf3 (2. Nh3) 2... Nc6 3. Bc4");
  // Long games wrap before 80 columns; the last line leaves room for the result.
  std::string text;
  for (int i = 0; i < 40; ++i) text += "Nf3 Nf6 Ng1 Ng8 ";
  const std::vector<Element> longGame = ReadText(text);
  EXPECT_EQ(longGame.size(), 160u);
  RoundTrip(longGame);
  // An empty game is one line end.
  EXPECT_EQ(WriteElements(g_, {}), "\r\n");
}

TEST_F(PgnTest, EveryAnnotationFormComesBack) {
  const std::string longText = [] {
    std::string s;
    for (int i = 0; i < 300; ++i) s += "word" + std::to_string(i) + (i % 7 ? " " : "  ");
    return s;
  }();
  const std::vector<Element> annotations = {
      Comment("plain text"),
      Comment(""),
      Comment("with } brace"),
      Comment("line\r\nbreak and \\ backslash"),
      Comment(longText),
      Comment(std::string(200, 'x') + " long word"),
      Comment("blank before [bracket and %percent at line starts"),
      Comment("\\# looks like an escape"),
      Comment("Cyrillic \xC0\xE1\xE2 and tab\there"),
      Comment(" leading and trailing blanks "),
      Symbol("$14"),
      Symbol("$1"),
      Symbol("$0"),
      Symbol("$255"),
      Symbol("$22"),  // read as type 3: must be written so that it stays type 2
      Symbol("!"),    // read as $1: must be kept as text
      Note("\x03$22"),
      Note("\x03$24"),
      Note("\x03$7"),
      Note("\x09"),
      Note(""),
      Note(std::string("\x07\x00\xFF}{", 5)),
  };
  for (const Element& a : annotations) {
    // Before the first move, after a move, and inside a variation.
    RoundTrip({a, MoveEl(1, 0x14, 0x34), a, Mark(2), MoveEl(1, 0x13, 0x33), a, Mark(3), a});
  }
  // The common forms look like ordinary PGN.
  EXPECT_EQ(RoundTrip({MoveEl(1, 0x14, 0x34), Symbol("$1"), Symbol("$14"), Comment("good"),
                       Note("\x03$22")}),
            "\r\n1. e4! $14 {good} $22");
}

TEST_F(PgnTest, SetUpInsideTheGameAndIllegalMoves) {
  const std::vector<Element> start = ReadText("[FEN \"4k3/8/8/8/8/8/8/4K2R w K - 0 1\"] 1. O-O");
  ASSERT_EQ(start.size(), 2u);
  std::vector<Element> e = kItalian;
  e.insert(e.begin() + 2, start[0]);
  e.insert(e.begin() + 3, start[1]);
  e.erase(e.begin() + 4, e.end());
  EXPECT_NE(RoundTrip(e).find("{\\@4k3/8/8/8/8/8/8/4K2R w K - 0 1}"), std::string::npos);

  // A move that is not legal where it stands: written in long notation; the reader keeps
  // what comes before it.
  const std::vector<Element> bad = {MoveEl(1, 0x14, 0x34), MoveEl(2, 0x14, 0x34),
                                    MoveEl(1, 0x64, 0x44), Comment("after")};
  const std::string text = WriteElements(g_, bad);
  EXPECT_EQ(text, "\r\n1. e4 Ne2-e4 e7-e5 {after}");
  EXPECT_EQ(ReadText(text, false), std::vector<Element>(bad.begin(), bad.begin() + 1));
  // A variation end without a start is left out; a start without an end is closed on reading.
  EXPECT_EQ(WriteElements(g_, {MoveEl(1, 0x14, 0x34), Mark(3), MoveEl(1, 0x64, 0x44)}),
            "\r\n1. e4 e5");
  const std::string open =
      WriteElements(g_, {MoveEl(1, 0x14, 0x34), Mark(2), MoveEl(1, 0x13, 0x33)});
  EXPECT_EQ(ReadText(open),
            (std::vector<Element>{MoveEl(1, 0x14, 0x34), Mark(2), MoveEl(1, 0x13, 0x33), Mark(3)}));
}

TEST_F(PgnTest, ContainerCopiesAndHandsOutStablePointers) {
  std::uint8_t bytes[3] = {4, 'h', 'i'};
  std::int8_t board[128] = {};
  board[0x04] = 6;
  board[0x74] = -6;
  ChessElement e{};
  e.kind = kElementSetup;
  e.board = board;
  e.state = 1;
  GameAppend(g_, &e);
  e = ChessElement{};
  e.kind = kElementAnnotation;
  e.bytes = bytes;
  e.count = 3;
  GameAppend(g_, &e);
  bytes[1] = 'X';  // the caller keeps its buffers
  board[0x04] = 0;
  e = ChessElement{kElementMove, 6, 0x74, 0x73, 0, nullptr, nullptr, 0};
  GameAppend(g_, &e);
  GameFinish(g_);
  EXPECT_NE(GameRewind(g_), 0);
  ChessElement a, b, c, d;
  ASSERT_TRUE(GameNext(g_, &a));
  ASSERT_TRUE(GameNext(g_, &b));
  ASSERT_TRUE(GameNext(g_, &c));
  EXPECT_FALSE(GameNext(g_, &d));
  EXPECT_EQ(a.board[0x04], 6);
  EXPECT_EQ(a.state, 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.bytes), b.count), "\x04hi");
  EXPECT_EQ(c.kind, kElementMove);
  EXPECT_EQ(c.bytes, nullptr);
  // Writing does not change the game: the pointers stay valid.
  char* text;
  int length;
  GameWritePgn(g_, &text, &length);
  EXPECT_EQ(std::string(text, std::size_t(length)),
            "[SetUp \"1\"]\r\n[FEN \"4k3/8/8/8/8/8/8/4K3 b - - 0 1\"]\r\n\r\n{hi} 1... Kd8");
  EXPECT_EQ(text[length], '\0');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.bytes), b.count), "\x04hi");
  // Copying elements of a game into the same game (its own pool) is safe.
  GameRewind(g_);
  std::vector<ChessElement> all;
  while (GameNext(g_, &d)) all.push_back(d);
  for (const ChessElement& x : all) GameAppend(g_, &x);
  const std::vector<Element> twice = Elements(g_);
  ASSERT_EQ(twice.size(), 6u);
  EXPECT_EQ(twice[4].bytes, std::vector<std::uint8_t>({4, 'h', 'i'}));
  // Clear empties it; a null game is ignored everywhere.
  GameClear(g_);
  EXPECT_EQ(GameRewind(g_), 0);
  EXPECT_FALSE(GameNext(g_, &d));
  GameClear(nullptr);
  GameAppend(nullptr, &e);
  EXPECT_EQ(GameRewind(nullptr), 0);
  EXPECT_EQ(GameNext(nullptr, &d), 0);
  GameWritePgn(nullptr, &text, &length);
  EXPECT_EQ(length, 0);
  EXPECT_TRUE(GameReadPgn(nullptr, "e4", 2));
  GameDestroy(nullptr);
}

}  // namespace
}  // namespace ludrex::testing
