// The duplicate finder: reduces every candidate game (the members of one subset, or of two
// subsets of two bases) to a key of chosen header fields and a stretch of its main-line moves,
// sorts the keys with the KeySorter and turns runs of equal keys into groups; then chooses the
// best game of each group by a weighted score.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "storage/array.h"

namespace ludrex {

class Base;
class RecordPattern;
class Subset;

// What the host's CopyManParams block says.
struct CopyManSettings {
  std::int32_t minPlies = 0;  // a game takes part only with more main-line plies than this
  std::int32_t firstPly = 0;  // plies 1 .. firstPly stay out of the key
  std::int32_t lastPly = 0x7FFFFFFF;  // plies after this stay out of the key
  bool prefix = false;
  bool annotations = false;
  std::int32_t fromEnd = 0;  // nonzero: the last ply is the main-line length minus this
  std::uint8_t preferred = 0;
};

// Walks native game-score bytes. Appends the bytes of the main-line moves whose ply p satisfies
// first < p <= last (last from the settings, or from the main-line length and fromEnd) to moves
// and, with the annotations flag, the variation marks, annotation items and texts to notes (notes
// may be null without the flag). Returns the number of main-line plies. Never reads outside
// bytes[0, n): a code cut short ends the walk.
std::int32_t WalkGameScore(const std::uint8_t* bytes, std::int32_t n, const CopyManSettings& s,
                           std::vector<std::uint8_t>& moves, std::vector<std::uint8_t>* notes);

// Main-line plies and the annotation measure (2^24 per variation opened, 1 per two-byte item, 2
// per three-byte item, length + 1 per short text, length + 4 per long text) of native bytes.
struct GameScoreStats {
  std::int32_t plies = 0;
  std::uint64_t annotation = 0;
};
GameScoreStats GameStats(const std::uint8_t* bytes, std::int32_t n);

// Whether the key b joins the group of the key a just before it in key order: equal, or, in
// prefix mode, a no longer than b and a prefix of it.
bool KeysJoin(const std::uint8_t* a, std::int32_t na, const std::uint8_t* b, std::int32_t nb,
              bool prefix);

class CopyMan {
 public:
  // Finds the duplicates; base2/subset2 null for one base. Null when the host refused to go on
  // for lack of space or stopped a pass (the partial result and its work files are gone).
  static std::unique_ptr<CopyMan> Find(Base* base1, Subset* subset1, Base* base2, Subset* subset2,
                                       const RecordPattern& pattern, const CopyManSettings& s);
  ~CopyMan();
  CopyMan(const CopyMan&) = delete;
  CopyMan& operator=(const CopyMan&) = delete;

  std::int32_t Groups() const { return static_cast<std::int32_t>(starts_.size()); }
  // -1 for g out of range.
  std::int32_t ElementsInGroup(std::int32_t g) const;
  // -1 for g or e out of range.
  std::int32_t GetElement(std::int32_t g, std::int32_t e);
  std::int32_t Members() const { return members_; }
  // Writes the index of each group's best game to out[g]; criteria are four signed bytes. 0 when
  // there are no groups or the host stopped it, else 1.
  std::int32_t SelectBest(std::int32_t* out, const std::int8_t* criteria);

  // The candidate count of the first subset (element numbers of the second start there).
  std::int32_t FirstLength() const { return length1_; }

 private:
  CopyMan() = default;
  // Appends element number to the members list at position at.
  void PutMember(std::int32_t at, std::uint32_t number);

  Base* bases_[2] = {nullptr, nullptr};
  Subset* subsets_[2] = {nullptr, nullptr};
  std::int32_t length1_ = 0;
  std::int32_t total_ = 0;
  CopyManSettings settings_;
  ArrayHandle list_;  // the members list: element numbers, group after group
  std::int32_t members_ = 0;
  std::vector<std::int32_t> starts_;  // position of each group's first element
  // Element number -> position in the members list, for every grouped element; in number order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> positions_;
};

}  // namespace ludrex
