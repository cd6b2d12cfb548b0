// ludrex dups: repeated games in a base, or between two bases, with the best game of each group;
// and `ludrex bench dups`, the finder's throughput.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "ludrex.h"
#include "progress.h"

namespace ludrex_tool {
namespace {

struct FieldName {
  const char* name;
  int meaning;
};
const FieldName kFields[] = {
    {"white", 1},     {"black", 2},     {"whiteelo", 9}, {"blackelo", 10}, {"site", 11},
    {"place", 11},    {"result", 14},   {"date", 15},    {"event", 16},    {"round", 17},
    {"eco", 18},      {"remark", 19},   {"annotator", 20}, {"source", 21}, {"moves", 22},
};

int MeaningOf(const std::string& name) {
  std::string lower;
  for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const FieldName& f : kFields) {
    if (lower == f.name) return f.meaning;
  }
  return -1;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    if (comma > at) out.push_back(text.substr(at, comma - at));
    at = comma + 1;
  }
  return out;
}

int FieldMeaning(const HostFieldEntry& e) {
  if (e.name == nullptr || e.name[0] != '~') return 0;
  return std::atoi(e.name + 1);
}

// The compared fields, taken from the base's own pattern in the order asked. The entries point
// into own, which must outlive the result; free the result's array with std::free.
HostRecordPattern Select(HostRecordPattern* own, const std::vector<int>& meanings,
                         std::string& missing) {
  HostRecordPattern p{0, nullptr};
  p.entries = static_cast<HostFieldEntry*>(
      std::calloc(std::max<std::size_t>(1, meanings.size()), sizeof(HostFieldEntry)));
  for (int m : meanings) {
    bool found = false;
    for (int i = 0; i < own->count && !found; ++i) {
      if (FieldMeaning(own->entries[i]) == m) {
        p.entries[p.count++] = own->entries[i];
        found = true;
      }
    }
    if (!found) missing = std::to_string(m);
  }
  return p;
}

struct DupsOptions {
  std::string base, with, fields = "white,black,result,moves", plies, best = "plies,annotations,header";
  std::string out, outWith;
  int fromEnd = 0, minPlies = 0;
  bool prefix = false, annotations = false, count = false, preferWith = false;
  SubsetFilter filter;
};

// "FIRST..LAST", either side may be empty.
bool ParsePlies(const std::string& text, CopyManParams& p) {
  if (text.empty()) return true;
  std::size_t dots = text.find("..");
  if (dots == std::string::npos) return false;
  std::string a = text.substr(0, dots), b = text.substr(dots + 2);
  char* end = nullptr;
  if (!a.empty()) {
    p.firstPly = static_cast<int32_t>(std::strtol(a.c_str(), &end, 10));
    if (*end != 0 || p.firstPly < 0) return false;
  }
  if (!b.empty()) {
    p.lastPly = static_cast<int32_t>(std::strtol(b.c_str(), &end, 10));
    if (*end != 0 || p.lastPly < 0) return false;
  }
  return true;
}

// The criteria in order of importance, as the library's array wants them: the least important
// first (lowest bits).
bool ParseBest(const std::string& text, signed char criteria[4]) {
  static const char* kNames[4] = {"plies", "annotations", "header", "preferred"};
  std::vector<std::string> names = SplitList(text);
  if (names.size() > 4) return false;
  std::vector<signed char> order;
  for (const std::string& n : names) {
    int c = -1;
    for (int k = 0; k < 4; ++k) {
      if (n == kNames[k]) c = k;
    }
    if (c < 0) return false;
    order.push_back(static_cast<signed char>(c));
  }
  std::reverse(order.begin(), order.end());
  for (int k = 0; k < 4; ++k) criteria[k] = k < static_cast<int>(order.size()) ? order[k] : -1;
  return true;
}

int Usage(const std::string& what) {
  std::fprintf(stderr, "ludrex dups: %s\n", what.c_str());
  return 2;
}

// Saves the games of one base named by elements [first, first + length) as a subset file.
bool SaveSubset(const std::string& file, LudrexBase* base, LudrexSubset* candidates,
                const std::vector<int>& elements, int first) {
  LudrexSubset* s = Subset_CreateInAFile(Base_GetBaseLength(base), file.c_str());
  if (s == nullptr) return false;
  for (int e : elements) Subset_IncludeRange(s, Subset_BaseNum(candidates, e - first), 1);
  Subset_Destroy(s);
  return true;
}

int RunDups(const DupsOptions& o) {
  CopyManParams p;
  std::memset(&p, 0, sizeof p);
  p.lastPly = 0x7FFFFFFF;
  p.minPlies = o.minPlies;
  p.fromEnd = o.fromEnd;
  p.prefix = o.prefix ? 1 : 0;
  p.annotations = o.annotations ? 1 : 0;
  p.preferred = o.preferWith ? 1 : 0;
  if (!ParsePlies(o.plies, p)) return Usage("--plies takes FIRST..LAST, e.g. 0..40");
  signed char criteria[4];
  if (!ParseBest(o.best, criteria))
    return Usage("--best takes a list of plies, annotations, header, preferred");
  std::vector<int> meanings;
  for (const std::string& f : SplitList(o.fields)) {
    int m = MeaningOf(f);
    if (m < 0) return Usage("unknown field '" + f + "'");
    meanings.push_back(m);
  }
  if (meanings.empty()) return Usage("--fields names no field");

  LudrexBase* bases[2] = {OpenAnyBase(o.base), nullptr};
  if (bases[0] == nullptr) return 1;
  int rc = 0;
  LudrexSubset* subsets[2] = {nullptr, nullptr};
  HostRecordPattern* own = Base_GetRecordPattern(bases[0]);
  std::string missing;
  HostRecordPattern compare = Select(own, meanings, missing);
  LudrexCopyMan* cm = nullptr;
  if (!missing.empty()) {
    std::fprintf(stderr, "ludrex dups: the base has no field of meaning ~%s\n", missing.c_str());
    rc = 2;
  } else if (!o.with.empty() && (bases[1] = OpenAnyBase(o.with)) == nullptr) {
    rc = 1;
  } else if ((subsets[0] = SelectGames(bases[0], o.filter, 0, -1)) == nullptr ||
             (bases[1] != nullptr && (subsets[1] = SelectGames(bases[1], SubsetFilter(), 0, -1)) == nullptr)) {
    rc = 1;
  } else {
    cm = bases[1] != nullptr
             ? Base_CopyMan2(bases[0], subsets[0], bases[1], subsets[1], &compare, &p)
             : Base_CopyMan(bases[0], subsets[0], &compare, &p);
    if (cm == nullptr) rc = Interrupted() ? 130 : Fail("the duplicate search failed");
  }
  if (cm != nullptr) {
    int groups = CopyMan_Groups(cm);
    std::vector<int> best(static_cast<std::size_t>(std::max(groups, 0)), 0);
    if (groups > 0 && CopyMan_SelectBest(cm, best.data(), criteria) == 0) {
      rc = Interrupted() ? 130 : Fail("choosing the best games failed");
    }
    const int first = Subset_CurLength(subsets[0]);
    long games = 0;
    std::vector<int> drop[2];
    for (int g = 0; g < groups && rc == 0; ++g) {
      int n = CopyMan_ElementsInGroup(cm, g);
      games += n;
      if (!o.count) std::printf("%d:", g + 1);
      for (int e = 0; e < n; ++e) {
        int element = CopyMan_GetElement(cm, g, e);
        int k = element >= first ? 1 : 0;
        int record = Subset_BaseNum(subsets[k], element - (k == 1 ? first : 0));
        bool isBest = e == best[static_cast<std::size_t>(g)];
        if (!isBest) drop[k].push_back(element);
        if (!o.count) std::printf(" %s%d%s", k == 1 ? "with:" : "", record, isBest ? "*" : "");
      }
      if (!o.count) std::printf("\n");
    }
    if (rc == 0) {
      if (o.count) {
        std::printf("%d %ld\n", groups, games);
      } else {
        std::printf("%d groups, %ld games in them, %lu to remove (* marks the best of each)\n",
                    groups, games, static_cast<unsigned long>(drop[0].size() + drop[1].size()));
      }
      if (!o.out.empty() && !SaveSubset(o.out, bases[0], subsets[0], drop[0], 0))
        rc = Fail("cannot write the subset " + o.out);
      if (rc == 0 && !o.outWith.empty() && bases[1] != nullptr &&
          !SaveSubset(o.outWith, bases[1], subsets[1], drop[1], first))
        rc = Fail("cannot write the subset " + o.outWith);
    }
    CopyMan_Close(cm);
  }
  std::free(compare.entries);
  CPP_DestroyRP(own);
  for (int k = 0; k < 2; ++k) {
    if (subsets[k] != nullptr) Subset_Destroy(subsets[k]);
    if (bases[k] != nullptr) Base_BaseDestroy(bases[k]);
  }
  return rc;
}

// ---- ludrex bench dups ------------------------------------------------------------------------

// Processor time: what one core spent, whatever else the machine was doing.
double Cpu() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double g_passStart[4];
int g_passes = 0;
void LUDREX_CDECL BenchStart(const char*, int) {
  if (g_passes < 4) g_passStart[g_passes] = Cpu();
  ++g_passes;
}
int LUDREX_CDECL BenchStep(int, int) { return 0; }
void LUDREX_CDECL BenchFinish() {}


// Peak resident memory in MB (0 where unknown).
double PeakMegabytes() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

int RunBenchDups(const std::string& name, int plies) {
  LudrexBase* base = OpenAnyBase(name);
  if (base == nullptr) return 1;
  HostRecordPattern* own = Base_GetRecordPattern(base);
  std::string missing;
  HostRecordPattern compare = Select(own, {1, 2, 14, 22}, missing);
  CopyManParams p;
  std::memset(&p, 0, sizeof p);
  p.lastPly = plies;
  LudrexSubset* all = Subset_CreateTmp(Base_GetBaseLength(base));
  Subset_IncludeRange(all, 0, -1);
  int total = Subset_CurLength(all);
  SetMessageFunctions(BenchStart, nullptr, BenchStep, BenchFinish, nullptr);
  g_passes = 0;
  double before = PeakMegabytes();
  auto wall0 = std::chrono::steady_clock::now();
  double t0 = Cpu();
  LudrexCopyMan* cm = Base_CopyMan(base, all, &compare, &p);
  double whole = Cpu() - t0;
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  double pass1 = g_passStart[1] - t0;
  int rc = 0;
  if (cm == nullptr) {
    rc = Fail("the duplicate search failed");
  } else {
    int groups = CopyMan_Groups(cm);
    long games = 0;
    for (int g = 0; g < groups; ++g) games += CopyMan_ElementsInGroup(cm, g);
    std::vector<int> best(static_cast<std::size_t>(std::max(groups, 1)));
    signed char criteria[4] = {2, 1, 0, -1};
    double t1 = Cpu();
    CopyMan_SelectBest(cm, best.data(), criteria);
    double select = Cpu() - t1;
    std::printf("dups: %d games, first %d plies: %d groups, %ld games in them\n", total, plies,
                groups, games);
    std::printf("  both passes %.3f s processor (%.2f s wall): %.0f games/s; pass 1 %.3f s, "
                "pass 2 %.3f s\n",
                whole, wall, total / std::max(whole, 1e-9), pass1, whole - pass1);
    std::printf("  SelectBest %.3f s processor; peak memory %.0f MB (%.0f MB before the search)\n",
                select, PeakMegabytes(), before);
    CopyMan_Close(cm);
  }
  InstallProgress(false);
  Subset_Destroy(all);
  std::free(compare.entries);
  CPP_DestroyRP(own);
  Base_BaseDestroy(base);
  return rc;
}

}  // namespace

void AddDups(CLI::App& app, int& rc) {
  auto o = std::make_shared<DupsOptions>();
  CLI::App* cmd = app.add_subcommand(
      "dups", "repeated games: groups of games whose chosen fields and moves are equal");
  cmd->add_option("BASE", o->base, "the native base")->required();
  cmd->add_option("--with", o->with, "compare with the games of this other base");
  cmd->add_option("--fields", o->fields,
                  "compared fields: white, black, result, date, event, site, round, eco, "
                  "whiteelo, blackelo, annotator, remark, source, moves")
      ->capture_default_str();
  cmd->add_option("--plies", o->plies, "the plies of the moves compared, FIRST..LAST (plies "
                                       "after FIRST up to LAST; default: all)");
  cmd->add_option("--from-end", o->fromEnd, "leave out the last N plies of each game")
      ->check(CLI::NonNegativeNumber);
  cmd->add_option("--min-plies", o->minPlies, "only games with more plies than N")
      ->check(CLI::NonNegativeNumber);
  cmd->add_flag("--prefix", o->prefix, "a game that goes on from a shorter one joins its group");
  cmd->add_flag("--annotations", o->annotations, "games that differ in annotations differ");
  cmd->add_option("--best", o->best,
                  "how the best game of a group is chosen, most important first: plies, "
                  "annotations, header, preferred")
      ->capture_default_str();
  cmd->add_flag("--prefer-with", o->preferWith, "'preferred' means the --with base");
  cmd->add_flag("--count", o->count, "print only the number of groups and of games in them");
  cmd->add_option("--out", o->out, "save every duplicate but the best of each group (of BASE) "
                                   "as a subset file");
  cmd->add_option("--out-with", o->outWith, "the same for the games of the --with base");
  AddSubsetOptions(cmd, o->filter);
  cmd->callback([&rc, o] { rc = RunDups(*o); });
}

void AddBenchDups(CLI::App* bench, int& rc) {
  auto name = std::make_shared<std::string>();
  auto plies = std::make_shared<int>(40);
  CLI::App* cmd = bench->add_subcommand(
      "dups", "the duplicate finder on a base: White, Black, Result and the first plies");
  cmd->add_option("BASE", *name, "the native base")->required();
  cmd->add_option("--plies", *plies, "plies of moves in the key")->capture_default_str();
  cmd->callback([&rc, name, plies] { rc = RunBenchDups(*name, *plies); });
}

}  // namespace ludrex_tool
