// The header file of a native base: its two texts, flags, record count, description and field
// specifications; and the storage rules that give each field its kind, size and group.
#include <algorithm>
#include <cstring>

#include "base/native/native_base.h"
#include "frame/error.h"
#include "record/field_types.h"

namespace ludrex {

const char kNativeIdentification[] = "Tallowmerecraft 3.0 database.";
const char kNativeFormatMark[] = "\nChess Korvanex format. Version 1.3";

namespace {

constexpr std::size_t kTextWidth = 50;
constexpr std::size_t kFixedPart = 112;

class Reader {
 public:
  Reader(const std::vector<std::uint8_t>& b, std::size_t at) : b_(b), at_(at) {}
  std::uint32_t U32() {
    Need(4);
    std::uint32_t v = static_cast<std::uint32_t>(b_[at_]) |
                      (static_cast<std::uint32_t>(b_[at_ + 1]) << 8) |
                      (static_cast<std::uint32_t>(b_[at_ + 2]) << 16) |
                      (static_cast<std::uint32_t>(b_[at_ + 3]) << 24);
    at_ += 4;
    return v;
  }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  std::string Text(std::uint32_t n) {
    Need(n);
    std::string s(reinterpret_cast<const char*>(b_.data() + at_), n);
    at_ += n;
    return s;
  }

 private:
  void Need(std::uint64_t n) {
    if (at_ + n > b_.size()) Raise(945, "header");
  }
  const std::vector<std::uint8_t>& b_;
  std::size_t at_;
};

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutText(std::vector<std::uint8_t>& out, const char* p, std::size_t n) {
  PutU32(out, static_cast<std::uint32_t>(n));
  out.insert(out.end(), p, p + n);
}

bool SameFolded(const String& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.Length() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char x = a.Text()[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// Whether param is one of the subtypes of a type that has subtypes.
bool KnownSubtype(std::int32_t type, const String& param) {
  std::int32_t n = FieldSubtypeCount(type);
  if (n == 0) return true;
  for (std::int32_t k = 0; k < n; ++k) {
    if (SameFolded(param, FieldSubtypeParam(type, k))) return true;
  }
  return false;
}

// The fixed size a field type must have (0 for the variable-size types).
std::int32_t ExpectedSize(std::int32_t type, const String& param) {
  switch (type) {
    case kLibRefType:
      return 3;
    case kIntType:
      return param.Length() > 0 ? param.Text()[0] - '0' : 0;
    case kDateType:
      return SameFolded(param, "Y") ? 2 : 3;
    case kResultType:
    case kSexType:
      return 1;
    case kRoundType:
    case kEcoType:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

void AssignStorage(std::vector<NativeField>& fields) {
  std::int32_t ordinal0 = 0, ordinal1 = 0, nextOwn = 2;
  for (NativeField& f : fields) {
    std::int32_t type = f.spec.type;
    const String& param = f.spec.param;
    if (type >= kStringType && type < kFieldTypeCount) {
      if (type == kIntType && param.Length() == 0) Raise(101);
      if (!KnownSubtype(type, param)) Raise(806);
    }
    switch (type) {
      case kLibRefType:
      case kIntType:
      case kDateType:
      case kResultType:
      case kSexType:
      case kRoundType:
      case kEcoType:
        f.kind = kStorageFixed;
        f.size = ExpectedSize(type, param);
        f.group = 0;
        f.ordinal = ordinal0++;
        break;
      case kStringType:
        f.kind = kStorageVariable;
        f.size = 0;
        f.group = 1;
        f.ordinal = ordinal1++;
        break;
      case kChessType:
        f.kind = kStorageVariable;
        f.size = 0;
        f.group = nextOwn;
        f.ordinal = 0;
        if (nextOwn < 99) ++nextOwn;
        break;
      default:
        Raise(906);
    }
  }
}

bool ParseNativeHeader(const std::vector<std::uint8_t>& bytes, NativeHeader& out,
                       std::string& mark) {
  mark.clear();
  for (std::size_t i = kTextWidth; i < std::min(bytes.size(), 2 * kTextWidth) && bytes[i] != 0;
       ++i) {
    mark.push_back(static_cast<char>(bytes[i]));
  }
  if (mark != kNativeFormatMark) return false;
  if (bytes.size() < kFixedPart) Raise(945, "header");
  Reader r(bytes, 2 * kTextWidth);
  out.flags = r.U32();
  out.count = r.I32();
  if (out.count < 0) Raise(945, "record count");
  out.description = r.Text(r.U32());
  std::int32_t n = r.I32();
  // Every specification takes at least 32 bytes: a count beyond that is damage, not a request.
  if (n < 0 || static_cast<std::uint64_t>(n) * 32 > bytes.size()) Raise(945, "field count");
  out.fields.clear();
  out.fields.reserve(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    NativeField f;
    f.spec.type = r.I32();
    std::string name = r.Text(r.U32());
    f.spec.flags = r.U32();
    std::string param = r.Text(r.U32());
    f.kind = r.I32();
    f.size = r.I32();
    f.group = r.I32();
    f.ordinal = r.I32();
    f.created = i;
    if (f.spec.type < 0 || f.spec.type >= kFieldTypeCount) Raise(945, "field type");
    if (f.kind != kStorageFixed && f.kind != kStorageVariable) Raise(906);
    if (f.kind == kStorageFixed && (f.size < 1 || f.size > 4)) Raise(945, "field size");
    if (f.group < 0 || f.group > 99 || f.ordinal < 0) Raise(945, "field group");
    if (name.size() > 65520 || param.size() > 65520) Raise(945, "field name");
    f.spec.name = String::Copy(name.data(), static_cast<std::uint32_t>(name.size()));
    f.spec.param = String::Copy(param.data(), static_cast<std::uint32_t>(param.size()));
    out.fields.push_back(std::move(f));
  }
  return true;
}

std::vector<std::uint8_t> BuildNativeHeader(const NativeHeader& h) {
  std::vector<std::uint8_t> out;
  out.reserve(256);
  PutU32(out, h.flags);
  PutU32(out, static_cast<std::uint32_t>(h.count));
  PutText(out, h.description.data(), h.description.size());
  PutU32(out, static_cast<std::uint32_t>(h.fields.size()));
  for (const NativeField& f : h.fields) {
    PutU32(out, static_cast<std::uint32_t>(f.spec.type));
    PutText(out, f.spec.name.Text(), f.spec.name.Length());
    PutU32(out, f.spec.flags);
    PutText(out, f.spec.param.Text(), f.spec.param.Length());
    PutU32(out, static_cast<std::uint32_t>(f.kind));
    PutU32(out, static_cast<std::uint32_t>(f.size));
    PutU32(out, static_cast<std::uint32_t>(f.group));
    PutU32(out, static_cast<std::uint32_t>(f.ordinal));
  }
  return out;
}

}  // namespace ludrex
