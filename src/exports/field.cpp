// Field exports: the field-type catalogue, meanings, field handles and the typed accessors.
#include "exports/guard.h"
#include "frame/error.h"
#include "frame/state.h"
#include "ludrex.h"
#include "record/field_chess.h"
#include "record/field_classes.h"
#include "record/field_types.h"
#include "record/pattern.h"

using namespace ludrex;

namespace {

Field& FieldOf(LudrexField* handle) {
  if (handle == nullptr) Raise(7);
  return *reinterpret_cast<Field*>(handle);
}

// The field as the class an accessor expects; another class is refused with 803.
template <class T>
T& As(LudrexField* handle) {
  auto* f = dynamic_cast<T*>(&FieldOf(handle));
  if (f == nullptr) Raise(803);
  return *f;
}

const char* ToBuffer(const String& s) { return ToExportBuffer(s.Text(), s.Length()); }

String View(const char* text) { return String(text); }

}  // namespace

// ---- Catalogue ------------------------------------------------------------------------------

extern "C" LUDREX_API const char* CPP_GetFieldTypeName(int type) {
  return Guard<const char*>(nullptr, [&] { return ToBuffer(FieldTypeName(type)); });
}

extern "C" LUDREX_API int CPP_NFieldSubtypes(int type) { return FieldSubtypeCount(type); }

extern "C" LUDREX_API const char* CPP_GetFieldSubtypeName(int type, int k) {
  return Guard<const char*>(nullptr, [&] { return ToBuffer(FieldSubtypeName(type, k)); });
}

extern "C" LUDREX_API const char* CPP_GetFieldSubtypeStr(int type, int k) {
  return Guard<const char*>(nullptr, [&] { return ToBuffer(View(FieldSubtypeParam(type, k))); });
}

extern "C" LUDREX_API int CPP_GetFieldSubtypeInt(int type, const char* param) {
  return Guard(0, [&] { return FieldSubtypeOf(type, View(param)); });
}

extern "C" LUDREX_API int Field_NMeanings(void) { return kMeaningCount; }

extern "C" LUDREX_API const char* Field_MeaningName(int meaning) {
  return Guard<const char*>(nullptr, [&] { return ToBuffer(MeaningName(meaning)); });
}

extern "C" LUDREX_API int Field_NMeaningPairs(int meaning) {
  return Guard(-1, [&] { return MeaningPairCount(meaning); });
}

extern "C" LUDREX_API int Field_MeaningPairFieldType(int meaning, int k) {
  return Guard(-1, [&] { return MeaningPairType(meaning, k); });
}

extern "C" LUDREX_API int Field_MeaningPairSubtype(int meaning, int k) {
  return Guard(-1, [&] { return MeaningPairSubtype(meaning, k); });
}

extern "C" LUDREX_API const char* Field_PackMeaningName(int meaning, const char* name) {
  return Guard<const char*>(nullptr,
                            [&] { return ToBuffer(PackMeaningName(meaning, View(name))); });
}

extern "C" LUDREX_API int Field_UnpackFieldMeaning(const char* packedName) {
  return Guard(0, [&] { return UnpackFieldMeaning(View(packedName)); });
}

extern "C" LUDREX_API const char* Field_UnpackFieldName(const char* packedName) {
  return Guard<const char*>(nullptr, [&] { return ToBuffer(UnpackFieldName(View(packedName))); });
}

// ---- Fields ---------------------------------------------------------------------------------

extern "C" LUDREX_API LudrexField* Field_CreateField(const HostFieldEntry* entry) {
  return Guard<LudrexField*>(nullptr, [&] {
    if (entry == nullptr) Raise(7);
    FieldSpec spec = SpecFromHost(*entry);
    return reinterpret_cast<LudrexField*>(CreateField(spec));
  });
}

extern "C" LUDREX_API void Field_DestroyField(LudrexField* field) {
  GuardVoid([&] { delete reinterpret_cast<Field*>(field); });
}

extern "C" LUDREX_API int32_t Field_GetFlags(LudrexField* field) {
  return Guard<int32_t>(0, [&] { return static_cast<int32_t>(FieldOf(field).Flags()); });
}

extern "C" LUDREX_API int32_t Field_SetFlags(LudrexField* field, int32_t flags) {
  return Guard<int32_t>(0, [&] {
    FieldOf(field).SetFlags(static_cast<std::uint32_t>(flags));
    return flags;
  });
}

extern "C" LUDREX_API void Field_SetEmpty(LudrexField* field) {
  GuardVoid([&] { FieldOf(field).SetEmpty(); });
}

// ---- Typed accessors ------------------------------------------------------------------------

extern "C" LUDREX_API const char* StringField_GetStrPtr(LudrexField* field) {
  return Guard<const char*>(nullptr, [&] { return As<StringField>(field).Text().Text(); });
}

extern "C" LUDREX_API void StringField_SetStr(LudrexField* field, const char* text) {
  GuardVoid([&] { As<StringField>(field).SetText(View(text)); });
}

#define LUDREX_VALUE_ACCESSORS(Class, member)                                      \
  extern "C" LUDREX_API int32_t Class##_GetValue(LudrexField* field) {             \
    return Guard<int32_t>(0, [&] { return As<Class>(field).member; });             \
  }                                                                                \
  extern "C" LUDREX_API void Class##_SetValue(LudrexField* field, int32_t value) { \
    GuardVoid([&] { As<Class>(field).member = value; });                           \
  }

LUDREX_VALUE_ACCESSORS(IntField, value_)
LUDREX_VALUE_ACCESSORS(ResultField, code_)
LUDREX_VALUE_ACCESSORS(SexField, code_)
LUDREX_VALUE_ACCESSORS(ECOField, value_)
#undef LUDREX_VALUE_ACCESSORS

extern "C" LUDREX_API int32_t DateField_GetDay(LudrexField* field) {
  return Guard<int32_t>(0, [&] { return As<DateField>(field).day_; });
}
extern "C" LUDREX_API int32_t DateField_GetMonth(LudrexField* field) {
  return Guard<int32_t>(0, [&] { return As<DateField>(field).month_; });
}
extern "C" LUDREX_API int32_t DateField_GetYear(LudrexField* field) {
  return Guard<int32_t>(0, [&] { return As<DateField>(field).year_; });
}
extern "C" LUDREX_API void DateField_SetDay(LudrexField* field, int32_t day) {
  GuardVoid([&] { As<DateField>(field).day_ = day; });
}
extern "C" LUDREX_API void DateField_SetMonth(LudrexField* field, int32_t month) {
  GuardVoid([&] { As<DateField>(field).month_ = month; });
}
extern "C" LUDREX_API void DateField_SetYear(LudrexField* field, int32_t year) {
  GuardVoid([&] { As<DateField>(field).year_ = year; });
}

extern "C" LUDREX_API int32_t RoundField_GetRoundN(LudrexField* field) {
  return Guard<int32_t>(0, [&] { return As<RoundField>(field).value_ / 512; });
}
extern "C" LUDREX_API int32_t RoundField_GetGameN(LudrexField* field) {
  return Guard<int32_t>(0, [&] { return As<RoundField>(field).value_ % 512; });
}
extern "C" LUDREX_API void RoundField_SetRoundN(LudrexField* field, int32_t round) {
  GuardVoid([&] {
    RoundField& f = As<RoundField>(field);
    f.value_ = static_cast<int32_t>(static_cast<uint32_t>(round) * 512u +
                                    static_cast<uint32_t>(f.value_ % 512));
  });
}
extern "C" LUDREX_API void RoundField_SetGameN(LudrexField* field, int32_t game) {
  GuardVoid([&] {
    RoundField& f = As<RoundField>(field);
    f.value_ = static_cast<int32_t>(static_cast<uint32_t>(f.value_ / 512) * 512u +
                                    static_cast<uint32_t>(game));
  });
}

extern "C" LUDREX_API int32_t LibRefField_GetIndex(LudrexField* field) {
  return Guard<int32_t>(-1, [&] { return As<LibRefField>(field).GetInt(); });
}
extern "C" LUDREX_API void LibRefField_SetIndex(LudrexField* field, int32_t index) {
  GuardVoid([&] { As<LibRefField>(field).SetInt(index); });
}
extern "C" LUDREX_API LudrexRecord* LibRefField_GetRecord(LudrexField* field) {
  return Guard<LudrexRecord*>(nullptr, [&] {
    return reinterpret_cast<LudrexRecord*>(&As<LibRefField>(field).LibraryRecord());
  });
}
extern "C" LUDREX_API int32_t LibRefField_GetRecordLength(LudrexField* field) {
  return Guard<int32_t>(0, [&] { return As<LibRefField>(field).LibraryRecord().Count(); });
}
extern "C" LUDREX_API void* LibRefField_GetBaseBody(LudrexField* field) {
  return Guard<void*>(nullptr,
                      [&] { return static_cast<void*>(As<LibRefField>(field).LibraryBase()); });
}
extern "C" LUDREX_API HostRecordPattern* LibRefField_GetRP(LudrexField* field) {
  return Guard<HostRecordPattern*>(nullptr, [&] {
    const FieldSpec& spec = As<LibRefField>(field).Spec();
    RecordPattern empty;
    return PatternToHost(spec.library != nullptr ? *spec.library : empty);
  });
}
