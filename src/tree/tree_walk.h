// Walking a per-base tree: the trie search for a position criterion (the places where the
// position stands on the board, with the run of index entries under each) and the position
// statistics built on it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace ludrex {

class Array;
class Base;
class Game;
class PreparedPosition;
class Subset;

namespace tree {

// Search options.
constexpr int kFirstPlaceOnly = 1;
constexpr int kSkipBelowMatch = 4;  // after a match, jump to the next sibling
constexpr int kRecordLines = 8;

struct TriePlace {
  std::int32_t indexPosition = 0;  // the first index entry of the games under the place
  std::int32_t games = 0;          // how many entries
  std::vector<std::uint8_t> line;  // the move codes leading there (with kRecordLines)
  bool hasMovesBelow = false;      // a move code follows the place in the stream
};

// The trie search over the data file (from offset 132) for criterion. totalGames is the
// number of index entries. Raises 1020 (through TBException, caught here and reported) on a
// damaged stream.
std::vector<TriePlace> TrieSearch(Array& data, std::int32_t totalGames,
                                  const PreparedPosition& criterion, int options);

// One line of position statistics: the line as a game of the move generator (owned), and the
// four result counters.
struct PositionStat {
  Game* line = nullptr;
  std::array<std::uint32_t, 4> counters{};
};

// The statistics of the games of in that reach the position (board, 128 bytes, and value: the
// side mask, 1 White to move, 2 Black, 0 or 3 either), one per distinct line; the games found go
// into out. False when the base has no usable tree.
bool TreePositionStats(Base& base, Subset* in, Subset* out, const std::int8_t* board,
                       std::int32_t value, std::vector<PositionStat>& stats);

}  // namespace tree
}  // namespace ludrex
