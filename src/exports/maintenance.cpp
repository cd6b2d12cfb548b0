// Library maintenance, base check and repair for the host.
#include "base/base.h"
#include "base/check/base_check.h"
#include "base/libraries.h"
#include "exports/guard.h"
#include "frame/state.h"
#include "ludrex.h"
#include "search/subset.h"

using namespace ludrex;

namespace {

Base* B(LudrexBase* b) {
  if (b == nullptr) Raise(7);
  return reinterpret_cast<Base*>(b);
}
Subset* S(LudrexSubset* s) { return reinterpret_cast<Subset*>(s); }

// A name in the shared text buffer; an empty text when the operation failed.
char* NameResult(const String& name) {
  return const_cast<char*>(ToExportBuffer(name.Text(), name.Length()));
}

}  // namespace

extern "C" LUDREX_API char* Base_MultiChange(LudrexBase* base, LudrexBase* library,
                                             const int* map) {
  char* out = Guard<char*>(nullptr, [&] {
    if (map == nullptr) Raise(7);
    return NameResult(MultiChange(B(base), B(library), map));
  });
  return out != nullptr ? out : const_cast<char*>(ToExportBuffer("", 0));
}

extern "C" LUDREX_API char* Base_LibraryCompress(LudrexBase* base) {
  char* out = Guard<char*>(nullptr, [&] { return NameResult(LibraryCompress(B(base))); });
  return out != nullptr ? out : const_cast<char*>(ToExportBuffer("", 0));
}

extern "C" LUDREX_API char* Base_KillEmptyLibRecs(LudrexBase* base) {
  char* out = Guard<char*>(nullptr, [&] { return NameResult(KillEmptyLibRecs(B(base))); });
  return out != nullptr ? out : const_cast<char*>(ToExportBuffer("", 0));
}

extern "C" LUDREX_API int Base_BaseKVXTest(const char* name, const char* logName,
                                           LudrexSubset* subset) {
  return Guard(0, [&] {
    if (name == nullptr) Raise(7);
    return CheckNativeBase(String(name), logName, S(subset), CheckOptions{});
  });
}

extern "C" LUDREX_API int Base_Repair(LudrexBase* source, LudrexBase* destination,
                                      LudrexSubset* subset, int flags, int) {
  return Guard(-1, [&] { return RepairBase(B(source), B(destination), S(subset), flags); });
}

extern "C" LUDREX_API int Base_Repair2(const char* name, int type, LudrexBase* destination,
                                       int flags, int) {
  return Guard(-1, [&] {
    if (name == nullptr) Raise(7);
    return RepairBaseByName(String(name), type, B(destination), flags);
  });
}
