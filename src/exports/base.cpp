// Bases for the host: open, create, erase, close, read, write and information.
#include <algorithm>
#include <cstring>

#include "base/base.h"
#include "base/dispatch.h"
#include "exports/guard.h"
#include "ludrex.h"
#include "record/pattern.h"
#include "record/record.h"
#include "search/subset.h"

using namespace ludrex;

namespace {

Base* B(LudrexBase* b) {
  if (b == nullptr) Raise(7);
  return reinterpret_cast<Base*>(b);
}
LudrexBase* H(Base* b) { return reinterpret_cast<LudrexBase*>(b); }
Record& R(LudrexRecord* r) {
  if (r == nullptr) Raise(7);
  return *reinterpret_cast<Record*>(r);
}
Subset* S(LudrexSubset* s) { return reinterpret_cast<Subset*>(s); }

String Name(const char* name) { return String(name); }

void CopyText(char* out, std::size_t room, const String& text) {
  std::size_t n = std::min<std::size_t>(text.Length(), room - 1);
  std::memcpy(out, text.Text(), n);
  out[n] = 0;
}

}  // namespace

extern "C" LUDREX_API LudrexBase* Base_BaseOpen(const char* name, int type) {
  return Guard<LudrexBase*>(nullptr, [&] { return H(OpenBase(Name(name), type)); });
}

extern "C" LUDREX_API LudrexBase* Base_BaseCreate(const char* name, HostRecordPattern* pattern,
                                                  int type) {
  return Guard<LudrexBase*>(nullptr, [&] {
    RecordPattern p = PatternFromHost(pattern);
    return H(CreateBase(Name(name), p, type));
  });
}

extern "C" LUDREX_API LudrexBase* Base_EmbeddedBaseOpen(LudrexBase* container, const char* name) {
  return Guard<LudrexBase*>(nullptr,
                            [&] { return H(OpenEmbeddedBase(B(container), Name(name))); });
}

extern "C" LUDREX_API LudrexBase* Base_EmbeddedBaseCreate(LudrexBase* container, const char* name,
                                                          HostRecordPattern* pattern) {
  return Guard<LudrexBase*>(nullptr, [&] {
    RecordPattern p = PatternFromHost(pattern);
    return H(CreateEmbeddedBase(B(container), Name(name), p));
  });
}

extern "C" LUDREX_API void Base_BaseErase(const char* name, int type) {
  GuardVoid([&] { EraseBase(Name(name), type); });
}

extern "C" LUDREX_API void Base_BaseDestroy(LudrexBase* base) {
  GuardVoid([&] { CloseBase(reinterpret_cast<Base*>(base)); });
}

extern "C" LUDREX_API void Base_GetShortInfo(int type, const char* name, void* out) {
  GuardVoid([&] {
    if (out == nullptr) Raise(7);
    ShortInfo info;
    GetShortInfo(type, Name(name), info);
    auto* bytes = static_cast<char*>(out);
    std::memcpy(bytes, &info.count, 4);
    CopyText(bytes + 4, 260, info.text);
  });
}

extern "C" LUDREX_API void Base_GetBaseInfo(LudrexBase* base, HostBaseInfo* info) {
  GuardVoid([&] {
    if (info == nullptr) Raise(7);
    BaseInfo bi;
    B(base)->GetInfo(bi);
    info->flag = bi.flag;
    CopyText(info->fullName, sizeof info->fullName, bi.fullName);
    CopyText(info->description, sizeof info->description, bi.description);
    CopyText(info->secondFullName, sizeof info->secondFullName, bi.secondFullName);
  });
}

extern "C" LUDREX_API void Base_SetBaseInfo(LudrexBase* base, HostBaseInfo* info) {
  GuardVoid([&] {
    if (info == nullptr) Raise(7);
    BaseInfo bi;
    bi.description = String::Copy(info->description,
                                  static_cast<std::uint32_t>(strnlen(info->description, 260)));
    bi.flag = info->flag;
    bi.type = B(base)->Type();
    B(base)->SetInfo(bi);
  });
}

extern "C" LUDREX_API int Base_GetRecordLength(LudrexBase* base) {
  return Guard(0, [&] { return B(base)->GetRecordPattern().Count(); });
}

extern "C" LUDREX_API HostRecordPattern* Base_GetRecordPattern(LudrexBase* base) {
  return Guard<HostRecordPattern*>(nullptr,
                                   [&] { return PatternToHost(B(base)->GetRecordPattern()); });
}

extern "C" LUDREX_API void Base_Read(LudrexBase* base, int n, LudrexRecord* record) {
  GuardVoid([&] { B(base)->Read(n, R(record)); });
}

extern "C" LUDREX_API int Base_Write(LudrexBase* base, int n, LudrexRecord* record) {
  return Guard(-1, [&] { return B(base)->Write(n, R(record)); });
}

extern "C" LUDREX_API int Base_Find(LudrexBase* base, LudrexRecord* record, LudrexSubset* subset,
                                    int* found) {
  return Guard(-1, [&] {
    std::int32_t f = 0;
    std::int32_t pos = B(base)->Find(R(record), &f, S(subset));
    if (found != nullptr) *found = f;
    return pos;
  });
}

extern "C" LUDREX_API int Base_IsDeleted(LudrexBase* base, int n) {
  return Guard(0, [&] { return B(base)->IsDeleted(n); });
}

extern "C" LUDREX_API void Base_ToggleDelete(LudrexBase* base, int n) {
  GuardVoid([&] { B(base)->ToggleDelete(n, 1); });
}

extern "C" LUDREX_API LudrexSubset* Base_GetDeletedSubset(LudrexBase* base) {
  return Guard<LudrexSubset*>(nullptr, [&] {
    return reinterpret_cast<LudrexSubset*>(B(base)->GetDeletedSubset());
  });
}

extern "C" LUDREX_API void Base_Update(LudrexBase* base) {
  GuardVoid([&] { B(base)->Update(); });
}

extern "C" LUDREX_API int Base_UnsortedFromSorted(LudrexBase* base, int position) {
  return Guard(-1, [&] { return B(base)->UnsortedFromSorted(position); });
}

extern "C" LUDREX_API int Base_AppendAnother(LudrexBase* source, LudrexBase* destination,
                                             LudrexSubset* subset, int showProgress,
                                             int copyLibraries, const int* order) {
  return Guard(-1, [&] {
    return B(source)->AppendAnother(S(subset), B(destination), showProgress != 0, copyLibraries,
                                    order);
  });
}

extern "C" LUDREX_API int Base_GetOEMCoding(LudrexBase* base) {
  return Guard(0, [&] { return B(base)->OemCoding() ? 1 : 0; });
}

extern "C" LUDREX_API void Base_SetOEMCoding(LudrexBase* base, int value) {
  GuardVoid([&] { B(base)->SetOemCoding(value != 0); });
}

extern "C" LUDREX_API int Base_GetCopyEventToSite(LudrexBase* base) {
  return Guard(0, [&] { return B(base)->CopyEventToSite() ? 1 : 0; });
}

extern "C" LUDREX_API void Base_SetCopyEventToSite(LudrexBase* base, int value) {
  GuardVoid([&] { B(base)->SetCopyEventToSite(value != 0); });
}

extern "C" LUDREX_API void Base_EnableFastAccess(LudrexBase* base, HostRecordPattern* pattern) {
  GuardVoid([&] {
    if (pattern == nullptr) {
      B(base)->EnableFastAccess(nullptr);
    } else {
      RecordPattern p = PatternFromHost(pattern);
      B(base)->EnableFastAccess(&p);
    }
  });
}

extern "C" LUDREX_API void Base_DisableFastAccess(LudrexBase* base) {
  GuardVoid([&] { B(base)->DisableFastAccess(); });
}

extern "C" LUDREX_API int Base_GetBaseLength(LudrexBase* base) {
  return Guard(-1, [&] { return B(base)->RecordCount(); });
}

extern "C" LUDREX_API int Base_GetBaseType(LudrexBase* base) {
  return Guard(-1, [&] { return B(base)->Type(); });
}
