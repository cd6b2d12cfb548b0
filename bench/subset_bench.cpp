// Subsets of 10 million records: BaseNum at random indexes, an ascending walk of all members,
// and Intersect/Join throughput in bytes of mask.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "frame/callbacks.h"
#include "frame/error.h"
#include "search/subset.h"

namespace {

using ludrex::Subset;
constexpr std::int32_t kRecords = 10000000;

std::unique_ptr<Subset> RandomSet(unsigned seed) {
  std::unique_ptr<Subset> s(Subset::CreateTmp(kRecords));
  std::mt19937 rng(seed);
  for (int i = 0; i < 20000; ++i) {
    std::int32_t r = static_cast<std::int32_t>(rng() % kRecords);
    std::int32_t n = static_cast<std::int32_t>(rng() % 1000);
    if (r + n > kRecords) n = kRecords - r;
    s->IncludeRange(r, n);
  }
  return s;
}

void BM_BaseNumRandom(benchmark::State& state) {
  auto s = RandomSet(1);
  std::mt19937 rng(2);
  std::int32_t n = s->CurLength();
  for (auto _ : state) {
    benchmark::DoNotOptimize(s->BaseNum(static_cast<std::int32_t>(rng() % n)));
  }
  state.SetLabel(std::to_string(n) + " members");
}
BENCHMARK(BM_BaseNumRandom);

void BM_BaseNumAscendingWalk(benchmark::State& state) {
  auto s = RandomSet(3);
  std::int32_t n = s->CurLength();
  for (auto _ : state) {
    for (std::int32_t i = 0; i < n; ++i) benchmark::DoNotOptimize(s->BaseNum(i));
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_BaseNumAscendingWalk)->Unit(benchmark::kMillisecond);

void BM_SequentialScan(benchmark::State& state) {
  auto s = RandomSet(3);
  for (auto _ : state) {
    std::int64_t k = 0;
    for (std::int32_t r = s->SeqInitBase(0); r >= 0; r = s->SeqNext()) ++k;
    s->SeqStop();
    state.SetItemsProcessed(state.items_processed() + k);
  }
}
BENCHMARK(BM_SequentialScan)->Unit(benchmark::kMillisecond);

void BM_IntersectJoin(benchmark::State& state) {
  auto a = RandomSet(4);
  auto b = RandomSet(5);
  for (auto _ : state) {
    a->Join(*b);
    a->Intersect(*b);
  }
  state.SetBytesProcessed(state.iterations() * 2 * static_cast<std::int64_t>(a->MaskBytes()));
}
BENCHMARK(BM_IntersectJoin)->Unit(benchmark::kMillisecond);

}  // namespace
