// DateField.
#include <cstdio>

#include "frame/error.h"
#include "record/field_classes.h"
#include "record/field_util.h"

namespace ludrex {
namespace {

constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsYearParam(const String& p) {
  return p.Length() == 1 && detail::UpperAscii(p.Text()[0]) == 'Y';
}

// A number of PGN date characters: 0 when any of them is not a digit.
std::int32_t PgnPart(const std::uint8_t* p, int n) {
  std::int32_t v = 0;
  for (int i = 0; i < n; ++i) {
    if (!detail::IsDigit(p[i])) return 0;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

// Writes n digits of v (0 <= v), or n '?' when v is 0.
void PgnDigits(char* out, std::int32_t v, int n) {
  if (v == 0) {
    for (int i = 0; i < n; ++i) out[i] = '?';
    return;
  }
  auto u = static_cast<std::uint32_t>(v < 0 ? -static_cast<std::int64_t>(v) : v);
  for (int i = n - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + u % 10);
    u /= 10;
  }
}

}  // namespace

DateField::DateField(const FieldSpec& spec) : Field(spec) {
  const String& p = spec.param;
  char a = p.Length() > 0 ? detail::UpperAscii(p.Text()[0]) : 0;
  char b = p.Length() > 1 ? detail::UpperAscii(p.Text()[1]) : 0;
  if (p.Length() == 1 && a == 'Y') {
    precision_ = 0;
  } else if (p.Length() == 2 && a == 'Y' && b == 'M') {
    precision_ = 1;
  } else if (p.Length() == 1 && a == 'F') {
    precision_ = 2;
  } else {
    Raise(806);
  }
}

void DateField::Assign(const Field& other) {
  if (other.TypeCode() != TypeCode()) Refuse();
  const auto& o = static_cast<const DateField&>(other);
  day_ = o.day_;
  month_ = o.month_;
  year_ = o.year_;
}

std::int32_t DateField::PutKey(std::uint8_t* out, std::int32_t room) const {
  if (room < 3) return -3;
  auto p = static_cast<std::uint32_t>(Packed());
  out[0] = static_cast<std::uint8_t>(p >> 16);
  out[1] = static_cast<std::uint8_t>(p >> 8);
  out[2] = static_cast<std::uint8_t>(p);
  ApplyDescending(out, 3);
  return 3;
}

int DateField::CompareTo(const Field& other) const {
  CheckSameType(other);
  return detail::Sign(Packed(), static_cast<const DateField&>(other).Packed());
}

String DateField::ToText() const {
  char buf[64];
  const char* month = month_ >= 1 && month_ <= 12 ? kMonthNames[month_ - 1] : "???";
  long y = year_;
  switch (precision_) {
    case 0:
      std::snprintf(buf, sizeof buf, "%.4li", y);
      break;
    case 1:
      std::snprintf(buf, sizeof buf, "%.3s %.4li", month, y);
      break;
    default:
      std::snprintf(buf, sizeof buf, "%.2li %.3s, %.4li", static_cast<long>(day_), month, y);
      break;
  }
  buf[20] = 0;  // at most 20 characters
  return String::Copy(buf, static_cast<std::uint32_t>(std::strlen(buf)));
}

void DateField::Pack(std::int32_t baseType, const String& param, ByteBlock& out) {
  CheckBaseType(baseType);
  if (baseType == kNativeBase) {
    if (IsYearParam(param)) return SetLittleEndian(out, static_cast<std::uint32_t>(year_), 2);
    return SetLittleEndian(out, static_cast<std::uint32_t>(Packed()), 3);
  }
  if (baseType == kPgnBase) {
    char text[10];
    PgnDigits(text, year_ % 10000, 4);
    text[4] = '.';
    PgnDigits(text + 5, month_ % 100, 2);
    text[7] = '.';
    PgnDigits(text + 8, day_ % 100, 2);
    return SetBytes(out, text, 10);
  }
  Raise(805);
}

void DateField::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                       const String&) {
  CheckBaseType(baseType);
  if (baseType == kReferenceBase || baseType == 6) Raise(805);
  length = detail::Usable(bytes, length);
  std::uint32_t v = ReadUnsignedLE(bytes, length);
  switch (baseType) {
    case kNativeBase:
      if (length == 3) {
        day_ = static_cast<std::int32_t>(v % 32);
        month_ = static_cast<std::int32_t>((v / 32) % 13);
        year_ = static_cast<std::int32_t>((v / 32 / 13) % 16384);
      } else {
        day_ = month_ = 0;
        year_ = static_cast<std::int32_t>(v % 16384);
      }
      break;
    case kDosBase:
      day_ = month_ = 0;
      year_ = v == 0 ? 0 : static_cast<std::int32_t>(v % 16384);
      break;
    case kPgnBase:
      if (length != 10) {
        SetEmpty();
        break;
      }
      year_ = PgnPart(bytes, 4);
      month_ = PgnPart(bytes + 5, 2);
      day_ = PgnPart(bytes + 8, 2);
      break;
    case kCbfBase:
      day_ = month_ = 0;
      if (length < 1) {
        year_ = 0;
        break;
      }
      {
        auto b = static_cast<std::int8_t>(bytes[0]);
        year_ = b == 127 ? 0 : 1900 + b;
      }
      break;
    default:  // kCbhBase
      if (length == 3 || length == 4) {
        year_ = static_cast<std::int32_t>(v >> 9);
        month_ = static_cast<std::int32_t>((v >> 5) & 15);
        day_ = static_cast<std::int32_t>(v & 31);
      } else {
        SetEmpty();
      }
      break;
  }
  if (month_ == 0) day_ = 0;
}

}  // namespace ludrex
