// Properties over many seeded random values: Unpack(Pack(v)) gives v back for every class and
// base type that has both directions; key byte order agrees with CompareTo and the descending
// flag reverses both; Unpack of any length stays inside its bytes.
#include <cstring>
#include <random>

#include "helpers.h"
#include "record/field_chess.h"

namespace ludrex::testing {
namespace {

constexpr int kRounds = 3000;

class Properties : public ::testing::Test {
 protected:
  CaptureScope capture_;
  std::mt19937 rng_{20261208};
  std::int32_t Int(std::int64_t lo, std::int64_t hi) {
    return static_cast<std::int32_t>(std::uniform_int_distribution<std::int64_t>(lo, hi)(rng_));
  }
};

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// Packs f for base type t with param, unpacks into g, and expects equal values.
void RoundTrip(Field& f, Field& g, std::int32_t t, const char* param) {
  ByteBlock b = f.Pack(t, String(param));
  g.Unpack(t, b.Data(), b.Count(), String(param));
  ASSERT_EQ(g.CompareTo(f), 0) << "base " << t << " param " << param << " text " << Str(f.ToText())
                               << " -> " << Str(g.ToText());
}

TEST_F(Properties, IntegersRoundTrip) {
  struct Width {
    const char* param;
    std::int64_t lo, hi;
  };
  const Width widths[] = {
      {"1", -128, 127},      {"1u", -128, 127},           {"2", -32768, 32767},
      {"2u", -32768, 32767}, {"4", INT32_MIN, INT32_MAX}, {"4u", INT32_MIN, INT32_MAX}};
  for (const Width& w : widths) {
    auto f = Make(2, w.param), g = Make(2, w.param);
    for (int i = 0; i < kRounds; ++i) {
      f->SetInt(Int(w.lo, w.hi));
      RoundTrip(*f, *g, 0, w.param);
      RoundTrip(*f, *g, 2, w.param);
    }
  }
}

TEST_F(Properties, DatesRoundTrip) {
  auto f = Make(3, "F"), g = Make(3, "F");
  auto& d = As<DateField>(f);
  for (int i = 0; i < kRounds; ++i) {
    d.year_ = Int(0, 9999), d.month_ = Int(0, 12), d.day_ = d.month_ == 0 ? 0 : Int(0, 31);
    RoundTrip(*f, *g, 0, "F");
    RoundTrip(*f, *g, 2, "");
    d.year_ = Int(0, 16383), d.month_ = Int(0, 12), d.day_ = d.month_ == 0 ? 0 : Int(0, 31);
    RoundTrip(*f, *g, 0, "YM");
    d.month_ = d.day_ = 0;
    RoundTrip(*f, *g, 0, "Y");
  }
}

std::string RandomText(std::mt19937& rng, int maxLen) {
  std::string s(std::uniform_int_distribution<int>(0, maxLen)(rng), ' ');
  for (char& c : s) c = static_cast<char>(std::uniform_int_distribution<int>(1, 255)(rng));
  return s;
}

TEST_F(Properties, StringsRoundTrip) {
  auto f = Make(1), g = Make(1);
  for (int i = 0; i < kRounds; ++i) {
    std::string s = RandomText(rng_, 40);
    f->SetText(String::Copy(s.data(), static_cast<std::uint32_t>(s.size())));
    RoundTrip(*f, *g, 0, "");
    ASSERT_EQ(Str(g->ToText()), s);  // same bytes, not only the same collation
    if (!s.empty() && s != "?") {
      RoundTrip(*f, *g, 2, "");
      ASSERT_EQ(Str(g->ToText()), s);
    }
  }
}

TEST_F(Properties, SmallFieldsRoundTrip) {
  auto r = Make(5), r2 = Make(5), s = Make(8), s2 = Make(8);
  auto o = Make(6), o2 = Make(6), e = Make(7), e2 = Make(7);
  for (int i = 0; i < kRounds; ++i) {
    r->SetInt(Int(0, 255));
    RoundTrip(*r, *r2, 0, "");
    r->SetInt(Int(0, 3));
    RoundTrip(*r, *r2, 2, "");
    std::int32_t sex = Int(0, 127);
    s->SetInt(sex == 4 ? 0 : sex);
    RoundTrip(*s, *s2, 0, "");
    As<RoundField>(o).value_ = Int(-32768, 32767);
    RoundTrip(*o, *o2, 0, "");
    As<RoundField>(o).value_ = Int(0, 1000) * 512 + Int(0, 511);
    RoundTrip(*o, *o2, 2, "");
    As<ECOField>(e).value_ = Int(-32768, 32767);
    RoundTrip(*e, *e2, 0, "");
    As<ECOField>(e).value_ = Int(-1, 499);
    RoundTrip(*e, *e2, 2, "");
  }
}

TEST_F(Properties, LibraryIndexesAndRawGamesRoundTrip) {
  auto f = Make(0, "", kFlagIndexOnly), g = Make(0, "", kFlagIndexOnly);
  // Raw game scores keep whatever bytes they are given.
  auto c = Make(4, "", kFlagRawGame), c2 = Make(4, "", kFlagRawGame);
  for (int i = 0; i < kRounds; ++i) {
    f->SetInt(Int(-1, 0xFFFFFE));
    ByteBlock b = f->Pack(0, String(""));
    ASSERT_EQ(b.Count(), 3);
    g->Unpack(0, b.Data(), b.Count(), String(""));
    ASSERT_EQ(g->GetInt(), f->GetInt());
    std::string bytes = RandomText(rng_, 60);
    UnpackText(*c, 0, bytes);
    ByteBlock packed = c->Pack(0, String(""));
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(packed.Data()),
                          static_cast<std::size_t>(packed.Count())),
              bytes);
    c2->Unpack(0, packed.Data(), packed.Count(), String(""));
    ByteBlock again = c2->Pack(0, String(""));
    ASSERT_EQ(CompareBytes(again.Data(), again.Count(), packed.Data(), packed.Count()), 0);
  }
}

// The byte order of keys (GetKey and PutKey) equals CompareTo; descending reverses both.
template <class SetRandom>
void CheckKeyOrder(std::int32_t type, const char* param, SetRandom setRandom,
                   bool putKeyAsGetKey = true) {
  for (std::uint32_t flags : {0u, kFlagDescending}) {
    auto a = Make(type, param, flags), b = Make(type, param, flags);
    for (int i = 0; i < kRounds; ++i) {
      setRandom(*a);
      setRandom(*b);
      if (i % 7 == 0) b->Assign(*a);
      ByteBlock ka = a->GetKey(), kb = b->GetKey();
      int byKey = Sign(CompareBytes(ka.Data(), ka.Count(), kb.Data(), kb.Count()));
      int byValue = a->CompareTo(*b);
      ASSERT_EQ(byKey, flags ? -byValue : byValue)
          << "type " << type << " " << Str(a->ToText()) << " vs " << Str(b->ToText());
      if (putKeyAsGetKey) {
        std::uint8_t buf[128];
        std::int32_t n = a->PutKey(buf, sizeof buf);
        ASSERT_EQ(std::vector<std::uint8_t>(buf, buf + n), Bytes(ka));
      }
    }
  }
}

TEST_F(Properties, KeysAgreeWithComparison) {
  CheckKeyOrder(2, "4", [&](Field& f) {
    std::int32_t v = Int(INT32_MIN, INT32_MAX);
    if (Int(0, 3) == 0) v = Int(-300, 300);
    f.SetInt(v);
  });
  CheckKeyOrder(3, "F", [&](Field& f) {
    auto& d = dynamic_cast<DateField&>(f);
    d.year_ = Int(0, 16383), d.month_ = Int(0, 12), d.day_ = Int(0, 31);
  });
  CheckKeyOrder(
      5, "", [&](Field& f) { f.SetInt(Int(0, 255)); }, false);
  CheckKeyOrder(
      8, "", [&](Field& f) { f.SetInt(Int(0, 255)); }, false);
  CheckKeyOrder(6, "", [&](Field& f) { dynamic_cast<RoundField&>(f).value_ = Int(0, 65535); });
  CheckKeyOrder(7, "", [&](Field& f) { dynamic_cast<ECOField&>(f).value_ = Int(0, 499); });
  CheckKeyOrder(1, "", [&](Field& f) {
    std::string s = RandomText(rng_, 12);
    if (Int(0, 1) == 0) {  // often a near neighbour: letters of both cases
      for (char& c : s) c = "aAbBzZ\xC5\xE5\xA8\xB8\xC6\xE6\xC0\xE0\xDF\xFF"[Int(0, 15)];
    }
    f.SetText(String::Copy(s.data(), static_cast<std::uint32_t>(s.size())));
  });
}

TEST_F(Properties, ResultAndSexPutKeyIsTheComplementOfGetKey) {
  for (int type : {5, 8}) {
    for (std::uint32_t flags : {0u, kFlagDescending}) {
      auto f = Make(type, "", flags);
      for (int code = 0; code < 256; ++code) {
        f->SetInt(code);
        std::uint8_t k = 0;
        ASSERT_EQ(f->PutKey(&k, 1), 1);
        ASSERT_EQ(k, 255 - f->GetKey().Data()[0]);
      }
    }
  }
}

TEST_F(Properties, UnpackOfAnyLengthStaysInsideTheBytes) {
  RecordPattern library;
  library.Append(Spec(1, "~3"));
  std::vector<std::unique_ptr<Field>> fields;
  fields.push_back(Make(0, "", kFlagIndexOnly));
  for (int t = 1; t <= 8; ++t) fields.push_back(Make(t, t == 2 ? "1u" : (t == 3 ? "YM" : "")));
  fields.push_back(Make(4, "", kFlagRawGame));
  for (auto& f : fields) {
    for (std::int32_t base = 0; base < 7; ++base) {
      for (std::int32_t len = 0; len <= 16; ++len) {
        for (int rep = 0; rep < 20; ++rep) {
          // Exactly len bytes on the heap, so that a read past them is caught by the sanitizer.
          std::unique_ptr<std::uint8_t[]> bytes(len > 0 ? new std::uint8_t[len] : nullptr);
          for (std::int32_t i = 0; i < len; ++i) {
            bytes[i] = static_cast<std::uint8_t>(rep < 3 ? "0.9?"[rep + i % 2] : Int(0, 255));
          }
          try {
            f->Unpack(base, bytes.get(), len, String("YM"));
            f->UnpackAndTest(base, bytes.get(), len, String(""));
          } catch (const Failure&) {
            // refused base types are reported, never crash
          }
        }
      }
      try {
        f->Unpack(base, nullptr, 5, String(""));  // null bytes read as none
        f->Unpack(base, nullptr, -3, String(""));
      } catch (const Failure&) {
      }
    }
  }
}

}  // namespace
}  // namespace ludrex::testing
