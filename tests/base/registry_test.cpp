#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/registry.h"
#include "capture.h"
#include "fake_base.h"
#include "record/field_classes.h"
#include "search/subset.h"

namespace ludrex {
namespace {

using testing::Capture;
using testing::CaptureScope;
using testing::FakeBase;
using testing::InstallFakeFormat;
using testing::LastErrorCode;
using testing::LiveFakeBases;
using testing::Stores;

String S(const std::string& s) { return String::Copy(s.data(), static_cast<std::uint32_t>(s.size())); }

RecordPattern PlayersPattern() {
  RecordPattern p;
  p.Append(FieldSpec(1, String("~3"), /*key*/ 2, String("")));
  return p;
}

// White and Black refer to the embedded "Players" library; Event is plain text.
RecordPattern GamesPattern() {
  RecordPattern players = PlayersPattern();
  RecordPattern p;
  p.Append(FieldSpec(0, String("~1"), 0, String("Players"), &players));
  p.Append(FieldSpec(0, String("~2"), 0, String("Players"), &players));
  p.Append(FieldSpec(1, String("~16"), 0, String("")));
  return p;
}

class BaseLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateRegistry();
    InstallLibraryAccess();
    InstallFakeFormat(0, ".kvx");
    dir_ = ::testing::TempDir();
    name_ = dir_ + "ludrex_registry_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    Registry()->CloseAll();
    EXPECT_EQ(LiveFakeBases(), 0);
    DestroyRegistry();
    Stores().clear();
    std::remove((name_ + ".kvx").c_str());
    std::remove((name_ + "2.kvx").c_str());
  }

  // A games base with its Players library and n games (player i plays player i + 1).
  Base* MakeGames(const std::string& name, int n) {
    Base* b = CreateBase(S(name), GamesPattern(), 0);
    Base* lib = CreateEmbeddedBase(b, String("Players"), PlayersPattern());
    CloseBase(lib);
    Record r(b->GetRecordPattern());
    r.LinkToBase(b);
    for (int i = 0; i < n; ++i) {
      std::string w = "Player " + std::to_string(i), bl = "Player " + std::to_string(i + 1);
      r[0].Assign(StringValue(w));
      r[1].Assign(StringValue(bl));
      r[2].SetText(S("Event " + std::to_string(i)));
      b->Write(kAppendRecord, r);
    }
    return b;
  }

  // A string field holding text, to assign to a library field.
  const Field& StringValue(const std::string& text) {
    scratch_.reset(new StringField(FieldSpec(1, String("~3"), 0, String(""))));
    scratch_->SetText(S(text));
    return *scratch_;
  }

  std::string dir_, name_;
  std::unique_ptr<Field> scratch_;
};

TEST_F(BaseLayer, OpeningTwiceGivesOneObjectUntilTheLastClose) {
  CaptureScope scope;
  Base* b = CreateBase(S(name_), GamesPattern(), 0);
  Base* again = OpenBase(S(name_), 0);
  EXPECT_EQ(b, again);
  CloseBase(again);
  EXPECT_EQ(LiveFakeBases(), 1);
  CloseBase(b);
  EXPECT_EQ(LiveFakeBases(), 0);
  // A third close finds no entry: reported, not fatal, nothing destroyed twice.
  CloseBase(b);
  EXPECT_EQ(Capture().boxes.size(), 1u);
  EXPECT_EQ(Capture().boxes[0].substr(0, 12), "Error # 910\n");
}

TEST_F(BaseLayer, AnEmbeddedNameOpensTheWholeGroup) {
  CaptureScope scope;
  Base* b = MakeGames(name_, 0);
  CloseBase(b);
  ASSERT_EQ(LiveFakeBases(), 0);
  Base* players = OpenBase(S(name_ + ",Players"), 0);
  ASSERT_NE(players, nullptr);
  EXPECT_EQ(LiveFakeBases(), 2);  // the container came with it
  Base* container = OpenBase(S(name_), 0);
  CloseBase(container);
  EXPECT_EQ(LiveFakeBases(), 2);  // the library still holds the group open
  CloseBase(players);
  EXPECT_EQ(LiveFakeBases(), 0);
  // A name after the comma that is no embedded base of the container.
  EXPECT_THROW(OpenBase(S(name_ + ",Nobody"), 0), Failure);
  EXPECT_EQ(LastErrorCode(), 914u);
  EXPECT_EQ(LiveFakeBases(), 0);
}

TEST_F(BaseLayer, DispatchRefusals) {
  CaptureScope scope;
  EXPECT_THROW(OpenBase(S(name_), 7), Failure);
  EXPECT_EQ(LastErrorCode(), 901u);
  EXPECT_THROW(OpenBase(String(""), 0), Failure);
  EXPECT_EQ(LastErrorCode(), 913u);
  EXPECT_THROW(OpenBase(S(name_ + "_missing"), 0), Failure);
  EXPECT_EQ(LastErrorCode(), 503u);
  for (int type : {1, 3, 4, 5, 6}) {
    EXPECT_THROW(CreateBase(S(name_), GamesPattern(), type), Failure);
    EXPECT_EQ(LastErrorCode(), 907u) << type;
  }
  Base* b = CreateBase(S(name_), GamesPattern(), 0);
  EXPECT_THROW(CreateBase(S(name_), GamesPattern(), 0), Failure);
  EXPECT_EQ(LastErrorCode(), 917u);
  CloseBase(b);
  EXPECT_EQ(LiveFakeBases(), 0);
}

TEST_F(BaseLayer, RegistryGrowsAndReusesFreeEntries) {
  CaptureScope scope;
  BaseRegistry reg;  // the registry destroys the bases it closes
  std::vector<Base*> keep;
  for (int i = 0; i < 120; ++i) {
    keep.push_back(new FakeBase(0, "none"));
    EXPECT_EQ(reg.Register(0, S("b" + std::to_string(i)), keep.back(), -1), i);
  }
  EXPECT_EQ(reg.Lookup(0, S("b77")), keep[77]);
  EXPECT_EQ(reg.Lookup(1, S("b77")), nullptr);
  EXPECT_EQ(reg.Lookup(0, S("b7")), keep[7]);
  reg.Close(keep[7]);
  EXPECT_EQ(reg.IndexOf(keep[7]), -1);
  keep.push_back(new FakeBase(0, "none"));
  EXPECT_EQ(reg.Register(0, S("new"), keep.back(), -1), 7);  // the first free entry
  EXPECT_THROW(reg.RootOf(reinterpret_cast<Base*>(&reg)), Failure);
  EXPECT_EQ(LastErrorCode(), 910u);
  // Closing an entry that was never opened is reported and changes nothing.
  reg.Close(keep[8]);
  EXPECT_EQ(Capture().boxes.back().substr(0, 12), "Error # 911\n");
  EXPECT_NE(reg.IndexOf(keep[8]), -1);
  for (std::int32_t i = 0; i < reg.Size(); ++i) {
    if (reg.At(i).base != nullptr) delete reg.At(i).base;
  }
}

TEST_F(BaseLayer, ShutDownReportsAndClosesEveryOpen) {
  CaptureScope scope;
  Base* b = CreateBase(S(name_), GamesPattern(), 0);
  OpenBase(S(name_), 0);
  Registry()->CloseAll();
  EXPECT_EQ(LiveFakeBases(), 0);
  ASSERT_EQ(Capture().boxes.size(), 2u);
  EXPECT_EQ(Capture().boxes[0], std::string("Error # 916\n") + MessageTextPtr(916) + "\n" + name_);
  (void)b;
}

TEST_F(BaseLayer, FindOnTheFirstField) {
  CaptureScope scope;
  RecordPattern p;
  p.Append(FieldSpec(2, String("~5"), 0, String("4")));
  Base* b = CreateBase(S(name_), p, 0);
  Record r(p);
  std::int32_t found = 7;
  r[0].SetInt(5);
  EXPECT_EQ(b->Find(r, &found, nullptr), 0);  // empty base
  EXPECT_EQ(found, 0);
  for (int v : {10, 20, 20, 30}) {
    r[0].SetInt(v);
    b->Write(kAppendRecord, r);
  }
  r[0].SetInt(20);
  EXPECT_EQ(b->Find(r, &found, nullptr), 1);
  EXPECT_EQ(found, 1);
  r[0].SetInt(25);
  EXPECT_EQ(b->Find(r, &found, nullptr), 3);
  EXPECT_EQ(found, 0);
  r[0].SetInt(99);
  EXPECT_EQ(b->Find(r, &found, nullptr), 4);
  EXPECT_EQ(found, 0);
  std::unique_ptr<Subset> s(Subset::CreateTmp(4));
  s->IncludeRange(2, 2);  // values 20 and 30
  r[0].SetInt(30);
  EXPECT_EQ(b->Find(r, &found, s.get()), 1);
  EXPECT_EQ(found, 1);
  CloseBase(b);
}

TEST_F(BaseLayer, AppendAnotherCopiesOnlyTheLibraryRecordsInUse) {
  CaptureScope scope;
  Base* src = MakeGames(name_, 6);  // players 0..6
  Base* dst = MakeGames(name_ + "2", 0);
  std::unique_ptr<Subset> some(Subset::CreateTmp(6));
  some->IncludeRange(4, 2);  // games 4 and 5: players 4, 5, 6
  src->ToggleDelete(5, 1);   // game 5 is deleted: only players 4 and 5 are needed
  EXPECT_EQ(src->AppendAnother(some.get(), dst, false, 0, nullptr), 1);
  EXPECT_EQ(dst->RecordCount(), 1);
  Base* lib = OpenBase(S(name_ + "2,Players"), 0);
  EXPECT_EQ(lib->RecordCount(), 2);
  Record r(dst->GetRecordPattern());
  r.LinkToBase(dst);
  dst->Read(0, r);
  EXPECT_EQ(std::string(r[2].ToText().Text()), "Event 4");
  Record names(lib->GetRecordPattern());
  lib->Read(r[0].GetInt(), names);
  EXPECT_EQ(std::string(names[0].ToText().Text()), "Player 4");
  lib->Read(r[1].GetInt(), names);
  EXPECT_EQ(std::string(names[0].ToText().Text()), "Player 5");
  CloseBase(lib);

  // With whole libraries copied first, every player is there, each once.
  src->ToggleDelete(5, 1);
  EXPECT_EQ(src->AppendAnother(nullptr, dst, false, 1, nullptr), 6);
  lib = OpenBase(S(name_ + "2,Players"), 0);
  EXPECT_EQ(lib->RecordCount(), 7);
  CloseBase(lib);
  EXPECT_EQ(dst->RecordCount(), 7);
  CloseBase(src);
  CloseBase(dst);
}

TEST_F(BaseLayer, AppendAnotherFollowsTheOrderAndStopsWhenAsked) {
  CaptureScope scope;
  Base* src = MakeGames(name_, 250);
  Base* dst = MakeGames(name_ + "2", 0);
  std::vector<std::int32_t> order(250);
  for (int i = 0; i < 250; ++i) order[static_cast<std::size_t>(i)] = (i * 7 + 4) % 250;
  std::unique_ptr<Subset> all(Subset::CreateTmp(250));
  all->IncludeRange(0, -1);
  EXPECT_EQ(src->AppendAnother(all.get(), dst, false, 0, order.data()), 250);
  Record r(dst->GetRecordPattern());
  r.LinkToBase(dst);
  dst->Read(0, r);
  EXPECT_EQ(std::string(r[2].ToText().Text()), "Event 4");
  dst->Read(1, r);
  EXPECT_EQ(std::string(r[2].ToText().Text()), "Event 11");
  // Progress reaches the host every 100 games; the second report asks to stop.
  static int steps;
  steps = 0;
  Callbacks().step = [](int, int) { return ++steps >= 2 ? 1 : 0; };
  EXPECT_EQ(src->AppendAnother(all.get(), dst, true, 0, nullptr), 200);
  Callbacks().step = nullptr;
  CloseBase(src);
  CloseBase(dst);
}

TEST_F(BaseLayer, EraseStopsAtTheFirstMissingNumberedPair) {
  CaptureScope scope;
  auto touch = [](const std::string& f) { std::ofstream(f).put('x'); };
  for (const char* ext : {".kvx", ".emb", ".a00", ".d00", ".a01", ".d03", ".ti0"}) touch(name_ + ext);
  EraseBase(S(name_), 0);
  for (const char* ext : {".kvx", ".emb", ".a00", ".d00", ".a01", ".ti0"}) {
    EXPECT_FALSE(std::ifstream(name_ + ext).good()) << ext;
  }
  EXPECT_TRUE(std::ifstream(name_ + ".d03").good());  // after the gap at 02
  std::remove((name_ + ".d03").c_str());
}

TEST_F(BaseLayer, ShortInfoFromTheOpenBaseOrTheFile) {
  CaptureScope scope;
  Base* b = MakeGames(name_, 3);
  BaseInfo info;
  info.description = String("three games");
  b->SetInfo(info);
  ShortInfo s;
  GetShortInfo(0, S(name_), s);
  EXPECT_EQ(s.count, 3);
  EXPECT_EQ(std::string(s.text.Text()), "three games");
  CloseBase(b);
  EXPECT_EQ(LiveFakeBases(), 0);  // the lookup's open was given back
  GetShortInfo(0, S(name_), s);
  EXPECT_EQ(s.count, 3);
  GetShortInfo(2, S(name_), s);  // no reader of that type here
  EXPECT_EQ(s.count, -1);
  EXPECT_EQ(s.text.Length(), 0);
}

}  // namespace
}  // namespace ludrex
