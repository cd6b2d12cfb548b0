// The criterion classes: values, refused operations, tests against fields, packed forms, and
// the rule that combines the results of criteria records A and B.
#include "search/criteria.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "../record/helpers.h"
#include "capture.h"
#include "record/field_classes.h"
#include "record/record.h"
#include "search/search_plan.h"
#include "search/subset.h"

namespace ludrex::testing {
namespace {

class CriteriaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_ = std::make_unique<CaptureScope>();
    BuildSubsetTables();
    InstallCriteria();
  }
  static std::unique_ptr<Field> Make(std::int32_t type, const char* name = "~1",
                                     const char* param = "") {
    return std::unique_ptr<Field>(CreateField(FieldSpec(type, String(name), 0, String(param))));
  }
  template <class C>
  static C& As(std::unique_ptr<Field>& f) {
    return dynamic_cast<C&>(*f);
  }
  static std::vector<std::uint8_t> Packed(Field& f) {
    ByteBlock b = f.Pack(kNativeBase, String(""));
    return std::vector<std::uint8_t>(b.Data(), b.Data() + b.Count());
  }
  static void Unpack(Field& f, const std::vector<std::uint8_t>& b) {
    f.Unpack(kNativeBase, b.data(), static_cast<std::int32_t>(b.size()), String(""));
  }
  std::unique_ptr<CaptureScope> scope_;
};

TEST_F(CriteriaTest, FactoryBuildsEveryClassWithItsEmptyState) {
  EXPECT_NE(dynamic_cast<LibRefFieldCrit*>(Make(0x10000).get()), nullptr);
  auto s = Make(0x10001);
  EXPECT_EQ(As<StringFieldCrit>(s).SearchType(), 0);
  EXPECT_EQ(As<StringFieldCrit>(s).Text().Length(), 0);
  auto i = Make(0x10002);
  EXPECT_EQ(As<IntFieldCrit>(i).Length(), 0);
  EXPECT_EQ(As<IntFieldCrit>(i).Mode(), 0);
  EXPECT_EQ(As<IntFieldCrit>(i).Mask(), 0u);
  EXPECT_NE(dynamic_cast<DateFieldCrit*>(Make(0x10003).get()), nullptr);
  EXPECT_NE(Make(0x10004).get(), nullptr);  // the game-score criterion
  EXPECT_NE(dynamic_cast<ResultFieldCrit*>(Make(0x10005).get()), nullptr);
  EXPECT_NE(dynamic_cast<RoundFieldCrit*>(Make(0x10006).get()), nullptr);
  auto e = Make(0x10007);
  EXPECT_EQ(As<ECOFieldCrit>(e).Set()->CurLength(), 0);
  EXPECT_EQ(As<ECOFieldCrit>(e).Set()->MaxLength(), 500);
  EXPECT_NE(dynamic_cast<SexFieldCrit*>(Make(0x10008).get()), nullptr);
  EXPECT_RAISES(801, Make(0x10009));
  for (std::int32_t t = 0x10000; t <= 0x10008; ++t) {
    if (t == 0x10004) continue;
    auto c = Make(t);
    EXPECT_EQ(c->IsEmpty(), 1);
    EXPECT_EQ(c->GetKey().Count(), 0);
    EXPECT_EQ(c->CompareTo(*c), 0);
    EXPECT_RAISES(803, c->ToText());
    EXPECT_RAISES(803, c->SetDouble(1.0));
    EXPECT_RAISES(803, c->SetText(String("x")));
    auto other = Make(t == 0x10001 ? 0x10002 : 0x10001);
    EXPECT_RAISES(803, c->Assign(*other));
    c->Assign(*Make(t));  // same code: accepted, nothing copied
  }
}

TEST_F(CriteriaTest, SetEmptyResetsOnlyWhatTheClassResets) {
  auto s = Make(0x10001);
  As<StringFieldCrit>(s).SetSearchType(2);
  As<StringFieldCrit>(s).SetCritText(String("ABC"));
  s->SetEmpty();
  EXPECT_EQ(As<StringFieldCrit>(s).SearchType(), 0);
  EXPECT_EQ(As<StringFieldCrit>(s).Text().Length(), 0);
  auto i = Make(0x10002);
  As<IntFieldCrit>(i).SetLength(1);
  i->SetEmpty();
  EXPECT_EQ(As<IntFieldCrit>(i).Length(), 1);  // ranges stay
  auto r = Make(0x10005);
  As<ResultFieldCrit>(r).SetMask(4);
  r->SetEmpty();
  EXPECT_EQ(As<ResultFieldCrit>(r).Mask(), 0u);
  auto e = Make(0x10007);
  As<ECOFieldCrit>(e).SetItem(105, true);
  e->SetEmpty();
  EXPECT_FALSE(As<ECOFieldCrit>(e).GetItem(105));
}

TEST_F(CriteriaTest, PairsAreCheckedAndCountsCannotBeNegative) {
  auto d = Make(0x10003);
  auto& c = As<DateFieldCrit>(d);
  EXPECT_RAISES(14, c.SetLength(-1));
  c.SetLength(2);
  c.SetPair(1, 30, 10);
  std::int32_t up = 0, lo = 0;
  c.GetPair(1, &up, &lo);
  EXPECT_EQ(up, 30);
  EXPECT_EQ(lo, 10);
  EXPECT_RAISES(12, c.GetPair(2, &up, &lo));
  EXPECT_RAISES(12, c.SetPair(-1, 0, 0));
}

TEST_F(CriteriaTest, StringSearchTypes) {
  auto f = Make(kStringType);
  auto c = Make(0x10001);
  auto& crit = As<StringFieldCrit>(c);
  crit.SetCritText(String("ABC"));
  f->SetText(String("Abcdef"));
  crit.SetSearchType(2);
  EXPECT_EQ(f->Matches(c.get()), 1);
  crit.SetSearchType(0);
  EXPECT_EQ(f->Matches(c.get()), 0);
  f->SetText(String("abc"));
  EXPECT_EQ(f->Matches(c.get()), 1);
  crit.SetSearchType(1);
  f->SetText(String("xabcx"));
  EXPECT_EQ(f->Matches(c.get()), 1);
  f->SetText(String("xabx"));
  EXPECT_EQ(f->Matches(c.get()), 0);
  crit.SetSearchType(2);
  f->SetText(String("AB"));  // shorter than the criterion
  EXPECT_EQ(f->Matches(c.get()), 0);
  // Lower-case criterion letters never meet a folded field letter.
  crit.SetCritText(String("abc"));
  f->SetText(String("abc"));
  for (int t = 0; t < 3; ++t) {
    crit.SetSearchType(t);
    EXPECT_EQ(f->Matches(c.get()), 0) << t;
  }
  crit.SetSearchType(7);  // any other type: always
  EXPECT_EQ(f->Matches(c.get()), 1);
  // Only a-z are folded: a Cyrillic letter must be given as it is.
  crit.SetSearchType(0);
  crit.SetCritText(String("\xE0Z"));
  f->SetText(String("\xE0z"));
  EXPECT_EQ(f->Matches(c.get()), 1);
}

TEST_F(CriteriaTest, IntegerModes) {
  auto f = Make(kIntType, "~9", "2u");
  auto c = Make(0x10002, "~9");
  auto& crit = As<IntFieldCrit>(c);
  f->SetInt(2500);
  EXPECT_EQ(f->Matches(c.get()), 0);  // mode 0 without pairs: never
  crit.SetLength(2);
  crit.SetPair(0, 2000, 1000);
  crit.SetPair(1, 2600, 2500);
  EXPECT_EQ(f->Matches(c.get()), 1);
  f->SetInt(2400);
  EXPECT_EQ(f->Matches(c.get()), 0);
  crit.SetMode(1);
  crit.SetMask(0x60);
  f->SetInt(0x70);
  EXPECT_EQ(f->Matches(c.get()), 1);
  f->SetInt(0x20);
  EXPECT_EQ(f->Matches(c.get()), 0);
  crit.SetMode(2);
  EXPECT_EQ(f->Matches(c.get()), 1);
  f->SetInt(0x80);
  EXPECT_EQ(f->Matches(c.get()), 0);
  crit.SetMode(3);
  f->SetInt(0x60);
  EXPECT_EQ(f->Matches(c.get()), 0);
}

TEST_F(CriteriaTest, DateRoundResultSexAndEco) {
  auto date = Make(kDateType, "~15", "F");
  auto& d = static_cast<DateField&>(*date);
  d.year_ = 1999;
  d.month_ = 3;
  d.day_ = 15;
  auto dc = Make(0x10003, "~15");
  As<DateFieldCrit>(dc).SetLength(1);
  As<DateFieldCrit>(dc).SetPair(0, PackDate(1999, 3, 15), PackDate(1999, 3, 15));
  EXPECT_EQ(date->Matches(dc.get()), 1);
  d.day_ = 16;
  EXPECT_EQ(date->Matches(dc.get()), 0);

  auto round = Make(kRoundType, "~17");
  static_cast<RoundField&>(*round).value_ = 3 * 512 + 2;
  auto rc = Make(0x10006, "~17");
  As<RoundFieldCrit>(rc).SetLength(1);
  As<RoundFieldCrit>(rc).SetPair(0, 3 * 512 + 511, 3 * 512);
  EXPECT_EQ(round->Matches(rc.get()), 1);

  auto result = Make(kResultType, "~14");
  auto resc = Make(0x10005, "~14");
  As<ResultFieldCrit>(resc).SetMask(0b0100);
  for (int code = 0; code < 4; ++code) {
    result->SetInt(code);
    EXPECT_EQ(result->Matches(resc.get()), code == 2 ? 1 : 0) << code;
  }
  result->SetInt(40);  // beyond the mask's bits
  As<ResultFieldCrit>(resc).SetMask(0xFFFFFFFFu);
  EXPECT_EQ(result->Matches(resc.get()), 0);

  auto sex = Make(kSexType, "~6");
  auto sc = Make(0x10008, "~6");
  As<SexFieldCrit>(sc).SetMask(0b10);
  sex->SetInt(1);
  EXPECT_EQ(sex->Matches(sc.get()), 1);

  auto eco = Make(kEcoType, "~18");
  auto ec = Make(0x10007, "~18");
  for (int k = 0; k < 500; ++k) As<ECOFieldCrit>(ec).SetItem(k, true);
  eco->SetEmpty();
  EXPECT_EQ(eco->Matches(ec.get()), 0);  // no code: never
  static_cast<ECOField&>(*eco).value_ = 105;
  EXPECT_EQ(eco->Matches(ec.get()), 1);
  As<ECOFieldCrit>(ec).SetItem(105, false);
  EXPECT_EQ(eco->Matches(ec.get()), 0);
  EXPECT_RAISES(701, As<ECOFieldCrit>(ec).SetItem(500, true));
  // A criterion of another type is refused.
  EXPECT_RAISES(803, eco->Matches(sc.get()));
}

TEST_F(CriteriaTest, UnpackAndTestSetsBothResults) {
  auto f = Make(kResultType, "~14");
  auto a = Make(0x10005, "~14");
  auto b = Make(0x10005, "~14");
  As<ResultFieldCrit>(a).SetMask(1u << 2);
  As<ResultFieldCrit>(b).SetMask(1u << 3);
  f->SetCriterionA(a.get());
  f->SetCriterionB(b.get());
  std::uint8_t code = 3;
  EXPECT_EQ(f->UnpackNativeAndTest(&code, 1), 1);
  EXPECT_EQ(f->ResultA(), 0);
  EXPECT_EQ(f->ResultB(), 1);
  f->SetCriterion(a.get());  // B none: result B is 1
  EXPECT_EQ(f->UnpackNativeAndTest(&code, 1), 1);
  EXPECT_EQ(f->ResultA(), 0);
}

TEST_F(CriteriaTest, PackedFormsAreByteExact) {
  auto s = Make(0x10001);
  As<StringFieldCrit>(s).SetSearchType(2);
  As<StringFieldCrit>(s).SetCritText(String("AB"));
  EXPECT_EQ(Packed(*s), (std::vector<std::uint8_t>{2, 0, 0, 0, 2, 0, 0, 0, 'A', 'B'}));
  auto i = Make(0x10002);
  As<IntFieldCrit>(i).SetLength(1);
  As<IntFieldCrit>(i).SetPair(0, 0x0203, -1);
  As<IntFieldCrit>(i).SetMode(1);
  As<IntFieldCrit>(i).SetMask(0x80);
  EXPECT_EQ(Packed(*i), (std::vector<std::uint8_t>{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 3, 2, 0,
                                                    0, 1, 0, 0, 0, 0x80, 0, 0, 0}));
  auto d = Make(0x10003);
  EXPECT_EQ(Packed(*d), (std::vector<std::uint8_t>{0, 0, 0, 0}));
  auto r = Make(0x10005);
  As<ResultFieldCrit>(r).SetMask(0x0C);
  EXPECT_EQ(Packed(*r), (std::vector<std::uint8_t>{0x0C, 0, 0, 0}));
  auto e = Make(0x10007);
  As<ECOFieldCrit>(e).SetItem(0, true);
  As<ECOFieldCrit>(e).SetItem(9, true);
  As<ECOFieldCrit>(e).SetItem(499, true);
  std::vector<std::uint8_t> eco = Packed(*e);
  ASSERT_EQ(eco.size(), 4001u);
  std::vector<std::uint8_t> want(4001, 0);
  want[0] = 0x01;
  want[72] = 0x02;    // code 9: bit 1 of byte 72
  want[3992] = 0x08;  // code 499: bit 3 of byte 3992
  EXPECT_EQ(eco, want);
  // Base type 1 is refused, the others pack nothing.
  EXPECT_RAISES(805, r->Pack(kDosBase, String("")));
  EXPECT_EQ(r->Pack(kPgnBase, String("")).Count(), 0);
  EXPECT_RAISES(901, r->Pack(7, String("")));
}

TEST_F(CriteriaTest, PackUnpackRoundTripsAndTruncatedInput) {
  auto s = Make(0x10001);
  As<StringFieldCrit>(s).SetSearchType(1);
  As<StringFieldCrit>(s).SetCritText(String("KASP"));
  auto s2 = Make(0x10001);
  Unpack(*s2, Packed(*s));
  EXPECT_EQ(As<StringFieldCrit>(s2).SearchType(), 1);
  EXPECT_TRUE(As<StringFieldCrit>(s2).Text() == String("KASP"));

  for (std::int32_t t : {0x10002, 0x10003, 0x10006}) {
    auto a = Make(t);
    auto& c = dynamic_cast<RangeFieldCrit&>(*a);
    c.SetLength(3);
    for (int k = 0; k < 3; ++k) c.SetPair(k, 100 * k + 50, 100 * k - 7);
    if (t == 0x10002) {
      As<IntFieldCrit>(a).SetMode(2);
      As<IntFieldCrit>(a).SetMask(0xF0F0);
    }
    auto b = Make(t);
    std::vector<std::uint8_t> bytes = Packed(*a);
    Unpack(*b, bytes);
    EXPECT_EQ(Packed(*b), bytes) << t;
    // A truncated form never reads past its end and keeps only whole pairs.
    bytes.resize(bytes.size() - 5);
    auto c2 = Make(t);
    Unpack(*c2, bytes);
    EXPECT_LE(dynamic_cast<RangeFieldCrit&>(*c2).Length(), 3);
  }
  for (std::int32_t t : {0x10005, 0x10008}) {
    auto a = Make(t);
    dynamic_cast<MaskFieldCrit&>(*a).SetMask(0xA5A5A5A5u);
    auto b = Make(t);
    Unpack(*b, Packed(*a));
    EXPECT_EQ(dynamic_cast<MaskFieldCrit&>(*b).Mask(), 0xA5A5A5A5u);
  }
  auto e = Make(0x10007);
  for (int k = 3; k < 500; k += 7) As<ECOFieldCrit>(e).SetItem(k, true);
  auto e2 = Make(0x10007);
  Unpack(*e2, Packed(*e));
  EXPECT_EQ(Packed(*e2), Packed(*e));
  EXPECT_EQ(As<ECOFieldCrit>(e2).Set()->CurLength(), As<ECOFieldCrit>(e).Set()->CurLength());
  Unpack(*e2, std::vector<std::uint8_t>(10, 0xFF));  // short: only codes 0 and 1 fit
  EXPECT_EQ(As<ECOFieldCrit>(e2).Set()->CurLength(), 2);
  auto l = Make(0x10000);
  Unpack(*l, {0, 0, 0, 0});  // an empty library set needs no library
  EXPECT_RAISES(805, Unpack(*l, {1, 0, 0, 0}));
}

// Record A = {White, another field}, B = {Black}: the other field's condition applies to both
// alternatives (result fields stand for the players, a sex field for the dates).
TEST_F(CriteriaTest, CombiningAAndB) {
  RecordPattern p;
  p.Append(FieldSpec(kResultType, String("~1"), 0, String("")));
  p.Append(FieldSpec(kResultType, String("~2"), 0, String("")));
  p.Append(FieldSpec(kSexType, String("~6"), 0, String("")));
  Record rec(p);
  auto white = Make(0x10005, "~1"), black = Make(0x10005, "~2"), date = Make(0x10008, "~6");
  for (auto* c : {&white, &black}) As<ResultFieldCrit>(*c).SetMask(1u << 1);
  As<SexFieldCrit>(date).SetMask(1u << 1);
  rec[0].SetCriterionA(white.get());
  rec[1].SetCriterionB(black.get());
  rec[2].SetCriterionA(date.get());
  CriteriaList list(rec);
  auto run = [&](int w, int b, int d) {
    list.Reset();
    std::uint8_t v[3] = {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(b),
                         static_cast<std::uint8_t>(d)};
    for (int i = 0; i < 3; ++i) rec[i].UnpackNativeAndTest(&v[i], 1);
    return list.Matches();
  };
  EXPECT_TRUE(run(1, 0, 1));   // White, in the dates
  EXPECT_TRUE(run(0, 1, 1));   // Black, in the dates
  EXPECT_FALSE(run(1, 1, 0));  // either colour, outside the dates
  EXPECT_FALSE(run(0, 0, 1));
  // A's White criterion is not inherited by B, which has a criterion of the same type; with no
  // such criterion in B it is.
  rec[1].SetCriterionB(nullptr);
  rec[1].SetCriterionA(nullptr);
  auto date2 = Make(0x10008, "~6");
  As<SexFieldCrit>(date2).SetMask(1u << 2);
  rec[2].SetCriterionB(date2.get());
  CriteriaList other(rec);
  list.Reset();
  std::uint8_t v[3] = {0, 0, 2};
  for (int i = 0; i < 3; ++i) rec[i].UnpackNativeAndTest(&v[i], 1);
  EXPECT_FALSE(other.Matches());  // White fails in A and, inherited, in B
  Record none(RecordPattern{});
  EXPECT_FALSE(CriteriaList(none).Matches());
}

}  // namespace
}  // namespace ludrex::testing
