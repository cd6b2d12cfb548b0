// The field classes: construction, values, encodings per base type, keys and display texts.
#include "helpers.h"
#include "record/field_chess.h"

namespace ludrex::testing {
namespace {

using V = std::vector<std::uint8_t>;

class Fields : public ::testing::Test {
  CaptureScope capture_;
};

TEST_F(Fields, FactoryChecksTypesAndParams) {
  EXPECT_RAISES(801, Make(9));
  EXPECT_RAISES(801, Make(-1));
  EXPECT_RAISES(801, Make(0x10001));         // no criterion classes installed
  EXPECT_RAISES(804, CreateField(Spec(0)));  // library field without a library pattern
  for (const char* bad : {"", "3", "12", "1x", "4uu", "u"}) EXPECT_RAISES(806, Make(2, bad));
  for (const char* bad : {"", "D", "YMD", "FF", "M"}) EXPECT_RAISES(806, Make(3, bad));
  EXPECT_EQ(As<DateField>(Make(3, "y")).precision_, 0);
  EXPECT_EQ(As<DateField>(Make(3, "yM")).precision_, 1);
  EXPECT_EQ(As<DateField>(Make(3, "f")).precision_, 2);
  auto i = Make(2, "2U");
  EXPECT_EQ(As<IntField>(i).width_, 2);
  EXPECT_EQ(As<IntField>(i).signed_, 0);
  EXPECT_EQ(As<IntField>(Make(2, "4")).signed_, 1);
  EXPECT_NE(dynamic_cast<ChessField*>(Make(4).get()), nullptr);
}

TEST_F(Fields, EmptyValues) {
  for (int t = 1; t <= 8; ++t) {
    auto f = Make(t, t == 2 ? "4" : (t == 3 ? "F" : ""));
    EXPECT_EQ(f->IsEmpty(), 1) << t;
  }
  auto eco = Make(7);
  EXPECT_EQ(As<ECOField>(eco).value_, -1);
  As<ECOField>(eco).value_ = 0;  // A00 is a code, not the empty value
  EXPECT_EQ(eco->IsEmpty(), 0);
  eco->SetEmpty();
  EXPECT_EQ(As<ECOField>(eco).value_, -1);
}

TEST_F(Fields, RefusedOperationsChangeNothing) {
  auto s = Make(1);
  s->SetText(String("Tal"));
  EXPECT_RAISES(803, s->SetInt(5));
  EXPECT_RAISES(803, s->SetDouble(1.0));
  EXPECT_RAISES(803, s->GetInt());
  EXPECT_RAISES(803, s->GetDouble());
  EXPECT_EQ(Str(s->ToText()), "Tal");
  auto i = Make(2, "4");
  EXPECT_RAISES(803, i->SetText(String("7")));
  EXPECT_RAISES(803, i->Assign(*s));
  EXPECT_RAISES(816, i->CompareTo(*s));
  EXPECT_RAISES(803, Make(6)->SetInt(1));
  EXPECT_RAISES(803, Make(7)->GetInt());
  EXPECT_EQ(Make(6)->GetBody(), nullptr);
  EXPECT_EQ(Make(3, "F")->GetBody(), nullptr);
}

TEST_F(Fields, BaseTypesOutsideTheCatalogue) {
  auto i = Make(2, "4");
  EXPECT_RAISES(901, i->Pack(7, String("")));
  EXPECT_RAISES(901, i->Unpack(-1, nullptr, 0, String("")));
  EXPECT_RAISES(805, i->Pack(1, String("")));
  EXPECT_RAISES(805, i->Unpack(4, nullptr, 0, String("")));
  EXPECT_RAISES(901, Make(1)->Unpack(4, nullptr, 0, String("")));
  for (int t = 1; t < 7; ++t) {
    EXPECT_RAISES(805, Make(8)->Pack(t, String("")));
    EXPECT_RAISES(805, UnpackBytes(*Make(8), t, {1}));
  }
}

TEST_F(Fields, IntegerWidthAndSignExtension) {
  auto f = Make(2, "1u");
  f->SetInt(200);
  EXPECT_EQ(Bytes(f->Pack(0, String("1u"))), V{0xC8});
  UnpackBytes(*f, 0, {0xC8});
  EXPECT_EQ(f->GetInt(), -56);  // unpacking always extends the sign
  f->SetInt(0x12345678);
  EXPECT_EQ(Bytes(f->Pack(0, String("2"))), (V{0x78, 0x56}));
  EXPECT_EQ(Bytes(f->Pack(0, String("4u"))), (V{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(Bytes(f->Pack(0, String(""))), V{0x78});  // no Param: the field's own width
  EXPECT_RAISES(806, f->Pack(0, String("3")));
  UnpackBytes(*f, 0, {0x00, 0x80});
  EXPECT_EQ(f->GetInt(), -32768);
  UnpackBytes(*f, 0, {1, 2, 3, 4, 5, 6});  // only four bytes count
  EXPECT_EQ(f->GetInt(), 0x04030201);
  UnpackBytes(*f, 0, {});
  EXPECT_EQ(f->IsEmpty(), 1);
}

TEST_F(Fields, IntegerPgnText) {
  auto f = Make(2, "4");
  f->SetInt(-2750);
  EXPECT_EQ(Str(f->Pack(2, String(""))), "-2750");
  UnpackText(*f, 2, "  +2610 (est)");
  EXPECT_EQ(f->GetInt(), 2610);
  UnpackText(*f, 2, "?");
  EXPECT_EQ(f->GetInt(), 0);
  UnpackBytes(*f, 3, {0xFE});
  EXPECT_EQ(f->GetInt(), -2);
}

TEST_F(Fields, DatePackingForYearAndFullDates) {
  auto f = Make(3, "F");
  auto& d = As<DateField>(f);
  d.year_ = 1999, d.month_ = 3, d.day_ = 15;
  std::uint32_t p = ((1999u * 13 + 3) << 5) + 15;
  EXPECT_EQ(Bytes(f->Pack(0, String("F"))),
            (V{std::uint8_t(p), std::uint8_t(p >> 8), std::uint8_t(p >> 16)}));
  ByteBlock year = f->Pack(0, String("y"));
  EXPECT_EQ(Bytes(year), (V{0xCF, 0x07}));
  f->Unpack(0, year.Data(), year.Count(), String("Y"));
  EXPECT_EQ(d.year_, 1999);
  EXPECT_EQ(d.month_, 0);
  EXPECT_EQ(d.day_, 0);
  // A day without a month is cleared.
  std::uint32_t q = ((2001u * 13 + 0) << 5) + 12;
  UnpackBytes(*f, 0, {std::uint8_t(q), std::uint8_t(q >> 8), std::uint8_t(q >> 16)});
  EXPECT_EQ(d.year_, 2001);
  EXPECT_EQ(d.day_, 0);
}

TEST_F(Fields, DateOtherBases) {
  auto f = Make(3, "F");
  auto& d = As<DateField>(f);
  UnpackText(*f, 2, "1999.??.??");
  EXPECT_EQ(d.year_, 1999);
  EXPECT_EQ(d.month_, 0);
  EXPECT_EQ(d.day_, 0);
  UnpackText(*f, 2, "1999.03.1");  // 9 characters: empty
  EXPECT_EQ(f->IsEmpty(), 1);
  UnpackText(*f, 2, "2004.11.07");
  EXPECT_EQ(Str(f->Pack(2, String(""))), "2004.11.07");
  d.month_ = 0, d.day_ = 0;
  EXPECT_EQ(Str(f->Pack(2, String(""))), "2004.??.??");
  f->SetEmpty();
  EXPECT_EQ(Str(f->Pack(2, String(""))), "????.??.??");
  UnpackBytes(*f, 1, {0, 0});
  EXPECT_EQ(d.year_, 0);
  UnpackBytes(*f, 1, {0xD0, 0x07});
  EXPECT_EQ(d.year_, 2000);
  UnpackBytes(*f, 3, {85});
  EXPECT_EQ(d.year_, 1985);
  UnpackBytes(*f, 3, {127});
  EXPECT_EQ(d.year_, 0);
  UnpackBytes(*f, 3, {0xFB});
  EXPECT_EQ(d.year_, 1895);
  std::uint32_t v = (1990u << 9) | (7u << 5) | 21u;
  UnpackBytes(*f, 5, {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16)});
  EXPECT_EQ(d.year_, 1990);
  EXPECT_EQ(d.month_, 7);
  EXPECT_EQ(d.day_, 21);
  UnpackBytes(*f, 5, {1, 2});
  EXPECT_EQ(f->IsEmpty(), 1);
}

TEST_F(Fields, DateTexts) {
  auto f = Make(3, "F");
  auto& d = As<DateField>(f);
  d.year_ = 1972, d.month_ = 9, d.day_ = 1;
  EXPECT_EQ(Str(f->ToText()), "01 Sep, 1972");
  d.month_ = 13;
  EXPECT_EQ(Str(f->ToText()), "01 ???, 1972");
  EXPECT_EQ(Str(Make(3, "Y")->ToText()), "0000");
  auto ym = Make(3, "YM");
  As<DateField>(ym).year_ = 851, As<DateField>(ym).month_ = 2;
  EXPECT_EQ(Str(ym->ToText()), "Feb 0851");
  d.year_ = 2000000000, d.day_ = 1234567;
  EXPECT_EQ(f->ToText().Length(), 20);  // cut to 20 characters
}

TEST_F(Fields, StringEncodings) {
  auto f = Make(1);
  EXPECT_EQ(f->Pack(0, String("")).Count(), 0);
  EXPECT_EQ(Str(f->Pack(2, String(""))), "?");
  UnpackText(*f, 0, "Kasparov, G");
  EXPECT_EQ(Str(f->Pack(2, String(""))), "Kasparov, G");
  EXPECT_EQ(f->GetBodySize(), 11);
  EXPECT_STREQ(static_cast<const char*>(f->GetBody()), "Kasparov, G");
  UnpackText(*f, 1, "\x8A\xA0\xE1\xAF\xA0\xE0\xAE\xA2");  // OEM text
  EXPECT_EQ(Str(f->ToText()), "\xCA\xE0\xF1\xEF\xE0\xF0\xEE\xE2");
  UnpackText(*f, 0, "");
  EXPECT_EQ(f->IsEmpty(), 1);
  std::string tooLong(70000, 'x');
  EXPECT_RAISES(103, UnpackText(*f, 0, tooLong));
}

TEST_F(Fields, ResultEncodingsAndKeys) {
  auto f = Make(5);
  const std::pair<int, const char*> texts[] = {{1, "1/2-1/2"}, {2, "1-0"}, {3, "0-1"}, {0, "*"}};
  for (auto [code, text] : texts) {
    f->SetInt(code);
    EXPECT_EQ(Str(f->Pack(2, String(""))), text);
    f->SetInt(9);
    UnpackText(*f, 2, text);
    EXPECT_EQ(f->GetInt(), code);
  }
  UnpackText(*f, 2, "1-0 ");
  EXPECT_EQ(f->GetInt(), 0);
  UnpackBytes(*f, 1, {4, 0});
  EXPECT_EQ(f->GetInt(), 0);
  UnpackBytes(*f, 1, {3, 0});
  EXPECT_EQ(f->GetInt(), 3);
  for (auto [low, code] : {std::pair{0, 3}, {1, 1}, {2, 2}, {3, 0}}) {
    UnpackBytes(*f, 3, {std::uint8_t(0xF0 | low)});
    EXPECT_EQ(f->GetInt(), code);
    UnpackBytes(*f, 5, {std::uint8_t(low)});
    EXPECT_EQ(f->GetInt(), code);
  }
  f->SetInt(2);
  std::uint8_t k = 0;
  EXPECT_EQ(Bytes(f->GetKey()), V{0x02});
  EXPECT_EQ(f->PutKey(&k, 1), 1);
  EXPECT_EQ(k, 0xFD);
  EXPECT_EQ(f->PutKey(&k, 0), -1);
  f->SetFlags(kFlagDescending);
  EXPECT_EQ(Bytes(f->GetKey()), V{0xFD});
  f->PutKey(&k, 1);
  EXPECT_EQ(k, 0x02);
}

TEST_F(Fields, SexReadAsFourBecomesZero) {
  auto f = Make(8);
  UnpackBytes(*f, 0, {4});
  EXPECT_EQ(f->GetInt(), 0);
  UnpackBytes(*f, 0, {2});
  EXPECT_EQ(f->GetInt(), 2);
  EXPECT_EQ(Bytes(f->Pack(0, String(""))), V{2});
  std::uint8_t k = 0;
  f->PutKey(&k, 1);
  EXPECT_EQ(k, 0xFD);
}

TEST_F(Fields, RoundTexts) {
  auto f = Make(6);
  auto& r = As<RoundField>(f);
  r.value_ = 3 * 512 + 2;
  EXPECT_EQ(Str(f->Pack(2, String(""))), "3.2");
  EXPECT_EQ(Str(f->ToText()), "3.2");
  r.value_ = 3 * 512;
  EXPECT_EQ(Str(f->Pack(2, String(""))), "3");
  EXPECT_EQ(Str(f->ToText()), "3.0");
  r.value_ = 0;
  EXPECT_EQ(Str(f->Pack(2, String(""))), "?");
  UnpackText(*f, 2, "12.5");
  EXPECT_EQ(r.value_, 12 * 512 + 5);
  UnpackText(*f, 3, "(1)4.x1.2");  // other characters ignored; a second '.' too
  EXPECT_EQ(r.value_, 14 * 512 + 12);
  UnpackBytes(*f, 1, {7, 0});
  EXPECT_EQ(r.value_, 7 * 512);
  UnpackBytes(*f, 1, {7, 2});
  EXPECT_EQ(r.value_, 2 * 512 + 7);
  UnpackBytes(*f, 5, {4, 3});
  EXPECT_EQ(r.value_, 4 * 512 + 3);
  UnpackBytes(*f, 0, {0x02, 0x06});
  EXPECT_EQ(r.value_, 3 * 512 + 2);
  // Numbers too long saturate instead of wrapping negative; the text then reads back as itself.
  UnpackText(*f, 2, "99999999999999.777777777777");
  EXPECT_EQ(r.value_, 0x7FFFFFFF);
  const std::string text = Str(f->Pack(2, String("")));
  EXPECT_EQ(text, "4194303.511");
  UnpackText(*f, 2, text);
  EXPECT_EQ(r.value_, 0x7FFFFFFF);
}

TEST_F(Fields, EcoTexts) {
  auto f = Make(7);
  auto& e = As<ECOField>(f);
  UnpackText(*f, 2, "b05");
  EXPECT_EQ(e.value_, 105);
  EXPECT_EQ(Str(f->Pack(2, String(""))), "B05");
  EXPECT_EQ(Str(f->ToText()), "B5");
  UnpackText(*f, 2, "F10");
  EXPECT_EQ(e.value_, -1);
  EXPECT_EQ(Str(f->Pack(2, String(""))), "?");
  EXPECT_EQ(Str(f->ToText()), "");
  UnpackText(*f, 2, "C7");
  EXPECT_EQ(e.value_, 207);
  UnpackText(*f, 2, "E");
  EXPECT_EQ(e.value_, -1);
  UnpackBytes(*f, 0, {0xFF, 0xFF});
  EXPECT_EQ(e.value_, -1);
  UnpackBytes(*f, 3, {0, 0});
  EXPECT_EQ(e.value_, -1);
  UnpackBytes(*f, 3, {106, 0});
  EXPECT_EQ(e.value_, 105);
  std::uint32_t v = (106u << 7);
  UnpackBytes(*f, 5, {std::uint8_t(v), std::uint8_t(v >> 8)});
  EXPECT_EQ(e.value_, 105);
  // DOS: letter in bits 13-15 (1-based), number + 100 ... in bits 6-12.
  std::uint32_t dos = (2u << 13) | (5u << 6);
  UnpackBytes(*f, 1, {std::uint8_t(dos), std::uint8_t(dos >> 8)});
  EXPECT_EQ(e.value_, 105);
}

TEST_F(Fields, DescendingKeysAreComplemented) {
  auto a = Make(2, "4");
  auto d = Make(2, "4", kFlagDescending);
  a->SetInt(1234);
  d->SetInt(1234);
  ByteBlock ka = a->GetKey(), kd = d->GetKey();
  ASSERT_EQ(ka.Count(), 5);
  ASSERT_EQ(kd.Count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ka.Data()[i] + kd.Data()[i], 255);
  std::uint8_t buf[5];
  EXPECT_EQ(a->PutKey(buf, 4), -5);
  EXPECT_EQ(Make(3, "F")->PutKey(buf, 2), -3);
  EXPECT_EQ(Make(6)->PutKey(buf, 1), -2);
  auto s = Make(1);
  s->SetText(String("abc"));
  EXPECT_EQ(s->PutKey(buf, 3), -4);
  EXPECT_EQ(s->PutKey(buf, 4), 4);
}

TEST_F(Fields, AssignCopiesValuesOfTheSameType) {
  auto a = Make(3, "F"), b = Make(3, "Y");
  As<DateField>(a).year_ = 1960, As<DateField>(a).month_ = 5, As<DateField>(a).day_ = 7;
  b->Assign(*a);
  EXPECT_EQ(b->CompareTo(*a), 0);
  EXPECT_EQ(As<DateField>(b).precision_, 0);
  auto s1 = Make(1), s2 = Make(1);
  s1->SetText(String("Botvinnik"));
  s2->Assign(*s1);
  EXPECT_EQ(Str(s2->ToText()), "Botvinnik");
  s2->Assign(*s2);
  EXPECT_EQ(Str(s2->ToText()), "Botvinnik");
  EXPECT_RAISES(803, Make(5)->Assign(*Make(8)));
}

TEST_F(Fields, CriterionSlotsKeepPointersAndResults) {
  auto f = Make(5);
  auto critA = Make(5), critB = Make(5);
  EXPECT_EQ(f->UnpackNativeAndTest(nullptr, 0), 1);  // no criteria: both results 1
  f->SetCriterionA(critA.get());
  f->SetCriterionB(critB.get());
  EXPECT_EQ(f->CriterionA(), critA.get());
  EXPECT_EQ(f->CriterionB(), critB.get());
  f->SetCriterion(critB.get());
  EXPECT_EQ(f->CriterionA(), critB.get());
  EXPECT_EQ(f->CriterionB(), nullptr);
  // A test installed by the search decides Matches; here: the codes are equal.
  SetCriterionTest(5, [](const Field& field, const Field& crit) {
    return field.GetInt() == const_cast<Field&>(crit).GetInt() ? 1 : 0;
  });
  critB->SetInt(2);
  std::uint8_t two = 2, three = 3;
  f->SetCriterionB(critA.get());
  critA->SetInt(3);
  f->SetCriterionA(critB.get());
  EXPECT_EQ(f->UnpackNativeAndTest(&two, 1), 0);
  EXPECT_EQ(f->ResultA(), 1);
  EXPECT_EQ(f->ResultB(), 0);
  EXPECT_EQ(f->UnpackAndTest(0, &three, 1, String("")), 1);
  EXPECT_EQ(f->ResultA(), 0);
  // The decode hook switches a base's decoding to the testing form.
  f->SetDecodeHook(&Field::DecodeAndTest);
  f->Decode(0, &two, 1, String(""));
  EXPECT_EQ(f->GetInt(), 2);
  EXPECT_EQ(f->ResultA(), 1);
  SetCriterionTest(5, nullptr);
  EXPECT_RAISES(805, f->Matches(critA.get()));
  EXPECT_EQ(f->Matches(nullptr), 1);
}

TEST_F(Fields, ChessFieldKeepsNativeBytes) {
  auto f = Make(4);
  f->SetFlags(kFlagRawGame);  // raw mode: the bytes are kept, not decoded
  const V game = {0x0C, 0x9A, 0xE7, 0x01, 0xE8};
  UnpackBytes(*f, 0, game);
  EXPECT_EQ(Bytes(f->Pack(0, String(""))), game);
  V key = game;
  key.push_back(0);
  EXPECT_EQ(Bytes(f->GetKey()), key);
  f->SetFlags(kFlagRawGame);
  std::uint8_t buf[8];
  EXPECT_EQ(f->PutKey(buf, 4), -5);
  EXPECT_EQ(f->PutKey(buf, 8), 5);
  EXPECT_EQ(V(buf, buf + 5), game);
  f->SetEmpty();
  EXPECT_EQ(f->IsEmpty(), 1);
}

}  // namespace
}  // namespace ludrex::testing
