#include "search/native_tests.h"

#include <memory>
#include <typeinfo>
#include <vector>

#include "record/field_classes.h"
#include "search/criteria.h"
#include "search/search_plan.h"
#include "search/subset.h"

namespace ludrex {
namespace {

// The same readings as the field classes' native decoding.
inline std::uint32_t Unsigned(const std::uint8_t* p, std::int32_t n) {
  // The stored widths first: 3 bytes (dates, library numbers), 2, 1.
  if (n == 3 && p != nullptr)
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16;
  if (n == 2 && p != nullptr) return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
  if (p == nullptr || n < 1) return 0;
  if (n > 4) n = 4;
  std::uint32_t v = 0;
  for (std::int32_t i = 0; i < n; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return v;
}
inline std::int32_t Signed(const std::uint8_t* p, std::int32_t n) {
  if (n == 2 && p != nullptr)
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
  if (p == nullptr || n < 1) return 0;
  if (n > 4) n = 4;
  std::uint32_t v = Unsigned(p, n);
  if (n < 4 && (p[n - 1] & 0x80) != 0) v |= ~0u << (8 * n);
  return static_cast<std::int32_t>(v);
}

// A value test of one criterion, or none (always 1).
template <class Crit>
class Slot {
 public:
  explicit Slot(const Field* c) : c_(dynamic_cast<const Crit*>(c)), none_(c == nullptr) {}
  bool Usable() const { return none_ || c_ != nullptr; }
  const Crit* Get() const { return c_; }

 private:
  const Crit* c_;
  bool none_;
};

// A set of codes or record numbers as one bit each, copied from a subset.
class Bits {
 public:
  void From(Subset* set) {
    if (set == nullptr) return;
    n_ = set->MaxLength();
    bits_.assign(static_cast<std::size_t>(n_ / 8 + 1), 0);
    for (std::int32_t r = set->SeqInitBase(0); r >= 0; r = set->SeqNext())
      bits_[static_cast<std::size_t>(r / 8)] |= static_cast<std::uint8_t>(1u << (r % 8));
    set->SeqStop();
    all_ = set->CurLength() == set->MaxLength();
  }
  bool Has(std::int32_t v) const {
    return v >= 0 && v < n_ && (bits_[static_cast<std::size_t>(v / 8)] >> (v % 8) & 1u) != 0;
  }
  bool All() const { return all_; }

 private:
  std::vector<std::uint8_t> bits_;
  std::int32_t n_ = 0;
  bool all_ = false;
};

// Tests with one value per field: decode v from the bytes, then test v against each criterion.
template <class Decode, class Crit, class Check>
class ValueTest final : public NativeFieldTest {
 public:
  ValueTest(const Crit* a, const Crit* b, Decode d, Check c) : a_(a), b_(b), decode_(d), check_(c) {}
  void Test(const std::uint8_t* bytes, std::int32_t length, bool& a, bool& b) const override {
    auto v = decode_(bytes, length);
    a = a_ == nullptr || check_(*a_, v);
    b = b_ == nullptr || check_(*b_, v);
  }

 private:
  const Crit* a_;
  const Crit* b_;
  Decode decode_;
  Check check_;
};

template <class Crit, class Decode, class Check>
std::unique_ptr<NativeFieldTest> Make(const Field& f, Decode d, Check c) {
  Slot<Crit> a(f.CriterionA()), b(f.CriterionB());
  if (!a.Usable() || !b.Usable()) return nullptr;
  return std::make_unique<ValueTest<Decode, Crit, Check>>(a.Get(), b.Get(), d, c);
}

// A library field: the 3-byte record number against bit copies of the criteria's sets.
class LibraryTest final : public NativeFieldTest {
 public:
  LibraryTest(const LibRefFieldCrit* a, const LibRefFieldCrit* b) : hasA_(a), hasB_(b) {
    if (a != nullptr) a_.From(a->Set());
    if (b != nullptr) b_.From(b->Set());
  }
  void Test(const std::uint8_t* bytes, std::int32_t length, bool& a, bool& b) const override {
    std::uint32_t v = Unsigned(bytes, length < 3 ? length : 3);
    if (v == 0xFFFFFFu) {  // no record: only an absent criterion holds
      a = !hasA_;
      b = !hasB_;
      return;
    }
    auto n = static_cast<std::int32_t>(v);
    a = !hasA_ || a_.Has(n);
    b = !hasB_ || b_.Has(n);
  }

 private:
  bool hasA_, hasB_;
  Bits a_, b_;
};

// An ECO field: the code against 500 bits.
class EcoTest final : public NativeFieldTest {
 public:
  EcoTest(const ECOFieldCrit* a, const ECOFieldCrit* b) : hasA_(a), hasB_(b) {
    if (a != nullptr) a_.From(a->Set());
    if (b != nullptr) b_.From(b->Set());
  }
  void Test(const std::uint8_t* bytes, std::int32_t length, bool& a, bool& b) const override {
    std::int32_t v = Signed(bytes, length);
    a = !hasA_ || a_.Has(v);
    b = !hasB_ || b_.Has(v);
  }

 private:
  bool hasA_, hasB_;
  Bits a_, b_;
};

std::unique_ptr<NativeFieldTest> TestFor(const Field& f) {
  const std::type_info& t = typeid(f);
  if (t == typeid(LibRefField)) {
    if (!f.IndexOnly()) return nullptr;
    Slot<LibRefFieldCrit> a(f.CriterionA()), b(f.CriterionB());
    if (!a.Usable() || !b.Usable()) return nullptr;
    return std::make_unique<LibraryTest>(a.Get(), b.Get());
  }
  if (t == typeid(ECOField)) {
    Slot<ECOFieldCrit> a(f.CriterionA()), b(f.CriterionB());
    if (!a.Usable() || !b.Usable()) return nullptr;
    return std::make_unique<EcoTest>(a.Get(), b.Get());
  }
  if (t == typeid(DateField)) {
    auto decode = [](const std::uint8_t* p, std::int32_t n) {
      std::uint32_t v = Unsigned(p, n);
      std::int32_t day = 0, month = 0, year;
      if (p != nullptr && n == 3) {
        day = static_cast<std::int32_t>(v % 32);
        month = static_cast<std::int32_t>((v / 32) % 13);
        year = static_cast<std::int32_t>((v / 32 / 13) % 16384);
      } else {
        year = static_cast<std::int32_t>(v % 16384);
      }
      if (month == 0) day = 0;
      return PackDate(year, month, day);
    };
    return Make<DateFieldCrit>(f, decode,
                               [](const DateFieldCrit& c, std::int32_t v) { return c.InRanges(v); });
  }
  if (t == typeid(ResultField)) {
    return Make<ResultFieldCrit>(
        f, [](const std::uint8_t* p, std::int32_t n) { return p != nullptr && n > 0 ? p[0] : 0; },
        [](const ResultFieldCrit& c, std::int32_t v) { return c.Test(v); });
  }
  if (t == typeid(SexField)) {
    return Make<SexFieldCrit>(
        f,
        [](const std::uint8_t* p, std::int32_t n) {
          std::int32_t v = Signed(p, n);
          return v == 4 ? 0 : v;
        },
        [](const SexFieldCrit& c, std::int32_t v) { return c.Test(v); });
  }
  if (t == typeid(IntField)) {
    return Make<IntFieldCrit>(f, &Signed,
                              [](const IntFieldCrit& c, std::int32_t v) { return c.Test(v); });
  }
  if (t == typeid(RoundField)) {
    return Make<RoundFieldCrit>(f, &Signed, [](const RoundFieldCrit& c, std::int32_t v) {
      return c.InRanges(v);
    });
  }
  if (t == typeid(StringField)) {
    return Make<StringFieldCrit>(
        f,
        [](const std::uint8_t* p, std::int32_t n) {
          return std::pair<const char*, std::int32_t>(reinterpret_cast<const char*>(p),
                                                      p == nullptr || n < 1 ? 0 : n);
        },
        [](const StringFieldCrit& c, std::pair<const char*, std::int32_t> v) {
          return c.Test(v.first, v.second);
        });
  }
  return nullptr;
}

}  // namespace

void AttachNativeTests(CriteriaList& list) {
  Record& r = list.SearchRecord();
  for (std::int32_t i = 0; i < r.Count(); ++i) list.SetNativeTest(i, TestFor(r[i]));
}

}  // namespace ludrex
