// The field-type catalogue: type codes, criterion codes, subtypes, the 23 standard meanings with
// the (type, subtype) pairs each allows, field flags, and the "~m" packing of meanings in names.
#pragma once

#include <cstdint>

#include "storage/string.h"

namespace ludrex {

// Field type codes. A code with kCriterionBit set is the search criterion for that type.
enum FieldType : std::int32_t {
  kLibRefType = 0,
  kStringType = 1,
  kIntType = 2,
  kDateType = 3,
  kChessType = 4,
  kResultType = 5,
  kRoundType = 6,
  kEcoType = 7,
  kSexType = 8,
};
constexpr std::int32_t kFieldTypeCount = 9;
constexpr std::int32_t kCriterionBit = 0x10000;

// Field flags.
constexpr std::uint32_t kFlagIndexOnly = 1;   // library field: keep only the record number
constexpr std::uint32_t kFlagKey = 2;         // the record's key field
constexpr std::uint32_t kFlagDescending = 4;  // sort key bytes complemented
constexpr std::uint32_t kFlagRawGame = 8;     // game-score field keeps native bytes undecoded

constexpr std::int32_t kMeaningCount = 23;

// Standard meanings used by the code.
enum Meaning : std::int32_t {
  kMeaningOther = 0,
  kMeaningWhite = 1,
  kMeaningBlack = 2,
  kMeaningName = 3,
  kMeaningPlace = 11,
  kMeaningCity = 12,
  kMeaningTournament = 16,
  kMeaningRemark = 19,
  kMeaningAnnotator = 20,
  kMeaningSource = 21,
  kMeaningMoves = 22,
};

// The type code without the criterion bit.
inline std::int32_t LowTypeCode(std::int32_t code) { return code & ~kCriterionBit; }
// Raises 801 unless the low part of code names a field type.
void CheckFieldType(std::int32_t code);

// The type name of a code ("<name> criterion" for criterion codes); raises 801 for an unknown one.
String FieldTypeName(std::int32_t code);
// Number of subtypes: 6 for integers, 3 for dates, 0 otherwise (criterion codes too).
std::int32_t FieldSubtypeCount(std::int32_t code);
// Name (message text) and Param text of subtype k; k outside the subtypes raises 801.
String FieldSubtypeName(std::int32_t code, std::int32_t k);
const char* FieldSubtypeParam(std::int32_t code, std::int32_t k);
// Subtype index of a Param text (compared after folding a-z to upper case); 0 when unknown.
std::int32_t FieldSubtypeOf(std::int32_t code, const String& param);

// Meaning names and pairs; a meaning outside 0..22 raises 814, a pair index outside the
// meaning's pairs 815.
String MeaningName(std::int32_t meaning);
std::int32_t MeaningPairCount(std::int32_t meaning);
std::int32_t MeaningPairType(std::int32_t meaning, std::int32_t k);
std::int32_t MeaningPairSubtype(std::int32_t meaning, std::int32_t k);

// "~m" for a standard meaning m != 0, else the user's name.
String PackMeaningName(std::int32_t meaning, const String& name);
// The meaning carried by a field name: the number after a leading "~", else 0.
std::int32_t UnpackFieldMeaning(const String& packed);
// The user's part of a field name: empty for a "~m" name, else the name itself.
String UnpackFieldName(const String& packed);

// Reads a decimal number the way meaning numbers are read: leading blanks skipped, an optional
// sign, digits up to the first non-digit; 0 without digits. Never reads past n characters.
std::int32_t ReadDecimal(const char* text, std::int32_t n);

}  // namespace ludrex
