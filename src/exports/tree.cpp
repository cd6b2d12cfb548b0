// Per-base opening trees for the host: build, check, delete and the position statistics.
#include "base/base.h"
#include "exports/guard.h"
#include "ludrex.h"
#include "search/subset.h"
#include "tree/tree_walk.h"

using namespace ludrex;

namespace {

Base* B(LudrexBase* b) {
  if (b == nullptr) Raise(7);
  return reinterpret_cast<Base*>(b);
}
tree::PositionStatList* P(LudrexPosStat* p) {
  if (p == nullptr) Raise(7);
  return reinterpret_cast<tree::PositionStatList*>(p);
}

static_assert(sizeof(PosStatItem) == sizeof(tree::PositionStatItem));
static_assert(offsetof(PosStatItem, counters) == offsetof(tree::PositionStatItem, counters));

}  // namespace

extern "C" LUDREX_API LudrexBase* Base_BuildTree(LudrexBase* base) {
  return Guard<LudrexBase*>(nullptr, [&] { return reinterpret_cast<LudrexBase*>(B(base)->BuildTree()); });
}

extern "C" LUDREX_API int Base_CheckTree(LudrexBase* base) {
  return Guard(0, [&] { return B(base)->CheckTree(); });
}

extern "C" LUDREX_API LudrexBase* Base_DeleteTree(LudrexBase* base) {
  return Guard<LudrexBase*>(nullptr, [&] { return reinterpret_cast<LudrexBase*>(B(base)->DeleteTree()); });
}

extern "C" LUDREX_API LudrexPosStat* Base_GetPositionStats(LudrexBase* base, LudrexSubset* in,
                                                           LudrexSubset* out, const int8_t* board,
                                                           int32_t value) {
  return Guard<LudrexPosStat*>(nullptr, [&] {
    return static_cast<LudrexPosStat*>(B(base)->GetPositionStats(
        reinterpret_cast<Subset*>(in), reinterpret_cast<Subset*>(out), board, value));
  });
}

extern "C" LUDREX_API int PosStat_GetPrevCount(LudrexPosStat* stats) {
  return Guard(0, [&] { return P(stats)->Count(); });
}

extern "C" LUDREX_API PosStatItem* PosStat_GetPrevItem(LudrexPosStat* stats, int i) {
  return Guard<PosStatItem*>(nullptr, [&] {
    return reinterpret_cast<PosStatItem*>(P(stats)->Item(i));
  });
}

extern "C" LUDREX_API void PosStat_Delete(LudrexPosStat* stats) {
  GuardVoid([&] { delete reinterpret_cast<tree::PositionStatList*>(stats); });
}
