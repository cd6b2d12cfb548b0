#include "record/field_types.h"

#include <cstring>

#include "frame/error.h"

namespace ludrex {
namespace {

constexpr std::uint32_t kTypeNameMessage = 840;
constexpr std::uint32_t kMeaningNameMessage = 817;
constexpr std::uint32_t kIntSubtypeMessage = 849;
constexpr std::uint32_t kDateSubtypeMessage = 855;

constexpr const char* kIntParams[6] = {"1", "1u", "2", "2u", "4", "4u"};
constexpr const char* kDateParams[3] = {"Y", "YM", "F"};

struct Pair {
  std::int8_t type;
  std::int8_t subtype;
};
struct PairList {
  std::int8_t count;
  Pair pairs[2];
};

// Pairs of meanings 1..22; meaning 0 is built from the subtype counts.
constexpr Pair kLibOrString[2] = {{0, 0}, {1, 0}};
const PairList kPairs[kMeaningCount] = {
    {0, {}},                                  // 0: built from the subtypes
    {2, {kLibOrString[0], kLibOrString[1]}},  // 1 White
    {2, {kLibOrString[0], kLibOrString[1]}},  // 2 Black
    {1, {{1, 0}}},                            // 3 Name
    {2, {{3, 0}, {3, 2}}},                    // 4 Birth date
    {1, {{2, 3}}},                            // 5 Elo
    {1, {{8, 0}}},                            // 6 Sex
    {1, {{1, 0}}},                            // 7 Title
    {1, {{2, 5}}},                            // 8 FIDE ID
    {1, {{2, 3}}},                            // 9 White Elo
    {1, {{2, 3}}},                            // 10 Black Elo
    {2, {kLibOrString[0], kLibOrString[1]}},  // 11 Place
    {1, {{1, 0}}},                            // 12 City
    {1, {{1, 0}}},                            // 13 Country
    {1, {{5, 0}}},                            // 14 Result
    {0, {}},                                  // 15 Date: three pairs, below
    {2, {kLibOrString[0], kLibOrString[1]}},  // 16 Tournament
    {1, {{6, 0}}},                            // 17 Round
    {1, {{7, 0}}},                            // 18 ECO
    {2, {kLibOrString[0], kLibOrString[1]}},  // 19 Remark
    {2, {kLibOrString[0], kLibOrString[1]}},  // 20 Annotator
    {2, {kLibOrString[0], kLibOrString[1]}},  // 21 Source
    {1, {{4, 0}}},                            // 22 Moves
};

void CheckMeaning(std::int32_t m) {
  if (m < 0 || m >= kMeaningCount) Raise(814);
}

Pair PairOf(std::int32_t m, std::int32_t k) {
  CheckMeaning(m);
  if (k < 0 || k >= MeaningPairCount(m)) Raise(815);
  if (m == 0) {
    // Pair k belongs to the first type whose running subtype total exceeds k.
    std::int32_t before = 0;
    for (std::int32_t t = 0; t < kFieldTypeCount; ++t) {
      std::int32_t n = FieldSubtypeCount(t);
      if (k < before + n)
        return {static_cast<std::int8_t>(t), static_cast<std::int8_t>(k - before)};
      before += n;
    }
    Raise(815);
  }
  if (m == 15) return {3, static_cast<std::int8_t>(k)};
  return kPairs[m].pairs[k];
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool EqualsFolded(const String& s, const char* t) {
  std::size_t n = std::strlen(t);
  if (s.Length() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (Upper(s.Text()[i]) != Upper(t[i])) return false;
  }
  return true;
}

}  // namespace

void CheckFieldType(std::int32_t code) {
  std::int32_t low = LowTypeCode(code);
  if (low < 0 || low >= kFieldTypeCount) Raise(801);
}

String FieldTypeName(std::int32_t code) {
  CheckFieldType(code);
  String name = MessageText(kTypeNameMessage + static_cast<std::uint32_t>(LowTypeCode(code)));
  if ((code & kCriterionBit) == 0) return name;
  String tail(" criterion");
  String out = String::Copy(name.Text(), name.Length());
  out.Insert(out.Length(), tail, 0, tail.Length());
  return out;
}

std::int32_t FieldSubtypeCount(std::int32_t code) {
  if (code == kIntType) return 6;
  if (code == kDateType) return 3;
  return 0;
}

String FieldSubtypeName(std::int32_t code, std::int32_t k) {
  if (k < 0 || k >= FieldSubtypeCount(code)) Raise(801);
  std::uint32_t base = code == kIntType ? kIntSubtypeMessage : kDateSubtypeMessage;
  return MessageText(base + static_cast<std::uint32_t>(k));
}

const char* FieldSubtypeParam(std::int32_t code, std::int32_t k) {
  if (k < 0 || k >= FieldSubtypeCount(code)) Raise(801);
  return code == kIntType ? kIntParams[k] : kDateParams[k];
}

std::int32_t FieldSubtypeOf(std::int32_t code, const String& param) {
  std::int32_t n = FieldSubtypeCount(code);
  for (std::int32_t k = 0; k < n; ++k) {
    if (EqualsFolded(param, FieldSubtypeParam(code, k))) return k;
  }
  return 0;
}

String MeaningName(std::int32_t meaning) {
  CheckMeaning(meaning);
  return MessageText(kMeaningNameMessage + static_cast<std::uint32_t>(meaning));
}

std::int32_t MeaningPairCount(std::int32_t meaning) {
  CheckMeaning(meaning);
  if (meaning == 0) {
    std::int32_t n = 0;
    for (std::int32_t t = 0; t < kFieldTypeCount; ++t) n += FieldSubtypeCount(t);
    return n;
  }
  if (meaning == 15) return 3;
  return kPairs[meaning].count;
}

std::int32_t MeaningPairType(std::int32_t meaning, std::int32_t k) {
  return PairOf(meaning, k).type;
}

std::int32_t MeaningPairSubtype(std::int32_t meaning, std::int32_t k) {
  return PairOf(meaning, k).subtype;
}

String PackMeaningName(std::int32_t meaning, const String& name) {
  if (meaning == 0) return String::Copy(name.Text(), name.Length());
  String number = String::FromNumber(meaning);
  String out = String::Copy("~", 1);
  out.Insert(1, number, 0, number.Length());
  return out;
}

std::int32_t ReadDecimal(const char* text, std::int32_t n) {
  std::int32_t i = 0;
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint32_t v = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10u + static_cast<std::uint32_t>(text[i] - '0');  // wraps like a 32-bit number
  }
  if (negative) v = 0u - v;
  return static_cast<std::int32_t>(v);
}

std::int32_t UnpackFieldMeaning(const String& packed) {
  if (packed.Length() == 0 || packed.Text()[0] != '~') return 0;
  return ReadDecimal(packed.Text() + 1, packed.Length() - 1);
}

String UnpackFieldName(const String& packed) {
  if (packed.Length() > 0 && packed.Text()[0] == '~') return String::Copy("", 0);
  return String::Copy(packed.Text(), packed.Length());
}

}  // namespace ludrex
