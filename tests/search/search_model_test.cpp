// The search against a model: generated games in a PGN base, in a native base of the same
// pattern and in a native base whose players live in a library; random criteria records A and B
// searched in all three must find exactly what a plain evaluator written here finds.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "../record/helpers.h"
#include "base/base.h"
#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/pgn/pgn_base.h"
#include "base/registry.h"
#include "frame/callbacks.h"
#include "record/field_classes.h"
#include "search/criteria.h"
#include "search/search.h"
#include "search/subset.h"

namespace ludrex::testing {
namespace {

const char* const kNames[] = {"Kasparov, Garry", "Karpov, Anatoly", "van Wely, Loek",
                              "Anand, Viswanathan", "Carlsen, Magnus", "Topalov, Veselin",
                              "Kramnik, Vladimir", "Ivanchuk, Vassily", "Caruana, Fabiano",
                              "Nakamura, Hikaru", "Giri, Anish", "Ding, Liren"};
constexpr int kNameCount = 12;
const char* const kEvents[] = {"Linares", "Wijk aan Zee", "Dortmund", "Olympiad", "Open"};

struct Game {
  int event, year, month, day, round, sub, white, black, result, elo, eco;
};

// One condition of the model: which field and how it is tested.
struct Cond {
  int field;  // 0 White, 1 Black, 2 Event, 3 Date, 4 Result, 5 WhiteElo, 6 ECO, 7 Round
  int textType = 0;
  std::string text;
  std::vector<std::pair<int, int>> ranges;
  int mode = 0;
  std::uint32_t mask = 0;
  std::set<int> eco;
};

std::string Fold(const std::string& s) {
  std::string t = s;
  for (char& c : t)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return t;
}

bool TextTest(const Cond& c, const std::string& field) {
  std::string f = Fold(field);
  switch (c.textType) {
    case 0: return f == c.text;
    case 1: return f.find(c.text) != std::string::npos;
    case 2: return f.size() >= c.text.size() && f.compare(0, c.text.size(), c.text) == 0;
    default: return true;
  }
}

bool InRanges(const Cond& c, int v) {
  for (auto& r : c.ranges)
    if (r.first <= v && v <= r.second) return true;
  return false;
}

bool Test(const Cond& c, const Game& g) {
  switch (c.field) {
    case 0: return TextTest(c, kNames[g.white]);
    case 1: return TextTest(c, kNames[g.black]);
    case 2: return TextTest(c, kEvents[g.event]);
    case 3: return InRanges(c, ((g.year * 13 + g.month) << 5) + g.day);
    case 4: return ((c.mask >> g.result) & 1u) != 0;
    case 5:
      if (c.mode == 0) return InRanges(c, g.elo);
      if (c.mode == 1) return (static_cast<std::uint32_t>(g.elo) & c.mask) == c.mask;
      if (c.mode == 2) return (static_cast<std::uint32_t>(g.elo) & c.mask) != 0;
      return false;
    case 6: return g.eco >= 0 && c.eco.count(g.eco) != 0;
    default: return InRanges(c, g.round * 512 + g.sub);
  }
}

// The combining rule, written out per field; types gives each field's type in the base (A's
// condition holds in B unless B has a condition on a field of the same type).
bool Evaluate(const std::vector<Cond>& a, const std::vector<Cond>& b, const Game& g,
              const int* types) {
  bool hasA = false, hasB = false, allA = true, allB = true;
  std::set<int> typesInB;
  for (auto& c : b) typesInB.insert(types[c.field]);
  for (int f = 0; f < 8; ++f) {
    const Cond* ca = nullptr;
    const Cond* cb = nullptr;
    for (auto& c : a)
      if (c.field == f && ca == nullptr) ca = &c;
    for (auto& c : b)
      if (c.field == f && cb == nullptr) cb = &c;
    bool ra = ca == nullptr || Test(*ca, g);
    bool inherited = ca != nullptr && cb == nullptr && typesInB.count(types[f]) == 0;
    bool rb = cb != nullptr ? Test(*cb, g) : (inherited ? ra : true);
    if (ca != nullptr) hasA = true;
    if (inherited || cb != nullptr) hasB = true;
    allA = allA && ra;
    allB = allB && rb;
  }
  return (hasA && allA) || (hasB && allB);
}

const char* const kFieldNames[] = {"~1", "~2", "~16", "~15", "~14", "~9", "~18", "~17"};
const std::int32_t kFieldTypes[] = {kStringType, kStringType, kStringType, kDateType,
                                    kResultType, kIntType, kEcoType, kRoundType};

class SearchModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_ = std::make_unique<CaptureScope>();
    BuildSubsetTables();
    CreateRegistry();
    InstallLibraryAccess();
    RegisterNativeBase();
    RegisterPgnBase();
    InstallCriteria();
    dir_ = ::testing::TempDir() + "ludrex_search_model";
    for (const char* n : {"_pgn", "_plain", "_lib"}) EraseBase(Own(dir_ + n), 0);
    std::remove((dir_ + "_pgn.pgn").c_str());
  }
  void TearDown() override {
    Registry()->CloseAll();
    DestroyRegistry();
    for (const char* n : {"_plain", "_lib"}) EraseBase(Own(dir_ + n), 0);
    std::remove((dir_ + "_pgn.pgn").c_str());
    scope_.reset();
  }
  static String Own(const std::string& s) {
    return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
  }

  // A criteria record for the conditions; a library criterion for the players of the library
  // base when names is given (the set of record numbers whose name passes the text test).
  static std::unique_ptr<Record> Criteria(const std::vector<Cond>& conds,
                                          const std::map<std::string, int>* names,
                                          Base* library) {
    RecordPattern p;
    for (auto& c : conds) {
      bool lib = names != nullptr && c.field <= 1;
      std::int32_t type = (lib ? kLibRefType : kFieldTypes[c.field]) | kCriterionBit;
      p.Append(FieldSpec(type, String(kFieldNames[c.field]), 0, String("")));
    }
    p.Append(FieldSpec(kResultType | kCriterionBit, String("~99"), 0, String("")));  // no field
    auto rec = std::make_unique<Record>(p);
    for (std::size_t i = 0; i < conds.size(); ++i) {
      const Cond& c = conds[i];
      Field& f = (*rec)[static_cast<std::int32_t>(i)];
      if (auto* s = dynamic_cast<StringFieldCrit*>(&f)) {
        s->SetSearchType(c.textType);
        s->SetCritText(String(c.text.c_str()));
      } else if (auto* l = dynamic_cast<LibRefFieldCrit*>(&f)) {
        l->SetBase(library);
        for (auto& [name, number] : *names)
          if (TextTest(c, name)) l->Set()->IncludeRange(number, 1);
      } else if (auto* e = dynamic_cast<ECOFieldCrit*>(&f)) {
        for (int k : c.eco) e->SetItem(k, true);
      } else if (auto* m = dynamic_cast<MaskFieldCrit*>(&f)) {
        m->SetMask(c.mask);
      } else {
        auto& r = dynamic_cast<RangeFieldCrit&>(f);
        r.SetLength(static_cast<std::int32_t>(c.ranges.size()));
        for (std::size_t k = 0; k < c.ranges.size(); ++k)
          r.SetPair(static_cast<std::int32_t>(k), c.ranges[k].second, c.ranges[k].first);
        if (auto* in = dynamic_cast<IntFieldCrit*>(&f)) {
          in->SetMode(c.mode);
          in->SetMask(c.mask);
        }
      }
    }
    return rec;
  }

  std::unique_ptr<CaptureScope> scope_;
  std::string dir_;
};

Cond RandomCond(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  Cond c;
  c.field = pick(8);
  switch (c.field) {
    case 0:
    case 1:
    case 2: {
      std::string base = c.field == 2 ? kEvents[pick(5)] : kNames[pick(kNameCount)];
      c.textType = pick(4);
      if (c.textType == 3) c.textType = pick(2) != 0 ? 7 : 1;
      std::size_t from = c.textType == 1 ? static_cast<std::size_t>(pick(3)) : 0;
      std::size_t len = c.textType == 0 ? base.size() : 1 + static_cast<std::size_t>(pick(4));
      c.text = Fold(base.substr(from, len));
      if (pick(10) == 0) c.text = base.substr(from, len);  // as written: lower case never folds
      break;
    }
    case 3:
      for (int k = pick(2) + 1; k > 0; --k) {
        int y0 = 1990 + pick(12), y1 = y0 + pick(4);
        c.ranges.push_back({((y0 * 13 + pick(13)) << 5) + pick(32), ((y1 * 13 + pick(13)) << 5)});
      }
      break;
    case 4: c.mask = static_cast<std::uint32_t>(pick(16)); break;
    case 5:
      c.mode = pick(4);
      c.mask = static_cast<std::uint32_t>(pick(1 << 12));
      for (int k = pick(3); k > 0; --k) {
        int lo = 2000 + pick(800);
        c.ranges.push_back({lo, lo + pick(300)});
      }
      break;
    case 6: {
      int lo = pick(500), hi = std::min(499, lo + pick(150));
      for (int k = lo; k <= hi; ++k) c.eco.insert(k);
      break;
    }
    default: {
      int lo = pick(6) * 512 + pick(3);
      c.ranges.push_back({lo, lo + pick(2048)});
    }
  }
  return c;
}

TEST_F(SearchModelTest, NativeAndPgnSearchesEqualThePlainEvaluator) {
  std::mt19937 rng(14);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const int kGames = 2000;
  std::vector<Game> games;
  std::string text;
  const char* results[] = {"*", "1/2-1/2", "1-0", "0-1"};
  for (int i = 0; i < kGames; ++i) {
    Game g{};
    g.event = pick(5);
    g.year = 1990 + pick(15);
    g.month = pick(4) == 0 ? 0 : 1 + pick(12);
    g.day = g.month == 0 || pick(5) == 0 ? 0 : 1 + pick(28);
    g.round = pick(12);
    g.sub = g.round == 0 ? 0 : pick(4);
    g.white = pick(kNameCount);
    g.black = pick(kNameCount);
    g.result = pick(4);
    bool full = i == 0;
    g.elo = full || pick(4) != 0 ? 2000 + pick(850) : 0;
    g.eco = full || pick(5) != 0 ? pick(500) : -1;
    games.push_back(g);
    char date[16], round[16];
    std::snprintf(date, sizeof date, "%04d.%s.%s", g.year,
                  g.month ? (std::to_string(100 + g.month).substr(1)).c_str() : "??",
                  g.day ? (std::to_string(100 + g.day).substr(1)).c_str() : "??");
    if (g.round == 0) {
      std::snprintf(round, sizeof round, "?");
    } else if (g.sub == 0) {
      std::snprintf(round, sizeof round, "%d", g.round);
    } else {
      std::snprintf(round, sizeof round, "%d.%d", g.round, g.sub);
    }
    text += std::string("[Event \"") + kEvents[g.event] + "\"]\n[Site \"X\"]\n[Date \"" + date +
            "\"]\n[Round \"" + round + "\"]\n[White \"" + kNames[g.white] + "\"]\n[Black \"" +
            kNames[g.black] + "\"]\n[Result \"" + results[g.result] + "\"]\n";
    if (g.elo != 0) text += "[WhiteElo \"" + std::to_string(g.elo) + "\"]\n";
    if (g.eco >= 0) {
      char eco[8];
      std::snprintf(eco, sizeof eco, "%c%02d", 'A' + g.eco / 100, g.eco % 100);
      text += std::string("[ECO \"") + eco + "\"]\n";
    }
    text += std::string("\n1. e4 e5 ") + results[g.result] + "\n\n";
  }
  {
    std::ofstream out(dir_ + "_pgn.pgn", std::ios::binary);
    out << text;
  }
  Base* pgn = OpenBase(Own(dir_ + "_pgn"), 2);
  ASSERT_EQ(pgn->RecordCount(), kGames);
  const RecordPattern& pattern = pgn->GetRecordPattern();
  Base* plain = CreateBase(Own(dir_ + "_plain"), pattern, 0);
  // The same pattern with the players in a library.
  RecordPattern players;
  players.Append(FieldSpec(kStringType, String("~3"), kFlagKey, String("")));
  RecordPattern libPattern;
  for (std::int32_t k = 0; k < pattern.Count(); ++k) {
    FieldSpec s = pattern[k];
    if (s.name == String("~1") || s.name == String("~2")) {
      s = FieldSpec(kLibRefType, s.name, 0, String("Players"), &players);
    }
    libPattern.Append(s);
  }
  Base* lib = CreateBase(Own(dir_ + "_lib"), libPattern, 0);
  {
    Record r(pattern);
    Record lr(libPattern);
    lr.LinkToBase(lib);
    for (int i = 0; i < kGames; ++i) {
      pgn->Read(i, r);
      plain->Write(kAppendRecord, r);
      for (std::int32_t k = 0; k < lr.Count(); ++k) {
        Field* src = r.FindField(lr[k].Name());
        if (src != nullptr) lr[k].Assign(*src);
      }
      lib->Write(kAppendRecord, lr);
    }
  }
  ASSERT_EQ(plain->RecordCount(), kGames);
  ASSERT_EQ(lib->RecordCount(), kGames);
  // The library's record number of every name.
  Base* library = OpenEmbeddedBase(lib, String("Players"));
  std::map<std::string, int> names;
  {
    Record n(library->GetRecordPattern());
    for (std::int32_t i = 0; i < library->RecordCount(); ++i) {
      library->Read(i, n);
      names[Str(n[0].ToText())] = i;
    }
  }
  ASSERT_EQ(static_cast<int>(names.size()), kNameCount);

  int nonEmpty = 0;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<Cond> a, b;
    for (int k = pick(3) + 1; k > 0; --k) a.push_back(RandomCond(rng));
    if (pick(2) != 0)
      for (int k = pick(2) + 1; k > 0; --k) b.push_back(RandomCond(rng));
    for (Base* base : {pgn, plain, lib}) {
      bool withLib = base == lib;
      static const int kPlainTypes[] = {1, 1, 1, 3, 5, 2, 7, 6};
      static const int kLibTypes[] = {0, 0, 1, 3, 5, 2, 7, 6};
      std::set<int> want;
      for (int i = 0; i < kGames; ++i)
        if (Evaluate(a, b, games[static_cast<std::size_t>(i)], withLib ? kLibTypes : kPlainTypes))
          want.insert(i);
      if (!want.empty()) ++nonEmpty;
      auto ra = Criteria(a, withLib ? &names : nullptr, library);
      auto rb = Criteria(b, withLib ? &names : nullptr, library);
      for (bool compiled : {true, false}) {
      if (!compiled && base == pgn) continue;
      std::unique_ptr<Subset> set(Subset::CreateTmp(kGames));
      set->IncludeRange(0, kGames);
      std::int32_t hits =
          SearchBase(*base, *set, ra.get(), b.empty() ? nullptr : rb.get(), compiled);
      std::set<int> got;
      for (std::int32_t r = set->SeqInitBase(0); r >= 0; r = set->SeqNext()) got.insert(r);
      set->SeqStop();
      std::string desc;
      for (auto* list : {&a, &b}) {
        desc += list == &a ? " A:" : " B:";
        for (auto& c : *list)
          desc += " f" + std::to_string(c.field) + "/t" + std::to_string(c.textType) + "/" +
                  c.text + "/m" + std::to_string(c.mode) + "/" + std::to_string(c.mask) + "/r" +
                  std::to_string(c.ranges.size());
      }
      ASSERT_EQ(got, want) << desc << " trial " << trial << (compiled ? "" : " decoded") << " base " << (base == pgn ? "pgn" : withLib ? "lib" : "plain");
      ASSERT_EQ(hits, static_cast<std::int32_t>(want.size()));
      }
    }
  }
  EXPECT_GT(nonEmpty, 120);  // the criteria are not all trivially empty
  CloseBase(library);
}

}  // namespace
}  // namespace ludrex::testing
