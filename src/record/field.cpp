#include "record/field.h"

#include <cstring>

#include "frame/error.h"
#include "record/field_chess.h"
#include "record/field_classes.h"
#include "record/library_access.h"

namespace ludrex {
namespace {

CriterionTest g_criterionTests[kFieldTypeCount] = {};
CriterionFactory g_criterionFactory = nullptr;
LibraryAccess* g_libraryAccess = nullptr;

}  // namespace

LibraryAccess* SetLibraryAccess(LibraryAccess* access) {
  LibraryAccess* old = g_libraryAccess;
  g_libraryAccess = access;
  return old;
}

LibraryAccess* GetLibraryAccess() { return g_libraryAccess; }

void SetCriterionTest(std::int32_t fieldType, CriterionTest test) {
  if (fieldType >= 0 && fieldType < kFieldTypeCount) g_criterionTests[fieldType] = test;
}

CriterionTest GetCriterionTest(std::int32_t fieldType) {
  if (fieldType < 0 || fieldType >= kFieldTypeCount) return nullptr;
  return g_criterionTests[fieldType];
}

void SetCriterionFactory(CriterionFactory factory) { g_criterionFactory = factory; }

void CheckBaseType(std::int32_t baseType) {
  if (baseType < 0 || baseType >= kBaseTypeCount) Raise(901);
}

void Refuse() { Raise(803); }

std::uint32_t ReadUnsignedLE(const std::uint8_t* bytes, std::int32_t length) {
  if (bytes == nullptr || length < 1) return 0;
  std::int32_t n = length < 4 ? length : 4;
  std::uint32_t v = 0;
  for (std::int32_t i = 0; i < n; ++i) v |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  return v;
}

std::int32_t ReadSignedLE(const std::uint8_t* bytes, std::int32_t length) {
  if (bytes == nullptr || length < 1) return 0;
  std::int32_t n = length < 4 ? length : 4;
  std::uint32_t v = ReadUnsignedLE(bytes, n);
  if (n < 4 && (bytes[n - 1] & 0x80) != 0) v |= ~0u << (8 * n);
  return static_cast<std::int32_t>(v);
}

void SetLittleEndian(ByteBlock& out, std::uint32_t v, std::int32_t n) {
  out.SetCount(n);
  for (std::int32_t i = 0; i < n; ++i) out.Data()[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void SetBytes(ByteBlock& out, const void* p, std::int32_t n) {
  out.Clear();
  if (n > 0) out.Append(static_cast<const std::uint8_t*>(p), n);
}

Field::Field(const FieldSpec& spec) : spec_(spec) {}

Field::~Field() = default;

void Field::SetDouble(double) { Refuse(); }
void Field::SetInt(std::int32_t) { Refuse(); }
void Field::SetText(const String&) { Refuse(); }
int Field::IsEmpty() const { return 1; }
std::int32_t Field::GetInt() const { Refuse(); }
double Field::GetDouble() const { Refuse(); }
void* Field::GetBody() { return nullptr; }
std::int32_t Field::GetBodySize() const { return 0; }

int Field::Matches(const Field* criterion) const {
  if (criterion == nullptr) return 1;
  CriterionTest test = GetCriterionTest(LowTypeCode(spec_.type));
  if (test == nullptr) Raise(805);
  return test(*this, *criterion);
}

void Field::SetCriterion(Field* criterion) {
  critA_ = criterion;
  critB_ = nullptr;
}

void Field::SetCriterionA(Field* criterion) { critA_ = criterion; }

void Field::SetCriterionB(Field* criterion) { critB_ = criterion; }

int Field::UnpackAndTest(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                         const String& param) {
  Unpack(baseType, bytes, length, param);
  resultA_ = critA_ != nullptr ? Matches(critA_) : 1;
  resultB_ = critB_ != nullptr ? Matches(critB_) : 1;
  return resultB_;
}

int Field::UnpackNativeAndTest(const std::uint8_t* bytes, std::int32_t length) {
  String empty(static_cast<const char*>(nullptr));
  return UnpackAndTest(kNativeBase, bytes, length, empty);
}

void Field::CheckSameType(const Field& other) const {
  if (other.spec_.type != spec_.type) Raise(816);
}

void Field::ApplyDescending(std::uint8_t* p, std::int32_t n) const {
  if (!Descending()) return;
  for (std::int32_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(255 - p[i]);
}

ByteBlock Field::KeyFromPutKey(std::int32_t size) const {
  ByteBlock b;
  b.SetCount(size);
  PutKey(b.Data(), size);
  return b;
}

Field* CreateField(const FieldSpec& spec) {
  if ((spec.type & kCriterionBit) != 0) {
    CheckFieldType(spec.type);
    if (g_criterionFactory == nullptr) Raise(801);
    return g_criterionFactory(spec);
  }
  switch (spec.type) {
    case kLibRefType:
      if (spec.library == nullptr) Raise(804);
      return new LibRefField(spec);
    case kStringType:
      return new StringField(spec);
    case kIntType:
      return new IntField(spec);
    case kDateType:
      return new DateField(spec);
    case kChessType:
      return new ChessField(spec);
    case kResultType:
      return new ResultField(spec);
    case kRoundType:
      return new RoundField(spec);
    case kEcoType:
      return new ECOField(spec);
    case kSexType:
      return new SexField(spec);
    default:
      Raise(801);
  }
}

}  // namespace ludrex
