// The field-type catalogue, meanings and their pairs, and the "~m" names.
#include "helpers.h"
#include "platform/platform.h"
#include "record/field_types.h"

namespace ludrex::testing {
namespace {

std::string Cp1251(const std::string& utf8) {
  std::string out(utf8.size(), '\0');
  out.resize(platform::Utf8ToCp1251(utf8.data(), utf8.size(), out.data(), out.size()));
  return out;
}

class Catalogue : public ::testing::Test {
  CaptureScope capture_;
};

TEST_F(Catalogue, MeaningNamesPackAndUnpack) {
  EXPECT_EQ(UnpackFieldMeaning(String("~22")), 22);
  EXPECT_EQ(Str(UnpackFieldName(String("~22"))), "");
  EXPECT_EQ(UnpackFieldMeaning(String("White")), 0);
  EXPECT_EQ(Str(UnpackFieldName(String("White"))), "White");
  EXPECT_EQ(Str(PackMeaningName(0, String("X"))), "X");
  EXPECT_EQ(Str(PackMeaningName(5, String("anything"))), "~5");
  // The number after "~" is read like a decimal number: blanks, sign, digits up to a non-digit.
  EXPECT_EQ(UnpackFieldMeaning(String("~  17x")), 17);
  EXPECT_EQ(UnpackFieldMeaning(String("~-3")), -3);
  EXPECT_EQ(UnpackFieldMeaning(String("~")), 0);
  EXPECT_EQ(UnpackFieldMeaning(String("~abc")), 0);
  EXPECT_EQ(UnpackFieldMeaning(String("")), 0);
}

TEST_F(Catalogue, MeaningZeroHasEveryIntegerAndDateSubtype) {
  ASSERT_EQ(MeaningPairCount(0), 9);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(MeaningPairType(0, k), 2);
    EXPECT_EQ(MeaningPairSubtype(0, k), k);
  }
  for (int k = 6; k < 9; ++k) {
    EXPECT_EQ(MeaningPairType(0, k), 3);
    EXPECT_EQ(MeaningPairSubtype(0, k), k - 6);
  }
}

TEST_F(Catalogue, PairsOfTheOtherMeanings) {
  struct Case {
    int meaning;
    std::vector<std::pair<int, int>> pairs;
  };
  const std::vector<Case> cases = {
      {1, {{0, 0}, {1, 0}}},  {2, {{0, 0}, {1, 0}}},  {3, {{1, 0}}},
      {4, {{3, 0}, {3, 2}}},  {5, {{2, 3}}},          {6, {{8, 0}}},
      {7, {{1, 0}}},          {8, {{2, 5}}},          {9, {{2, 3}}},
      {10, {{2, 3}}},         {11, {{0, 0}, {1, 0}}}, {12, {{1, 0}}},
      {13, {{1, 0}}},         {14, {{5, 0}}},         {15, {{3, 0}, {3, 1}, {3, 2}}},
      {16, {{0, 0}, {1, 0}}}, {17, {{6, 0}}},         {18, {{7, 0}}},
      {19, {{0, 0}, {1, 0}}}, {20, {{0, 0}, {1, 0}}}, {21, {{0, 0}, {1, 0}}},
      {22, {{4, 0}}}};
  for (const auto& c : cases) {
    ASSERT_EQ(MeaningPairCount(c.meaning), static_cast<int>(c.pairs.size())) << c.meaning;
    for (int k = 0; k < static_cast<int>(c.pairs.size()); ++k) {
      EXPECT_EQ(MeaningPairType(c.meaning, k), c.pairs[k].first) << c.meaning << "/" << k;
      EXPECT_EQ(MeaningPairSubtype(c.meaning, k), c.pairs[k].second) << c.meaning << "/" << k;
    }
  }
}

TEST_F(Catalogue, MeaningAndPairRangesAreChecked) {
  EXPECT_RAISES(814, MeaningName(23));
  EXPECT_RAISES(814, MeaningName(-1));
  EXPECT_RAISES(814, MeaningPairCount(23));
  EXPECT_RAISES(815, MeaningPairType(1, 2));
  EXPECT_RAISES(815, MeaningPairSubtype(0, 9));
  EXPECT_RAISES(815, MeaningPairType(15, -1));
}

TEST_F(Catalogue, NamesComeFromTheMessageTable) {
  EXPECT_EQ(Str(MeaningName(0)), Cp1251("Прочее"));
  EXPECT_EQ(Str(MeaningName(22)), Cp1251("Ходы"));
  EXPECT_EQ(Str(FieldTypeName(0)), Cp1251("Библиотека"));
  EXPECT_EQ(Str(FieldTypeName(8)), Cp1251("пол"));
  EXPECT_EQ(Str(FieldTypeName(0x10002)), Cp1251("целое число criterion"));
  EXPECT_RAISES(801, FieldTypeName(9));
  EXPECT_RAISES(801, FieldTypeName(0x10009));
  EXPECT_EQ(Str(FieldSubtypeName(2, 5)), Cp1251("четырехбайтовое без знаковое"));
  EXPECT_EQ(Str(FieldSubtypeName(3, 1)), Cp1251("год и месяц"));
}

TEST_F(Catalogue, SubtypeLookups) {
  EXPECT_EQ(FieldSubtypeCount(2), 6);
  EXPECT_EQ(FieldSubtypeCount(3), 3);
  EXPECT_EQ(FieldSubtypeCount(1), 0);
  EXPECT_EQ(FieldSubtypeCount(0x10002), 0);
  EXPECT_EQ(FieldSubtypeOf(2, String("2u")), 3);
  EXPECT_EQ(FieldSubtypeOf(2, String("4U")), 5);
  EXPECT_EQ(FieldSubtypeOf(3, String("ym")), 1);
  EXPECT_EQ(FieldSubtypeOf(3, String("F")), 2);
  EXPECT_EQ(FieldSubtypeOf(2, String("8")), 0);
  EXPECT_EQ(FieldSubtypeOf(1, String("2u")), 0);
  EXPECT_STREQ(FieldSubtypeParam(2, 1), "1u");
  EXPECT_STREQ(FieldSubtypeParam(3, 2), "F");
  EXPECT_RAISES(801, FieldSubtypeParam(2, 6));
  EXPECT_RAISES(801, FieldSubtypeName(3, 3));
  EXPECT_RAISES(801, FieldSubtypeName(1, 0));
}

TEST_F(Catalogue, EveryPairBuildsAFieldOfItsMeaning) {
  // Each (type, subtype) pair, with the subtype's Param, must be accepted by the factory.
  RecordPattern library;
  library.Append(Spec(1, "~3"));
  for (int m = 0; m < kMeaningCount; ++m) {
    for (int k = 0; k < MeaningPairCount(m); ++k) {
      int type = MeaningPairType(m, k);
      int sub = MeaningPairSubtype(m, k);
      const char* param = FieldSubtypeCount(type) > 0 ? FieldSubtypeParam(type, sub) : "";
      String name = PackMeaningName(m, String("user"));
      std::unique_ptr<Field> f(CreateField(FieldSpec(type, name, 0, String(param), &library)));
      EXPECT_EQ(f->TypeCode(), type);
      EXPECT_EQ(f->Meaning(), m);
    }
  }
}

}  // namespace
}  // namespace ludrex::testing
