// The statistics store of the direct tree: for each position key, the moves played from it with
// four result counters each, and the texts of games attached to it. It is written through a
// keyed store in raw mode (qv_store.h: the same bounded-memory build with sorted runs) under the
// name given with ".dte"/".dth" appended, and read back by key.
//
// A value is a run of items, each a 32-bit header (kind in bits 24-31: 1 a move, 2 a game; the
// item's byte length in bits 0-23) followed by its bytes padded to 4: a move item holds the
// caller's move record (the move in the move generator's form followed by four little-endian
// 32-bit counters, kStatMoveRecord bytes); a game item two texts, each a 16-bit length and its
// bytes. Items from several visits of one position follow one another; the reader sums the
// counters of equal moves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ludrex::qv {

class QvStore;

// A move record: 20 bytes of move, then the four counters.
constexpr std::size_t kStatMoveBytes = 20;
constexpr std::size_t kStatMoveRecord = kStatMoveBytes + 16;

class QvStat;

// Creates the store at name (the base's path without extension); storeBudget bounds the memory
// of the build; withGames keeps the game texts. Null when the files cannot be made.
QvStat* QvStatCreate(const char* name, std::uint32_t storeBudget, std::uint8_t withGames);
// Makes the position of key current (board: the caller's 128-byte board, not stored).
bool QvStatPosition(QvStat* stat, const std::uint8_t* key, std::size_t length,
                    const std::int8_t* board);
// Adds one move out of the current position with its four counters (kStatMoveRecord bytes).
bool QvStatAdd(QvStat* stat, const std::uint8_t* record);
// Attaches the two texts of one game to the current position (ignored without game texts).
bool QvStatAddGame(QvStat* stat, const char* first, const char* second);
// Writes the store; false when writing failed (nothing is left behind then).
bool QvStatClose(QvStat* stat);

// Reading: the store at name, or null when it is missing or damaged.
class QvStatReader {
 public:
  static QvStatReader* Open(const char* name, std::uint32_t cacheBytes);
  ~QvStatReader();
  // Looks a position up: the number of its moves (0 when absent). Moves and games stay
  // readable until the next lookup.
  std::int32_t Lookup(const std::uint8_t* key, std::size_t length);
  std::int32_t MoveCount() const { return static_cast<std::int32_t>(moves_.size()); }
  // The move record i (kStatMoveRecord bytes), counters summed over the visits.
  const std::uint8_t* Move(std::int32_t i) const;
  std::int32_t GameCount() const { return static_cast<std::int32_t>(games_.size()); }
  const std::pair<std::string, std::string>& Game(std::int32_t i) const { return games_[static_cast<std::size_t>(i)]; }
  std::uint32_t PositionCount() const;
  // True when a lookup met damaged bytes.
  bool Damaged() const;

 private:
  QvStatReader() = default;
  QvStore* store_ = nullptr;
  std::vector<std::vector<std::uint8_t>> moves_;
  std::vector<std::pair<std::string, std::string>> games_;
  bool damaged_ = false;
};

}  // namespace ludrex::qv
