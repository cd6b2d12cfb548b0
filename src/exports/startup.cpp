// Start-up, shut-down, the host's callbacks and the release of host record patterns.
#include "base/library_link.h"
#include "base/pgn/pgn_base.h"
#include "base/native/native_base.h"
#include "base/registry.h"
#include "exports/guard.h"
#include "frame/callbacks.h"
#include "frame/error.h"
#include "frame/state.h"
#include "record/chess_codec.h"
#include "tree/tree_files.h"
#include "ludrex.h"
#include "search/criteria.h"
#include "search/subset.h"
#include "storage/memory.h"

using namespace ludrex;

namespace {

void DestroyPattern(HostRecordPattern* p) {
  if (p == nullptr) return;
  for (int32_t i = 0; i < p->count && p->entries != nullptr; ++i) {
    HostFieldEntry& e = p->entries[i];
    MemFree(e.name);
    MemFree(e.text);
    if (e.type == 0 && e.extra.library != nullptr) DestroyPattern(e.extra.library);
  }
  MemFree(p->entries);
  MemFree(p);
}

}  // namespace

// The state is built in a fixed order; each subsystem that keeps a process-wide table adds its
// step here, in its place.
extern "C" LUDREX_API void CPP_Startup(void) {
  GuardVoid([] {
    if (g_started) return;
    SetProgramPath(nullptr);  // 1. the program path starts empty
    BuildSubsetTables();      // 2. subset bit tables
    BuildMessageTable();      // 3. the message table
    BuildGameScoreTables();   // 4. game-score piece tables
    tree::InstallTreeOperations();  // 5. the tree files' byte table and its inverse
    // 6. material piece-count tables; 7. the optional free-space function;
    CreateRegistry();         // 8. the registry of open bases
    InstallLibraryAccess();   //    through which library fields reach their libraries
    RegisterNativeBase();     //    base type 0
    RegisterPgnBase();        //    base type 2
    InstallCriteria();        //    search criteria for the field factory
    g_started = true;         // 9.
  });
}

extern "C" LUDREX_API int CPP_Done(void) {
  return Guard(0, [] {
    if (Registry() != nullptr) Registry()->CloseAll();  // 1. the bases still open
    DestroyRegistry();
    // 2. release the free-space function's library
    FreeMessageTable();  // 3.
    return 0;
  });
}

extern "C" LUDREX_API int CPP_SetProgramPath(const char* path) {
  SetProgramPath(path);
  return 0;
}

extern "C" LUDREX_API int CPP_DestroyRP(HostRecordPattern* pattern) {
  DestroyPattern(pattern);
  return 0;
}

extern "C" LUDREX_API intptr_t SetErrorFunction(ErrorFunction fn) {
  Callbacks().error = fn;
  return reinterpret_cast<intptr_t>(fn);
}

extern "C" LUDREX_API intptr_t SetMessageFunctions(ProgressStartFunction start, void* spare,
                                                   ProgressStepFunction step,
                                                   ProgressFinishFunction finish,
                                                   ProgressStepExFunction stepEx) {
  HostCallbacks& cb = Callbacks();
  cb.start = start;
  cb.spare = spare;
  cb.step = step;
  cb.finish = finish;
  cb.stepEx = stepEx;
  return reinterpret_cast<intptr_t>(stepEx);
}

extern "C" LUDREX_API intptr_t SetMessageDlg(MessageDlgFunction fn) {
  Callbacks().dialog = fn;
  return reinterpret_cast<intptr_t>(fn);
}

extern "C" LUDREX_API intptr_t SetTreeMessageFunctionPtr(TreeMessageFunction fn) {
  Callbacks().tree = fn;
  return reinterpret_cast<intptr_t>(fn);
}
