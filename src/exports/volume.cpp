// The Volume_ exports: volumes driven directly by the host.
#include "storage/volume.h"

#include <cstring>

#include "exports/guard.h"
#include "frame/state.h"
#include "ludrex.h"

using namespace ludrex;

namespace {
Volume* V(LudrexVolume* v) { return reinterpret_cast<Volume*>(v); }
VolumeFind* F(LudrexVolumeFind* f) { return reinterpret_cast<VolumeFind*>(f); }
Array* M(LudrexVolumeFile* f) { return reinterpret_cast<Array*>(f); }
LudrexVolumeFile* Out(ArrayHandle h) { return reinterpret_cast<LudrexVolumeFile*>(h.Release()); }
void Need(const void* p) {
  if (p == nullptr) Raise(520);
}
}  // namespace

extern "C" LUDREX_API LudrexVolume* Volume_Create(const char* name) {
  return Guard<LudrexVolume*>(
      nullptr, [&] { return reinterpret_cast<LudrexVolume*>(Volume::Create(name)); });
}

extern "C" LUDREX_API LudrexVolume* Volume_Open(const char* name) {
  return Guard<LudrexVolume*>(nullptr,
                              [&] { return reinterpret_cast<LudrexVolume*>(Volume::Open(name)); });
}

extern "C" LUDREX_API void Volume_Close(LudrexVolume* volume) {
  if (volume == nullptr) return;
  GuardVoid([&] {
    Volume* v = V(volume);
    try {
      v->Close();
    } catch (...) {
      delete v;
      throw;
    }
    delete v;
  });
}

extern "C" LUDREX_API void Volume_Update(LudrexVolume* volume) {
  GuardVoid([&] {
    Need(volume);
    V(volume)->Update();
  });
}

extern "C" LUDREX_API int Volume_CreateEntry(LudrexVolume* volume, const char* name, int kind,
                                             int dir) {
  return Guard(-1, [&] {
    Need(volume);
    return static_cast<int>(V(volume)->CreateEntry(name, static_cast<std::uint32_t>(kind), dir));
  });
}

extern "C" LUDREX_API LudrexVolumeFind* Volume_FindFirst(LudrexVolume* volume, int mask, int dir) {
  return Guard<LudrexVolumeFind*>(nullptr, [&] {
    Need(volume);
    return reinterpret_cast<LudrexVolumeFind*>(
        V(volume)->FindFirst(static_cast<std::uint32_t>(mask), dir));
  });
}

extern "C" LUDREX_API LudrexVolumeFind* Volume_FindNext(LudrexVolume* volume,
                                                        LudrexVolumeFind* find) {
  return Guard<LudrexVolumeFind*>(nullptr, [&] {
    Need(volume);
    return reinterpret_cast<LudrexVolumeFind*>(V(volume)->FindNext(F(find)));
  });
}

extern "C" LUDREX_API void Volume_FindClose(LudrexVolume*, LudrexVolumeFind* find) {
  Volume::FindClose(F(find));
}

extern "C" LUDREX_API const char* Volume_GetFileName(LudrexVolumeFind* find) {
  if (find == nullptr) return ToExportBuffer("", 0);
  const String& name = F(find)->name;
  return ToExportBuffer(name.Text(), name.Length());
}

extern "C" LUDREX_API int Volume_GetFileFlags(LudrexVolumeFind* find) {
  return find == nullptr ? 0 : static_cast<int>(F(find)->flags & 0xFFFFu);
}

extern "C" LUDREX_API int Volume_GetFlags(LudrexVolumeFind* find) {
  return find == nullptr ? 0 : static_cast<int>(F(find)->flags >> 16);
}

extern "C" LUDREX_API int Volume_GetFileSize(LudrexVolumeFind* find) {
  if (find == nullptr || (F(find)->flags & kVolumeFile) == 0) return 0;
  return F(find)->sizeOrId;
}

extern "C" LUDREX_API int Volume_ChangeDir(LudrexVolume* volume, const char* name, int dir) {
  return Guard(0, [&] {
    Need(volume);
    return static_cast<int>(V(volume)->ChangeDir(name, dir));
  });
}

extern "C" LUDREX_API void Volume_DeleteFile(LudrexVolume* volume, const char* name, int mask,
                                             int dir) {
  GuardVoid([&] {
    Need(volume);
    V(volume)->DeleteEntries(name, static_cast<std::uint32_t>(mask), dir);
  });
}

extern "C" LUDREX_API void Volume_MoveRename(LudrexVolume* volume, const char* oldName, int kind,
                                             int oldDir, const char* newName, int newDir) {
  GuardVoid([&] {
    Need(volume);
    V(volume)->MoveRename(oldName, static_cast<std::uint32_t>(kind), oldDir, newName, newDir);
  });
}

extern "C" LUDREX_API void Volume_ChangeDirEntryPos(LudrexVolume* volume, const char* refName,
                                                    int refKind, const char* name, int kind,
                                                    int dir) {
  GuardVoid([&] {
    Need(volume);
    V(volume)->ChangeDirEntryPos(refName, static_cast<std::uint32_t>(refKind), name,
                                 static_cast<std::uint32_t>(kind), dir);
  });
}

extern "C" LUDREX_API void Volume_SetFlags(LudrexVolume* volume, int userFlags, const char* name,
                                           int kind, int dir) {
  GuardVoid([&] {
    Need(volume);
    V(volume)->SetFlags(static_cast<std::uint32_t>(userFlags), name,
                        static_cast<std::uint32_t>(kind), dir);
  });
}

extern "C" LUDREX_API LudrexVolumeFile* Volume_OpenFile(LudrexVolume* volume, const char* name,
                                                        int dir) {
  return Guard<LudrexVolumeFile*>(nullptr, [&] {
    Need(volume);
    return Out(V(volume)->OpenMember(name, dir));
  });
}

extern "C" LUDREX_API LudrexVolumeFile* Volume_CreateFile(LudrexVolume* volume, const char* name,
                                                          int size, int dir) {
  return Guard<LudrexVolumeFile*>(nullptr, [&] {
    Need(volume);
    return Out(V(volume)->CreateMember(name, size, dir));
  });
}

extern "C" LUDREX_API void Volume_CloseFile(LudrexVolumeFile* file) {
  if (file == nullptr) return;
  GuardVoid([&] { delete M(file); });
}

extern "C" LUDREX_API void Volume_BlockReadFile(LudrexVolumeFile* file, void* buffer,
                                                unsigned short n) {
  GuardVoid([&] {
    Need(file);
    M(file)->Read(0, buffer, n);
  });
}

extern "C" LUDREX_API void Volume_BlockWriteFile(LudrexVolumeFile* file, const void* buffer,
                                                 unsigned short n) {
  GuardVoid([&] {
    Need(file);
    M(file)->Write(0, buffer, n);
  });
}
