// Subsets for the host.
#include <cstring>

#include "exports/guard.h"
#include "ludrex.h"
#include "search/subset.h"
#include "storage/volume.h"

using namespace ludrex;

namespace {
Subset* S(LudrexSubset* s) { return reinterpret_cast<Subset*>(s); }
LudrexSubset* H(Subset* s) { return reinterpret_cast<LudrexSubset*>(s); }
}  // namespace

extern "C" LUDREX_API LudrexSubset* Subset_CreateTmp(int maxLength) {
  return Guard<LudrexSubset*>(nullptr, [&] { return H(Subset::CreateTmp(maxLength)); });
}
extern "C" LUDREX_API LudrexSubset* Subset_CreateTmpCopy(LudrexSubset* subset) {
  return Guard<LudrexSubset*>(nullptr, [&] { return H(Subset::CreateTmpCopy(*S(subset))); });
}
extern "C" LUDREX_API LudrexSubset* Subset_CreateInAFile(int maxLength, const char* name) {
  return Guard<LudrexSubset*>(nullptr, [&] { return H(Subset::CreateInFile(maxLength, name)); });
}
extern "C" LUDREX_API LudrexSubset* Subset_CreateCopyInAFile(LudrexSubset* subset,
                                                             const char* name) {
  return Guard<LudrexSubset*>(nullptr,
                              [&] { return H(Subset::CreateCopyInFile(*S(subset), name)); });
}
extern "C" LUDREX_API LudrexSubset* Subset_OpenInAFile(int maxLength, const char* name) {
  return Guard<LudrexSubset*>(nullptr, [&] { return H(Subset::OpenInFile(maxLength, name)); });
}
extern "C" LUDREX_API LudrexSubset* Subset_OpenForOldBase(const char* name) {
  return Guard<LudrexSubset*>(nullptr, [&] { return H(Subset::OpenForOldBase(name)); });
}
extern "C" LUDREX_API LudrexSubset* Subset_CreateInAVolume(int maxLength, const char* name, int dir,
                                                           LudrexVolume* volume) {
  return Guard<LudrexSubset*>(nullptr, [&] {
    return H(Subset::CreateInVolume(maxLength, name, dir, reinterpret_cast<Volume*>(volume)));
  });
}
extern "C" LUDREX_API LudrexSubset* Subset_CreateCopyInAVolume(LudrexSubset* subset,
                                                               const char* name, int dir,
                                                               LudrexVolume* volume) {
  return Guard<LudrexSubset*>(nullptr, [&] {
    return H(Subset::CreateCopyInVolume(*S(subset), name, dir, reinterpret_cast<Volume*>(volume)));
  });
}
extern "C" LUDREX_API LudrexSubset* Subset_OpenInAVolume(int maxLength, const char* name, int dir,
                                                         LudrexVolume* volume) {
  return Guard<LudrexSubset*>(nullptr, [&] {
    return H(Subset::OpenInVolume(maxLength, name, dir, reinterpret_cast<Volume*>(volume)));
  });
}
extern "C" LUDREX_API void Subset_Destroy(LudrexSubset* subset) {
  GuardVoid([&] { delete S(subset); });
}
extern "C" LUDREX_API void Subset_Update(LudrexSubset* subset) {
  GuardVoid([&] { S(subset)->Update(); });
}
extern "C" LUDREX_API int Subset_MaxLength(LudrexSubset* subset) { return S(subset)->MaxLength(); }
extern "C" LUDREX_API int Subset_CurLength(LudrexSubset* subset) { return S(subset)->CurLength(); }
extern "C" LUDREX_API int Subset_Item(LudrexSubset* subset, int r) {
  return Guard(0, [&] { return S(subset)->Item(r); });
}
extern "C" LUDREX_API void Subset_Include(LudrexSubset* subset, int r) {
  GuardVoid([&] {
    if (r < 0 || r >= S(subset)->MaxLength()) Raise(701);
    S(subset)->IncludeRange(r, 1);
  });
}
extern "C" LUDREX_API void Subset_IncludeRange(LudrexSubset* subset, int r, int n) {
  GuardVoid([&] { S(subset)->IncludeRange(r, n); });
}
extern "C" LUDREX_API void Subset_Exclude(LudrexSubset* subset, int r) {
  GuardVoid([&] {
    if (r < 0 || r >= S(subset)->MaxLength()) Raise(701);
    S(subset)->ExcludeRange(r, 1);
  });
}
extern "C" LUDREX_API void Subset_ExcludeRange(LudrexSubset* subset, int r, int n) {
  GuardVoid([&] { S(subset)->ExcludeRange(r, n); });
}
extern "C" LUDREX_API void Subset_Toggle(LudrexSubset* subset, int r) {
  GuardVoid([&] {
    if (r < 0 || r >= S(subset)->MaxLength()) Raise(701);
    S(subset)->ToggleRange(r, 1);
  });
}
extern "C" LUDREX_API void Subset_ToggleRange(LudrexSubset* subset, int r, int n) {
  GuardVoid([&] { S(subset)->ToggleRange(r, n); });
}
extern "C" LUDREX_API int Subset_BaseNum(LudrexSubset* subset, int i) {
  return Guard(-1, [&] { return S(subset)->BaseNum(i); });
}
extern "C" LUDREX_API void Subset_Expand(LudrexSubset* subset, int n) {
  GuardVoid([&] { S(subset)->Expand(n); });
}
extern "C" LUDREX_API void Subset_Intersect(LudrexSubset* s, LudrexSubset* t) {
  GuardVoid([&] { S(s)->Intersect(*S(t)); });
}
extern "C" LUDREX_API void Subset_Join(LudrexSubset* s, LudrexSubset* t) {
  GuardVoid([&] { S(s)->Join(*S(t)); });
}
extern "C" LUDREX_API void Subset_Subtract(LudrexSubset* s, LudrexSubset* t) {
  GuardVoid([&] { S(s)->Subtract(*S(t)); });
}
extern "C" LUDREX_API void Subset_CopySubset(LudrexSubset* dst, LudrexSubset* src) {
  GuardVoid([&] { S(dst)->CopyFrom(*S(src)); });
}
extern "C" LUDREX_API int Subset_GetCommentLength(LudrexSubset* subset) {
  return Guard(0, [&] { return S(subset)->CommentLength(); });
}
extern "C" LUDREX_API void Subset_GetComment(LudrexSubset* subset, char* buffer) {
  GuardVoid([&] { S(subset)->GetComment(buffer); });
}
extern "C" LUDREX_API void Subset_SetComment(LudrexSubset* subset, const char* text) {
  GuardVoid([&] {
    std::size_t n = text != nullptr ? std::strlen(text) : 0;
    S(subset)->SetComment(text, static_cast<std::int32_t>(n > 65535 ? 65535 : n));
  });
}
extern "C" LUDREX_API int Subset_SeqAccessInitBase(LudrexSubset* subset, int r) {
  return Guard(-1, [&] { return S(subset)->SeqInitBase(r); });
}
extern "C" LUDREX_API int Subset_SeqAccessInitSet(LudrexSubset* subset, int i) {
  return Guard(-1, [&] { return S(subset)->SeqInitSet(i); });
}
extern "C" LUDREX_API int Subset_SeqNext(LudrexSubset* subset) {
  return Guard(-1, [&] { return S(subset)->SeqNext(); });
}
extern "C" LUDREX_API int Subset_SeqNextExclude(LudrexSubset* subset) {
  return Guard(-1, [&] { return S(subset)->SeqNextExclude(); });
}
extern "C" LUDREX_API void Subset_SeqStop(LudrexSubset* subset) {
  GuardVoid([&] { S(subset)->SeqStop(); });
}
