// Game-score field exports.
#include "exports/guard.h"
#include "frame/error.h"
#include "ludrex.h"
#include "record/field_chess.h"

using namespace ludrex;

namespace {

ChessField& ChessOf(LudrexField* handle) {
  if (handle == nullptr) Raise(7);
  auto* f = dynamic_cast<ChessField*>(reinterpret_cast<Field*>(handle));
  if (f == nullptr) Raise(803);
  return *f;
}

}  // namespace

extern "C" LUDREX_API void* ChessField_GetBody(LudrexField* field) {
  return Guard<void*>(nullptr, [&] { return ChessOf(field).GetBody(); });
}

extern "C" LUDREX_API int ChessField_EqualTo(LudrexField* a, LudrexField* b) {
  return Guard(0, [&] { return ChessOf(a).CompareTo(ChessOf(b)) == 0 ? 1 : 0; });
}
