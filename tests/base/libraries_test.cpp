// Library maintenance: renumbering by a map, removal of empty records and compression, each
// checked on the new base's libraries and on the numbers the games hold afterwards.
#include <array>

#include "base/libraries.h"
#include "native_test_support.h"

namespace ludrex {
namespace {

using testing::NativeTest;
using testing::Own;
using testing::Text;

// White and Black refer to "Players", Event to "Events"; then the result.
RecordPattern TwoLibraries() {
  RecordPattern players = testing::PlayersPattern();
  RecordPattern events;
  events.Append(FieldSpec(kStringType, String("~4"), kFlagKey, String("")));
  RecordPattern p;
  p.Append(FieldSpec(kLibRefType, String("~1"), 0, String("Players"), &players));
  p.Append(FieldSpec(kLibRefType, String("~2"), 0, String("Players"), &players));
  p.Append(FieldSpec(kLibRefType, String("~16"), 0, String("Events"), &events));
  p.Append(FieldSpec(kResultType, String("~9"), 0, String("")));
  return p;
}

// The library numbers of the first three fields only.
RecordPattern Numbers(Base* b) {
  RecordPattern p;
  for (std::int32_t i = 0; i < 3; ++i) {
    FieldSpec s = b->GetRecordPattern()[i];
    s.flags |= kFlagIndexOnly;
    p.Append(s);
  }
  return p;
}

class LibrariesTest : public NativeTest {
 protected:
  void TearDown() override {
    Registry()->CloseAll();
    for (const std::string& t : temps_) EraseBase(Own(t), 0);
    NativeTest::TearDown();
  }

  // A base whose Players library holds names[k] at record k and Events "E0", "E1"; the games
  // hold the given (white, black, event) numbers.
  Base* MakeBase(const std::vector<std::string>& names,
                 const std::vector<std::array<std::int32_t, 3>>& games) {
    Base* b = Create(TwoLibraries());
    Base* players = OpenEmbeddedBase(b, String("Players"));
    Record pr(players->GetRecordPattern());
    for (const std::string& n : names) {
      pr[0].SetText(Own(n));
      players->Write(kAppendRecord, pr);
    }
    CloseBase(players);
    Base* events = OpenEmbeddedBase(b, String("Events"));
    Record er(events->GetRecordPattern());
    for (const char* e : {"E0", "E1"}) {
      er[0].SetText(Own(e));
      events->Write(kAppendRecord, er);
    }
    CloseBase(events);
    Record g(Numbers(b));
    for (const auto& n : games) {
      for (int i = 0; i < 3; ++i) g[i].SetInt(n[static_cast<std::size_t>(i)]);
      b->Write(kAppendRecord, g);
    }
    return b;
  }

  std::vector<std::array<std::int32_t, 3>> GameNumbers(Base* b) {
    Record g(Numbers(b));
    std::vector<std::array<std::int32_t, 3>> out;
    for (std::int32_t r = 0; r < b->RecordCount(); ++r) {
      b->Read(r, g);
      out.push_back({g[0].GetInt(), g[1].GetInt(), g[2].GetInt()});
    }
    return out;
  }

  // The texts of a library of the base named t, by record number.
  std::vector<std::string> Library(const std::string& t, const char* lib) {
    Base* base = OpenBase(Own(t), 0);
    Base* l = OpenEmbeddedBase(base, String(lib));
    Record r(l->GetRecordPattern());
    std::vector<std::string> out;
    for (std::int32_t k = 0; k < l->RecordCount(); ++k) {
      l->Read(k, r);
      out.push_back(Text(r[0]));
    }
    CloseBase(l);
    CloseBase(base);
    return out;
  }

  std::string Keep(const String& name) {
    std::string t(name.Text(), name.Length());
    if (!t.empty()) temps_.push_back(t);
    return t;
  }

  std::vector<std::string> temps_;
};

const std::vector<std::string> kNames = {"Hh", "Bb", "Gg", "Aa", "Ff", "Cc", "Ee", "Dd"};

TEST_F(LibrariesTest, KeepAllMapChangesNothing) {
  Base* b = MakeBase(kNames, {{0, 7, 1}, {5, 6, 0}, {-1, 2, -1}});
  auto before = GameNumbers(b);
  Base* players = OpenEmbeddedBase(b, String("Players"));
  std::vector<std::int32_t> map(kNames.size(), -1);
  map[3] = 3;  // its own number also keeps it
  std::string t = Keep(MultiChange(b, players, map.data()));
  CloseBase(players);
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(Library(t, "Players"), kNames);
  EXPECT_EQ(Library(t, "Events"), (std::vector<std::string>{"E0", "E1"}));
  EXPECT_EQ(GameNumbers(b), before);
  CloseBase(b);
}

TEST_F(LibrariesTest, MergingRecordFiveIntoTwo) {
  Base* b = MakeBase(kNames, {{5, 2, 0}, {6, 7, 1}, {1, 5, 1}, {4, -1, 0}});
  Base* players = OpenEmbeddedBase(b, String("Players"));
  std::vector<std::int32_t> map(kNames.size(), -1);
  map[5] = 2;
  std::string t = Keep(MultiChange(b, players, map.data()));
  CloseBase(players);
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(Library(t, "Players"),
            (std::vector<std::string>{"Hh", "Bb", "Gg", "Aa", "Ff", "Ee", "Dd"}));
  EXPECT_EQ(Library(t, "Events"), (std::vector<std::string>{"E0", "E1"}));
  EXPECT_EQ(GameNumbers(b), (std::vector<std::array<std::int32_t, 3>>{
                                {2, 2, 0}, {5, 6, 1}, {1, 2, 1}, {4, -1, 0}}));
  CloseBase(b);
}

TEST_F(LibrariesTest, ChainsAndBadMaps) {
  Base* b = MakeBase(kNames, {{5, 4, 0}});
  Base* players = OpenEmbeddedBase(b, String("Players"));
  // 5 -> 4 -> 0: both end at record 0.
  std::vector<std::int32_t> map(kNames.size(), -1);
  map[5] = 4;
  map[4] = 0;
  std::string t = Keep(MultiChange(b, players, map.data()));
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(GameNumbers(b), (std::vector<std::array<std::int32_t, 3>>{{0, 0, 0}}));
  // A number outside the library and a ring of merges are refused before anything changes.
  map.assign(kNames.size(), -1);
  map[1] = 99;
  EXPECT_THROW(MultiChange(b, players, map.data()), Failure);
  map.assign(kNames.size(), -1);
  map[1] = 2;
  map[2] = 1;
  EXPECT_THROW(MultiChange(b, players, map.data()), Failure);
  EXPECT_EQ(GameNumbers(b), (std::vector<std::array<std::int32_t, 3>>{{0, 0, 0}}));
  // A library of another base gives an empty result.
  CloseBase(players);
  CloseBase(b);
}

int LUDREX_CDECL StopAlways(int, int) { return 1; }

TEST_F(LibrariesTest, StoppedCopyLeavesTheBaseUnchanged) {
  Base* b = MakeBase(kNames, {{5, 2, 0}, {6, 7, 1}});
  auto before = GameNumbers(b);
  Base* players = OpenEmbeddedBase(b, String("Players"));
  std::vector<std::int32_t> map(kNames.size(), -1);
  map[5] = 2;
  Callbacks().step = StopAlways;
  EXPECT_EQ(MultiChange(b, players, map.data()).Length(), 0);
  EXPECT_EQ(LibraryCompress(b).Length(), 0);
  Callbacks().step = nullptr;
  EXPECT_EQ(GameNumbers(b), before);
  CloseBase(players);
  CloseBase(b);
}

// Stops every loop whose progress title begins with g_stopTitle.
std::string g_stopTitle;
bool g_stopping = false;
void LUDREX_CDECL StartTitle(const char* title, int) {
  g_stopping = std::string(title).rfind(g_stopTitle, 0) == 0;
}
int LUDREX_CDECL StopTitled(int, int) { return g_stopping ? 1 : 0; }

TEST_F(LibrariesTest, StopDuringEachLoopLeavesTheBaseUnchanged) {
  // Enough players for the record copy to ask the host (every 500 records).
  std::vector<std::string> names;
  for (int k = 0; k < 1200; ++k) names.push_back("P" + std::to_string(k));
  Base* b = MakeBase(names, {{5, 2, 0}, {6, 7, 1}});
  auto before = GameNumbers(b);
  Base* players = OpenEmbeddedBase(b, String("Players"));
  std::vector<std::int32_t> map(names.size(), -1);
  map[5] = 2;
  Callbacks().start = StartTitle;
  Callbacks().step = StopTitled;
  // The copy of the kept records, and the copy of the other library's files.
  for (std::uint32_t code : {932u, 1002u}) {
    g_stopTitle = std::string(MessageTextPtr(code)) + (code == 1002 ? "Events" : "");
    EXPECT_EQ(MultiChange(b, players, map.data()).Length(), 0) << code;
  }
  // The compression's first use pass and its library copy.
  for (std::uint32_t code : {1071u, 1073u}) {
    g_stopTitle = MessageTextPtr(code);
    EXPECT_EQ(LibraryCompress(b).Length(), 0) << code;
  }
  Callbacks().start = nullptr;
  Callbacks().step = nullptr;
  EXPECT_EQ(GameNumbers(b), before);
  CloseBase(players);
  CloseBase(b);
}

TEST_F(LibrariesTest, CompressKeepsRecordsInOrderOfFirstUse) {
  std::vector<std::string> names;
  for (int k = 0; k < 10; ++k) names.push_back("N" + std::to_string(k));
  Base* b = MakeBase(names, {{7, 3, 1}, {3, -1, 1}, {7, 7, -1}});
  std::string t = Keep(LibraryCompress(b));
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(Library(t, "Players"), (std::vector<std::string>{"N7", "N3"}));
  EXPECT_EQ(Library(t, "Events"), (std::vector<std::string>{"E1"}));
  EXPECT_EQ(GameNumbers(b), (std::vector<std::array<std::int32_t, 3>>{
                                {0, 1, 0}, {1, -1, 0}, {0, 0, -1}}));
  CloseBase(b);
}

TEST_F(LibrariesTest, RecordByRecordPassGivesTheSameLibraries) {
  std::vector<std::string> names;
  for (int k = 0; k < 10; ++k) names.push_back("N" + std::to_string(k));
  Base* b = MakeBase(names, {{7, 3, 1}, {3, -1, 1}, {9, 7, -1}});
  std::string t = Keep(LibraryCompressByRecords(b));
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(Library(t, "Players"), (std::vector<std::string>{"N7", "N3", "N9"}));
  EXPECT_EQ(GameNumbers(b), (std::vector<std::array<std::int32_t, 3>>{
                                {0, 1, 0}, {1, -1, 0}, {2, 0, -1}}));
  CloseBase(b);
}

TEST_F(LibrariesTest, KillEmptyLibraryRecords) {
  // Without empty records: a new base, nothing renumbered.
  Base* b = MakeBase({"Aa", "Bb"}, {{1, 0, 1}});
  std::string t = Keep(KillEmptyLibRecs(b));
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(Library(t, "Players"), (std::vector<std::string>{"Aa", "Bb"}));
  EXPECT_EQ(GameNumbers(b), (std::vector<std::array<std::int32_t, 3>>{{1, 0, 1}}));
  CloseBase(b);

  // An empty player record (number 1) goes; references to it become -1.
  b = MakeBase({"Aa", "", "Cc"}, {{1, 2, 0}, {0, 1, 1}});
  t = Keep(KillEmptyLibRecs(b));
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(Library(t, "Players"), (std::vector<std::string>{"Aa", "Cc"}));
  EXPECT_EQ(GameNumbers(b), (std::vector<std::array<std::int32_t, 3>>{{-1, 1, 0}, {0, -1, 1}}));
  CloseBase(b);
}

}  // namespace
}  // namespace ludrex
