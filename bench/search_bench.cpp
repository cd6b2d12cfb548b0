// Header search benchmarks on an open native base of the import pattern's header fields: 1,000,000
// generated games (or LUDREX_BENCH_GAMES), players drawn with a skew so that some names are
// frequent. The base is made once under the temporary directory and kept for later runs. Each
// search reports games per second: White = the most frequent name (a library criterion), a date
// range and a result, an ECO range, and a player of either colour within a date range (A and B).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/registry.h"
#include "frame/error.h"
#include "record/field_classes.h"
#include "record/record.h"
#include "search/criteria.h"
#include "search/search.h"
#include "search/subset.h"
#include "storage/files.h"

namespace ludrex {
namespace {

std::int32_t GameCount() {
  const char* v = std::getenv("LUDREX_BENCH_GAMES");
  long k = v != nullptr ? std::strtol(v, nullptr, 10) : 0;
  return k > 0 && k < 100000000 ? static_cast<std::int32_t>(k) : 1000000;
}

String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}

constexpr int kPlayers = 20000;

// The base is kept between runs: TMPDIR/ludrex_search_bench_<games>.
std::string BaseName() {
  const char* t = std::getenv("TMPDIR");
  return std::string(t != nullptr ? t : "/tmp") + "/ludrex_search_bench_" +
         std::to_string(GameCount());
}

// The header fields of `ludrex import`'s pattern, in its order.
RecordPattern HeaderPattern(bool indexOnly) {
  RecordPattern names;
  names.Append(FieldSpec(kStringType, String("~3"), kFlagKey, String("")));
  std::uint32_t f = indexOnly ? kFlagIndexOnly : 0;
  RecordPattern p;
  p.Append(FieldSpec(kLibRefType, String("~16"), f, String("Events"), &names));
  p.Append(FieldSpec(kLibRefType, String("~11"), f, String("Places"), &names));
  p.Append(FieldSpec(kDateType, String("~15"), 0, String("F")));
  p.Append(FieldSpec(kRoundType, String("~17"), 0, String("")));
  p.Append(FieldSpec(kLibRefType, String("~1"), f, String("Players"), &names));
  p.Append(FieldSpec(kLibRefType, String("~2"), f, String("Players"), &names));
  p.Append(FieldSpec(kResultType, String("~14"), 0, String("")));
  p.Append(FieldSpec(kIntType, String("~9"), 0, String("2u")));
  p.Append(FieldSpec(kIntType, String("~10"), 0, String("2u")));
  p.Append(FieldSpec(kEcoType, String("~18"), 0, String("")));
  p.Append(FieldSpec(kLibRefType, String("~20"), f, String("Annotators"), &names));
  return p;
}

struct Fixture {
  Base* base = nullptr;
  Base* players = nullptr;
  std::int32_t frequent = 0;  // library record number of the most frequent White
};

// Player k is drawn with weight 1 / (k + 1): a few names play thousands of games.
int Player(std::mt19937& rng) {
  static const std::vector<double> cumulative = [] {
    std::vector<double> c(kPlayers);
    double s = 0;
    for (int k = 0; k < kPlayers; ++k) c[static_cast<std::size_t>(k)] = s += 1.0 / (k + 1);
    return c;
  }();
  double u = std::uniform_real_distribution<double>(0, cumulative.back())(rng);
  return static_cast<int>(std::lower_bound(cumulative.begin(), cumulative.end(), u) -
                          cumulative.begin());
}

Fixture& Base1M() {
  static Fixture fx = [] {
    BuildSubsetTables();
    CreateRegistry();
    InstallLibraryAccess();
    RegisterNativeBase();
    InstallCriteria();
    std::string name = BaseName();
    Fixture f;
    std::int32_t n = GameCount();
    Base* existing = FileExists((name + ".kvx").c_str()) ? OpenBase(Own(name), 0) : nullptr;
    if (existing != nullptr && existing->RecordCount() == n) {
      f.base = existing;
    } else {
      if (existing != nullptr) CloseBase(existing);
      EraseBase(Own(name), 0);
      f.base = CreateBase(Own(name), HeaderPattern(false), 0);
      // The libraries first, then the games with record numbers.
      for (const char* lib : {"Players", "Events", "Places", "Annotators"}) {
        Base* l = OpenEmbeddedBase(f.base, String(lib));
        Record r(l->GetRecordPattern());
        int count = std::string(lib) == "Players" ? kPlayers : 500;
        for (int k = 0; k < count; ++k) {
          r[0].SetText(Own(std::string(lib) + " " + std::to_string(100000 + k)));
          l->Write(kAppendRecord, r);
        }
        CloseBase(l);
      }
      std::mt19937 rng(2);
      Record g(HeaderPattern(true));
      for (std::int32_t i = 0; i < n; ++i) {
        g[0].SetInt(static_cast<std::int32_t>(rng() % 500));
        g[1].SetInt(static_cast<std::int32_t>(rng() % 500));
        auto& d = static_cast<DateField&>(g[2]);
        d.year_ = 1950 + static_cast<std::int32_t>(rng() % 75);
        d.month_ = static_cast<std::int32_t>(rng() % 13);
        d.day_ = d.month_ == 0 ? 0 : static_cast<std::int32_t>(rng() % 29);
        g[3].SetEmpty();
        g[4].SetInt(Player(rng));
        g[5].SetInt(Player(rng));
        g[6].SetInt(1 + static_cast<std::int32_t>(rng() % 3));
        g[7].SetInt(2000 + static_cast<std::int32_t>(rng() % 800));
        g[8].SetInt(2000 + static_cast<std::int32_t>(rng() % 800));
        static_cast<ECOField&>(g[9]).value_ = static_cast<std::int32_t>(rng() % 500);
        g[10].SetInt(-1);
        f.base->Write(kAppendRecord, g);
      }
      f.base->Update();
    }
    f.players = OpenEmbeddedBase(f.base, String("Players"));
    // The players are written in key order; numbers follow the skew, so 0 is the most frequent.
    f.frequent = 0;
    return f;
  }();
  return fx;
}

std::unique_ptr<Record> Criteria(std::initializer_list<std::pair<std::int32_t, const char*>> c) {
  RecordPattern p;
  for (auto& [type, name] : c) p.Append(FieldSpec(type | kCriterionBit, String(name), 0, String("")));
  return std::make_unique<Record>(p);
}

void SetDates(Field& f, int from, int to) {
  auto& c = static_cast<DateFieldCrit&>(f);
  c.SetLength(1);
  c.SetPair(0, PackDate(to, 12, 31), PackDate(from, 0, 0));
}

void Run(benchmark::State& state, Record* a, Record* b) {
  Fixture& fx = Base1M();
  std::int32_t n = fx.base->RecordCount();
  std::unique_ptr<Subset> set(Subset::CreateTmp(n));
  std::int32_t found = 0;
  for (auto _ : state) {
    set->IncludeRange(0, n);
    found = SearchBase(*fx.base, *set, a, b);
  }
  state.counters["found"] = found;
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_SearchWhite(benchmark::State& state) {
  Fixture& fx = Base1M();
  auto a = Criteria({{kLibRefType, "~1"}});
  auto& c = static_cast<LibRefFieldCrit&>((*a)[0]);
  c.SetBase(fx.players);
  c.Set()->IncludeRange(fx.frequent, 1);
  Run(state, a.get(), nullptr);
}
BENCHMARK(BM_SearchWhite)->Unit(benchmark::kMillisecond);

void BM_SearchDatesAndResult(benchmark::State& state) {
  auto a = Criteria({{kDateType, "~15"}, {kResultType, "~14"}});
  SetDates((*a)[0], 1990, 2009);
  static_cast<ResultFieldCrit&>((*a)[1]).SetMask(1u << 2);
  Run(state, a.get(), nullptr);
}
BENCHMARK(BM_SearchDatesAndResult)->Unit(benchmark::kMillisecond);

void BM_SearchEcoRange(benchmark::State& state) {
  auto a = Criteria({{kEcoType, "~18"}});
  for (int k = 120; k <= 199; ++k) static_cast<ECOFieldCrit&>((*a)[0]).SetItem(k, true);
  Run(state, a.get(), nullptr);
}
BENCHMARK(BM_SearchEcoRange)->Unit(benchmark::kMillisecond);

void BM_SearchPlayerWithDates(benchmark::State& state) {
  Fixture& fx = Base1M();
  auto a = Criteria({{kLibRefType, "~1"}, {kDateType, "~15"}});
  auto b = Criteria({{kLibRefType, "~2"}, {kDateType, "~15"}});
  for (Record* r : {a.get(), b.get()}) {
    auto& c = static_cast<LibRefFieldCrit&>((*r)[0]);
    c.SetBase(fx.players);
    c.Set()->IncludeRange(fx.frequent, 1);
    SetDates((*r)[1], 1990, 2009);
  }
  Run(state, a.get(), b.get());
}
BENCHMARK(BM_SearchPlayerWithDates)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ludrex
