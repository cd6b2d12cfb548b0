// Record exports.
#include "record/record.h"

#include "exports/guard.h"
#include "frame/error.h"
#include "ludrex.h"
#include "record/pattern.h"

using namespace ludrex;

extern "C" LUDREX_API LudrexRecord* Record_CreateRecord(const HostRecordPattern* pattern) {
  return Guard<LudrexRecord*>(nullptr, [&] {
    RecordPattern converted = PatternFromHost(pattern);
    return reinterpret_cast<LudrexRecord*>(new Record(converted));
  });
}

extern "C" LUDREX_API void Record_Destroy(LudrexRecord* record) {
  GuardVoid([&] { delete reinterpret_cast<Record*>(record); });
}

extern "C" LUDREX_API LudrexField* Record_GetField(LudrexRecord* record, int i) {
  return Guard<LudrexField*>(nullptr, [&] {
    if (record == nullptr) Raise(7);
    Record& r = *reinterpret_cast<Record*>(record);
    if (i < 0 || i >= r.Count()) Raise(12);
    return reinterpret_cast<LudrexField*>(&r[i]);
  });
}

extern "C" LUDREX_API void Record_LinkToBase(LudrexRecord* record, void* base) {
  GuardVoid([&] {
    if (record == nullptr || base == nullptr) Raise(7);
    reinterpret_cast<Record*>(record)->LinkToBase(static_cast<Base*>(base));
  });
}
