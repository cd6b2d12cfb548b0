// Search criteria and Base_Search for the host.
#include <cstring>

#include "base/base.h"
#include "exports/guard.h"
#include "frame/error.h"
#include "ludrex.h"
#include "record/record.h"
#include "search/criteria.h"
#include "search/search.h"
#include "search/subset.h"

using namespace ludrex;

namespace {

Field& FieldOf(LudrexField* handle) {
  if (handle == nullptr) Raise(7);
  return *reinterpret_cast<Field*>(handle);
}

// The criterion as the class an export expects; another class is refused with 803.
template <class T>
T& As(LudrexField* handle) {
  auto* f = dynamic_cast<T*>(&FieldOf(handle));
  if (f == nullptr) Raise(803);
  return *f;
}

Subset& SubsetOf(LudrexSubset* s) {
  if (s == nullptr) Raise(7);
  return *reinterpret_cast<Subset*>(s);
}

Base* BaseOf(LudrexBase* b) { return reinterpret_cast<Base*>(b); }

}  // namespace

extern "C" LUDREX_API int FieldCrit_Pack(LudrexField* crit, void* buffer, int size) {
  return Guard<int>(0, [&] {
    Field& f = FieldOf(crit);
    ByteBlock packed = f.Pack(kNativeBase, f.Spec().param);
    if (size < packed.Count()) return -packed.Count();
    if (packed.Count() > 0) std::memcpy(buffer, packed.Data(), static_cast<std::size_t>(packed.Count()));
    return packed.Count();
  });
}

extern "C" LUDREX_API void FieldCrit_UnPack(LudrexField* crit, const void* bytes, int length) {
  GuardVoid([&] {
    String empty(static_cast<const char*>(nullptr));
    FieldOf(crit).Unpack(kNativeBase, static_cast<const std::uint8_t*>(bytes), length, empty);
  });
}

extern "C" LUDREX_API int FieldCrit_PackDate(int year, int month, int day) {
  return PackDate(year, month, day);
}

extern "C" LUDREX_API int StringFieldCrit_GetSearchType(LudrexField* crit) {
  return Guard<int>(0, [&] { return As<StringFieldCrit>(crit).SearchType(); });
}
extern "C" LUDREX_API void StringFieldCrit_SetSearchType(LudrexField* crit, int type) {
  GuardVoid([&] { As<StringFieldCrit>(crit).SetSearchType(type); });
}
extern "C" LUDREX_API const char* StringFieldCrit_GetStrPtr(LudrexField* crit) {
  return Guard<const char*>(nullptr, [&] { return As<StringFieldCrit>(crit).Text().Text(); });
}
extern "C" LUDREX_API void StringFieldCrit_SetStr(LudrexField* crit, const char* text) {
  GuardVoid([&] {
    auto& c = As<StringFieldCrit>(crit);
    std::size_t n = text != nullptr ? std::strlen(text) : 0;
    if (n > 65520) Raise(103);
    c.SetCritText(String::Copy(text != nullptr ? text : "", static_cast<std::uint32_t>(n)));
  });
}

// The pair accessors of the three range criteria.
#define LUDREX_RANGE_ACCESSORS(Class)                                                        \
  extern "C" LUDREX_API int Class##_GetLength(LudrexField* crit) {                           \
    return Guard<int>(0, [&] { return As<Class>(crit).Length(); });                          \
  }                                                                                          \
  extern "C" LUDREX_API void Class##_SetLength(LudrexField* crit, int n) {                   \
    GuardVoid([&] { As<Class>(crit).SetLength(n); });                                        \
  }                                                                                          \
  extern "C" LUDREX_API void Class##_GetPair(LudrexField* crit, int i, int* upper,           \
                                             int* lower) {                                   \
    GuardVoid([&] { As<Class>(crit).GetPair(i, upper, lower); });                            \
  }                                                                                          \
  extern "C" LUDREX_API void Class##_SetPair(LudrexField* crit, int i, int upper, int lower) { \
    GuardVoid([&] { As<Class>(crit).SetPair(i, upper, lower); });                            \
  }
LUDREX_RANGE_ACCESSORS(IntFieldCrit)
LUDREX_RANGE_ACCESSORS(DateFieldCrit)
LUDREX_RANGE_ACCESSORS(RoundFieldCrit)
#undef LUDREX_RANGE_ACCESSORS

extern "C" LUDREX_API void IntFieldCrit_EnableBitMaskMode(LudrexField* crit, int mode) {
  GuardVoid([&] { As<IntFieldCrit>(crit).SetMode(mode); });
}
extern "C" LUDREX_API void IntFieldCrit_SetBitMask(LudrexField* crit, uint32_t mask) {
  GuardVoid([&] { As<IntFieldCrit>(crit).SetMask(mask); });
}
extern "C" LUDREX_API uint32_t IntFieldCrit_GetBitMask(LudrexField* crit) {
  return Guard<uint32_t>(0, [&] { return As<IntFieldCrit>(crit).Mask(); });
}

#define LUDREX_MASK_ACCESSORS(Class)                                              \
  extern "C" LUDREX_API uint32_t Class##_GetValue(LudrexField* crit) {            \
    return Guard<uint32_t>(0, [&] { return As<Class>(crit).Mask(); });            \
  }                                                                               \
  extern "C" LUDREX_API void Class##_SetValue(LudrexField* crit, uint32_t mask) { \
    GuardVoid([&] { As<Class>(crit).SetMask(mask); });                            \
  }
LUDREX_MASK_ACCESSORS(ResultFieldCrit)
LUDREX_MASK_ACCESSORS(SexFieldCrit)
#undef LUDREX_MASK_ACCESSORS

extern "C" LUDREX_API void ECOFieldCrit_SetItem(LudrexField* crit, int code, int on) {
  GuardVoid([&] { As<ECOFieldCrit>(crit).SetItem(code, on != 0); });
}
extern "C" LUDREX_API int ECOFieldCrit_GetItem(LudrexField* crit, int code) {
  return Guard<int>(0, [&] { return As<ECOFieldCrit>(crit).GetItem(code) ? 1 : 0; });
}
extern "C" LUDREX_API LudrexSubset* ECOFieldCrit_GetSubsetBody(LudrexField* crit) {
  return Guard<LudrexSubset*>(nullptr, [&] {
    return reinterpret_cast<LudrexSubset*>(As<ECOFieldCrit>(crit).Set());
  });
}
extern "C" LUDREX_API void ECOFieldCrit_SetSubsetBody(LudrexField* crit, LudrexSubset* subset) {
  GuardVoid([&] { As<ECOFieldCrit>(crit).CopyFrom(SubsetOf(subset)); });
}

extern "C" LUDREX_API void LibRefFieldCrit_SetBase(LudrexField* crit, LudrexBase* library) {
  GuardVoid([&] { As<LibRefFieldCrit>(crit).SetBase(BaseOf(library)); });
}
extern "C" LUDREX_API LudrexSubset* LibRefFieldCrit_GetSubsetBody(LudrexField* crit) {
  return Guard<LudrexSubset*>(nullptr, [&] {
    return reinterpret_cast<LudrexSubset*>(As<LibRefFieldCrit>(crit).Set());
  });
}
extern "C" LUDREX_API void LibRefFieldCrit_SetSubsetBody(LudrexField* crit, LudrexSubset* subset,
                                                         LudrexBase* library) {
  GuardVoid([&] { As<LibRefFieldCrit>(crit).SetSubsetBody(SubsetOf(subset), BaseOf(library)); });
}

extern "C" LUDREX_API int Base_Search(LudrexBase* base, LudrexSubset* subset,
                                      LudrexRecord* criteriaA, LudrexRecord* criteriaB) {
  return Guard<int>(-1, [&] {
    if (base == nullptr) Raise(7);
    return SearchBase(*BaseOf(base), SubsetOf(subset), reinterpret_cast<Record*>(criteriaA),
                      reinterpret_cast<Record*>(criteriaB));
  });
}
