// The .cbh base: databases written by the test writer from the sample games read back field by
// field and move by move; deleted records and guiding texts; copies into native and PGN bases;
// missing, cut and damaged files give numbered errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../record/chess_helpers.h"
#include "base/cbh/cbh_base.h"
#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/pgn/pgn_base.h"
#include "base/registry.h"
#include "capture.h"
#include "cbh_writer.h"
#include "record/chess_codec.h"
#include "record/field_chess.h"
#include "record/field_classes.h"
#include "record/record.h"
#include "search/subset.h"
#include "storage/files.h"

namespace ludrex::testing {
namespace {

// The elements of a PGN game text.
std::vector<Elem> Read(Game* g, const std::string& text) {
  ReadPgn(g, text);
  return Elements(g);
}

String OwnText(const std::string& s) { return String::Copy(s.data(), std::uint32_t(s.size())); }

std::string TextOf(const Field& f) {
  String t = f.ToText();
  return std::string(t.Text(), t.Length());
}

std::string Tag(const std::string& game, const std::string& name) {
  const std::string key = "[" + name + " \"";
  std::size_t at = game.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  return game.substr(at, game.find('"', at) - at);
}

// A writer game from a PGN game: its tags and its moves as tokens.
cbhtest::Game FromPgn(const std::string& text, Game* g) {
  cbhtest::Game c;
  c.white = Tag(text, "White");
  c.black = Tag(text, "Black");
  c.event = Tag(text, "Event");
  c.site = Tag(text, "Site");
  c.annotator = Tag(text, "Annotator");
  std::string date = Tag(text, "Date");
  date.resize(10, '?');
  c.year = std::atoi(date.substr(0, 4).c_str());
  c.month = date.size() >= 7 ? std::atoi(date.substr(5, 2).c_str()) : 0;
  c.day = date.size() >= 10 ? std::atoi(date.substr(8, 2).c_str()) : 0;
  const std::string round = Tag(text, "Round");
  c.round = std::atoi(round.c_str());
  if (round.find('.') != std::string::npos) c.subround = std::atoi(round.c_str() + round.find('.') + 1);
  const std::string result = Tag(text, "Result");
  c.result = result == "1-0" ? 2 : result == "0-1" ? 0 : result == "1/2-1/2" ? 1 : 3;
  c.whiteElo = std::atoi(Tag(text, "WhiteElo").c_str());
  c.blackElo = std::atoi(Tag(text, "BlackElo").c_str());
  const auto elements = Read(g, text);
  std::string moves;
  bool afterMark = false;
  for (const Elem& e : elements) {
    if (!moves.empty()) moves += ' ';
    if (e.kind == kElementMove) {
      moves += char('a' + (e.from & 7));
      moves += char('1' + (e.from >> 4));
      moves += char('a' + (e.to & 7));
      moves += char('1' + (e.to >> 4));
      const int fr = e.from >> 4, tr = e.to >> 4;
      if (e.piece != 1 && ((fr == 6 && tr == 7) || (fr == 1 && tr == 0))) moves += " pnbrqk"[e.piece];
      afterMark = false;
    } else if (e.kind == kElementVariationStart || e.kind == kElementVariationEnd) {
      moves += e.kind == kElementVariationStart ? '(' : ')';
      afterMark = true;
    } else if (e.kind == kElementAnnotation && e.bytes[0] == kAnnotationComment) {
      moves += (afterMark ? "{<" : "{") + std::string(e.bytes.begin() + 1, e.bytes.end()) + "}";
    } else if (e.kind == kElementAnnotation) {
      moves += std::string(e.bytes.begin() + 1, e.bytes.end());
    }
  }
  c.moves = moves;
  return c;
}

// A player's name as the player file holds it: last name up to 30 bytes, first up to 20.
std::string Fit(const std::string& name) {
  const std::size_t comma = name.find(", ");
  if (comma == std::string::npos) return name.substr(0, 30);
  return name.substr(0, std::min<std::size_t>(comma, 30)) + ", " + name.substr(comma + 2, 20);
}

// The games of a PGN file with their tag lines.
std::vector<std::string> GamesWithTags(const std::string& file) {
  std::vector<std::string> games;
  std::size_t at = file.find("[Event ");
  while (at != std::string::npos) {
    std::size_t next = file.find("\n[Event ", at);
    games.push_back(file.substr(at, next == std::string::npos ? std::string::npos : next + 1 - at));
    at = next == std::string::npos ? next : next + 1;
  }
  return games;
}

class CbhBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_ = std::make_unique<CaptureScope>();
    BuildSubsetTables();
    BuildGameScoreTables();
    CreateRegistry();
    InstallLibraryAccess();
    RegisterNativeBase();
    RegisterPgnBase();
    RegisterCbhBase();
    game_ = GameCreate(0);
    name_ = ::testing::TempDir() + "ludrex_cbh_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    EraseBase(OwnText(name_), 5);
  }
  void TearDown() override {
    Registry()->CloseAll();
    DestroyRegistry();
    EraseBase(OwnText(name_), 5);
    EraseBase(OwnText(name_ + "_copy"), 0);
    EraseBase(OwnText(name_ + "_copy"), 2);
    GameDestroy(game_);
    scope_.reset();
  }

  // Writes the first n sample games (all when n < 0); returns their texts.
  std::vector<std::string> WriteSamples(int n = -1) {
    auto games = GamesWithTags(ReadFile(std::string(LUDREX_SHARED_DATA) + "/sample-games.pgn"));
    if (n >= 0) games.resize(std::size_t(n));
    cbhtest::DatabaseWriter w;
    for (const auto& t : games) w.Add(FromPgn(t, game_));
    EXPECT_TRUE(w.Save(name_));
    return games;
  }
  std::vector<std::uint8_t> Bytes(const std::string& ext) const {
    std::ifstream in(name_ + ext, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void PutBytes(const std::string& ext, const std::vector<std::uint8_t>& b) const {
    std::ofstream out(name_ + ext, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  }
  // Opens and reads every record; the code of the first failure, or 0.
  unsigned OpenAndReadAll() {
    Base* b = nullptr;
    try {
      b = OpenBase(OwnText(name_), 5);
      if (b == nullptr) return 1;
      Record r(b->GetRecordPattern());
      for (std::int32_t k = 0; k < b->RecordCount(); ++k) b->Read(k, r);
    } catch (const Failure& f) {
      if (b != nullptr) CloseBase(b);
      return f.code;
    }
    CloseBase(b);
    return 0;
  }

  std::unique_ptr<CaptureScope> scope_;
  std::string name_;
  Game* game_ = nullptr;
};

TEST_F(CbhBaseTest, SampleGamesReadBackFieldByFieldAndMoveByMove) {
  const auto games = WriteSamples();
  Base* b = OpenBase(OwnText(name_), 5);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->RecordCount(), std::int32_t(games.size()));
  Record r(b->GetRecordPattern());
  ASSERT_EQ(r.Count(), 13);
  for (std::size_t k = 0; k < games.size(); ++k) {
    const std::string& t = games[k];
    b->Read(std::int32_t(k), r);
    EXPECT_EQ(TextOf(*r.FindField(String("~16"))), Tag(t, "Event")) << k;
    EXPECT_EQ(TextOf(*r.FindField(String("~11"))), Tag(t, "Site")) << k;
    EXPECT_EQ(TextOf(*r.FindField(String("~1"))), Fit(Tag(t, "White"))) << k;
    EXPECT_EQ(TextOf(*r.FindField(String("~2"))), Fit(Tag(t, "Black"))) << k;
    EXPECT_EQ(TextOf(*r.FindField(String("~20"))), Tag(t, "Annotator")) << k;
    EXPECT_EQ(r.FindField(String("~9"))->GetInt(), std::atoi(Tag(t, "WhiteElo").c_str())) << k;
    EXPECT_EQ(r.FindField(String("~10"))->GetInt(), std::atoi(Tag(t, "BlackElo").c_str())) << k;
    const std::string result = Tag(t, "Result");
    const int code = result == "1/2-1/2" ? 1 : result == "1-0" ? 2 : result == "0-1" ? 3 : 0;
    EXPECT_EQ(r.FindField(String("~14"))->GetInt(), code) << k;
    std::string d = Tag(t, "Date");
    d.resize(10, '?');
    const std::uint32_t packed = ((std::uint32_t(std::atoi(d.substr(0, 4).c_str())) * 13u +
                                   std::uint32_t(std::atoi(d.substr(5, 2).c_str()))) << 5) +
                                 std::uint32_t(std::atoi(d.substr(8, 2).c_str()));
    EXPECT_EQ(std::uint32_t(static_cast<DateField&>(*r.FindField(String("~15"))).Packed()), packed) << k;
    EXPECT_EQ(TextOf(*r.FindField(String("~17"))), Tag(t, "Round") + (Tag(t, "Round").find('.') == std::string::npos ? ".0" : "")) << k;
    Game* moves = static_cast<Game*>(r.FindField(String("~22"))->GetBody());
    ASSERT_EQ(Elements(moves), Read(game_, t)) << k;
    EXPECT_EQ(b->IsDeleted(std::int32_t(k)), 0);
  }
  EXPECT_THROW(b->Read(std::int32_t(games.size()), r), Failure);
  EXPECT_EQ(LastErrorCode(), 903u);
  // Writing and creating are refused.
  EXPECT_THROW(b->Write(kAppendRecord, r), Failure);
  EXPECT_EQ(LastErrorCode(), 907u);
  CloseBase(b);
  EXPECT_THROW(CreateBase(OwnText(name_ + "_new"), CbhBase::Pattern(), 5), Failure);
  EXPECT_EQ(LastErrorCode(), 907u);
  ShortInfo info;
  GetShortInfo(5, OwnText(name_), info);
  EXPECT_EQ(info.count, std::int32_t(games.size()));
}

TEST_F(CbhBaseTest, DeletedGamesAndGuidingTexts) {
  cbhtest::DatabaseWriter w;
  cbhtest::Game g;
  g.white = "Tal, Mikhail";
  g.black = "Petrosian";
  g.event = "USSR ch";
  g.site = "Moscow";
  g.eco = 2 * 100 + 43 + 1;  // C43
  g.source = "Magazine";
  g.moves = "e2e4 e7e5";
  w.Add(g);
  g.deleted = true;
  w.Add(g);
  cbhtest::Game text;
  text.guidingText = true;
  text.event = "Guide";
  text.round = 3;
  w.Add(text);
  ASSERT_TRUE(w.Save(name_));
  Base* b = OpenBase(OwnText(name_), 5);
  ASSERT_NE(b, nullptr);
  Record r(b->GetRecordPattern());
  b->Read(0, r);
  EXPECT_EQ(TextOf(*r.FindField(String("~1"))), "Tal, Mikhail");
  EXPECT_EQ(TextOf(*r.FindField(String("~2"))), "Petrosian");
  EXPECT_EQ(TextOf(*r.FindField(String("~18"))), "C43");
  EXPECT_EQ(TextOf(*r.FindField(String("~21"))), "Magazine");
  EXPECT_EQ(b->IsDeleted(0), 0);
  EXPECT_EQ(b->IsDeleted(1), 1);
  b->Read(2, r);
  EXPECT_EQ(TextOf(*r.FindField(String("~16"))), "Guide");
  EXPECT_EQ(TextOf(*r.FindField(String("~1"))), "");
  EXPECT_EQ(r.FindField(String("~22"))->IsEmpty(), 1);
  EXPECT_EQ(TextOf(*r.FindField(String("~17"))), "3.0");
  // A copy into a PGN base skips the deleted game and keeps the text as a record.
  Base* pgn = CreateBase(OwnText(name_ + "_copy"), CbhBase::Pattern(), 2);
  ASSERT_NE(pgn, nullptr);
  EXPECT_EQ(b->AppendAnother(nullptr, pgn, false, 0, nullptr), 2);
  Record back(pgn->GetRecordPattern());
  pgn->Read(0, back);
  EXPECT_EQ(TextOf(*back.FindField(String("~1"))), "Tal, Mikhail");
  EXPECT_EQ(TextOf(*back.FindField(String("~18"))), "C43");
  CloseBase(pgn);
  CloseBase(b);
}

TEST_F(CbhBaseTest, CopyIntoANativeBaseKeepsEveryGame) {
  const auto games = WriteSamples(60);
  Base* b = OpenBase(OwnText(name_), 5);
  ASSERT_NE(b, nullptr);
  Base* native = CreateBase(OwnText(name_ + "_copy"), CbhBase::Pattern(), 0);
  ASSERT_NE(native, nullptr);
  EXPECT_EQ(b->AppendAnother(nullptr, native, false, 0, nullptr), 60);
  Record r(native->GetRecordPattern());
  for (int k = 0; k < 60; ++k) {
    native->Read(k, r);
    EXPECT_EQ(TextOf(*r.FindField(String("~1"))), Fit(Tag(games[std::size_t(k)], "White")));
    Game* moves = static_cast<Game*>(r.FindField(String("~22"))->GetBody());
    ASSERT_EQ(Elements(moves), Read(game_, games[std::size_t(k)])) << k;
  }
  CloseBase(native);
  CloseBase(b);
}

TEST_F(CbhBaseTest, MissingAndInconsistentFilesGiveNumberedErrors) {
  WriteSamples(20);
  const auto cbh = Bytes(".cbh"), cbg = Bytes(".cbg"), cba = Bytes(".cba"), cbp = Bytes(".cbp"),
             cbt = Bytes(".cbt");
  EXPECT_EQ(OpenAndReadAll(), 0u);
  // A missing move file or player file.
  std::remove((name_ + ".cbg").c_str());
  EXPECT_EQ(OpenAndReadAll(), 503u);
  PutBytes(".cbg", cbg);
  std::remove((name_ + ".cbp").c_str());
  EXPECT_EQ(OpenAndReadAll(), 503u);
  PutBytes(".cbp", cbp);
  // A header that counts more games than the file holds; a cut record file.
  auto h = cbh;
  h[9] = std::uint8_t(h[9] + 1);
  PutBytes(".cbh", h);
  EXPECT_EQ(OpenAndReadAll(), 945u);
  PutBytes(".cbh", std::vector<std::uint8_t>(cbh.begin(), cbh.end() - 10));
  EXPECT_EQ(OpenAndReadAll(), 945u);
  // A move offset past the end of the move file; a move record longer than the file.
  h = cbh;
  h[46 + 1] = 0x7F;
  PutBytes(".cbh", h);
  EXPECT_EQ(OpenAndReadAll(), 945u);
  PutBytes(".cbh", cbh);
  PutBytes(".cbg", std::vector<std::uint8_t>(cbg.begin(), cbg.end() - 3));
  EXPECT_EQ(OpenAndReadAll(), 945u);
  PutBytes(".cbg", cbg);
  // A player id past the player file; entity counts past the end of their files.
  h = cbh;
  h[46 + 9] = 0x7F;
  PutBytes(".cbh", h);
  EXPECT_EQ(OpenAndReadAll(), 945u);
  PutBytes(".cbh", cbh);
  auto p = cbp;
  p[1] = 0x7F;
  PutBytes(".cbp", p);
  EXPECT_EQ(OpenAndReadAll(), 945u);
  PutBytes(".cbp", cbp);
  auto t = cbt;
  t[12] = 0;  // a data size below what a tournament needs
  PutBytes(".cbt", t);
  EXPECT_EQ(OpenAndReadAll(), 945u);
  PutBytes(".cbt", cbt);
  // An annotation whose size is 0 would make a reader go round in place.
  ASSERT_GT(cba.size(), 26u + 14u + 6u);
  auto a = cba;
  a[26 + 14 + 4] = 0;
  a[26 + 14 + 5] = 0;
  PutBytes(".cba", a);
  EXPECT_EQ(OpenAndReadAll(), 945u);
  PutBytes(".cba", cba);
  EXPECT_EQ(OpenAndReadAll(), 0u);
}

TEST_F(CbhBaseTest, RandomCutsAndFlipsNeverCrash) {
  WriteSamples(12);
  std::mt19937 rng(11);
  for (const char* ext : {".cbh", ".cbg", ".cba", ".cbp", ".cbt", ".cbc", ".cbs"}) {
    const auto original = Bytes(ext);
    for (int round = 0; round < 60; ++round) {
      auto b = original;
      if (round % 2 == 0) {
        b.resize(rng() % (b.size() + 1));
      } else {
        for (int k = 0; k < 4; ++k) b[rng() % b.size()] ^= std::uint8_t(1 + rng() % 255);
      }
      PutBytes(ext, b);
      const unsigned code = OpenAndReadAll();
      EXPECT_TRUE(code == 0 || code == 945 || code == 503) << ext << " " << code;
    }
    PutBytes(ext, original);
  }
  EXPECT_EQ(OpenAndReadAll(), 0u);
}

}  // namespace
}  // namespace ludrex::testing
