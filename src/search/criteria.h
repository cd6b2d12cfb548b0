// The search criteria: one class per field type (type code 0x10000 + k), made by the field
// factory. A criterion implements the field interface, but only its value, its packed form and
// its test matter: the other operations are refused (803) or do nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "record/field.h"
#include "record/library_access.h"
#include "storage/string.h"

namespace ludrex {

class Base;
class Subset;

// What every criterion shares: refused conversions, empty keys, Assign that only checks the
// type code, and the packed form for base type 0 (1 raises 805; the others pack nothing).
class FieldCrit : public Field {
 public:
  explicit FieldCrit(const FieldSpec& spec) : Field(spec) {}
  void Assign(const Field& other) override;
  int IsEmpty() const override { return 1; }
  void SetEmpty() override {}
  ByteBlock GetKey() const override { return ByteBlock(); }
  std::int32_t PutKey(std::uint8_t*, std::int32_t) const override { return 0; }
  int CompareTo(const Field&) const override { return 0; }
  String ToText() const override;
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;

 protected:
  // The packed form for base type 0.
  virtual void PackNative(ByteBlock& out) = 0;
  virtual void UnpackNative(const std::uint8_t* bytes, std::int32_t length) = 0;
};

// Text search: type 0 equal, 1 contains, 2 begins with (the field text folded to upper case,
// a-z only); any other type matches always.
class StringFieldCrit : public FieldCrit {
 public:
  explicit StringFieldCrit(const FieldSpec& spec);
  void SetEmpty() override;
  void* GetBody() override { return const_cast<char*>(text_.Text()); }

  std::int32_t SearchType() const { return type_; }
  void SetSearchType(std::int32_t type) { type_ = type; }
  const String& Text() const { return text_; }
  void SetCritText(const String& text) { text_.Assign(text); }
  // Whether n bytes of field text satisfy the criterion.
  bool Test(const char* text, std::int32_t n) const;

 protected:
  void PackNative(ByteBlock& out) override;
  void UnpackNative(const std::uint8_t* bytes, std::int32_t length) override;

 private:
  std::int32_t type_ = 0;
  String text_;
};

// Pairs (lower, upper) of signed 32-bit bounds: the value of integer, date and round criteria.
class RangeFieldCrit : public FieldCrit {
 public:
  using FieldCrit::FieldCrit;
  std::int32_t Length() const { return static_cast<std::int32_t>(pairs_.size()); }
  // A negative count raises 14; new pairs are (0, 0).
  void SetLength(std::int32_t n);
  // Pair i (i outside the pairs raises 12).
  void GetPair(std::int32_t i, std::int32_t* upper, std::int32_t* lower) const;
  void SetPair(std::int32_t i, std::int32_t upper, std::int32_t lower);
  // lower <= v <= upper for some pair.
  bool InRanges(std::int32_t v) const {
    // Without early exits: the outcome of a search's test is hard to predict game by game.
    bool hit = false;
    for (const auto& p : pairs_) hit = hit | ((p.first <= v) & (v <= p.second));
    return hit;
  }
  const std::vector<std::pair<std::int32_t, std::int32_t>>& Pairs() const { return pairs_; }

 protected:
  void PackNative(ByteBlock& out) override;
  void UnpackNative(const std::uint8_t* bytes, std::int32_t length) override;
  // Reads the pairs at p; returns the bytes used (0 when they do not fit).
  std::int32_t ReadPairs(const std::uint8_t* p, std::int32_t length);

  std::vector<std::pair<std::int32_t, std::int32_t>> pairs_;  // (lower, upper)
};

// Integer: mode 0 ranges, 1 every bit of the mask set, 2 some bit of the mask set.
class IntFieldCrit : public RangeFieldCrit {
 public:
  using RangeFieldCrit::RangeFieldCrit;
  std::int32_t Mode() const { return mode_; }
  void SetMode(std::int32_t mode) { mode_ = mode; }
  std::uint32_t Mask() const { return mask_; }
  void SetMask(std::uint32_t mask) { mask_ = mask; }
  bool Test(std::int32_t v) const;

 protected:
  void PackNative(ByteBlock& out) override;
  void UnpackNative(const std::uint8_t* bytes, std::int32_t length) override;

 private:
  std::int32_t mode_ = 0;
  std::uint32_t mask_ = 0;
};

// Dates as P = ((year * 13 + month) << 5) + day; rounds as round * 512 + game.
class DateFieldCrit : public RangeFieldCrit {
 public:
  using RangeFieldCrit::RangeFieldCrit;
};
class RoundFieldCrit : public RangeFieldCrit {
 public:
  using RangeFieldCrit::RangeFieldCrit;
};

// A 32-bit mask of codes: result and sex criteria.
class MaskFieldCrit : public FieldCrit {
 public:
  using FieldCrit::FieldCrit;
  void SetEmpty() override { mask_ = 0; }
  void* GetBody() override { return &mask_; }
  std::uint32_t Mask() const { return mask_; }
  void SetMask(std::uint32_t mask) { mask_ = mask; }
  bool Test(std::int32_t code) const {
    auto c = static_cast<std::uint32_t>(code);
    return ((c < 32u) & ((mask_ >> (c & 31u)) & 1u)) != 0;
  }

 protected:
  void PackNative(ByteBlock& out) override;
  void UnpackNative(const std::uint8_t* bytes, std::int32_t length) override;

 private:
  std::uint32_t mask_ = 0;
};
class ResultFieldCrit : public MaskFieldCrit {
 public:
  using MaskFieldCrit::MaskFieldCrit;
};
class SexFieldCrit : public MaskFieldCrit {
 public:
  using MaskFieldCrit::MaskFieldCrit;
};

// A set of the 500 ECO codes A00 ... E99 (0 ... 499), kept as a subset the host may work on.
class ECOFieldCrit : public FieldCrit {
 public:
  static constexpr std::int32_t kCodes = 500;
  static constexpr std::int32_t kPackedSize = 4001;

  explicit ECOFieldCrit(const FieldSpec& spec);
  ~ECOFieldCrit() override;
  void SetEmpty() override;
  void* GetBody() override { return set_; }
  Subset* Set() const { return set_; }
  // Includes or excludes a code; a code outside 0..499 raises 701.
  void SetItem(std::int32_t code, bool on);
  bool GetItem(std::int32_t code) const;
  // Copies the members of subset below 500 into the set.
  void CopyFrom(Subset& subset);
  // A code is in the set; an empty field (-1) or any code outside 0..499 is not.
  bool Test(std::int32_t code) const;

 protected:
  void PackNative(ByteBlock& out) override;
  void UnpackNative(const std::uint8_t* bytes, std::int32_t length) override;

 private:
  Subset* set_;
};

// A set of record numbers of a library base: a game's library field matches when its record
// number is in the set. Packed by content (the library records themselves) so that the same
// names are found again in another base's library.
class LibRefFieldCrit : public FieldCrit, public RecordSetView {
 public:
  explicit LibRefFieldCrit(const FieldSpec& spec);
  ~LibRefFieldCrit() override;
  void SetEmpty() override;
  // The field layer tests the set through this view.
  void* GetBody() override { return static_cast<RecordSetView*>(this); }
  bool Contains(std::int32_t n) const override;
  bool HoldsAll() const override;

  Subset* Set() const { return set_; }
  Base* Library() const { return library_; }
  // Binds the library; the set grows to the library's record count.
  void SetBase(Base* library);
  // The set := the members of subset (positions in the library's key order), each converted to
  // a record number; the library becomes the bound one.
  void SetSubsetBody(Subset& subset, Base* library);

 protected:
  void PackNative(ByteBlock& out) override;
  void UnpackNative(const std::uint8_t* bytes, std::int32_t length) override;

 private:
  void Resize(std::int32_t maxLength);

  Subset* set_;
  Base* library_ = nullptr;
};

// Builds the criterion object of a criterion code (0x10000 + k); the game-score criterion is
// made by the factory that SetChessCriterionFactory installs, and refused with 801 until then.
Field* CreateCriterion(const FieldSpec& spec);
using ChessCriterionFactory = Field* (*)(const FieldSpec& spec);
void SetChessCriterionFactory(ChessCriterionFactory factory);

// Installs the criterion factory and the per-type tests in the field layer.
void InstallCriteria();

// ((year * 13 + month) << 5) + day.
inline std::int32_t PackDate(std::int32_t year, std::int32_t month, std::int32_t day) {
  return static_cast<std::int32_t>(
      ((static_cast<std::uint32_t>(year) * 13u + static_cast<std::uint32_t>(month)) << 5) +
      static_cast<std::uint32_t>(day));
}

}  // namespace ludrex
