// ludrex bench position: position, material and annotation-text searches on an open base, with
// wall-clock and processor time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "chess_options.h"
#include "commands.h"
#include "progress.h"

namespace ludrex_tool {
namespace {

struct PositionBenchOptions {
  std::string base;
  int repeat = 3;
};

int RunBenchPosition(const PositionBenchOptions& o) {
  LudrexBase* base = OpenAnyBase(o.base);
  if (base == nullptr) return 1;
  HostRecordPattern* pattern = Base_GetRecordPattern(base);
  const HostFieldEntry* moves = nullptr;
  for (int i = 0; pattern != nullptr && i < pattern->count; ++i)
    if (pattern->entries[i].type == LUDREX_FIELD_CHESS) moves = &pattern->entries[i];
  int rc = 0;
  if (moves == nullptr) {
    rc = Fail("the base has no game scores");
  } else {
    struct Case {
      const char* title;
      ChessOptions options;
    };
    std::vector<Case> cases(5);
    cases[0].title = "position after 1.e4 c5 2.Nf3 d6";
    cases[0].options.moves = "e4 c5 Nf3 d6";
    cases[1].title = "position after 10 plies (Najdorf)";
    cases[1].options.moves = "e4 c5 Nf3 d6 d4 cxd4 Nxd4 Nf6 Nc3 a6";
    cases[2].title = "queenless (Q=0 q=0)";
    cases[2].options.material = "Q=0 q=0";
    cases[3].title = "pure rook ending";
    cases[3].options.material = "R=1 r=1 B=0 b=0 N=0 n=0 Q=0 q=0";
    cases[4].title = "annotation containing \"the\"";
    cases[4].options.comment = "the";
    int total = Base_GetBaseLength(base);
    std::printf("%d games; best of %d runs, single thread\n", total, o.repeat);
    LudrexSubset* games = Subset_CreateTmp(total);
    for (const Case& c : cases) {
      HostFieldEntry e;
      std::memset(&e, 0, sizeof e);
      e.type = LUDREX_FIELD_CHESS | LUDREX_CRITERION_BIT;
      e.name = moves->name;
      e.text = const_cast<char*>("");
      HostRecordPattern one = {1, &e};
      LudrexRecord* criteria = Record_CreateRecord(&one);
      std::string wrong = FillChessCriterion(c.options, Record_GetField(criteria, 0));
      if (!wrong.empty()) {
        rc = Fail(wrong);
        Record_Destroy(criteria);
        break;
      }
      double best = 1e30, bestCpu = 1e30;
      int found = 0;
      for (int k = 0; k < o.repeat && !Interrupted(); ++k) {
        Subset_IncludeRange(games, 0, -1);
        auto t0 = std::chrono::steady_clock::now();
        std::clock_t c0 = std::clock();
        found = Base_Search(base, games, criteria, nullptr);
        std::clock_t c1 = std::clock();
        auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
        bestCpu = std::min(bestCpu, static_cast<double>(c1 - c0) / CLOCKS_PER_SEC);
      }
      bestCpu = std::max(bestCpu, 1e-6);
      best = std::max(best, 1e-6);
      std::printf("  %-36s %8d found  %9.2f ms (%6.2f M games/s)  cpu %9.2f ms (%6.2f M games/s)\n",
                  c.title, found, best * 1e3, total / best / 1e6, bestCpu * 1e3,
                  total / bestCpu / 1e6);
      Record_Destroy(criteria);
    }
    Subset_Destroy(games);
  }
  if (pattern != nullptr) CPP_DestroyRP(pattern);
  Base_BaseDestroy(base);
  return rc;
}

}  // namespace

void AddBenchPosition(CLI::App* bench, int& rc) {
  auto o = std::make_shared<PositionBenchOptions>();
  CLI::App* cmd = bench->add_subcommand(
      "position", "position searches on an open base: after 4 and 10 plies, queenless, rook "
                  "endings, an annotation text");
  cmd->add_option("BASE", o->base, "the native base")->required();
  cmd->add_option("--repeat", o->repeat, "runs per search (the best is shown)")
      ->check(CLI::Range(1, 1000));
  cmd->callback([&rc, o] { rc = RunBenchPosition(*o); });
}

}  // namespace ludrex_tool
