// The per-base tree build on an existing native base: LUDREX_BENCH_BASE names it (a path without
// extension, for example a million games imported by `ludrex import` from gen-games output). The
// tree files are written beside the base and removed afterwards.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/registry.h"
#include "search/subset.h"
#include "tree/tree_files.h"

namespace ludrex {
namespace {

void BM_BuildTree(benchmark::State& state) {
  const char* name = std::getenv("LUDREX_BENCH_BASE");
  if (name == nullptr) {
    state.SkipWithError("set LUDREX_BENCH_BASE to a native base");
    return;
  }
  BuildSubsetTables();
  CreateRegistry();
  InstallLibraryAccess();
  RegisterNativeBase();
  tree::InstallTreeOperations();
  Base* base = OpenBase(String(name), 0);
  if (base == nullptr) {
    state.SkipWithError("cannot open the base");
    DestroyRegistry();
    return;
  }
  for (auto _ : state) base->BuildTree();
  state.counters["games"] = base->RecordCount();
  state.counters["games/s"] = benchmark::Counter(static_cast<double>(base->RecordCount()),
                                                 benchmark::Counter::kIsIterationInvariantRate);
  base->DeleteTree();
  CloseBase(base);
  DestroyRegistry();
}
BENCHMARK(BM_BuildTree)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace ludrex
