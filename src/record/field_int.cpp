// IntField.
#include "frame/error.h"
#include "record/field_classes.h"
#include "record/field_util.h"

namespace ludrex {

using detail::Sign;

IntField::IntField(const FieldSpec& spec) : Field(spec) {
  const String& p = spec.param;
  if (p.Length() < 1 || p.Length() > 2) Raise(806);
  switch (p.Text()[0]) {
    case '1':
      width_ = 1;
      break;
    case '2':
      width_ = 2;
      break;
    case '4':
      width_ = 4;
      break;
    default:
      Raise(806);
  }
  if (p.Length() == 2) {
    if (p.Text()[1] != 'U' && p.Text()[1] != 'u') Raise(806);
    signed_ = 0;
  }
}

void IntField::Assign(const Field& other) {
  if (other.TypeCode() != TypeCode()) Refuse();
  value_ = static_cast<const IntField&>(other).value_;
}

// Sign byte first, then the value big-endian: the byte order of keys is the numeric order.
std::int32_t IntField::PutKey(std::uint8_t* out, std::int32_t room) const {
  if (room < 5) return -5;
  auto v = static_cast<std::uint32_t>(value_);
  out[0] = value_ >= 0 ? 1 : 0;
  out[1] = static_cast<std::uint8_t>(v >> 24);
  out[2] = static_cast<std::uint8_t>(v >> 16);
  out[3] = static_cast<std::uint8_t>(v >> 8);
  out[4] = static_cast<std::uint8_t>(v);
  ApplyDescending(out, 5);
  return 5;
}

int IntField::CompareTo(const Field& other) const {
  CheckSameType(other);
  return Sign(value_, static_cast<const IntField&>(other).value_);
}

String IntField::ToText() const { return String::FromNumber(value_); }

void IntField::Pack(std::int32_t baseType, const String& param, ByteBlock& out) {
  CheckBaseType(baseType);
  if (baseType == kNativeBase) {
    // The width comes from the Param of the field in the base; without one, the field's own.
    std::int32_t w = width_;
    if (param.Length() > 0) {
      w = param.Text()[0] - '0';
      if (w != 1 && w != 2 && w != 4) Raise(806);
    }
    return SetLittleEndian(out, static_cast<std::uint32_t>(value_), w);
  }
  if (baseType == kPgnBase) return detail::SetNumber(out, value_);
  Raise(805);
}

void IntField::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                      const String&) {
  CheckBaseType(baseType);
  if (baseType == kReferenceBase || baseType == 6) Raise(805);
  length = detail::Usable(bytes, length);
  if (length == 0) {
    SetEmpty();
    return;
  }
  if (baseType == kPgnBase) {
    value_ = ReadDecimal(reinterpret_cast<const char*>(bytes), length);
  } else {
    // Stored bytes are always read sign-extended, whatever the field's signedness.
    value_ = ReadSignedLE(bytes, length);
  }
}

}  // namespace ludrex
