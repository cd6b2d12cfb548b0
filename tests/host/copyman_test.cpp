// The duplicate finder as a host uses it: native bases imported from PGN text, the groups it
// finds, the best game of each group, stops, and a model check against a plain evaluator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host_errors.h"
#include "ludrex.h"

namespace {

using Groups = std::vector<std::vector<int>>;

// ---- Patterns ---------------------------------------------------------------------------------

HostFieldEntry Entry(int type, const char* name, int flags, const char* text,
                     HostRecordPattern* library = nullptr) {
  HostFieldEntry e;
  std::memset(&e, 0, sizeof e);
  e.type = type;
  e.name = const_cast<char*>(name);
  e.param = flags;
  e.text = const_cast<char*>(text);
  if (type == LUDREX_FIELD_LIBREF) e.extra.library = library;
  return e;
}

// The base: White and Black in a "Players" library, Result, Event, Moves. The PGN side reads the
// same fields as texts.
struct Patterns {
  HostFieldEntry playerEntries[1];
  HostRecordPattern players;
  HostFieldEntry baseEntries[5];
  HostRecordPattern base;
  HostFieldEntry pgnEntries[5];
  HostRecordPattern pgn;
  Patterns() {
    playerEntries[0] = Entry(LUDREX_FIELD_STRING, "~3", 2, "");
    players = {1, playerEntries};
    baseEntries[0] = Entry(LUDREX_FIELD_LIBREF, "~1", 0, "Players", &players);
    baseEntries[1] = Entry(LUDREX_FIELD_LIBREF, "~2", 0, "Players", &players);
    baseEntries[2] = Entry(LUDREX_FIELD_RESULT, "~14", 0, "");
    baseEntries[3] = Entry(LUDREX_FIELD_STRING, "~16", 0, "");
    baseEntries[4] = Entry(LUDREX_FIELD_CHESS, "~22", 0, "");
    base = {5, baseEntries};
    pgnEntries[0] = Entry(LUDREX_FIELD_STRING, "~1", 0, "");
    pgnEntries[1] = Entry(LUDREX_FIELD_STRING, "~2", 0, "");
    pgnEntries[2] = Entry(LUDREX_FIELD_RESULT, "~14", 0, "");
    pgnEntries[3] = Entry(LUDREX_FIELD_STRING, "~16", 0, "");
    pgnEntries[4] = Entry(LUDREX_FIELD_CHESS, "~22", 0, "");
    pgn = {5, pgnEntries};
  }
  // The compared fields: White, Black, Result and, with moves, the game score.
  HostRecordPattern Compare(bool moves) {
    compare_[0] = baseEntries[0];
    compare_[1] = baseEntries[1];
    compare_[2] = baseEntries[2];
    compare_[3] = baseEntries[4];
    return {moves ? 4 : 3, compare_};
  }

 private:
  HostFieldEntry compare_[4];
};

// ---- Games as text ----------------------------------------------------------------------------

struct Game {
  std::string white, black, result, event;
  std::vector<std::string> moves;
  std::vector<std::pair<int, std::string>> comments;  // after move k (0-based)
};

std::string Pgn(const Game& g) {
  std::ostringstream o;
  o << "[Event \"" << g.event << "\"]\n[White \"" << g.white << "\"]\n[Black \"" << g.black
    << "\"]\n[Result \"" << g.result << "\"]\n\n";
  for (std::size_t i = 0; i < g.moves.size(); ++i) {
    if (i % 2 == 0) o << (i / 2 + 1) << ". ";
    o << g.moves[i] << ' ';
    for (const auto& [k, text] : g.comments) {
      if (k == static_cast<int>(i)) o << '{' << text << "} ";
    }
    if (i % 10 == 9) o << '\n';
  }
  o << g.result << "\n\n";
  return o.str();
}

// The SAN moves of a PGN move text: comments, variations, NAGs, move numbers and the result
// left out.
std::vector<std::string> SanMoves(const std::string& text) {
  std::vector<std::string> out;
  int depth = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '{') {
      i = text.find('}', i);
      if (i == std::string::npos) break;
      ++i;
      continue;
    }
    if (c == '(') {
      ++depth;
      ++i;
      continue;
    }
    if (c == ')') {
      --depth;
      ++i;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j])) &&
           text[j] != '(' && text[j] != ')' && text[j] != '{')
      ++j;
    std::string tok = text.substr(i, j - i);
    i = j;
    if (depth > 0 || tok.empty() || tok[0] == '$') continue;
    if (tok == "1-0" || tok == "0-1" || tok == "1/2-1/2" || tok == "*") continue;
    std::size_t k = 0;
    while (k < tok.size() && (std::isdigit(static_cast<unsigned char>(tok[k])) || tok[k] == '.'))
      ++k;
    tok = tok.substr(k);
    while (!tok.empty() && (tok.back() == '!' || tok.back() == '?')) tok.pop_back();
    if (!tok.empty()) out.push_back(tok);
  }
  return out;
}

std::string Tag(const std::string& block, const std::string& name) {
  std::string key = "[" + name + " \"";
  std::size_t at = block.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  return block.substr(at, block.find('"', at) - at);
}

// The games of the shared sample file, annotations left out.
const std::vector<Game>& SampleGames() {
  static std::vector<Game> games = [] {
    std::vector<Game> out;
    std::ifstream in(std::string(LUDREX_SHARED_DATA) + "/sample-games.pgn", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string all;
    for (char c : ss.str()) {
      if (c != '\r') all.push_back(c);
    }
    std::size_t at = all.find("[Event ");
    while (at != std::string::npos) {
      std::size_t next = all.find("\n[Event ", at + 1);
      std::string block = all.substr(at, next == std::string::npos ? std::string::npos : next - at);
      std::size_t body = block.find("\n\n");
      Game g;
      g.white = Tag(block, "White");
      g.black = Tag(block, "Black");
      g.result = Tag(block, "Result");
      g.event = Tag(block, "Event");
      if (body != std::string::npos && Tag(block, "FEN").empty()) {
        g.moves = SanMoves(block.substr(body));
        if (!g.moves.empty()) out.push_back(g);
      }
      at = next == std::string::npos ? next : next + 1;
    }
    return out;
  }();
  return games;
}

Game Truncated(Game g, std::size_t plies) {
  if (g.moves.size() > plies) g.moves.resize(plies);
  return g;
}

// ---- The fixture ------------------------------------------------------------------------------

class HostCopyMan : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    dir_ = ::testing::TempDir() + "ludrex_copyman_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    for (LudrexSubset* s : subsets_) Subset_Destroy(s);
    for (LudrexBase* b : bases_) Base_BaseDestroy(b);
    SetMessageFunctions(nullptr, nullptr, nullptr, nullptr, nullptr);
    SetErrorFunction(nullptr);
    std::filesystem::remove_all(dir_);
  }

  // A native base holding the games, in order.
  LudrexBase* Make(const std::string& name, const std::vector<Game>& games) {
    std::string path = dir_ + "/" + name;
    {
      std::ofstream out(path + "_src.pgn", std::ios::binary);
      for (const Game& g : games) out << Pgn(g);
    }
    LudrexBase* pgn = Base_PgnOpenWithPattern((path + "_src").c_str(), &pat_.pgn);
    EXPECT_NE(pgn, nullptr);
    LudrexBase* base = Base_BaseCreate(path.c_str(), &pat_.base, 0);
    EXPECT_NE(base, nullptr);
    EXPECT_EQ(Base_AppendAnother(pgn, base, nullptr, 0, 1, nullptr), static_cast<int>(games.size()));
    EXPECT_EQ(Base_PgnGetIncompleteCount(pgn), 0);
    Base_BaseDestroy(pgn);
    bases_.push_back(base);
    return base;
  }
  LudrexSubset* All(LudrexBase* base) {
    LudrexSubset* s = Subset_CreateTmp(Base_GetBaseLength(base));
    Subset_IncludeRange(s, 0, -1);
    subsets_.push_back(s);
    return s;
  }
  static Groups Read(LudrexCopyMan* cm) {
    Groups out;
    for (int g = 0; g < CopyMan_Groups(cm); ++g) {
      std::vector<int> group;
      for (int e = 0; e < CopyMan_ElementsInGroup(cm, g); ++e)
        group.push_back(CopyMan_GetElement(cm, g, e));
      out.push_back(group);
    }
    return out;
  }
  static Groups Sorted(Groups g) {
    for (auto& v : g) std::sort(v.begin(), v.end());
    std::sort(g.begin(), g.end());
    return g;
  }
  Groups Find(LudrexBase* base, const CopyManParams& p, bool moves = true) {
    HostRecordPattern compare = pat_.Compare(moves);
    LudrexCopyMan* cm = Base_CopyMan(base, All(base), &compare, &p);
    EXPECT_NE(cm, nullptr);
    if (cm == nullptr) return {};
    Groups g = Read(cm);
    CopyMan_Close(cm);
    return g;
  }
  static CopyManParams Params() {
    CopyManParams p;
    std::memset(&p, 0, sizeof p);
    p.lastPly = 0x7FFFFFFF;
    return p;
  }

  std::string dir_;
  Patterns pat_;
  std::vector<LudrexBase*> bases_;
  std::vector<LudrexSubset*> subsets_;
};

Game Sample(std::size_t i) { return SampleGames().at(i); }

TEST(CopyManParamsBlock, HasTheNineteenByteLayout) {
  EXPECT_EQ(sizeof(CopyManParams), 19u);
  CopyManParams p;
  std::memset(&p, 0, sizeof p);
  p.fromEnd = 0x04030201;
  p.preferred = 1;
  const auto* b = reinterpret_cast<const unsigned char*>(&p);
  EXPECT_EQ(b[14], 1);
  EXPECT_EQ(b[17], 4);
  EXPECT_EQ(b[18], 1);
}

TEST_F(HostCopyMan, ThreeIdenticalGamesAndOneDifferentGiveOneGroupOfThree) {
  Game a = Sample(0), other = Sample(1);
  Game withOtherEvent = a;
  withOtherEvent.event = "Another event";  // not a compared field
  LudrexBase* base = Make("three", {a, other, a, withOtherEvent});
  EXPECT_EQ(Find(base, Params()), (Groups{{0, 2, 3}}));
  // Without the moves field, the header alone decides: still the same group.
  EXPECT_EQ(Find(base, Params(), false), (Groups{{0, 2, 3}}));
  // The same games read from their PGN file: the moves come from decoded games, not from the
  // native bytes, and the names are texts.
  LudrexBase* pgn = Base_PgnOpenWithPattern((dir_ + "/three_src").c_str(), &pat_.pgn);
  ASSERT_NE(pgn, nullptr);
  bases_.push_back(pgn);
  HostFieldEntry texts[4] = {pat_.pgnEntries[0], pat_.pgnEntries[1], pat_.pgnEntries[2],
                             pat_.pgnEntries[4]};
  HostRecordPattern compare = {4, texts};
  CopyManParams p = Params();
  LudrexCopyMan* cm = Base_CopyMan(pgn, All(pgn), &compare, &p);
  ASSERT_NE(cm, nullptr);
  EXPECT_EQ(Read(cm), (Groups{{0, 2, 3}}));
  CopyMan_Close(cm);
  EXPECT_TRUE(host_test::g_errors.empty());
}

Game Line(const std::string& moves, const std::string& white = "White, A",
          const std::string& result = "1-0") {
  Game g;
  g.white = white;
  g.black = "Black, B";
  g.result = result;
  g.event = "Line";
  std::istringstream in(moves);
  for (std::string m; in >> m;) g.moves.push_back(m);
  return g;
}

TEST_F(HostCopyMan, PrefixModeChainsKeysThatExtendTheOneBefore) {
  Game a = Line("e4 e5 Nf3 Nc6"), ab = Line("e4 e5 Nf3 Nc6 Bb5 a6"),
       abc = Line("e4 e5 Nf3 Nc6 Bb5 a6 Ba4 Nf6"), ac = Line("e4 e5 Nf3 Nc6 Bc4 Bc5");
  CopyManParams p = Params();
  p.prefix = 1;
  LudrexBase* chain = Make("chain", {abc, a, ab});
  EXPECT_EQ(Find(chain, p), (Groups{{1, 2, 0}}));  // in key order: A, AB, ABC
  EXPECT_EQ(Find(chain, Params()), Groups{});      // without prefix mode all differ

  // A, AB, AC: A and the first extension in key order form a group, the other stays alone.
  LudrexBase* fork = Make("fork", {a, ab, ac});
  Groups g = Find(fork, p);
  ASSERT_EQ(g.size(), 1u);
  ASSERT_EQ(g[0].size(), 2u);
  EXPECT_EQ(g[0][0], 0);
  EXPECT_TRUE(g[0][1] == 1 || g[0][1] == 2);
}

TEST_F(HostCopyMan, ThePlyWindowIgnoresMovesBeforeAndAfterIt) {
  Game full = Sample(0);
  ASSERT_GE(full.moves.size(), 40u);
  ASSERT_EQ(std::vector<std::string>(full.moves.begin(), full.moves.begin() + 6),
            (std::vector<std::string>{"g3", "d5", "Bg2", "Nf6", "Nf3", "c5"}));
  // The same position after six plies reached in another order.
  Game transposed = full;
  std::vector<std::string> start = {"Nf3", "d5", "g3", "Nf6", "Bg2", "c5"};
  std::copy(start.begin(), start.end(), transposed.moves.begin());
  Game shorter = Truncated(transposed, 35);   // differs only after ply 30
  Game tooShort = Truncated(transposed, 25);  // differs inside the window
  LudrexBase* base = Make("window", {full, transposed, shorter, tooShort});
  CopyManParams p = Params();
  p.firstPly = 10;
  p.lastPly = 30;
  EXPECT_EQ(Find(base, p), (Groups{{0, 1, 2}}));
  EXPECT_EQ(Find(base, Params()), Groups{});
  // Plies from the end: the last ply taken is the length minus 52 (35 for the full game, 0 for
  // the game of 35 plies).
  p.firstPly = 0;
  p.lastPly = 0;
  p.fromEnd = 52;
  EXPECT_EQ(Find(base, p), (Groups{{2, 3}}));  // both take nothing; the others differ
}

TEST_F(HostCopyMan, AGameOfExactlyTheMinimumPliesIsNoCandidate) {
  Game g = Truncated(Sample(0), 10);
  LudrexBase* base = Make("minimum", {g, g, g, Truncated(Sample(0), 11), Truncated(Sample(0), 11)});
  CopyManParams p = Params();
  p.minPlies = 10;
  EXPECT_EQ(Find(base, p), (Groups{{3, 4}}));
  p.minPlies = 9;
  EXPECT_EQ(Find(base, p), (Groups{{0, 1, 2}, {3, 4}}));
}

TEST_F(HostCopyMan, AnnotationsEnterTheKeyOnlyWhenAsked) {
  Game g = Sample(2);
  Game commented = g;
  commented.comments = {{3, "a comment"}, {7, "another one"}};
  LudrexBase* base = Make("notes", {g, commented, commented});
  EXPECT_EQ(Find(base, Params()), (Groups{{0, 1, 2}}));
  CopyManParams p = Params();
  p.annotations = 1;
  EXPECT_EQ(Find(base, p), (Groups{{1, 2}}));
}

TEST_F(HostCopyMan, TwoBasesNumberTheSecondSubsetAfterTheFirstAndChooseTheBest) {
  Game g = Sample(0);
  Game g20 = Truncated(g, 20), g30 = Truncated(g, 30);
  g20.event.clear();
  LudrexBase* first = Make("first", {g20, Sample(1), Sample(2)});
  LudrexBase* second = Make("second", {Sample(3), g30, g20});
  CopyManParams p = Params();
  p.lastPly = 10;
  HostRecordPattern compare = pat_.Compare(true);
  LudrexCopyMan* cm = Base_CopyMan2(first, All(first), second, All(second), &compare, &p);
  ASSERT_NE(cm, nullptr);
  ASSERT_EQ(Read(cm), (Groups{{0, 4, 5}}));
  int out[1] = {-1};
  // Preferred base in bit 0, plies in bits 1-16: the longer game of the other base wins.
  signed char preferredFirst[4] = {3, 0, -1, -1};
  EXPECT_EQ(CopyMan_SelectBest(cm, out, preferredFirst), 1);
  EXPECT_EQ(out[0], 1);
  // Plies below, the base above: the preferred base wins whatever the length.
  signed char preferredLast[4] = {0, 3, -1, -1};
  EXPECT_EQ(CopyMan_SelectBest(cm, out, preferredLast), 1);
  EXPECT_EQ(out[0], 0);
  // Header completeness: only the longer game has an event.
  signed char header[4] = {-1, 2, -1, -1};
  EXPECT_EQ(CopyMan_SelectBest(cm, out, header), 1);
  EXPECT_EQ(out[0], 1);
  // No criterion: every score is 0 and the first element wins.
  signed char none[4] = {-1, -1, -1, -1};
  EXPECT_EQ(CopyMan_SelectBest(cm, out, none), 1);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(CopyMan_GetBestElement(cm, 0), 0);
  EXPECT_EQ(CopyMan_GetBestElement(cm, 5), 0);
  // Out of range.
  EXPECT_EQ(CopyMan_ElementsInGroup(cm, -1), -1);
  EXPECT_EQ(CopyMan_ElementsInGroup(cm, 1), -1);
  EXPECT_EQ(CopyMan_GetElement(cm, 0, 3), -1);
  EXPECT_EQ(CopyMan_GetElement(cm, 0, -1), -1);
  EXPECT_EQ(CopyMan_GetElement(cm, 1, 0), -1);
  CopyMan_Close(cm);
  EXPECT_EQ(CopyMan_Groups(nullptr), -1);
  CopyMan_Close(nullptr);
  EXPECT_TRUE(host_test::g_errors.empty());
}

TEST_F(HostCopyMan, AnnotationMeasureChoosesTheAnnotatedGame) {
  Game g = Sample(4);
  Game commented = g;
  commented.comments = {{1, "a long comment on the opening"}};
  LudrexBase* base = Make("best", {g, commented, g});
  HostRecordPattern compare = pat_.Compare(true);
  LudrexCopyMan* cm = Base_CopyMan(base, All(base), &compare, nullptr);
  EXPECT_EQ(cm, nullptr);  // no parameters: refused with an error
  EXPECT_FALSE(host_test::g_errors.empty());
  CopyManParams p = Params();
  cm = Base_CopyMan(base, All(base), &compare, &p);
  ASSERT_NE(cm, nullptr);
  ASSERT_EQ(Read(cm), (Groups{{0, 1, 2}}));
  int out[1] = {-1};
  signed char notes[4] = {1, -1, -1, -1};
  EXPECT_EQ(CopyMan_SelectBest(cm, out, notes), 1);
  EXPECT_EQ(out[0], 1);
  CopyMan_Close(cm);
}

// ---- Stops ------------------------------------------------------------------------------------

int g_starts = 0;
int g_stopAt = 0;
void LUDREX_CDECL CountStart(const char*, int) { ++g_starts; }
int LUDREX_CDECL StopWhenAsked(int, int) { return g_starts == g_stopAt ? 1 : 0; }
void LUDREX_CDECL Finish() {}

std::size_t FilesIn(const std::string& dir) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    (void)entry;
    ++n;
  }
  return n;
}

void SetTempDirectory(const std::string& dir) {
#ifdef _WIN32
  _putenv_s("TMP", dir.c_str());
  _putenv_s("TEMP", dir.c_str());
#else
  setenv("TMPDIR", dir.c_str(), 1);
#endif
}

TEST_F(HostCopyMan, AStopInEitherPassGivesNullAndLeavesNoWorkFiles) {
  std::vector<Game> games;
  // Over 1000 grouped games, so that the selection's progress (every 1000) reaches the host.
  for (int i = 0; i < 1100; ++i) games.push_back(Sample(static_cast<std::size_t>(i % 550)));
  LudrexBase* base = Make("stop", games);
  LudrexSubset* all = All(base);
  std::string tmp = dir_ + "/tmp";
  std::filesystem::create_directories(tmp);
  const char* old = std::getenv("TMPDIR");
  std::string saved = old != nullptr ? old : "";
  SetTempDirectory(tmp);
  HostRecordPattern compare = pat_.Compare(true);
  CopyManParams p = Params();
  SetMessageFunctions(CountStart, nullptr, StopWhenAsked, Finish, nullptr);
  for (int pass = 1; pass <= 3; ++pass) {
    g_starts = 0;
    g_stopAt = pass;
    LudrexCopyMan* cm = Base_CopyMan(base, all, &compare, &p);
    if (pass <= 2) {
      EXPECT_EQ(cm, nullptr) << "pass " << pass;
      EXPECT_EQ(FilesIn(tmp), 0u) << "pass " << pass;
      continue;
    }
    // Stopping the selection: 0, and the result stays usable.
    ASSERT_NE(cm, nullptr);
    int groups = CopyMan_Groups(cm);
    EXPECT_GE(groups, 500);
    EXPECT_GT(FilesIn(tmp), 0u);  // the members list
    std::vector<int> out(static_cast<std::size_t>(groups), -1);
    signed char plies[4] = {0, -1, -1, -1};
    g_starts = 0;
    g_stopAt = 1;
    EXPECT_EQ(CopyMan_SelectBest(cm, out.data(), plies), 0);
    g_stopAt = -1;
    EXPECT_EQ(CopyMan_SelectBest(cm, out.data(), plies), 1);
    EXPECT_EQ(out, std::vector<int>(static_cast<std::size_t>(groups), 0));  // equal copies
    CopyMan_Close(cm);
    EXPECT_EQ(FilesIn(tmp), 0u);
  }
  SetMessageFunctions(nullptr, nullptr, nullptr, nullptr, nullptr);
  SetTempDirectory(saved.empty() ? "/tmp" : saved);
  EXPECT_TRUE(host_test::g_errors.empty());
}

// ---- The model --------------------------------------------------------------------------------

// Groups as a plain evaluator sees them: games with equal (White, Black, Result, the moves of
// the window, with the flag the comments) among those with more plies than the minimum.
Groups Expected(const std::vector<Game>& games, const CopyManParams& p) {
  std::map<std::vector<std::string>, std::vector<int>> byKey;
  for (std::size_t i = 0; i < games.size(); ++i) {
    const Game& g = games[i];
    long n = static_cast<long>(g.moves.size());
    if (n <= p.minPlies) continue;
    long last = p.fromEnd != 0 ? std::max(0L, n - p.fromEnd) : p.lastPly;
    std::vector<std::string> key = {g.white, g.black, g.result};
    if (p.annotations != 0) {
      for (const auto& c : g.comments) key.push_back("{" + c.second);
    }
    for (long k = p.firstPly; k < std::min(n, last); ++k) key.push_back(g.moves[std::size_t(k)]);
    byKey[key].push_back(static_cast<int>(i));
  }
  Groups out;
  for (auto& [key, v] : byKey) {
    if (v.size() >= 2) out.push_back(v);
  }
  return out;
}

TEST_F(HostCopyMan, GroupsEqualThoseOfAPlainEvaluator) {
  // Sample games with planted copies: exact, with another event, truncated, commented.
  const std::vector<Game>& sample = SampleGames();
  ASSERT_GE(sample.size(), 300u);
  std::vector<Game> games;
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (std::size_t i = 0; i < 300; ++i) games.push_back(sample[i]);
  for (int k = 0; k < 120; ++k) {
    Game g = sample[next() % 300];
    switch (k % 5) {
      case 0:
        break;
      case 1:
        g.event = "Copied";
        break;
      case 2:
        g = Truncated(g, g.moves.size() > 45 ? 45 + next() % 10 : g.moves.size() / 2);
        break;
      case 3:
        g.comments = {{static_cast<int>(next() % g.moves.size()), "note"}};
        break;
      case 4:
        g = Truncated(g, 4 + next() % 30);
        break;
    }
    games.insert(games.begin() + static_cast<long>(next() % (games.size() + 1)), g);
  }
  LudrexBase* base = Make("model", games);
  std::vector<CopyManParams> settings;
  CopyManParams p = Params();
  settings.push_back(p);
  p.lastPly = 40;
  settings.push_back(p);
  p.firstPly = 8;
  p.minPlies = 30;
  settings.push_back(p);
  p = Params();
  p.annotations = 1;
  settings.push_back(p);
  p = Params();
  p.fromEnd = 3;
  p.firstPly = 2;
  settings.push_back(p);
  for (const CopyManParams& s : settings) {
    Groups expected = Expected(games, s);
    EXPECT_FALSE(expected.empty());
    Groups found = Find(base, s);
    // Equal keys keep the order in which they were added: each group ascends.
    for (const auto& g : found) EXPECT_TRUE(std::is_sorted(g.begin(), g.end()));
    EXPECT_EQ(Sorted(found), Sorted(expected))
        << "first " << s.firstPly << " last " << s.lastPly << " min " << s.minPlies << " notes "
        << int(s.annotations) << " from end " << s.fromEnd;
  }
}

}  // namespace
