// The per-base tree build on an existing native base: LUDREX_BENCH_BASE names it (a path without
// extension, for example a million games imported by `ludrex import` from gen-games output). The
// tree files are written beside the base and stay there (`ludrex` or Base_DeleteTree removes
// them).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/registry.h"
#include "search/subset.h"
#include "movegen/game.h"
#include "record/chess_codec.h"
#include "record/native_replay.h"
#include "tree/tree_files.h"
#include "tree/tree_walk.h"

namespace ludrex {
namespace {

// Opens the base named by LUDREX_BENCH_BASE with the tree operations installed; null (and the
// benchmark skipped) when there is none.
Base* OpenBenchBase(benchmark::State& state) {
  const char* name = std::getenv("LUDREX_BENCH_BASE");
  if (name == nullptr) {
    state.SkipWithError("set LUDREX_BENCH_BASE to a native base");
    return nullptr;
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
  }
  return base;
}

void CloseBenchBase(Base* base) {
  CloseBase(base);
  DestroyRegistry();
}

void BM_BuildTree(benchmark::State& state) {
  Base* base = OpenBenchBase(state);
  if (base == nullptr) return;
  for (auto _ : state) base->BuildTree();
  state.counters["games"] = base->RecordCount();
  state.counters["games/s"] = benchmark::Counter(static_cast<double>(base->RecordCount()),
                                                 benchmark::Counter::kIsIterationInvariantRate);
  CloseBenchBase(base);  // the tree stays for the statistics below
}
BENCHMARK(BM_BuildTree)->Unit(benchmark::kSecond)->Iterations(1);

// Statistics of a position through the tree: 0 the start position (every game), 1 the position
// after 1.e4 c5 2.Nf3 d6.
void BM_PositionStats(benchmark::State& state) {
  Base* base = OpenBenchBase(state);
  if (base == nullptr) return;
  NativeReplay position;
  if (state.range(0) == 1) {
    Game* g = GameCreate(0);
    const char moves[] = "1. e4 c5 2. Nf3 d6 *";
    GameReadPgn(g, moves, sizeof moves - 1);
    GameFinish(g);
    ByteBlock bytes;
    EncodeNativeGame(g, bytes);
    GameDestroy(g);
    for (std::int32_t at = 0; at < bytes.Count();) {
      int used = position.Play(bytes.Data() + at, bytes.Count() - at);
      if (used <= 0) break;
      at += used;
    }
  }
  double games = 0;
  for (auto _ : state) {
    std::vector<tree::PositionStat> stats;
    if (!tree::TreePositionStats(*base, nullptr, nullptr, position.Board(),
                                 position.Side() == 0 ? 1 : 2, stats)) {
      state.SkipWithError("build the tree first (BM_BuildTree)");
      break;
    }
    games = 0;
    for (auto& st : stats) {
      for (auto c : st.counters) games += c;
      GameDestroy(st.line);
    }
  }
  state.counters["games"] = games;
  CloseBenchBase(base);
}
BENCHMARK(BM_PositionStats)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ludrex
