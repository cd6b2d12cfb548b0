// Native base benchmarks: writing 100,000 generated games (or LUDREX_BENCH_GAMES) whose White,
// Black and Event are library references (AppendRecord with fast access, names found or added in
// the libraries), then reading them all back with names resolved, with index-only library fields,
// and at random record numbers. Each reports records per second; the base lives under the temporary
// directory and is erased afterwards.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/registry.h"
#include "frame/error.h"
#include "platform/platform.h"
#include "record/field_classes.h"
#include "record/record.h"
#include "search/sort.h"
#include "search/subset.h"
#include "storage/files.h"

namespace ludrex {
namespace {

// LUDREX_BENCH_GAMES in the environment sets another number of games (1000000, say).
std::int32_t GameCount() {
  static const std::int32_t n = [] {
    const char* v = std::getenv("LUDREX_BENCH_GAMES");
    long k = v != nullptr ? std::strtol(v, nullptr, 10) : 0;
    return k > 0 && k < 100000000 ? static_cast<std::int32_t>(k) : 100000;
  }();
  return n;
}

String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}

RecordPattern NamePattern() {
  RecordPattern p;
  p.Append(FieldSpec(kStringType, String("~3"), kFlagKey, String("")));
  return p;
}

// White, Black, Event (libraries), Date, Result, Round, ECO, a body of annotation text and the
// game score.
RecordPattern GamePattern() {
  RecordPattern names = NamePattern();
  RecordPattern p;
  p.Append(FieldSpec(kLibRefType, String("~1"), 0, String("Players"), &names));
  p.Append(FieldSpec(kLibRefType, String("~2"), 0, String("Players"), &names));
  p.Append(FieldSpec(kLibRefType, String("~16"), 0, String("Events"), &names));
  p.Append(FieldSpec(kDateType, String("~7"), 0, String("F")));
  p.Append(FieldSpec(kResultType, String("~9"), 0, String("")));
  p.Append(FieldSpec(kRoundType, String("~8"), 0, String("")));
  p.Append(FieldSpec(kEcoType, String("~10"), 0, String("")));
  p.Append(FieldSpec(kStringType, String("~19"), 0, String("")));
  p.Append(FieldSpec(kChessType, String("~22"), 0, String("")));
  return p;
}

struct Setup {
  std::string name;
  Setup() {
    BuildMessageTable();
    BuildSubsetTables();
    CreateRegistry();
    InstallLibraryAccess();
    RegisterNativeBase();
    String t = TempDirectory();
    name = std::string(t.Text(), t.Length()) + "ludrex-native-bench-" +
           std::to_string(platform::TickCount());
  }
  ~Setup() {
    Registry()->CloseAll();
    EraseBase(Own(name), 0);
  }
};

Setup& State() {
  static Setup s;
  return s;
}

std::string PlayerName(std::uint32_t k) { return "Player " + std::to_string(k) + ", A."; }

// Writes the games once (the write benchmark); later benchmarks read them.
void WriteGames() {
  Base* b = CreateBase(Own(State().name), GamePattern(), 0);
  b->EnableFastAccess(nullptr);
  Record r(b->GetRecordPattern());
  std::mt19937 rng(7);
  // Sorted fields: White, Black, Event, Date, Result, Round, ECO (group 0); text (group 1).
  auto name = [](Field& f) -> Field& { return static_cast<LibRefField&>(f).LibraryRecord()[0]; };
  std::string text(120, 'm');
  // Game scores: a few openings of different lengths, decoded once and copied into each game.
  static const char* const kGames[] = {
      "1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 5. O-O Be7 6. Re1 b5 7. Bb3 d6 8. c3 O-O",
      "1. d4 Nf6 2. c4 e6 3. Nc3 Bb4 4. e3 O-O 5. Bd3 d5 6. Nf3 c5 7. O-O Nc6",
      "1. e4 c5 2. Nf3 d6 3. d4 cxd4 4. Nxd4 Nf6 5. Nc3 a6 6. Be3 e5 7. Nb3 Be6 8. f3 Be7 "
      "9. Qd2 O-O 10. O-O-O Nbd7 11. g4 b5 12. g5 b4 13. Ne2 Ne8 14. f4 a5 15. f5 a4",
      "1. c4 e5 2. Nc3 Nf6 3. Nf3 Nc6 4. g3 d5 5. cxd5 Nxd5 6. Bg2 Nb6 7. O-O Be7"};
  std::vector<std::unique_ptr<Field>> scores;
  for (const char* g : kGames) {
    scores.emplace_back(CreateField(b->GetRecordPattern()[8]));
    scores.back()->Unpack(kPgnBase, reinterpret_cast<const std::uint8_t*>(g),
                          static_cast<std::int32_t>(std::strlen(g)), String(""));
  }
  for (std::int32_t k = 0; k < GameCount(); ++k) {
    name(r[0]).SetText(Own(PlayerName(rng() % 20000)));
    name(r[1]).SetText(Own(PlayerName(rng() % 20000)));
    name(r[2]).SetText(Own("Event " + std::to_string(rng() % 3000)));
    r[3].SetInt(1950 + static_cast<std::int32_t>(rng() % 70));
    r[4].SetInt(static_cast<std::int32_t>(rng() % 4));
    r[6].SetEmpty();
    text[static_cast<std::size_t>(k % 120)] = static_cast<char>('a' + k % 26);
    r[7].SetText(Own(text));
    r[8].Assign(*scores[static_cast<std::size_t>(k % 4)]);
    b->Write(kAppendRecord, r);
  }
  b->DisableFastAccess();
  b->Update();
  CloseBase(b);
}

void BM_NativeAppendRecord(benchmark::State& state) {
  for (auto _ : state) WriteGames();
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(GameCount()) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_NativeAppendRecord)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void ReadAll(benchmark::State& state, bool fast, bool indexOnly) {
  Base* b = OpenBase(Own(State().name), 0);
  RecordPattern p = b->GetRecordPattern();
  if (indexOnly) {
    RecordPattern q;
    for (std::int32_t i = 0; i < 7; ++i) {  // the header fields
      FieldSpec s = p[i];
      if (s.type == kLibRefType) s.flags |= kFlagIndexOnly;
      q.Append(s);
    }
    p = q;
  }
  if (fast) b->EnableFastAccess(&p);
  std::int64_t sum = 0;
  {
    Record r(p);
    for (auto _ : state) {
      for (std::int32_t k = 0; k < b->RecordCount(); ++k) {
        b->Read(k, r);
        sum += r[4].GetInt();
      }
    }
  }
  benchmark::DoNotOptimize(sum);
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(b->RecordCount()) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  b->DisableFastAccess();
  CloseBase(b);
}

void BM_NativeReadAllNames(benchmark::State& state) { ReadAll(state, false, false); }
void BM_NativeReadAllNamesFast(benchmark::State& state) { ReadAll(state, true, false); }
void BM_NativeReadHeadersIndexOnly(benchmark::State& state) { ReadAll(state, false, true); }
void BM_NativeReadHeadersIndexOnlyFast(benchmark::State& state) { ReadAll(state, true, true); }
BENCHMARK(BM_NativeReadAllNames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NativeReadAllNamesFast)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NativeReadHeadersIndexOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NativeReadHeadersIndexOnlyFast)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NativeRandomRead(benchmark::State& state) {
  Base* b = OpenBase(Own(State().name), 0);
  {
    Record r(b->GetRecordPattern());
    std::mt19937 rng(11);
    for (auto _ : state) {
      b->Read(static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(b->RecordCount())), r);
    }
  }
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  CloseBase(b);
}
BENCHMARK(BM_NativeRandomRead)->Unit(benchmark::kMicrosecond);

// The games by date, then White (names compared through the library).
void BM_NativeSortByDateThenWhite(benchmark::State& state) {
  Base* b = OpenBase(Own(State().name), 0);
  std::int32_t n = b->RecordCount();
  std::unique_ptr<Subset> all(Subset::CreateTmp(n));
  all->IncludeRange(0, n);
  RecordPattern p;
  const RecordPattern& own = b->GetRecordPattern();
  p.Append(own[3]);
  p.Append(own[0]);
  std::vector<std::int32_t> out(static_cast<std::size_t>(n));
  for (auto _ : state) SortSubset(b, out.data(), all.get(), p);
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  all.reset();
  CloseBase(b);
}
BENCHMARK(BM_NativeSortByDateThenWhite)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace ludrex
