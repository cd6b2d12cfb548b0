// The nine field classes: their values, keys, comparison, display text and byte encodings.
#pragma once

#include <cstdint>

#include "record/field.h"
#include "record/record.h"

namespace ludrex {

class Base;
class RecordSetView;

// A 32-bit integer stored in 1, 2 or 4 bytes, signed or not (Param "1", "1u", ... "4u").
class IntField : public Field {
 public:
  explicit IntField(const FieldSpec& spec);
  void SetInt(std::int32_t value) override { value_ = value; }
  void Assign(const Field& other) override;
  int IsEmpty() const override { return value_ == 0; }
  void SetEmpty() override { value_ = 0; }
  ByteBlock GetKey() const override { return KeyFromPutKey(5); }
  std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const override;
  int CompareTo(const Field& other) const override;
  String ToText() const override;
  std::int32_t GetInt() const override { return value_; }
  void* GetBody() override { return &value_; }
  std::int32_t GetBodySize() const override { return 4; }
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;

  std::int32_t value_ = 0;
  std::uint8_t width_ = 4;
  std::uint8_t signed_ = 1;
};

// A date of day, month (1-12, 0 unknown) and year, kept to a precision of year (0), year and
// month (1) or a full date (2), from the Param "Y", "YM" or "F".
class DateField : public Field {
 public:
  explicit DateField(const FieldSpec& spec);
  void SetInt(std::int32_t value) override { year_ = value; }
  void Assign(const Field& other) override;
  int IsEmpty() const override { return day_ == 0 && month_ == 0 && year_ == 0; }
  void SetEmpty() override { day_ = month_ = year_ = 0; }
  ByteBlock GetKey() const override { return KeyFromPutKey(3); }
  std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const override;
  int CompareTo(const Field& other) const override;
  String ToText() const override;
  std::int32_t GetInt() const override { return year_; }
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;

  // ((year * 13 + month) << 5) + day: the packed and comparable form.
  std::int32_t Packed() const {
    return static_cast<std::int32_t>(
        ((static_cast<std::uint32_t>(year_) * 13u + static_cast<std::uint32_t>(month_)) << 5) +
        static_cast<std::uint32_t>(day_));
  }

  std::int32_t day_ = 0;
  std::int32_t month_ = 0;
  std::int32_t year_ = 0;
  std::int32_t precision_ = 2;
};

// A text of up to 65520 characters; sorted and compared by the locale collation.
class StringField : public Field {
 public:
  explicit StringField(const FieldSpec& spec);
  void SetText(const String& text) override { text_.Assign(text); }
  void Assign(const Field& other) override;
  int IsEmpty() const override { return text_.Length() == 0; }
  void SetEmpty() override;
  ByteBlock GetKey() const override;
  std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const override;
  int CompareTo(const Field& other) const override;
  String ToText() const override { return String::Copy(text_.Text(), text_.Length()); }
  void* GetBody() override { return const_cast<char*>(text_.Text()); }
  std::int32_t GetBodySize() const override { return text_.Length(); }
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;

  const String& Text() const { return text_; }
  // Sets the text from n bytes (no NUL needed after them).
  void SetBytes(const char* bytes, std::int32_t n);

 private:
  String text_;
};

// A small code kept in 32 bits, keyed and compared as one byte: the base of ResultField and
// SexField, which differ only in how they are stored in each base format.
class CodeField : public Field {
 public:
  explicit CodeField(const FieldSpec& spec) : Field(spec) {}
  void SetInt(std::int32_t value) override { code_ = value; }
  void Assign(const Field& other) override;
  int IsEmpty() const override { return code_ == 0; }
  void SetEmpty() override { code_ = 0; }
  ByteBlock GetKey() const override;
  std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const override;
  int CompareTo(const Field& other) const override;
  String ToText() const override { return String::FromNumber(code_); }
  std::int32_t GetInt() const override { return code_; }
  void* GetBody() override { return &code_; }
  std::int32_t GetBodySize() const override { return 4; }

  std::int32_t code_ = 0;
};

// Game result: 0 unknown, 1 draw, 2 White won, 3 Black won.
class ResultField : public CodeField {
 public:
  using CodeField::CodeField;
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;
};

// Sex code.
class SexField : public CodeField {
 public:
  using CodeField::CodeField;
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;
};

// Round and game number: value = round * 512 + game.
class RoundField : public Field {
 public:
  explicit RoundField(const FieldSpec& spec) : Field(spec) {}
  void Assign(const Field& other) override;
  int IsEmpty() const override { return value_ == 0; }
  void SetEmpty() override { value_ = 0; }
  ByteBlock GetKey() const override { return KeyFromPutKey(2); }
  std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const override;
  int CompareTo(const Field& other) const override;
  String ToText() const override;
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;

  std::int32_t value_ = 0;
};

// ECO code: letter index (A = 0 ... E = 4) * 100 + number; -1 when empty.
class ECOField : public Field {
 public:
  explicit ECOField(const FieldSpec& spec) : Field(spec) {}
  void Assign(const Field& other) override;
  int IsEmpty() const override { return value_ == -1; }
  void SetEmpty() override { value_ = -1; }
  ByteBlock GetKey() const override { return KeyFromPutKey(2); }
  std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const override;
  int CompareTo(const Field& other) const override;
  String ToText() const override;
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;

  std::int32_t value_ = -1;
};

// A reference to a record of a library base (players, events, ...): the record number in the
// library and, unless index-only, the library record itself, loaded on demand.
class LibRefField : public Field {
 public:
  static constexpr std::int32_t kUnbound = 0x7FFFFFFF;

  explicit LibRefField(const FieldSpec& spec);
  ~LibRefField() override;
  void SetInt(std::int32_t value) override;
  void Assign(const Field& other) override;
  int IsEmpty() const override;
  void SetEmpty() override;
  ByteBlock GetKey() const override;
  std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const override;
  int CompareTo(const Field& other) const override;
  String ToText() const override;
  std::int32_t GetInt() const override { return recordNo_; }
  void* GetBody() override { return &record_; }
  void Pack(std::int32_t baseType, const String& param, ByteBlock& out) override;
  void Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
              const String& param) override;
  int Matches(const Field* criterion) const override;
  void SetCriterion(Field* criterion) override;
  void SetCriterionA(Field* criterion) override;
  void SetCriterionB(Field* criterion) override;
  int UnpackAndTest(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                    const String& param) override;
  int UnpackNativeAndTest(const std::uint8_t* bytes, std::int32_t length) override;

  // Binds the field to the library (type, name): nothing happens when both are the current
  // ones; otherwise an opened library is closed, to be reopened on first need.
  void Bind(std::int32_t type, const String& name);
  // Opens the bound library when it is not open yet; returns it.
  Base* OpenLibrary();
  // Translation of record numbers to sort positions used by PutKey (null: none). The table is
  // the caller's and must hold count entries; numbers outside it key as 0xFFFFFFFF.
  void SetKeyTable(const std::int32_t* table, std::int32_t count) {
    keyTable_ = table;
    keyTableCount_ = count;
  }

  Record& LibraryRecord() { return record_; }
  const Record& LibraryRecord() const { return record_; }
  std::int32_t RecordNumber() const { return recordNo_; }
  std::int32_t LibraryType() const { return libType_; }
  const String& LibraryName() const { return libName_; }
  Base* LibraryBase() const { return library_; }

 private:
  static const RecordPattern& LibraryPatternOf(const FieldSpec& spec);
  void CloseLibrary();
  int TestNumber(const RecordSetView* set, std::int32_t n, bool everyRule) const;

  const RecordSetView* setA_ = nullptr;
  const RecordSetView* setB_ = nullptr;
  const std::int32_t* keyTable_ = nullptr;
  std::int32_t keyTableCount_ = 0;
  std::int32_t libType_ = kUnbound;
  String libName_;
  Base* library_ = nullptr;
  std::int32_t recordNo_ = -1;
  Record record_;
};

}  // namespace ludrex
