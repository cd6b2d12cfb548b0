// The game-score criterion: the settings of the position matcher, their packed form, and the
// prepared copy the matcher works from (made again whenever the settings that shape it change).
#pragma once

#include <cstdint>
#include <memory>

#include "search/criteria.h"
#include "search/position_match.h"

namespace ludrex {

class ChessFieldCrit : public FieldCrit {
 public:
  explicit ChessFieldCrit(const FieldSpec& spec);
  void Assign(const Field& other) override;
  void SetEmpty() override;
  void* GetBody() override { return &s_; }

  // The settings to change: the prepared copy is made again on next use.
  PositionSettings& Settings() {
    prepared_.reset();
    return s_;
  }
  const PositionSettings& Settings() const { return s_; }
  // Makes the matcher's copy of the current settings (also recomputes game conditions on).
  void Prepare();
  // The prepared settings; prepared again when the settings were handed out for change since.
  const PreparedPosition& Prepared() const;

  // Whether the game conditions apply (a length range, minimum variations, a comment flag).
  static std::int32_t ConditionsOn(const PositionSettings& s);

 protected:
  void PackNative(ByteBlock& out) override;
  void UnpackNative(const std::uint8_t* bytes, std::int32_t length) override;

 private:
  PositionSettings s_;
  mutable std::unique_ptr<PreparedPosition> prepared_;
};

// Installs the game-score criterion in the criterion factory and its test (Matches) in the field
// layer.
void InstallChessCriterion();

// Matches a game-score field against a game-score criterion, setting the field's match position.
int MatchChessField(const Field& field, const ChessFieldCrit& criterion);

}  // namespace ludrex
