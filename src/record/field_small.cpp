// The one- and two-byte fields: CodeField (ResultField, SexField), RoundField, ECOField.
#include <algorithm>
#include <cstdio>

#include "frame/error.h"
#include "record/field_classes.h"
#include "record/field_util.h"

namespace ludrex {
namespace {

using detail::Sign;

// One-byte key of a code. GetKey complements it for a descending field; PutKey does the
// opposite and complements it for an ascending one.
std::int32_t PutCodeKey(std::int32_t code, bool complement, std::uint8_t* out, std::int32_t room) {
  if (room < 1) return -1;
  auto b = static_cast<std::uint8_t>(code);
  out[0] = complement ? static_cast<std::uint8_t>(255 - b) : b;
  return 1;
}

ByteBlock CodeKey(std::int32_t code, bool descending) {
  ByteBlock key;
  key.SetCount(1);
  PutCodeKey(code, descending, key.Data(), 1);
  return key;
}

void CheckUnpackType(std::int32_t baseType) {
  CheckBaseType(baseType);
  if (baseType == kReferenceBase || baseType == 6) Raise(805);
}

}  // namespace

// ---- CodeField ---------------------------------------------------------------------------

// The type codes are compared first, so other is a CodeField of the same class.
void CodeField::Assign(const Field& other) {
  if (other.TypeCode() != TypeCode()) Refuse();
  code_ = static_cast<const CodeField&>(other).code_;
}

ByteBlock CodeField::GetKey() const { return CodeKey(code_, Descending()); }

std::int32_t CodeField::PutKey(std::uint8_t* out, std::int32_t room) const {
  return PutCodeKey(code_, !Descending(), out, room);
}

int CodeField::CompareTo(const Field& other) const {
  CheckSameType(other);
  return Sign(code_, static_cast<const CodeField&>(other).code_);
}

// ---- ResultField --------------------------------------------------------------------------

void ResultField::Pack(std::int32_t baseType, const String&, ByteBlock& out) {
  CheckBaseType(baseType);
  if (baseType == kNativeBase) return SetLittleEndian(out, static_cast<std::uint32_t>(code_), 1);
  if (baseType == kPgnBase) {
    switch (code_) {
      case 1:
        return detail::SetText(out, "1/2-1/2");
      case 2:
        return detail::SetText(out, "1-0");
      case 3:
        return detail::SetText(out, "0-1");
      default:
        return detail::SetText(out, "*");
    }
  }
  Raise(805);
}

void ResultField::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                         const String&) {
  CheckUnpackType(baseType);
  length = detail::Usable(bytes, length);
  switch (baseType) {
    case kNativeBase:
      code_ = length > 0 ? bytes[0] : 0;
      break;
    case kDosBase:
      code_ = ReadSignedLE(bytes, length);
      if (code_ == 4) code_ = 0;
      break;
    case kPgnBase:
      if (detail::BytesEqual(bytes, length, "1/2-1/2")) {
        code_ = 1;
      } else if (detail::BytesEqual(bytes, length, "1-0")) {
        code_ = 2;
      } else if (detail::BytesEqual(bytes, length, "0-1")) {
        code_ = 3;
      } else {
        code_ = 0;
      }
      break;
    default: {  // kCbfBase, kCbhBase: the low two bits of the first byte
      static constexpr std::int32_t kByLowBits[4] = {3, 1, 2, 0};
      code_ = length > 0 ? kByLowBits[bytes[0] & 3] : 0;
      break;
    }
  }
}

// ---- SexField -----------------------------------------------------------------------------

void SexField::Pack(std::int32_t baseType, const String&, ByteBlock& out) {
  CheckBaseType(baseType);
  if (baseType != kNativeBase) Raise(805);
  return SetLittleEndian(out, static_cast<std::uint32_t>(code_), 1);
}

void SexField::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                      const String&) {
  CheckBaseType(baseType);
  if (baseType != kNativeBase) Raise(805);
  code_ = ReadSignedLE(bytes, detail::Usable(bytes, length));
  if (code_ == 4) code_ = 0;
}

// ---- RoundField ---------------------------------------------------------------------------

void RoundField::Assign(const Field& other) {
  if (other.TypeCode() != TypeCode()) Refuse();
  value_ = static_cast<const RoundField&>(other).value_;
}

std::int32_t RoundField::PutKey(std::uint8_t* out, std::int32_t room) const {
  if (room < 2) return -2;
  out[0] = static_cast<std::uint8_t>(value_ >> 8);
  out[1] = static_cast<std::uint8_t>(value_);
  ApplyDescending(out, 2);
  return 2;
}

int RoundField::CompareTo(const Field& other) const {
  CheckSameType(other);
  return Sign(value_, static_cast<const RoundField&>(other).value_);
}

String RoundField::ToText() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld.%ld", static_cast<long>(value_ / 512),
                static_cast<long>(value_ % 512));
  return String::Copy(buf, static_cast<std::uint32_t>(std::strlen(buf)));
}

void RoundField::Pack(std::int32_t baseType, const String&, ByteBlock& out) {
  CheckBaseType(baseType);
  if (baseType == kNativeBase) return SetLittleEndian(out, static_cast<std::uint32_t>(value_), 2);
  if (baseType == kPgnBase) {
    std::int32_t round = value_ / 512, game = value_ % 512;
    if (round == 0 && game == 0) return detail::SetText(out, "?");
    char buf[32];
    int n = 0;
    if (round != 0) n = std::snprintf(buf, sizeof buf, "%ld", static_cast<long>(round));
    if (game != 0)
      n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ".%ld",
                         static_cast<long>(game));
    return SetBytes(out, buf, n);
  }
  Raise(805);
}

void RoundField::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                        const String&) {
  CheckUnpackType(baseType);
  length = detail::Usable(bytes, length);
  std::int32_t b0 = length > 0 ? bytes[0] : 0;
  std::int32_t b1 = length > 1 ? bytes[1] : 0;
  switch (baseType) {
    case kNativeBase:
      value_ = ReadSignedLE(bytes, length);
      break;
    case kDosBase:
      value_ = b1 == 0 ? b0 * 512 : b1 * 512 + b0;
      break;
    case kPgnBase:
    case kCbfBase: {
      // Numbers too long for the value saturate, so a value never wraps to a negative one
      // whose text would read back as another.
      constexpr std::uint64_t kTop = 0x7FFFFFFF;
      std::uint64_t round = 0, game = 0;
      bool afterDot = false;
      for (std::int32_t i = 0; i < length; ++i) {
        std::uint8_t c = bytes[i];
        if (c == '.' && !afterDot) {
          afterDot = true;
        } else if (detail::IsDigit(c)) {
          std::uint64_t& part = afterDot ? game : round;
          part = std::min<std::uint64_t>(part * 10u + (c - '0'), kTop);
        }
      }
      value_ = static_cast<std::int32_t>(std::min<std::uint64_t>(round * 512u + game, kTop));
      break;
    }
    default:  // kCbhBase
      value_ = b0 * 512 + b1;
      break;
  }
}

// ---- ECOField -----------------------------------------------------------------------------

void ECOField::Assign(const Field& other) {
  if (other.TypeCode() != TypeCode()) Refuse();
  value_ = static_cast<const ECOField&>(other).value_;
}

std::int32_t ECOField::PutKey(std::uint8_t* out, std::int32_t room) const {
  if (room < 2) return -2;
  out[0] = static_cast<std::uint8_t>(value_ >> 8);
  out[1] = static_cast<std::uint8_t>(value_);
  ApplyDescending(out, 2);
  return 2;
}

int ECOField::CompareTo(const Field& other) const {
  CheckSameType(other);
  return Sign(value_, static_cast<const ECOField&>(other).value_);
}

// "B5" for 105; an empty (negative) code shows as an empty text.
String ECOField::ToText() const {
  if (value_ < 0) return String::Copy("", 0);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%c%ld", static_cast<char>('A' + value_ / 100 % 26),
                static_cast<long>(value_ % 100));
  return String::Copy(buf, static_cast<std::uint32_t>(std::strlen(buf)));
}

void ECOField::Pack(std::int32_t baseType, const String&, ByteBlock& out) {
  CheckBaseType(baseType);
  if (baseType == kNativeBase) return SetLittleEndian(out, static_cast<std::uint32_t>(value_), 2);
  if (baseType == kPgnBase) {
    if (value_ < 0) return detail::SetText(out, "?");
    char text[3] = {static_cast<char>('A' + (value_ % 1000) / 100),
                    static_cast<char>('0' + value_ % 100 / 10),
                    static_cast<char>('0' + value_ % 10)};
    return SetBytes(out, text, 3);
  }
  Raise(805);
}

void ECOField::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                      const String&) {
  CheckUnpackType(baseType);
  length = detail::Usable(bytes, length);
  std::uint32_t v = ReadUnsignedLE(bytes, length < 2 ? length : 2);
  switch (baseType) {
    case kNativeBase:
      value_ = ReadSignedLE(bytes, length);
      break;
    case kDosBase:
      value_ = static_cast<std::int32_t>(((v >> 6) & 127) + (v >> 13) * 100) - 100;
      break;
    case kPgnBase: {
      std::int32_t letter = -1, number = -1;
      if (length > 0) {
        char c = detail::UpperAscii(static_cast<char>(bytes[0]));
        if (c >= 'A' && c <= 'E') letter = c - 'A';
      }
      if (length > 1 && detail::IsDigit(bytes[1])) {
        number = bytes[1] - '0';
        if (length > 2 && detail::IsDigit(bytes[2])) number = number * 10 + (bytes[2] - '0');
      }
      value_ = letter >= 0 && number >= 0 ? letter * 100 + number : -1;
      break;
    }
    case kCbfBase:
      value_ = v == 0 ? -1 : static_cast<std::int32_t>(v) - 1;
      break;
    default:  // kCbhBase
      value_ = v == 0 ? -1 : static_cast<std::int32_t>(v >> 7) - 1;
      break;
  }
}

}  // namespace ludrex
