// ChessField: the game-score field (type 4). The value is a game of the move-generator component
// (created with the field, destroyed with it). In raw mode (flag 8) the field instead keeps the
// native bytes of a game as they were read, without decoding them: packing, the keys and the
// set-up test then work on those bytes and the game stays empty.
#pragma once

#include <cstdint>

#include "movegen/game.h"
#include "record/field.h"

namespace ludrex {

class ChessField : public Field {
 public:
  explicit ChessField(const FieldSpec& spec);
  ~ChessField() override;

  // Copies every element of another game-score field (and its raw bytes); another type: 803.
  void Assign(const Field& other) override;
  // 1 when the game has no element (raw mode: when there are no raw bytes).
  int IsEmpty() const override;
  void SetEmpty() override;
  // The native bytes followed by 0x00 (raw mode: the raw bytes), complemented when descending.
  ByteBlock GetKey() const override;
  // The same bytes into out, without the 0x00 in raw mode; minus the needed length when room is
  // too small.
  std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const override;
  // Compares the main lines (variations skipped, annotations ignored): 0 when they agree to the
  // end, else -1 (never 1). The end of a game compares as a null move.
  int CompareTo(const Field& other) const override;
  // The main line as "1. Pe2-e4 Pe7-e5 "; an element that is not a move replaces the text so
  // far by "Error".
  String ToText() const override;
  // The game handle.
  void* GetBody() override { return game_; }
  std::int32_t GetBodySize() const override { return 0; }
  // Base type 0: the native encoding (raw mode: the raw bytes); 2: the PGN move text; other base
  // types: 805 (901 for 7 and above).
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  // Clears the game, then decodes: 0 native (raw mode: keeps the bytes), 1 DOS, 2 PGN move text;
  // 3, 4 and 5: 805. The game is finished on every path, also when decoding fails.
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;

  // Native bytes tested against game-score criteria code by code, without building the game
  // (the value is left as it was); otherwise Unpack, then Matches.
  int UnpackAndTest(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                    const String& param) override;

  Game* GetGame() const { return game_; }
  // False when the last PGN move text given to Unpack could not be read to its end (the game
  // holds the moves before the first one the reader could not resolve).
  bool ReadToEnd() const { return readToEnd_; }
  bool RawMode() const { return (spec_.flags & kFlagRawGame) != 0; }
  const std::uint8_t* RawBytes() const { return raw_.Data(); }
  std::int32_t RawLength() const { return raw_.Count(); }
  // 1 when the value begins with a set-up position (raw mode: the bytes begin with 0xE6).
  int HasSetup() const;
  int RawHasSetup() const { return raw_.Count() > 0 && raw_.Data()[0] == 0xE6 ? 1 : 0; }

  // The last position match (set by the position search): its ply (-1 when none) and counters.
  std::int32_t matchPly_ = -1;
  std::int32_t matchCount_ = 0;
  std::int32_t matchTotal_ = 0;

 private:
  // The native bytes of the value into out (raw mode: the raw bytes).
  void NativeBytes(ByteBlock& out) const;
  // The game to read: the field's own, or in raw mode the raw bytes decoded into a scratch game.
  Game* ReadableGame() const;

  Game* game_;
  bool readToEnd_ = true;
  mutable Game* scratch_ = nullptr;
  ByteBlock raw_;               // grows to the largest game seen and keeps that room
  mutable ByteBlock keyBytes_;  // scratch of the keys
};

}  // namespace ludrex
