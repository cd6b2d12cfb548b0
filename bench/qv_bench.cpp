// The tree index's position store: bulk build of many (key, reference) pairs under a store
// budget, and random fetches on the built store. LUDREX_BENCH_QV_PAIRS sets the number of pairs
// (default 5,000,000; the build figure of record is 50,000,000 with a 64 MB budget).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "qv/qv_key.h"
#include "qv/qv_store.h"

namespace ludrex::qv {
namespace {

std::uint64_t Pairs() {
  const char* s = std::getenv("LUDREX_BENCH_QV_PAIRS");
  return s != nullptr ? std::strtoull(s, nullptr, 10) : 5000000;
}

std::string StoreName() {
  char dir[platform::kMaxPath];
  platform::TempPath(dir, sizeof dir);
  return std::string(dir) + "ludrex_qv_bench";
}

// Pair i: one of Pairs()/2 keys of 25 bytes (about two references per key, a few keys far more),
// reference i.
void MakeKey(std::uint64_t i, std::uint8_t* key) {
  std::uint64_t k = i % 7 == 0 ? i % 1000 : (i * 0x9E3779B97F4A7C15ull) % (Pairs() / 2 + 1);
  for (int j = 0; j < 25; ++j) {
    key[j] = static_cast<std::uint8_t>(k >> (8 * (j % 8)));
    k = k * 6364136223846793005ull + 1442695040888963407ull + static_cast<std::uint64_t>(j);
  }
}

void BM_QvBuild(benchmark::State& state) {
  std::string name = StoreName();
  std::uint64_t n = Pairs();
  for (auto _ : state) {
    QvStore* b = QvOpenBuildA(name.c_str(), 64u << 20, 0);
    std::uint8_t key[25];
    for (std::uint64_t i = 0; i < n; ++i) {
      MakeKey(i, key);
      QvAddReference(b, key, 25, static_cast<std::uint32_t>(i));
    }
    if (!QvCloseA(b)) state.SkipWithError("build failed");
  }
  state.counters["pairs"] = static_cast<double>(n);
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_QvBuild)->Unit(benchmark::kSecond)->Iterations(1);

void BM_QvFetch(benchmark::State& state) {
  std::string name = StoreName();
  QvStore* r = QvOpenA(name.c_str(), 250000, 1, 0);
  if (r == nullptr) {
    state.SkipWithError("run BM_QvBuild first");
    return;
  }
  std::uint64_t i = 12345, found = 0;
  std::uint8_t key[25];
  for (auto _ : state) {
    i = i * 2862933555777941757ull + 3037000493ull;
    MakeKey(i % Pairs(), key);
    std::uint32_t bytes = 0;
    found += QvFetch(r, key, 25, &bytes) != nullptr;
  }
  state.counters["found"] = static_cast<double>(found);
  QvCloseA(r);
}
BENCHMARK(BM_QvFetch)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ludrex::qv
