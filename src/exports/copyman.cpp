// The duplicate finder for the host.
#include <memory>

#include "base/base.h"
#include "exports/guard.h"
#include "ludrex.h"
#include "record/pattern.h"
#include "search/copyman.h"
#include "search/subset.h"

using namespace ludrex;

namespace {

CopyMan* C(LudrexCopyMan* h) { return reinterpret_cast<CopyMan*>(h); }

CopyManSettings SettingsFrom(const CopyManParams* p) {
  CopyManSettings s;
  s.minPlies = p->minPlies;
  s.firstPly = p->firstPly;
  s.lastPly = p->lastPly;
  s.prefix = p->prefix != 0;
  s.annotations = p->annotations != 0;
  s.fromEnd = p->fromEnd;
  s.preferred = p->preferred;
  return s;
}

LudrexCopyMan* Run(LudrexBase* base1, LudrexSubset* subset1, LudrexBase* base2,
                   LudrexSubset* subset2, HostRecordPattern* pattern, const CopyManParams* params,
                   bool two) {
  return Guard<LudrexCopyMan*>(nullptr, [&]() -> LudrexCopyMan* {
    if (base1 == nullptr || subset1 == nullptr || params == nullptr) Raise(7);
    if (two && (base2 == nullptr || subset2 == nullptr)) Raise(7);
    RecordPattern p = PatternFromHost(pattern);
    std::unique_ptr<CopyMan> cm = CopyMan::Find(
        reinterpret_cast<Base*>(base1), reinterpret_cast<Subset*>(subset1),
        two ? reinterpret_cast<Base*>(base2) : nullptr,
        two ? reinterpret_cast<Subset*>(subset2) : nullptr, p, SettingsFrom(params));
    return reinterpret_cast<LudrexCopyMan*>(cm.release());
  });
}

}  // namespace

extern "C" LUDREX_API LudrexCopyMan* Base_CopyMan(LudrexBase* base, LudrexSubset* subset,
                                                 HostRecordPattern* pattern,
                                                 const CopyManParams* params) {
  return Run(base, subset, nullptr, nullptr, pattern, params, false);
}

extern "C" LUDREX_API LudrexCopyMan* Base_CopyMan2(LudrexBase* base1, LudrexSubset* subset1,
                                                  LudrexBase* base2, LudrexSubset* subset2,
                                                  HostRecordPattern* pattern,
                                                  const CopyManParams* params) {
  return Run(base1, subset1, base2, subset2, pattern, params, true);
}

extern "C" LUDREX_API int CopyMan_Groups(LudrexCopyMan* copies) {
  return Guard(-1, [&] { return copies == nullptr ? -1 : C(copies)->Groups(); });
}

extern "C" LUDREX_API int CopyMan_ElementsInGroup(LudrexCopyMan* copies, int g) {
  return Guard(-1, [&] { return copies == nullptr ? -1 : C(copies)->ElementsInGroup(g); });
}

extern "C" LUDREX_API int CopyMan_GetElement(LudrexCopyMan* copies, int g, int e) {
  return Guard(-1, [&] { return copies == nullptr ? -1 : C(copies)->GetElement(g, e); });
}

extern "C" LUDREX_API int CopyMan_SelectBest(LudrexCopyMan* copies, int* out,
                                             const signed char* criteria) {
  return Guard(0, [&] {
    if (copies == nullptr) return 0;
    if (out == nullptr && C(copies)->Groups() > 0) Raise(7);
    return C(copies)->SelectBest(out, reinterpret_cast<const std::int8_t*>(criteria));
  });
}

extern "C" LUDREX_API int CopyMan_GetBestElement(LudrexCopyMan*, int) { return 0; }

extern "C" LUDREX_API void CopyMan_Close(LudrexCopyMan* copies) {
  GuardVoid([&] { delete C(copies); });
}
