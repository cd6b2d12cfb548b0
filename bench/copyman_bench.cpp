// The duplicate finder: both passes (keys, then groups) over a native base, with White, Black,
// Result and the first 40 plies compared, and the choice of the best game of each group. The
// base is LUDREX_BENCH_DUPS_BASE when set (a native base name, e.g. one `ludrex import` made of a
// million games with planted copies), else the shared sample games written 50 times over with
// every game's event renamed in each round but the first: every game then has 49 copies.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/pgn/pgn_base.h"
#include "base/registry.h"
#include "frame/error.h"
#include "platform/platform.h"
#include "record/chess_codec.h"
#include "record/field_types.h"
#include "record/record.h"
#include "search/copyman.h"
#include "search/subset.h"
#include "storage/files.h"

namespace ludrex {
namespace {

String Own(const std::string& s) { return String::Copy(s.data(), static_cast<std::uint32_t>(s.size())); }

struct Setup {
  std::string name;
  bool made = false;
  Base* base = nullptr;
  Setup() {
    BuildMessageTable();
    BuildSubsetTables();
    BuildGameScoreTables();
    CreateRegistry();
    InstallLibraryAccess();
    RegisterNativeBase();
    RegisterPgnBase();
    const char* given = std::getenv("LUDREX_BENCH_DUPS_BASE");
    if (given != nullptr && *given != 0) {
      name = given;
    } else {
      name = Make();
      made = true;
    }
    base = OpenBase(Own(name), 0);
  }
  ~Setup() {
    if (base != nullptr) CloseBase(base);
    Registry()->CloseAll();
    if (made) EraseBase(Own(name), 0);
  }
  static std::string Make() {
    String t = TempDirectory();
    std::string stem = std::string(t.Text(), t.Length()) + "ludrex-dups-bench-" +
                       std::to_string(platform::TickCount());
    std::ifstream in(std::string(LUDREX_SHARED_DATA) + "/sample-games.pgn", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string one = ss.str();
    {
      std::ofstream out(stem + "-src.pgn", std::ios::binary);
      for (int k = 0; k < 50; ++k) {
        if (k == 0) {
          out << one;
          continue;
        }
        std::string copy = one;
        std::string from = "[Event \"", to = "[Event \"R" + std::to_string(k) + " ";
        for (std::size_t at = copy.find(from); at != std::string::npos;
             at = copy.find(from, at + to.size())) {
          copy.replace(at, from.size(), to);
        }
        out << copy;
      }
    }
    RecordPattern names;
    names.Append(FieldSpec(kStringType, String("~3"), kFlagKey, String("")));
    RecordPattern p;
    p.Append(FieldSpec(kLibRefType, String("~1"), 0, String("Players"), &names));
    p.Append(FieldSpec(kLibRefType, String("~2"), 0, String("Players"), &names));
    p.Append(FieldSpec(kResultType, String("~14"), 0, String("")));
    p.Append(FieldSpec(kStringType, String("~16"), 0, String("")));
    p.Append(FieldSpec(kChessType, String("~22"), 0, String("")));
    RecordPattern texts;
    texts.Append(FieldSpec(kStringType, String("~1"), 0, String("")));
    texts.Append(FieldSpec(kStringType, String("~2"), 0, String("")));
    texts.Append(FieldSpec(kResultType, String("~14"), 0, String("")));
    texts.Append(FieldSpec(kStringType, String("~16"), 0, String("")));
    texts.Append(FieldSpec(kChessType, String("~22"), 0, String("")));
    std::unique_ptr<Base> pgn(new PgnBase(Own(stem + "-src"), &texts));
    Base* native = CreateBase(Own(stem), p, 0);
    pgn->AppendAnother(nullptr, native, false, 1, nullptr);
    CloseBase(native);
    pgn.reset();
    std::remove((stem + "-src.pgn").c_str());
    return stem;
  }
};

Setup& State() {
  static Setup s;
  return s;
}

RecordPattern Compared(Base* base) {
  RecordPattern p;
  const RecordPattern& own = base->GetRecordPattern();
  for (std::int32_t m : {1, 2, 14, 22}) {
    for (std::int32_t i = 0; i < own.Count(); ++i) {
      if (UnpackFieldMeaning(own[i].name) == m) {
        p.Append(own[i]);
        break;
      }
    }
  }
  return p;
}

void BM_FindDuplicates(benchmark::State& state) {
  Base* base = State().base;
  if (base == nullptr) {
    state.SkipWithError("no base");
    return;
  }
  std::unique_ptr<Subset> all(Subset::CreateTmp(base->RecordCount()));
  all->IncludeRange(0, -1);
  RecordPattern p = Compared(base);
  CopyManSettings s;
  s.lastPly = 40;
  std::int32_t groups = 0;
  for (auto _ : state) {
    std::unique_ptr<CopyMan> cm = CopyMan::Find(base, all.get(), nullptr, nullptr, p, s);
    groups = cm != nullptr ? cm->Groups() : -1;
  }
  state.SetItemsProcessed(state.iterations() * all->CurLength());
  state.SetLabel(std::to_string(all->CurLength()) + " games, " + std::to_string(groups) +
                 " groups");
}
BENCHMARK(BM_FindDuplicates)->Unit(benchmark::kMillisecond);

void BM_SelectBest(benchmark::State& state) {
  Base* base = State().base;
  if (base == nullptr) {
    state.SkipWithError("no base");
    return;
  }
  std::unique_ptr<Subset> all(Subset::CreateTmp(base->RecordCount()));
  all->IncludeRange(0, -1);
  CopyManSettings s;
  s.lastPly = 40;
  std::unique_ptr<CopyMan> cm = CopyMan::Find(base, all.get(), nullptr, nullptr, Compared(base), s);
  std::vector<std::int32_t> out(static_cast<std::size_t>(cm->Groups()) + 1);
  const std::int8_t criteria[4] = {2, 1, 0, -1};
  for (auto _ : state) benchmark::DoNotOptimize(cm->SelectBest(out.data(), criteria));
  state.SetItemsProcessed(state.iterations() * cm->Members());
  state.SetLabel(std::to_string(cm->Members()) + " grouped games");
}
BENCHMARK(BM_SelectBest)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ludrex
