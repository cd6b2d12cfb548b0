// StringField, and the rules by which a string field and a library field take each other's text.
#include "frame/error.h"
#include "platform/text.h"
#include "record/field_classes.h"
#include "record/field_util.h"

namespace ludrex {

// The name of the library record's field that holds the text of a library field of meaning m.
String LibraryNameFieldFor(std::int32_t meaning) {
  switch (meaning) {
    case kMeaningWhite:
    case kMeaningBlack:
    case kMeaningAnnotator:
      return String("~3");
    case kMeaningPlace:
      return String("~12");
    case kMeaningTournament:
      return String("~16");
    case kMeaningRemark:
      return String("~19");
    case kMeaningSource:
      return String("~21");
    default:
      Refuse();
  }
}

StringField::StringField(const FieldSpec& spec) : Field(spec) {}

void StringField::SetBytes(const char* bytes, std::int32_t n) {
  if (n <= 0 || bytes == nullptr) {
    SetEmpty();
    return;
  }
  if (n > kMaxStringLength) Raise(103);
  String view(bytes, static_cast<std::uint16_t>(n));
  text_.Assign(view);
}

void StringField::SetEmpty() {
  String empty(static_cast<const char*>(nullptr));
  text_.Assign(empty);
}

void StringField::Assign(const Field& other) {
  if (other.TypeCode() == kStringType) {
    text_.Assign(static_cast<const StringField&>(other).text_);
    return;
  }
  if (other.TypeCode() != kLibRefType) Refuse();
  if (IndexOnly()) Refuse();
  String name = LibraryNameFieldFor(Meaning());
  const Field* source = static_cast<const LibRefField&>(other).LibraryRecord().FindField(name);
  if (source == nullptr) return;
  if (source->TypeCode() != kStringType) Refuse();
  text_.Assign(static_cast<const StringField*>(source)->text_);
}

ByteBlock StringField::GetKey() const {
  ByteBlock key;
  key.SetCount(static_cast<std::int64_t>(text_.Length()) + 1);
  platform::TextSortKey(text_.Text(), text_.Length(), key.Data(),
                        static_cast<std::size_t>(key.Count()));
  ApplyDescending(key.Data(), key.Count());
  return key;
}

std::int32_t StringField::PutKey(std::uint8_t* out, std::int32_t room) const {
  std::int32_t need = text_.Length() + 1;
  if (room < need) return -need;
  platform::TextSortKey(text_.Text(), text_.Length(), out, static_cast<std::size_t>(room));
  ApplyDescending(out, need);
  return need;
}

int StringField::CompareTo(const Field& other) const {
  CheckSameType(other);
  const String& o = static_cast<const StringField&>(other).text_;
  return platform::CompareTexts(text_.Text(), text_.Length(), o.Text(), o.Length());
}

void StringField::Pack(std::int32_t baseType, const String&, ByteBlock& out) {
  CheckBaseType(baseType);
  if (baseType == kNativeBase) return ludrex::SetBytes(out, text_.Text(), text_.Length());
  if (baseType == kPgnBase) {
    if (text_.Length() == 0) return detail::SetText(out, "?");
    return ludrex::SetBytes(out, text_.Text(), text_.Length());
  }
  Raise(805);
}

void StringField::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                         const String&) {
  CheckBaseType(baseType);
  if (baseType == kReferenceBase) Raise(901);
  if (baseType == 6) Raise(805);
  length = detail::Usable(bytes, length);
  SetBytes(reinterpret_cast<const char*>(bytes), length);
  if (baseType == kDosBase && length > 0) {
    char* p = const_cast<char*>(text_.Text());
    platform::OemToCp1251(p, p, text_.Length());
  }
}

}  // namespace ludrex
