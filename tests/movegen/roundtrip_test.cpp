// Every game of the shared data files reads completely, and read, write, read again gives the
// same elements.
#include <gtest/gtest.h>

#include "game_helpers.h"

namespace ludrex::testing {
namespace {

void RoundTripFile(const char* name, std::size_t expectedGames) {
  const std::string file = ReadFile(std::string(LUDREX_SHARED_DATA) + "/" + name);
  ASSERT_FALSE(file.empty()) << name;
  const std::vector<std::string> games = SplitGames(file);
  EXPECT_EQ(games.size(), expectedGames);
  Game* g = GameCreate(0);
  std::size_t moves = 0, annotations = 0, variations = 0;
  for (std::size_t i = 0; i < games.size(); ++i) {
    bool complete = false;
    const std::vector<Element> first = Read(g, games[i], &complete);
    ASSERT_TRUE(complete) << name << " game " << i << ":\n" << games[i];
    ASSERT_FALSE(first.empty()) << name << " game " << i;
    for (const Element& e : first) {
      moves += e.kind == kElementMove;
      annotations += e.kind == kElementAnnotation;
      variations += e.kind == kElementVariationStart;
    }
    const std::string text = Write(g);
    ExpectShortCrLfLines(text);
    bool again = false;
    const std::vector<Element> second = Read(g, text, &again);
    EXPECT_TRUE(again) << text;
    ASSERT_EQ(first, second) << name << " game " << i << "\n" << games[i] << "\n---\n" << text;
    // Stored in a game text and given back to the reader, it still reads the same.
    ASSERT_EQ(Read(g, ThroughGameText(text)), first) << text;
  }
  GameDestroy(g);
  EXPECT_GT(moves, expectedGames);
  if (std::string(name) == "sample-games.pgn") {
    EXPECT_GT(annotations, 1000u);
    EXPECT_GT(variations, 500u);
  }
}

TEST(RoundTrip, EcoOpeningLines) { RoundTripFile("eco.pgn", 2014); }
TEST(RoundTrip, SampleGames) { RoundTripFile("sample-games.pgn", 600); }

}  // namespace
}  // namespace ludrex::testing
