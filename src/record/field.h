// Field: the abstract 23-operation interface that every field and every search criterion
// implements, in slot order, plus the factory that builds a field from its specification.
#pragma once

#include <cstdint>

#include "record/field_types.h"
#include "record/pattern.h"
#include "storage/memory.h"
#include "storage/string.h"

namespace ludrex {

// Sort keys and packed bytes: a byte vector owned by the caller.
using ByteBlock = RamArray<std::uint8_t>;

// Base-type indexes as Pack and Unpack see them.
constexpr std::int32_t kNativeBase = 0;
constexpr std::int32_t kDosBase = 1;
constexpr std::int32_t kPgnBase = 2;
constexpr std::int32_t kCbfBase = 3;
constexpr std::int32_t kReferenceBase = 4;
constexpr std::int32_t kCbhBase = 5;
constexpr std::int32_t kBaseTypeCount = 7;

class Field {
 public:
  // The decode hook: the operation through which a base decodes the field's bytes.
  using DecodeHook = void (Field::*)(std::int32_t baseType, const std::uint8_t* bytes,
                                     std::int32_t length, const String& param);

  explicit Field(const FieldSpec& spec);
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;

  // Slot 0: releases the value and the field's own FieldSpec.
  virtual ~Field();
  // Slot 1: refused (803) by every class.
  virtual void SetDouble(double value);
  // Slot 2: sets the integer value where the class has one; refused (803) otherwise.
  virtual void SetInt(std::int32_t value);
  // Slot 3: sets the text of a string field; refused (803) otherwise.
  virtual void SetText(const String& text);
  // Slot 4: copies the value of a field of the same type code (else 803).
  virtual void Assign(const Field& other) = 0;
  // Slot 5: 1 when the value is the class's empty value.
  virtual int IsEmpty() const;
  // Slot 6: value := the class's empty value.
  virtual void SetEmpty() = 0;
  // Slot 7: the sort key, newly allocated (complemented when descending).
  virtual ByteBlock GetKey() const = 0;
  // Slot 8: the sort key into out; returns its length, or minus the needed length (writing
  // nothing) when room is too small.
  virtual std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const = 0;
  // Slot 9: -1, 0 or 1; a field of another type code raises 816.
  virtual int CompareTo(const Field& other) const = 0;
  // Slot 10: the display text.
  virtual String ToText() const = 0;
  // Slot 11: the integer value where the class has one; refused (803) otherwise.
  virtual std::int32_t GetInt() const;
  // Slot 12: refused (803) by every class.
  virtual double GetDouble() const;
  // Slot 13: the address of the value's body, or null.
  virtual void* GetBody();
  // Slot 14: the size of that body.
  virtual std::int32_t GetBodySize() const;
  // Slot 15: the field's bytes as base type baseType stores them, in place of out's bytes; param
  // is the field's Param in that base. out keeps its room, so a caller that packs through one
  // block allocates nothing for the fixed-size classes. A base type of 7 or more raises 901, one
  // the class does not store 805.
  virtual void Pack(std::int32_t baseType, const String& param, ByteBlock& out) = 0;
  // The same into a new block.
  ByteBlock Pack(std::int32_t baseType, const String& param) {
    ByteBlock out;
    Pack(baseType, param, out);
    return out;
  }
  // Slot 16: sets the value from a base's bytes. Never reads outside bytes[0, length).
  virtual void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                      const String& param) = 0;
  // Slot 17: 1 when the value satisfies the criterion (1 for no criterion).
  virtual int Matches(const Field* criterion) const;
  // Slots 18-20: bind the criteria tested by UnpackAndTest.
  virtual void SetCriterion(Field* criterion);
  virtual void SetCriterionA(Field* criterion);
  virtual void SetCriterionB(Field* criterion);
  // Slot 21: Unpack, then result A := Matches(A), result B := Matches(B); returns result B.
  virtual int UnpackAndTest(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                            const String& param);
  // Slot 22: UnpackAndTest for native bytes with an empty Param.
  virtual int UnpackNativeAndTest(const std::uint8_t* bytes, std::int32_t length);

  const FieldSpec& Spec() const { return spec_; }
  std::int32_t TypeCode() const { return spec_.type; }
  const String& Name() const { return spec_.name; }
  std::uint32_t Flags() const { return spec_.flags; }
  void SetFlags(std::uint32_t flags) { spec_.flags = flags; }
  bool Descending() const { return (spec_.flags & kFlagDescending) != 0; }
  bool IndexOnly() const { return (spec_.flags & kFlagIndexOnly) != 0; }
  std::int32_t Meaning() const { return UnpackFieldMeaning(spec_.name); }

  Field* CriterionA() const { return critA_; }
  Field* CriterionB() const { return critB_; }
  std::int32_t ResultA() const { return resultA_; }
  std::int32_t ResultB() const { return resultB_; }
  void ResetResults() { resultA_ = resultB_ = 1; }

  // Decodes through the hook (Unpack unless the search installed UnpackAndTest).
  void Decode(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) {
    (this->*hook_)(baseType, bytes, length, param);
  }
  void SetDecodeHook(DecodeHook hook) { hook_ = hook; }
  // Hook form of UnpackAndTest (its result lives in ResultA/ResultB).
  void DecodeAndTest(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                     const String& param) {
    UnpackAndTest(baseType, bytes, length, param);
  }

 protected:
  // Raises 816 unless other has this field's type code.
  void CheckSameType(const Field& other) const;
  // Complements the n key bytes at p when the field is descending.
  void ApplyDescending(std::uint8_t* p, std::int32_t n) const;
  // GetKey through PutKey for the classes whose key fits in a few bytes.
  ByteBlock KeyFromPutKey(std::int32_t size) const;

  FieldSpec spec_;
  Field* critA_ = nullptr;
  Field* critB_ = nullptr;
  std::int32_t resultA_ = 1;
  std::int32_t resultB_ = 1;
  DecodeHook hook_ = &Field::Unpack;
};

// Raises 901 for a base type outside 0..6.
void CheckBaseType(std::int32_t baseType);
// Raises 803: an operation the class refuses.
[[noreturn]] void Refuse();

// Reads min(length, 4) bytes little-endian; the signed form extends the sign of the last byte.
// A length below 1 (or null bytes) gives 0.
std::uint32_t ReadUnsignedLE(const std::uint8_t* bytes, std::int32_t length);
std::int32_t ReadSignedLE(const std::uint8_t* bytes, std::int32_t length);
// Replace out's bytes by the low n bytes of v, little-endian / by a copy of n bytes.
void SetLittleEndian(ByteBlock& out, std::uint32_t v, std::int32_t n);
void SetBytes(ByteBlock& out, const void* p, std::int32_t n);

// How a field tests a criterion of its type: installed by the search layer for each field type
// (the library type tests its criterion's record set itself). Without one, Matches raises 805.
using CriterionTest = int (*)(const Field& field, const Field& criterion);
void SetCriterionTest(std::int32_t fieldType, CriterionTest test);
CriterionTest GetCriterionTest(std::int32_t fieldType);

// Builds a criterion object from a criterion code's specification: installed by the search
// layer. Without one, the factory raises 801 for criterion codes.
using CriterionFactory = Field* (*)(const FieldSpec& spec);
void SetCriterionFactory(CriterionFactory factory);

// The field factory: constructs the class of a FieldSpec's type code with a copy of it.
// Type 0 without a library pattern raises 804, an unknown code 801.
Field* CreateField(const FieldSpec& spec);

}  // namespace ludrex
