// The DOS base, built in the test from games of the shared data with the DOS game-score
// encoding: every game, name and comment reads back; the edge cases of its files; its
// libraries; the copy into a native base; and the same base on a read-only medium through a
// reference base.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/dispatch.h"
#include "base/legacy/legacy_base.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/reference/reference_base.h"
#include "base/registry.h"
#include "capture.h"
#include "frame/state.h"
#include "legacy_writer.h"
#include "record/field_classes.h"
#include "record/record.h"
#include "search/subset.h"

namespace ludrex::testing {
namespace {

namespace fs = std::filesystem;

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }
String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}

std::uint16_t RaisedCode(const std::function<void()>& f) {
  try {
    f();
  } catch (const Failure& e) {
    return e.code;
  }
  return 0;
}

struct Move {
  int kind, piece, from, to;
  std::vector<std::uint8_t> bytes;
  bool operator==(const Move&) const = default;
};

std::vector<Move> ElementsOf(Game* g) {
  std::vector<Move> out;
  ChessElement e;
  GameRewind(g);
  while (GameNext(g, &e)) {
    Move m{e.kind, e.piece, e.from, e.to, {}};
    if (e.kind == 4) m.bytes.assign(e.bytes, e.bytes + e.count);
    if (e.kind != 1) m.piece = m.from = m.to = 0;
    out.push_back(m);
  }
  return out;
}

std::vector<std::uint8_t> Annotation(std::uint8_t type, const std::string& text) {
  std::vector<std::uint8_t> b(text.size() + 1);
  b[0] = type;
  std::copy(text.begin(), text.end(), b.begin() + 1);
  return b;
}

// What the base should give for a game: its moves with the comments in place.
std::vector<Move> Expected(const DosGame& g) {
  std::vector<Move> out;
  auto comments = [&](std::size_t ply, bool rest) {
    for (const DosComment& c : g.comments) {
      if (rest ? c.ply < ply : c.ply != ply) continue;
      if (c.kind <= 1) out.push_back({4, 0, 0, 0, Annotation(4, c.text)});
      if (c.kind == 2)
        out.push_back({4, 0, 0, 0, Annotation(c.code == 22 || c.code == 24 ? 3 : 2,
                                              "$" + std::to_string(c.code))});
      if (c.kind == 3) out.push_back({4, 0, 0, 0, {9}});
    }
  };
  for (std::size_t i = 0; i < g.source.moves.size(); ++i) {
    comments(i, false);
    const ChessElement& m = g.source.moves[i];
    out.push_back({1, m.piece, m.from, m.to, {}});
  }
  comments(g.source.moves.size(), false);
  for (const DosComment& c : g.comments) {  // comments after the end: at the end
    if (c.ply > g.source.moves.size()) {
      if (c.kind <= 1) out.push_back({4, 0, 0, 0, Annotation(4, c.text)});
    }
  }
  return out;
}

class LegacyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_ = std::make_unique<CaptureScope>();
    BuildSubsetTables();
    CreateRegistry();
    InstallLibraryAccess();
    RegisterNativeBase();
    RegisterLegacyBase();
    RegisterReferenceBase();
    dir_ = ::testing::TempDir() + "ludrex_dos_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    name_ = dir_ + "old";
    static const std::vector<DosSource> sources =
        ReadPgnGames(std::string(LUDREX_SHARED_DATA) + "/sample-games.pgn", 120);
    for (std::size_t k = 0; k < sources.size(); ++k) {
      DosGame g;
      g.source = sources[k];
      g.longForm = k % 7 == 3;
      g.deleted = k % 10 == 9;
      if (k % 3 == 0) {
        g.comments = {{0, 0, "Opening \xC8\xE3\xF0\xE0", 0},  // Windows-1251 text, kept as OEM
                      {1, 2, "", 14},
                      {2, 1, "Good move (for White) 12.", 0},
                      {2, 2, "", 22},
                      {3, 3, "", 0},
                      {static_cast<std::uint16_t>(g.source.moves.size()), 0, "The end", 0}};
      }
      games_.push_back(g);
    }
  }
  void TearDown() override {
    Registry()->CloseAll();
    DestroyRegistry();
    for (const auto& e : fs::recursive_directory_iterator(dir_)) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
    SetProgramPath(nullptr);
    scope_.reset();
  }

  std::unique_ptr<CaptureScope> scope_;
  std::string dir_, name_;
  std::vector<DosGame> games_;
};

std::string LibraryText(Field& f) {
  Record& r = static_cast<LibRefField&>(f).LibraryRecord();
  return Str(r[0].ToText());
}

TEST_F(LegacyTest, EveryGameNameAndCommentReadsBack) {
  ASSERT_GE(games_.size(), 100u);
  for (std::uint8_t flag : {0, 1}) {
    WriteDosBase(name_, games_, "Old games", flag);
    Base* b = OpenBase(Own(name_), 1);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->RecordCount(), static_cast<std::int32_t>(games_.size()));
    EXPECT_EQ(b->GetRecordPattern().Count(), 10);
    Record r(b->GetRecordPattern());
    r.LinkToBase(b);
    for (std::size_t k = 0; k < games_.size(); ++k) {
      SCOPED_TRACE(k);
      const DosGame& g = games_[k];
      b->Read(static_cast<std::int32_t>(k), r);
      EXPECT_EQ(LibraryText(r[0]), g.source.white);
      EXPECT_EQ(LibraryText(r[1]), g.source.black);
      EXPECT_EQ(r[2].GetInt(), ResultCode(g.source.result) % 4);
      EXPECT_EQ(LibraryText(r[4]), g.source.site);
      EXPECT_EQ(LibraryText(r[5]), g.source.event);
      if (!g.source.eco.empty()) {
        EXPECT_EQ(Str(r[7].ToText()), g.source.eco);
      }
      EXPECT_EQ(LibraryText(r[8]), k % 4 == 0 ? "Remark " + std::to_string(k) : "");
      Game* game = static_cast<Game*>(r[9].GetBody());
      ASSERT_EQ(ElementsOf(game), Expected(g));
      EXPECT_EQ(b->IsDeleted(static_cast<std::int32_t>(k)), g.deleted ? 1 : 0);
    }
    BaseInfo info;
    b->GetInfo(info);
    EXPECT_EQ(Str(info.description), "Old games");
    EXPECT_EQ(info.type, 1);
    CloseBase(b);
  }
  EXPECT_TRUE(Capture().errors.empty()) << Capture().errors.front();
}

TEST_F(LegacyTest, TheLastBodyReachesTheEndOfTheBodyFile) {
  std::vector<DosGame> two(games_.begin(), games_.begin() + 2);
  std::vector<std::uint8_t> bodies;
  WriteDosBase(name_, two, "", 0, &bodies);
  // Bytes after the last game's 0xFF belong to it: a second 0xFF there changes nothing, but a
  // move code there is read as one more move.
  const std::vector<std::uint8_t> tail = {0x00};  // the king's null step: a king "move"
  bodies.pop_back();                             // the last game's end code
  bodies.insert(bodies.end(), tail.begin(), tail.end());
  WriteFile(name_ + ".bgb", bodies);
  auto* b = static_cast<LegacyBase*>(OpenBase(Own(name_), 1));
  ASSERT_NE(b, nullptr);
  std::vector<std::uint8_t> last = b->Body(1);
  EXPECT_EQ(last.back(), 0x00);
  EXPECT_EQ(b->Body(0).back(), 0xFF);
  Record r(b->GetRecordPattern());
  r.LinkToBase(b);
  b->Read(1, r);
  std::vector<Move> moves = ElementsOf(static_cast<Game*>(r[9].GetBody()));
  ASSERT_EQ(moves.size(), two[1].source.moves.size() + 1);
  const int king = two[1].source.moves.size() % 2 == 0 ? 0x04 : 0x74;  // the side to move's king
  EXPECT_EQ(moves.back().piece, 6);
  EXPECT_EQ(moves.back().to & 0x77, moves.back().from & 0x77);
  (void)king;
  EXPECT_EQ(RaisedCode([&] { b->Read(2, r); }), 903);
  EXPECT_EQ(RaisedCode([&] { b->Read(-1, r); }), 903);
  CloseBase(b);
}

TEST_F(LegacyTest, RefusalsAndEmbeddedBaseErrors) {
  WriteDosBase(name_, std::vector<DosGame>(games_.begin(), games_.begin() + 5), "Five", 0);
  Base* b = OpenBase(Own(name_), 1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->EmbeddedBaseCount(), 4);
  EXPECT_EQ(Str(b->EmbeddedBaseName(2)), "Events");
  EXPECT_EQ(RaisedCode([&] { b->EmbeddedBaseName(4); }), 908);
  EXPECT_EQ(RaisedCode([&] { b->OpenEmbedded(String("Annotators")); }), 909);
  Record r(b->GetRecordPattern());
  EXPECT_EQ(RaisedCode([&] { b->Write(kAppendRecord, r); }), 907);
  EXPECT_EQ(RaisedCode([&] { b->SetInfo(BaseInfo()); }), 907);
  EXPECT_EQ(RaisedCode([&] { b->CreateEmbedded(String("X"), b->GetRecordPattern()); }), 907);
  b->ToggleDelete(0, 1);  // reported, not fatal
  EXPECT_EQ(Capture().boxes.size(), 1u);
  EXPECT_EQ(b->IsDeleted(0), 0);
  // The library short information: the count from the ".#00" member.
  ShortInfo si;
  b->GetEmbeddedShortInfo(si, String("Players"));
  EXPECT_GE(si.count, 5);
  EXPECT_EQ(Str(b->LibraryNameOf(r[4])), "Places");
  CloseBase(b);
  // Creating a DOS base is refused.
  EXPECT_EQ(RaisedCode([&] { CreateBase(Own(dir_ + "new"), r.Pattern(), 1); }), 907);
  // Short information without opening; then a wrong mark (904 on open, count -1 here).
  GetShortInfo(1, Own(name_), si);
  EXPECT_EQ(Str(si.text), "Five");
  EXPECT_EQ(si.count, 5);
  {
    std::fstream f(name_ + ".bfi", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(1);
    f.put('t');
  }
  GetShortInfo(1, Own(name_), si);
  EXPECT_EQ(Str(si.text), "");
  EXPECT_EQ(si.count, -1);
  EXPECT_EQ(RaisedCode([&] { OpenBase(Own(name_), 1); }), 904);
  // A missing file of the nine: the file error, nothing registered.
  fs::remove(name_ + ".ndx");
  EXPECT_NE(RaisedCode([&] { OpenBase(Own(name_), 1); }), 0);
}

TEST_F(LegacyTest, CommentedGamesAndCopyIntoANativeBase) {
  std::vector<DosGame> some(games_.begin(), games_.begin() + 30);
  WriteDosBase(name_, some, "Thirty", 0);
  Base* b = OpenBase(Own(name_), 1);
  ASSERT_NE(b, nullptr);
  std::unique_ptr<Subset> s(Subset::CreateTmp(30));
  s->IncludeRange(0, 30);
  b->GetCommented(s.get());
  EXPECT_EQ(s->CurLength(), 10);
  for (std::int32_t i = 0; i < s->CurLength(); ++i) EXPECT_EQ(s->BaseNum(i) % 3, 0);
  // The deleted games (9, 19, 29) are the base's deleted subset.
  ASSERT_NE(b->GetDeletedSubset(), nullptr);
  EXPECT_EQ(b->GetDeletedSubset()->CurLength(), 3);

  // The native copy: a pattern of the same field names, the libraries copied as needed.
  Base* n = CreateBase(Own(dir_ + "copy"), b->GetRecordPattern(), 0);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(b->AppendAnother(nullptr, n, false, 0, nullptr), 27);
  EXPECT_EQ(n->RecordCount(), 27);
  Record from(b->GetRecordPattern()), to(n->GetRecordPattern());
  from.LinkToBase(b);
  to.LinkToBase(n);
  std::int32_t copied = 0;
  for (std::int32_t k = 0; k < 30; ++k) {
    if (some[static_cast<std::size_t>(k)].deleted) continue;
    b->Read(k, from);
    n->Read(copied++, to);
    EXPECT_EQ(LibraryText(to[0]), LibraryText(from[0]));
    EXPECT_EQ(LibraryText(to[5]), LibraryText(from[5]));
    EXPECT_EQ(to[3].GetInt(), from[3].GetInt());
    EXPECT_EQ(ElementsOf(static_cast<Game*>(to[9].GetBody())),
              ElementsOf(static_cast<Game*>(from[9].GetBody())));
  }
  CloseBase(n);
  CloseBase(b);
  EXPECT_TRUE(Capture().errors.empty()) << Capture().errors.front();
}

TEST_F(LegacyTest, ReadOnlyDosBaseThroughAReference) {
  std::vector<DosGame> some(games_.begin(), games_.begin() + 6);
  WriteDosBase(name_, some, "Six", 0);
  fs::create_directories(dir_ + "prog");
  SetProgramPath((dir_ + "prog/").c_str());
  ::chmod((name_ + ".bfi").c_str(), 0444);
  Base* b = OpenBase(Own(name_), 1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Type(), 4);
  EXPECT_EQ(b->RecordCount(), 6);
  Record r(b->GetRecordPattern());
  r.LinkToBase(b);
  b->Read(4, r);
  EXPECT_EQ(LibraryText(r[1]), some[4].source.black);
  EXPECT_EQ(ElementsOf(static_cast<Game*>(r[9].GetBody())), Expected(some[4]));
  EXPECT_EQ(b->EmbeddedBaseCount(), 4);
  EXPECT_EQ(RaisedCode([&] { b->Write(0, r); }), 907);
  // 908 and 909 come from the DOS base behind it.
  EXPECT_EQ(RaisedCode([&] { b->EmbeddedBaseName(4); }), 908);
  Base* lib = OpenEmbeddedBase(b, String("Players"));
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(lib->Type(), 4);
  EXPECT_EQ(RaisedCode([&] { lib->Write(kAppendRecord, r); }), 907);
  CloseBase(lib);
  CloseBase(b);
  ShortInfo si;
  std::vector<fs::path> refs;
  for (const auto& e : fs::directory_iterator(dir_ + "prog/CD-Refer")) refs.push_back(e.path());
  ASSERT_EQ(refs.size(), 1u);
  std::string ref = refs[0].string();
  GetShortInfo(4, Own(ref.substr(0, ref.size() - 4)), si);
  EXPECT_EQ(Str(si.text), "Six   Reference to: " + name_);
  EXPECT_EQ(si.count, 6);
}

}  // namespace
}  // namespace ludrex::testing
