// The games-with-comments export.
#include "base/base.h"
#include "exports/guard.h"
#include "frame/error.h"
#include "ludrex.h"
#include "search/subset.h"

using namespace ludrex;

extern "C" LUDREX_API void Base_GetCommented(LudrexBase* base, LudrexSubset* subset) {
  GuardVoid([&] {
    if (base == nullptr || subset == nullptr) Raise(7);
    reinterpret_cast<Base*>(base)->GetCommented(reinterpret_cast<Subset*>(subset));
  });
}
