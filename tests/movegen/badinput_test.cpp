// Hostile and broken move texts: the reader never crashes nor reads outside its buffer (run
// these under ASan), keeps what it read, and always leaves properly nested elements that the
// writer turns into a text reading back to the same elements.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "game_helpers.h"
#include "movegen/game_store.h"
#include "movegen/movegen.h"

namespace ludrex::testing {
namespace {

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override { g_ = GameCreate(0); }
  void TearDown() override { GameDestroy(g_); }

  // Reads the bytes from a heap block of exactly their size, so that ASan sees any read past
  // the end; checks nesting and the write/read round trip of whatever was read.
  std::vector<Element> ReadExact(const std::string& text, bool* complete = nullptr) {
    std::unique_ptr<char[]> block(new char[text.size() ? text.size() : 1]);
    std::memcpy(block.get(), text.data(), text.size());
    GameClear(g_);
    const bool ok = GameReadPgn(g_, block.get(), int(text.size()));
    GameFinish(g_);
    if (complete) *complete = ok;
    const std::vector<Element> elements = Elements(g_);
    int depth = 0;
    for (const Element& e : elements) {
      if (e.kind == kElementVariationStart) ++depth;
      if (e.kind == kElementVariationEnd) --depth;
      EXPECT_GE(depth, 0);
    }
    EXPECT_EQ(depth, 0);
    const std::string written = Write(g_);
    ExpectShortCrLfLines(written);
    GameClear(g_);
    GameReadPgn(g_, written.data(), int(written.size()));
    EXPECT_EQ(Elements(g_), elements) << "input:\n" << text << "\nwritten:\n" << written;
    return elements;
  }

  Game* g_ = nullptr;
};

int CountKind(const std::vector<Element>& e, int kind) {
  int n = 0;
  for (const Element& x : e) n += x.kind == kind;
  return n;
}

TEST_F(BadInput, UnterminatedCommentsAndVariations) {
  bool complete = false;
  std::vector<Element> e = ReadExact("1. e4 {never closed e5 2. Nf3", &complete);
  EXPECT_TRUE(complete);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1].bytes.size(), 1 + std::string("never closed e5 2. Nf3").size());
  e = ReadExact("1. e4 (1. d4 d5 (1... Nf6");
  EXPECT_EQ(e.size(), 8u);
  EXPECT_EQ(CountKind(e, kElementVariationEnd), 2);
  e = ReadExact("1. e4 {\\#\\x04unterminated escape \\");
  EXPECT_EQ(e.size(), 2u);
  e = ReadExact("1. e4 {\\@4k3/8/8/8/8/8/8/4K3 w");
  EXPECT_EQ(e.size(), 2u);  // the set-up line is read as far as it goes
  e = ReadExact("[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1", &complete);
  EXPECT_EQ(e.size(), 1u);
  e = ReadExact("1. e4 ; comment without line end");
  EXPECT_EQ(e.size(), 2u);
  e = ReadExact("1. e4 $");
  EXPECT_EQ(e.size(), 1u);
}

TEST_F(BadInput, StrayCloseAndMovesAfterTheResult) {
  EXPECT_EQ(ReadExact(") 1. e4 ) e5 ))").size(), 2u);
  bool complete = false;
  std::vector<Element> e = ReadExact("1. e4 e5 1-0 2. Nf3 Nc6", &complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(e.size(), 2u);
  EXPECT_EQ(ReadExact("1. e4 * e5").size(), 1u);
  // A result inside a variation does not end the game.
  EXPECT_EQ(ReadExact("1. e4 (1. d4 1-0) e5 0-1 Nf3").size(), 5u);
  // The next game's header ends the game.
  EXPECT_EQ(ReadExact("1. e4 e5\r\n[Event \"next\"]\r\n1. d4").size(), 2u);
}

TEST_F(BadInput, OneMegabyteComment) {
  std::string big;
  big.reserve(1 << 20);
  while (big.size() < (1 << 20)) big += "a long comment }{ line ";
  big.resize(1 << 20);
  std::string noBrace = big;
  for (char& c : noBrace) {
    if (c == '}' || c == '{') c = '-';
  }
  std::vector<Element> e = ReadExact("1. e4 {" + noBrace + "} e5");
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[1].bytes.size(), noBrace.size() + 1);
  // Written through the escaped form (it holds '}'), unterminated.
  std::vector<Element> direct = {e[0], e[1]};
  direct[1].bytes.assign(big.begin(), big.end());
  direct[1].bytes.insert(direct[1].bytes.begin(), 4);
  const std::string text = WriteElements(g_, direct);
  ExpectShortCrLfLines(text);
  EXPECT_EQ(Read(g_, text), direct);
  e = ReadExact("1. e4 {" + noBrace);
  EXPECT_EQ(e.size(), 2u);
}

TEST_F(BadInput, TruncatedAtEveryLength) {
  const std::vector<std::string> games =
      SplitGames(ReadFile(std::string(LUDREX_SHARED_DATA) + "/sample-games.pgn"));
  int done = 0;
  for (const std::string& game : games) {
    if (game.find('(') == std::string::npos || game.find('{') == std::string::npos) continue;
    const std::vector<Element> full = Read(g_, game);
    for (std::size_t n = 0; n <= game.size(); ++n) {
      const std::vector<Element> part = ReadExact(game.substr(0, n));
      // Whatever was read is the start of the full game, up to closing marks and cut texts.
      ASSERT_LE(CountKind(part, kElementMove), CountKind(full, kElementMove));
    }
    if (++done == 3) break;
  }
  EXPECT_EQ(done, 3);
}

TEST_F(BadInput, DeepNestingStops) {
  std::string text = "1. e4";
  for (int i = 0; i < 5000; ++i) text += " (";
  bool complete = true;
  const std::vector<Element> e = ReadExact(text, &complete);
  EXPECT_FALSE(complete);
  EXPECT_EQ(CountKind(e, kElementVariationStart), 1024);
}

TEST_F(BadInput, RandomBytesAndTokenSoup) {
  std::mt19937 rng(20240601);
  const char* tokens[] = {"e4",      "e5",         "Nf3",
                          "Nc6",     "d4",         "exd4",
                          "Bb5",     "a6",         "O-O",
                          "0-0-0",   "(",          ")",
                          "{c}",     "$3",         "!",
                          "??",      "1.",         "2...",
                          "--",      "Z0",         "e8=Q",
                          "1-0",     ";x\n",       "%\n",
                          "{",       "}",          "[FEN \"4k3/8/8/8/8/8/8/4K2R w K - 0 1\"]",
                          "\r\n",    "{\\#\\x09}", "{\\@8/8/8/8/8/8/8/8 w - - 0 1}",
                          "Kf1",     "Ke2",        "Rh8+",
                          "+-",      "=",          "b1=N",
                          "axb8=R#", "e2e4",       "[",
                          "\"",      "\\"};
  const int kTokens = int(sizeof tokens / sizeof tokens[0]);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int length = int(rng() % 120);
    if (round % 2) {
      for (int i = 0; i < length; ++i) text += char(rng() & 0xFF);
    } else {
      for (int i = 0; i < length / 3; ++i) {
        text += tokens[rng() % kTokens];
        text += (rng() % 4) ? " " : "";
      }
    }
    ReadExact(text);
    if (HasFailure()) {
      ADD_FAILURE() << "round " << round;
      return;
    }
  }
}

// Garbage element lists (any kind, squares, bytes, boards): the writer never fails, keeps its
// lines short, and its text reads back into nested elements.
TEST_F(BadInput, RandomElementsNeverBreakTheWriter) {
  std::mt19937 rng(11);
  for (int round = 0; round < 2000; ++round) {
    GameClear(g_);
    const int count = int(rng() % 40);
    for (int i = 0; i < count; ++i) {
      ChessElement e{};
      std::uint8_t bytes[40];
      std::int8_t board[128];
      e.kind = std::uint8_t(rng() % 7);
      e.piece = std::uint8_t(rng() % 8);
      e.from = std::uint8_t(rng() % 3 ? rng() & 0x77 : rng());
      e.to = std::uint8_t(rng() % 3 ? rng() & 0x77 : rng());
      e.count = rng() % 40;
      for (std::uint8_t& b : bytes) b = std::uint8_t(rng());
      for (std::int8_t& b : board) b = std::int8_t(rng() % 3 ? 0 : int(rng() % 15) - 7);
      e.bytes = bytes;
      e.board = board;
      e.state = rng();
      GameAppend(g_, &e);
    }
    GameFinish(g_);
    const std::string text = Write(g_);
    ExpectShortCrLfLines(text);
    ReadExact(text);
    if (HasFailure()) {
      ADD_FAILURE() << "round " << round << "\n" << text;
      return;
    }
  }
}

// Random legal games with variations and annotations of every type: written and read back,
// they give the same elements (this exercises SAN disambiguation, promotions, castling and
// en passant far more than the hand-made cases).
TEST_F(BadInput, RandomLegalGamesRoundTrip) {
  using namespace chess;
  std::mt19937 rng(7);
  std::vector<Element> elements;
  auto add = [&](int kind, int piece = 0, int from = 0, int to = 0) {
    Element e;
    e.kind = kind;
    e.piece = piece;
    e.from = from;
    e.to = to;
    elements.push_back(e);
  };
  auto annotate = [&] {
    static const char* const kNotes[] = {"\x02$1", "\x02$14",          "\x04short", "\x03$22",
                                         "\x09",   "\x04with } brace", "\x02$4"};
    Element e;
    e.kind = kElementAnnotation;
    const std::string s = kNotes[rng() % 7];
    e.bytes.assign(s.begin(), s.end());
    elements.push_back(e);
  };
  // Plays up to plies random legal moves from pos; at some moves opens a variation that
  // replaces it.
  std::function<void(Position, int, int)> line = [&](Position pos, int plies, int depth) {
    Position before = pos;
    bool any = false;
    for (int i = 0; i < plies; ++i) {
      Move list[kMaxMoves];
      const int n = GenerateLegal(pos, list);
      if (n == 0) return;
      if (any && depth < 3 && rng() % 12 == 0) {
        add(kElementVariationStart);
        line(before, 1 + int(rng() % 6), depth + 1);
        add(kElementVariationEnd);
      }
      const Move m = list[rng() % n];
      const int piece = m.GetKind() == Move::kPromotion ? m.Promotion() : TypeOf(pos.At(m.From()));
      add(kElementMove, piece, To88(m.From()), To88(m.To()));
      if (rng() % 10 == 0) annotate();
      before = pos;
      pos.Play(m);
      any = true;
    }
  };
  for (int game = 0; game < 200; ++game) {
    elements.clear();
    if (game % 5 == 0) annotate();
    line(Position::Start(), 60 + int(rng() % 200), 0);
    const std::string text = WriteElements(g_, elements);
    ExpectShortCrLfLines(text);
    bool complete = false;
    ASSERT_EQ(Read(g_, text, &complete), elements) << text;
    EXPECT_TRUE(complete);
  }
}

}  // namespace
}  // namespace ludrex::testing
