// The position matcher behind the game-score criterion: the settings a host gives (square masks,
// regions with material ranges, side to move, game conditions, annotation texts, the event list,
// material difference, mirrors, bishops) and the replay that decides whether a game matches and
// at which element.
//
// A game is fed to a GameMatch element by element (moves, variation marks, annotations, a set-up
// position), from a game of the move generator or straight from native bytes; Feed returns false
// once the outcome is decided, so the caller can stop decoding (the early stop when the position
// can no longer arise: pawns never go back).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ludrex {

class Game;

// The one-bit code of what stands on a square: 0x8000 empty; a White piece of kind k (1 pawn ..
// 6 king) 0x4000 >> k; a Black piece 0x40 >> k.
constexpr std::uint32_t kEmptySquareCode = 0x8000;
inline std::uint32_t SquareCode(int value) {
  return value > 0 ? 0x4000u >> value : value < 0 ? 0x40u >> -value : kEmptySquareCode;
}

struct TextCommentEntry {
  std::string prefix;  // bytes the annotation must begin with (empty: any)
  std::string info;    // what the rest must equal, begin with or contain
  bool hasPrefix = false;
  bool hasInfo = false;
  std::uint8_t searchType = 1;  // 0 equal, 1 begins with, 2 contains
  std::int32_t caseSensitive = 0;
};

struct PositionSettings {
  std::int32_t sideMask = 3;  // 1 White to move, 2 Black to move, 3 either
  std::int32_t includeVariations = 0;
  std::int32_t positionOn = 0;
  std::uint32_t squareMasks[128] = {};
  std::int32_t regionsOn = 0;
  std::int32_t regionFlag = 0;
  std::uint32_t regionMasks[128] = {};  // bit g puts the square into region g (0-3)
  // Per region 14 (maximum, minimum) pairs: 0-5 White pawns..kings, 6 all White, 7-12 Black
  // pawns..kings, 13 all Black.
  std::int32_t material[4][14][2] = {};
  std::int32_t gameConditionsOn = 0;  // computed by Prepare
  std::int32_t textCommentsOn = 0;
  std::vector<TextCommentEntry> textComments;
  std::vector<std::pair<std::int32_t, std::int32_t>> lengths;  // (lower, upper) in moves
  std::int32_t minVariations = 0;
  std::int32_t setupStart = 0;
  std::int32_t commentFlag = 0;
  std::int32_t anyComment = 0;
  std::int32_t eventListOn = 0;
  std::vector<std::uint8_t> eventList;  // the block, its first 32-bit value its byte length
  std::int32_t eventFlag = 0;
  std::int32_t matDiffOn = 0;
  std::int32_t matMin[6] = {};  // 0x80000000: the measure is not tested
  std::int32_t matMax[6] = {};
  std::int32_t persistence = 0;
  std::uint32_t countRange = 0;  // low 16 bits least pieces, high 16 most (0: exactly the low)
  std::int32_t mirrorOn = 0;
  std::int32_t mirrorValue = 0;
  std::int32_t bishopsOn = 0;
  std::int32_t bishopsKind = 0;  // 1 same-coloured, 0 opposite-coloured
};

// Settings made ready for matching: masks off the board cleared, the required count, the start
// position's square and region counts, the pawn profile, the parsed event list, mirrored copies.
class PreparedPosition {
 public:
  explicit PreparedPosition(const PositionSettings& settings);
  const PositionSettings& settings() const { return s_; }
  // True when only the game conditions apply (no position, regions, event list or material
  // difference).
  bool ConditionsOnly() const;

  // The position test on a board alone (square masks, side to move, material regions and
  // bishops; the conditions that need a game's history are left out): side 0 White to move.
  bool TestBoard(const std::int8_t* board, int side) const;
  // True when the position can no longer arise from a position with this board (the pawn
  // profile of the board is below the criterion's somewhere).
  bool CannotArise(const std::int8_t* board) const;

  struct Event {
    std::uint8_t square;
    bool departure;
    bool flagged;      // bit 22: bit 20 is compared with the event's flag
    bool flagValue;    // bit 20
    std::int32_t limit;  // half-moves allowed since the previous event, -1 none
    std::uint32_t mask;  // square codes
  };
  struct Chain {
    std::vector<Event> events;
  };

 private:
  friend class GameMatch;
  void Prepare();
  void ParseEvents();

  PositionSettings s_;
  std::int32_t required_ = 0;
  std::uint8_t profile_[2][32] = {};  // the criterion's pawn profile (side, file * 4 + level)
  bool profileOn_ = false;
  std::vector<Chain> chains_;
  std::vector<std::pair<std::int32_t, std::int32_t>> connectives_;  // (chain, 1 AND / 0 OR)
  bool eventsValid_ = false;
  std::vector<std::unique_ptr<PreparedPosition>> mirrors_;
};

// The per-game state of matching one prepared criterion (and its mirrored copies).
class GameMatch {
 public:
  explicit GameMatch(const PreparedPosition& criterion);
  ~GameMatch();
  GameMatch(const GameMatch&) = delete;
  GameMatch& operator=(const GameMatch&) = delete;

  // Starts a game. setupBoard null: the standard start position; otherwise the 128-byte board
  // and state word of a set-up position that the game begins with (its first element).
  void Begin(const std::int8_t* setupBoard, std::uint32_t setupState);
  // One move: from, to (0x88; 0xFF both for a null move) and the kind of the piece after the
  // move. Castling is a king's step of two files, en passant a pawn's diagonal step onto an
  // empty square. Returns false once the outcome is decided.
  bool Move(std::uint8_t from, std::uint8_t to, std::uint8_t pieceAfter);
  bool VariationStart();
  bool VariationEnd();
  // An annotation's bytes (its type byte first).
  bool Annotation(const std::uint8_t* bytes, std::int32_t n);
  // Ends the game: whether it matches, and the match position number (-1 without a match).
  bool Finish(std::int32_t* matchPosition);

 private:
  struct Side;
  std::vector<std::unique_ptr<Side>> sides_;  // the criterion, then its mirrored copies
  const PreparedPosition& criterion_;
  // Game conditions, counted once for all copies.
  std::int32_t elements_ = 0;
  std::int32_t mainPlies_ = 0;
  std::int32_t mainVariations_ = 0;
  std::int32_t annotations_ = 0;
  std::int32_t depth_ = 0;
  bool setup_ = false;
  bool textMatched_ = false;
  std::int32_t textPosition_ = -1;
  bool decided_ = false;
};

// Matches a whole game of the move generator.
bool MatchGame(const PreparedPosition& criterion, Game* game, std::int32_t* matchPosition);

// Matches native game-score bytes code by code without building a game.
bool MatchNativeBytes(const PreparedPosition& criterion, const std::uint8_t* bytes,
                      std::int32_t length, std::int32_t* matchPosition);

}  // namespace ludrex
