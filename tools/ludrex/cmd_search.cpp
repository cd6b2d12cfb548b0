// ludrex search: the games of a base that satisfy header conditions, listed, counted or saved as
// a subset file; and `ludrex bench search`, the search's throughput on an open base.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "chess_options.h"
#include "commands.h"
#include "progress.h"
#include "text.h"

namespace ludrex_tool {
namespace {

struct SearchOptions {
  std::string base;
  std::string white, black, player, event, site, annotator;
  bool prefix = false, contains = false;
  std::string date;
  std::vector<std::string> results, ecos;
  std::string whiteElo, blackElo;
  bool count = false;
  std::string out;
  SubsetFilter filter;
  ChessOptions chess;
};

class UsageError {
 public:
  explicit UsageError(std::string what) : what_(std::move(what)) {}
  const std::string& What() const { return what_; }

 private:
  std::string what_;
};

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

// A date bound: "1990", "1990.05" or "1990.05.17"; an upper bound without month or day reaches
// the end of the year or month.
int DateBound(const std::string& text, bool upper) {
  int parts[3] = {0, 0, 0};
  int n = 0, digits = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9' && digits < 4) {
      parts[n] = parts[n] * 10 + (c - '0');
      ++digits;
    } else if (c == '.' && digits > 0 && n < 2) {
      ++n;
      digits = 0;
    } else {
      throw UsageError("not a date: " + text);
    }
  }
  if (digits == 0) throw UsageError("not a date: " + text);
  ++n;
  int y = parts[0], m = parts[1], d = parts[2];
  if (m > 12 || d > 31) throw UsageError("not a date: " + text);
  if (upper) {
    if (n < 2) m = 12;
    if (n < 3) d = 31;
  }
  return FieldCrit_PackDate(y, m, d);
}

// "A..B", "A", "..B", "A..": the two texts (empty for an open end).
std::pair<std::string, std::string> Range(const std::string& text) {
  std::size_t dots = text.find("..");
  if (dots == std::string::npos) return {text, text};
  return {text.substr(0, dots), text.substr(dots + 2)};
}

int EcoCode(const std::string& text) {
  if (text.size() != 3 || Upper(text)[0] < 'A' || Upper(text)[0] > 'E' || text[1] < '0' ||
      text[1] > '9' || text[2] < '0' || text[2] > '9')
    throw UsageError("not an ECO code: " + text);
  return (Upper(text)[0] - 'A') * 100 + (text[1] - '0') * 10 + (text[2] - '0');
}

int Number(const std::string& text, int open) {
  if (text.empty()) return open;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != 0 || v < INT_MIN || v > INT_MAX) throw UsageError("not a number: " + text);
  return static_cast<int>(v);
}

// The criteria records of one search, built against a base's pattern.
class CriteriaBuilder {
 public:
  explicit CriteriaBuilder(LudrexBase* base) : base_(base), pattern_(Base_GetRecordPattern(base)) {}
  ~CriteriaBuilder() {
    for (LudrexRecord* r : records_) Record_Destroy(r);
    for (auto& [name, lib] : libraries_) Base_BaseDestroy(lib);
    if (pattern_ != nullptr) CPP_DestroyRP(pattern_);
  }
  CriteriaBuilder(const CriteriaBuilder&) = delete;
  CriteriaBuilder& operator=(const CriteriaBuilder&) = delete;

  // One condition, described so that it can be applied to either record.
  struct Condition {
    const HostFieldEntry* field;
    std::function<void(LudrexField*)> fill;
  };

  // The base's field of a standard meaning, or null.
  const HostFieldEntry* FieldOf(int meaning) const {
    char name[8];
    std::snprintf(name, sizeof name, "~%d", meaning);
    for (int i = 0; pattern_ != nullptr && i < pattern_->count; ++i)
      if (std::strcmp(pattern_->entries[i].name, name) == 0) return &pattern_->entries[i];
    return nullptr;
  }

  int Count() const { return pattern_ != nullptr ? pattern_->count : 0; }
  const HostFieldEntry& Entry(int i) const { return pattern_->entries[i]; }

  // A text condition on a name field: a library field matches the library's records whose
  // name passes the text test, a text field the text test itself.
  Condition Text(int meaning, const std::string& option, const std::string& value, int type) {
    const HostFieldEntry* f = FieldOf(meaning);
    if (f == nullptr) throw UsageError("the base has no field for " + option);
    if (f->type == LUDREX_FIELD_STRING) {
      std::string text = Upper(Utf8ToCp1251(value));
      return {f, [text, type](LudrexField* c) {
                StringFieldCrit_SetSearchType(c, type);
                StringFieldCrit_SetStr(c, text.c_str());
              }};
    }
    if (f->type != LUDREX_FIELD_LIBREF) throw UsageError(option + " needs a text field");
    LudrexBase* lib = Library(f->text);
    std::vector<int> numbers = Matching(lib, Utf8ToCp1251(value), type);
    return {f, [lib, numbers](LudrexField* c) {
              LibRefFieldCrit_SetBase(c, lib);
              LudrexSubset* set = LibRefFieldCrit_GetSubsetBody(c);
              for (int n : numbers) Subset_Include(set, n);
            }};
  }

  // Adds a record holding the conditions; returns it.
  LudrexRecord* Make(const std::vector<Condition>& conditions) {
    std::vector<HostFieldEntry> entries(conditions.size());
    for (std::size_t i = 0; i < conditions.size(); ++i) {
      std::memset(&entries[i], 0, sizeof entries[i]);
      entries[i].type = conditions[i].field->type | LUDREX_CRITERION_BIT;
      entries[i].name = conditions[i].field->name;
      entries[i].text = const_cast<char*>("");
    }
    HostRecordPattern p = {static_cast<int32_t>(entries.size()), entries.data()};
    LudrexRecord* r = Record_CreateRecord(&p);
    if (r == nullptr) throw UsageError("cannot make the criteria");
    records_.push_back(r);
    for (std::size_t i = 0; i < conditions.size(); ++i)
      conditions[i].fill(Record_GetField(r, static_cast<int>(i)));
    return r;
  }

 private:
  LudrexBase* Library(const std::string& name) {
    auto it = libraries_.find(name);
    if (it != libraries_.end()) return it->second;
    LudrexBase* lib = Base_EmbeddedBaseOpen(base_, name.c_str());
    if (lib == nullptr) throw UsageError("cannot open the library " + name);
    libraries_[name] = lib;
    return lib;
  }

  // The record numbers of the library whose name passes the test (type 0 exact, 1 contains,
  // 2 begins with; letters a-z compared without case). An exact name is looked up in the key
  // order; the other tests read the library once.
  static std::vector<int> Matching(LudrexBase* lib, const std::string& text, int type) {
    std::vector<int> out;
    HostRecordPattern* p = Base_GetRecordPattern(lib);
    LudrexRecord* r = Record_CreateRecord(p);
    bool keyFirst = p != nullptr && p->count > 0 && (p->entries[0].param & LUDREX_FLAG_KEY) != 0 &&
                    p->entries[0].type == LUDREX_FIELD_STRING;
    CPP_DestroyRP(p);
    std::string want = Upper(text);
    auto passes = [&](const char* name) {
      std::string t = Upper(name != nullptr ? name : "");
      if (type == 0) return t == want;
      if (type == 1) return t.find(want) != std::string::npos;
      return t.compare(0, want.size(), want) == 0;
    };
    int count = Base_GetBaseLength(lib);
    if (type == 0 && keyFirst) {
      StringField_SetStr(Record_GetField(r, 0), text.c_str());
      int found = 0;
      int pos = Base_Find(lib, r, nullptr, &found);
      // Equal keys differ at most in case: look at the neighbours as well.
      for (int q = pos; found != 0 && q < count; ++q) {
        int n = Base_UnsortedFromSorted(lib, q);
        Base_Read(lib, n, r);
        if (!passes(StringField_GetStrPtr(Record_GetField(r, 0)))) break;
        out.push_back(n);
      }
    } else {
      for (int n = 0; n < count; ++n) {
        Base_Read(lib, n, r);
        if (passes(StringField_GetStrPtr(Record_GetField(r, 0)))) out.push_back(n);
      }
    }
    Record_Destroy(r);
    return out;
  }

  LudrexBase* base_;
  HostRecordPattern* pattern_;
  std::vector<LudrexRecord*> records_;
  std::map<std::string, LudrexBase*> libraries_;
};

// Builds the criteria of the options into A (and B for --player).
void BuildCriteria(const SearchOptions& o, CriteriaBuilder& cb, LudrexRecord** a,
                   LudrexRecord** b) {
  if (o.prefix && o.contains) throw UsageError("--prefix and --contains exclude each other");
  if (!o.player.empty() && (!o.white.empty() || !o.black.empty()))
    throw UsageError("--player excludes --white and --black");
  int type = o.prefix ? LUDREX_TEXT_BEGINS : (o.contains ? LUDREX_TEXT_CONTAINS : LUDREX_TEXT_EQUAL);
  std::vector<CriteriaBuilder::Condition> common;
  using Cond = CriteriaBuilder::Condition;
  if (!o.white.empty()) common.push_back(cb.Text(1, "--white", o.white, type));
  if (!o.black.empty()) common.push_back(cb.Text(2, "--black", o.black, type));
  if (!o.event.empty()) common.push_back(cb.Text(16, "--event", o.event, type));
  if (!o.site.empty()) common.push_back(cb.Text(11, "--site", o.site, type));
  if (!o.annotator.empty()) common.push_back(cb.Text(20, "--annotator", o.annotator, type));
  auto field = [&](int meaning, const char* option, int fieldType) {
    const HostFieldEntry* f = cb.FieldOf(meaning);
    if (f == nullptr || f->type != fieldType)
      throw UsageError(std::string("the base has no field for ") + option);
    return f;
  };
  if (!o.date.empty()) {
    auto [from, to] = Range(o.date);
    int lo = from.empty() ? 0 : DateBound(from, false);
    int hi = to.empty() ? INT_MAX : DateBound(to, true);
    common.push_back(Cond{field(15, "--date", LUDREX_FIELD_DATE), [lo, hi](LudrexField* c) {
                            DateFieldCrit_SetLength(c, 1);
                            DateFieldCrit_SetPair(c, 0, hi, lo);
                          }});
  }
  if (!o.results.empty()) {
    uint32_t mask = 0;
    for (const std::string& r : o.results) {
      if (r == "1-0") mask |= 1u << 2;
      else if (r == "0-1") mask |= 1u << 3;
      else if (r == "1/2-1/2" || r == "1/2") mask |= 1u << 1;
      else if (r == "*") mask |= 1u << 0;
      else throw UsageError("not a result: " + r);
    }
    common.push_back(Cond{field(14, "--result", LUDREX_FIELD_RESULT),
                          [mask](LudrexField* c) { ResultFieldCrit_SetValue(c, mask); }});
  }
  if (!o.ecos.empty()) {
    std::vector<std::pair<int, int>> ranges;
    for (const std::string& e : o.ecos) {
      auto [from, to] = Range(e);
      ranges.push_back({from.empty() ? 0 : EcoCode(from), to.empty() ? 499 : EcoCode(to)});
    }
    common.push_back(Cond{field(18, "--eco", LUDREX_FIELD_ECO), [ranges](LudrexField* c) {
                            for (auto [lo, hi] : ranges)
                              for (int k = lo; k <= hi; ++k) ECOFieldCrit_SetItem(c, k, 1);
                          }});
  }
  for (int side = 0; side < 2; ++side) {
    const std::string& elo = side == 0 ? o.whiteElo : o.blackElo;
    if (elo.empty()) continue;
    auto [from, to] = Range(elo);
    int lo = Number(from, INT_MIN), hi = Number(to, INT_MAX);
    common.push_back(Cond{field(side == 0 ? 9 : 10, side == 0 ? "--white-elo" : "--black-elo",
                                LUDREX_FIELD_INT),
                          [lo, hi](LudrexField* c) {
                            IntFieldCrit_SetLength(c, 1);
                            IntFieldCrit_SetPair(c, 0, hi, lo);
                          }});
  }
  if (o.chess.Used()) {
    const HostFieldEntry* moves = nullptr;
    for (int i = 0; i < cb.Count(); ++i)
      if (cb.Entry(i).type == LUDREX_FIELD_CHESS) moves = &cb.Entry(i);
    if (moves == nullptr) throw UsageError("the base has no game scores");
    ChessOptions chess = o.chess;
    common.push_back(Cond{moves, [chess](LudrexField* c) {
                            std::string wrong = FillChessCriterion(chess, c);
                            if (!wrong.empty()) throw UsageError(wrong);
                          }});
  }
  if (!o.player.empty()) {
    // A: White is the player; B: Black is; every other condition stands in both.
    std::vector<Cond> ca = common, cbb = common;
    ca.push_back(cb.Text(1, "--player", o.player, type));
    cbb.push_back(cb.Text(2, "--player", o.player, type));
    *a = cb.Make(ca);
    *b = cb.Make(cbb);
    return;
  }
  *a = cb.Make(common);
  *b = nullptr;
}

int RunSearch(const SearchOptions& o) {
  LudrexBase* base = OpenAnyBase(o.base);
  if (base == nullptr) return 1;
  int rc = 0;
  LudrexSubset* games = nullptr;
  try {
    CriteriaBuilder cb(base);
    LudrexRecord* a = nullptr;
    LudrexRecord* b = nullptr;
    BuildCriteria(o, cb, &a, &b);
    games = SelectGames(base, o.filter, 0, -1);
    if (games == nullptr) {
      rc = 1;
    } else if (Base_Search(base, games, a, b) < 0) {
      rc = Fail("the search failed");
    } else if (Interrupted()) {
      rc = 130;
    } else {
      if (!o.out.empty()) {
        LudrexSubset* saved = Subset_CreateCopyInAFile(games, o.out.c_str());
        if (saved == nullptr) {
          rc = Fail("cannot write " + o.out);
        } else {
          Subset_Destroy(saved);
        }
      }
      if (o.count) {
        std::printf("%d\n", Subset_CurLength(games));
      } else if (o.out.empty()) {
        PrintGameLines(base, games);
        if (Interrupted()) rc = 130;
      }
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "ludrex: %s\n", e.What().c_str());
    rc = 2;
  }
  if (games != nullptr) Subset_Destroy(games);
  Base_BaseDestroy(base);
  return rc;
}

// ---- bench search -------------------------------------------------------------------------------

struct BenchOptions {
  std::string base;
  std::string white;
  int repeat = 5;
};

// The most frequent White among the first games, by library record number.
std::string FrequentWhite(LudrexBase* base, LudrexBase* lib) {
  HostRecordPattern* p = Base_GetRecordPattern(base);
  int k = -1;
  for (int i = 0; p != nullptr && i < p->count; ++i)
    if (std::strcmp(p->entries[i].name, "~1") == 0) k = i;
  if (k < 0 || p->entries[k].type != LUDREX_FIELD_LIBREF) {
    CPP_DestroyRP(p);
    return "";
  }
  HostRecordPattern one = {1, &p->entries[k]};
  int oldFlags = one.entries[0].param;
  one.entries[0].param |= LUDREX_FLAG_INDEX_ONLY;
  LudrexRecord* r = Record_CreateRecord(&one);
  one.entries[0].param = oldFlags;
  CPP_DestroyRP(p);
  std::map<int, int> counts;
  int n = std::min(Base_GetBaseLength(base), 20000);
  for (int i = 0; i < n; ++i) {
    Base_Read(base, i, r);
    ++counts[LibRefField_GetIndex(Record_GetField(r, 0))];
  }
  Record_Destroy(r);
  int best = -1, most = 0;
  for (auto [number, c] : counts)
    if (number >= 0 && c > most) best = number, most = c;
  if (best < 0) return "";
  HostRecordPattern* lp = Base_GetRecordPattern(lib);
  LudrexRecord* name = Record_CreateRecord(lp);
  CPP_DestroyRP(lp);
  Base_Read(lib, best, name);
  std::string out = StringField_GetStrPtr(Record_GetField(name, 0));
  Record_Destroy(name);
  return Cp1251ToUtf8(out);
}

int RunBenchSearch(const BenchOptions& o) {
  LudrexBase* base = OpenAnyBase(o.base);
  if (base == nullptr) return 1;
  int rc = 0;
  int total = Base_GetBaseLength(base);
  try {
    std::string white = o.white;
    if (white.empty()) {
      CriteriaBuilder probe(base);
      const HostFieldEntry* f = probe.FieldOf(1);
      if (f != nullptr && f->type == LUDREX_FIELD_LIBREF) {
        LudrexBase* lib = Base_EmbeddedBaseOpen(base, f->text);
        if (lib != nullptr) {
          white = FrequentWhite(base, lib);
          Base_BaseDestroy(lib);
        }
      }
    }
    struct Case {
      const char* title;
      SearchOptions options;
    };
    std::vector<Case> cases(4);
    cases[0].title = "White = a frequent name";
    cases[0].options.white = white;
    cases[1].title = "date range + result";
    cases[1].options.date = "1990..2009";
    cases[1].options.results = {"1-0"};
    cases[2].title = "ECO range B20..B99";
    cases[2].options.ecos = {"B20..B99"};
    cases[3].title = "player of either colour + date range";
    cases[3].options.player = white;
    cases[3].options.date = "1990..2009";
    std::printf("%d games; White = %s; best of %d runs, single thread\n", total, white.c_str(),
                o.repeat);
    LudrexSubset* games = Subset_CreateTmp(total);
    for (const Case& c : cases) {
      CriteriaBuilder cb(base);
      LudrexRecord* a = nullptr;
      LudrexRecord* b = nullptr;
      BuildCriteria(c.options, cb, &a, &b);
      double best = 1e30, bestCpu = 1e30;
      int found = 0;
      for (int k = 0; k < o.repeat && !Interrupted(); ++k) {
        Subset_IncludeRange(games, 0, -1);
        auto t0 = std::chrono::steady_clock::now();
        std::clock_t c0 = std::clock();
        found = Base_Search(base, games, a, b);
        std::clock_t c1 = std::clock();
        auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
        bestCpu = std::min(bestCpu, static_cast<double>(c1 - c0) / CLOCKS_PER_SEC);
      }
      bestCpu = std::max(bestCpu, 1e-6);
      std::printf("  %-38s %8d found  %8.2f ms (%7.1f M games/s)  cpu %8.2f ms (%7.1f M games/s)\n",
                  c.title, found, best * 1e3, total / best / 1e6, bestCpu * 1e3,
                  total / bestCpu / 1e6);
    }
    Subset_Destroy(games);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "ludrex: %s\n", e.What().c_str());
    rc = 2;
  }
  Base_BaseDestroy(base);
  return rc;
}

}  // namespace

void AddSearch(CLI::App& app, int& rc) {
  auto o = std::make_shared<SearchOptions>();
  CLI::App* cmd = app.add_subcommand(
      "search", "the games that satisfy header conditions: listed, counted (--count) or saved "
                "as a subset file (--out)");
  cmd->add_option("BASE", o->base, "the native base")->required();
  cmd->add_option("--white", o->white, "White's name");
  cmd->add_option("--black", o->black, "Black's name");
  cmd->add_option("--player", o->player, "a player of either colour");
  cmd->add_option("--event", o->event, "the event");
  cmd->add_option("--site", o->site, "the site");
  cmd->add_option("--annotator", o->annotator, "the annotator");
  cmd->add_flag("--prefix", o->prefix, "names and texts begin with the given text");
  cmd->add_flag("--contains", o->contains, "names and texts contain the given text");
  cmd->add_option("--date", o->date, "dates FROM..TO: 1990, 1990.05, 1990.05.17, open ends");
  cmd->add_option("--result", o->results, "1-0, 0-1, 1/2-1/2 or * (repeatable)");
  cmd->add_option("--eco", o->ecos, "ECO codes or ranges, B20..B99 (repeatable)");
  cmd->add_option("--white-elo", o->whiteElo, "White's rating MIN..MAX");
  cmd->add_option("--black-elo", o->blackElo, "Black's rating MIN..MAX");
  cmd->add_flag("--count", o->count, "print only the number of games found");
  cmd->add_option("--out", o->out, "save the games found as a subset file");
  AddSubsetOptions(cmd, o->filter);
  AddChessOptions(cmd, o->chess);
  cmd->callback([&rc, o] { rc = RunSearch(*o); });
}

void AddBenchSearch(CLI::App* bench, int& rc) {
  auto o = std::make_shared<BenchOptions>();
  CLI::App* cmd = bench->add_subcommand(
      "search", "header searches on an open base: a frequent White, dates and result, an ECO "
                "range, a player of either colour within dates");
  cmd->add_option("BASE", o->base, "the native base")->required();
  cmd->add_option("--white", o->white, "the name to search (default: the most frequent White)");
  cmd->add_option("--repeat", o->repeat, "runs per search (the best is shown)")
      ->check(CLI::Range(1, 1000));
  cmd->callback([&rc, o] { rc = RunBenchSearch(*o); });
}

}  // namespace ludrex_tool
