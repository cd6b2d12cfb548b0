// The inside of a Game: the element list and the byte pool that holds annotation bytes and
// set-up boards. Only the container and the PGN reader and writer use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "movegen/game.h"
#include "movegen/position.h"

namespace ludrex {

struct StoredElement {
  std::uint8_t kind;
  std::uint8_t piece;
  std::uint8_t from;
  std::uint8_t to;
  std::uint32_t count;   // annotation bytes
  std::uint32_t state;   // set-up state word
  std::uint32_t offset;  // into the pool: annotation bytes or the 128-byte board
};

// One open variation level of the reader or writer: the positions before and after the last
// move of the line that the variation branches from.
struct VariationLevel {
  chess::Position before;
  chess::Position current;
  bool brokenBefore;
  bool broken;
};

// One open variation level of the reader: the position after the last move of the line the
// variation branches from, and how to take that move back.
struct ReadLevel {
  chess::Position current;
  chess::Undo undo;
  bool hasLast;
};

class Game {
 public:
  void Clear() {
    elements.clear();
    pool.clear();
    cursor = 0;
  }
  void AddMark(std::uint8_t kind) { elements.push_back({kind, 0, 0, 0, 0, 0, 0}); }
  void AddMove(std::uint8_t piece, std::uint8_t from, std::uint8_t to) {
    elements.push_back({kElementMove, piece, from, to, 0, 0, 0});
  }
  // Starts an annotation whose bytes the caller then appends to the pool; EndAnnotation fixes
  // its count.
  void BeginAnnotation() { elements.push_back({kElementAnnotation, 0, 0, 0, 0, 0, PoolOffset()}); }
  void EndAnnotation() {
    StoredElement& e = elements.back();
    if (pool.size() > kMaxPool) {  // keeps offsets and counts in 32 bits
      pool.resize(e.offset);
      throw std::length_error("game annotations exceed 4 GB");
    }
    e.count = std::uint32_t(pool.size() - e.offset);
  }
  std::uint32_t PoolOffset() const { return std::uint32_t(pool.size()); }
  static constexpr std::size_t kMaxPool = 0xFFFFFFF0u;
  // The bytes may lie in this game's own pool (an element copied from the same game).
  void AddAnnotation(const std::uint8_t* bytes, std::size_t n) {
    if (n && bytes && InPool(bytes)) {
      const std::vector<std::uint8_t> copy(bytes, bytes + n);
      AddAnnotation(copy.data(), n);
      return;
    }
    BeginAnnotation();
    if (n && bytes) pool.insert(pool.end(), bytes, bytes + n);
    EndAnnotation();
  }
  void AddSetup(const std::int8_t* board, std::uint32_t state) {
    std::uint8_t copy[128] = {};
    if (board) std::memcpy(copy, board, 128);
    if (pool.size() + 128 > kMaxPool) throw std::length_error("game annotations exceed 4 GB");
    elements.push_back({kElementSetup, 0, 0, 0, 0, state, PoolOffset()});
    pool.insert(pool.end(), copy, copy + 128);
  }
  bool InPool(const std::uint8_t* p) const {
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t lo = reinterpret_cast<std::uintptr_t>(pool.data());
    return a >= lo && a < lo + pool.size();
  }

  std::vector<StoredElement> elements;
  std::vector<std::uint8_t> pool;
  std::size_t cursor = 0;
  std::string text;                    // the last GameWritePgn result
  std::vector<VariationLevel> levels;  // scratch of the writer
  std::vector<ReadLevel> readLevels;   // scratch of the reader
};

}  // namespace ludrex
