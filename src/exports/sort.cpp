// Sorting a subset for the host.
#include "base/base.h"
#include "exports/guard.h"
#include "ludrex.h"
#include "record/pattern.h"
#include "search/sort.h"
#include "search/subset.h"

using namespace ludrex;

extern "C" LUDREX_API int Base_SortSubset(LudrexBase* base, int* out, LudrexSubset* subset,
                                          HostRecordPattern* pattern) {
  return Guard(0, [&] {
    if (base == nullptr || subset == nullptr || out == nullptr) Raise(7);
    RecordPattern p = PatternFromHost(pattern);
    return SortSubset(reinterpret_cast<Base*>(base), out, reinterpret_cast<Subset*>(subset), p);
  });
}
