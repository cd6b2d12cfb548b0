// ChessField: the game-score field (type 4). This unit gives it its place in the field interface
// and the factory, and its raw mode (flag 8), in which it keeps the native bytes of a game as
// they were read. The game container, the native and DOS move codecs and the PGN hand-over are
// the game-score unit's; until they are in, the field keeps native bytes as they come in either
// mode, and the operations that need a decoded game report 805.
#pragma once

#include <cstdint>

#include "record/field.h"

namespace ludrex {

class ChessField : public Field {
 public:
  explicit ChessField(const FieldSpec& spec) : Field(spec), raw_(1) {}
  void Assign(const Field& other) override;
  int IsEmpty() const override { return raw_.Count() == 0; }
  void SetEmpty() override { raw_.Clear(); }
  // The native bytes followed by 0x00 (raw mode: the bytes alone for PutKey), complemented
  // when descending.
  ByteBlock GetKey() const override;
  std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const override;
  // 0 when both games have the same bytes, else -1 (a game-score comparison never gives 1).
  int CompareTo(const Field& other) const override;
  String ToText() const override;
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;

  bool RawMode() const { return (spec_.flags & kFlagRawGame) != 0; }
  const std::uint8_t* RawBytes() const { return raw_.Data(); }
  std::int32_t RawLength() const { return raw_.Count(); }
  // Set-up test of raw bytes: 1 when they begin with a set-up position (0xE6).
  int RawHasSetup() const { return raw_.Count() > 0 && raw_.Data()[0] == 0xE6 ? 1 : 0; }

 private:
  ByteBlock raw_;  // grows to the largest game seen and keeps that room
};

}  // namespace ludrex
