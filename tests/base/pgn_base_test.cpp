// The PGN base: finding games, the pattern of an opened file, reading, appending and replacing
// games, the OEM flag, large files and bad input.
#include "base/pgn/pgn_base.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../record/chess_helpers.h"
#include "../record/helpers.h"
#include "base/dispatch.h"
#include "base/registry.h"
#include "capture.h"
#include "record/field_chess.h"
#include "record/field_classes.h"
#include "record/record.h"
#include "search/subset.h"
#include "storage/files.h"

namespace ludrex::testing {
namespace {

String Own(const std::string& s) { return String::Copy(s.data(), std::uint32_t(s.size())); }
[[maybe_unused]] std::string S2(const String& s) { return std::string(s.Text(), s.Length()); }

class PgnBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_ = std::make_unique<CaptureScope>();
    CreateRegistry();
    RegisterPgnBase();
    name_ = ::testing::TempDir() + "ludrex_pgn_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove((name_ + ".pgn").c_str());
  }
  void TearDown() override {
    Registry()->CloseAll();
    DestroyRegistry();
    std::remove((name_ + ".pgn").c_str());
    scope_.reset();
  }
  void Put(const std::string& text) const {
    std::ofstream out(name_ + ".pgn", std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string File() const { return ReadFile(name_ + ".pgn"); }
  std::unique_ptr<PgnBase> Open() { return std::make_unique<PgnBase>(Own(name_), nullptr); }
  static std::string Text(Field& f) { return Str(f.ToText()); }
  static std::vector<Elem> Moves(Field& f) {
    return Elements(dynamic_cast<ChessField&>(f).GetGame());
  }

  std::unique_ptr<CaptureScope> scope_;
  std::string name_;
};

TEST_F(PgnBaseTest, EmptyFileAndPatternOfFirstGame) {
  Put("");
  auto b = Open();
  EXPECT_EQ(b->RecordCount(), 0);
  ASSERT_EQ(b->GetRecordPattern().Count(), 1);
  EXPECT_EQ(Str(b->GetRecordPattern()[0].name), "~22");
  Record r(b->GetRecordPattern());
  EXPECT_RAISES(903, b->Read(0, r));
  b.reset();

  Put("[Event \"E\"]\r\n[Site \"S\"]\r\n[Date \"2001.02.03\"]\r\n[Round \"4\"]\r\n"
      "[White \"W\"]\r\n[Black \"B\"]\r\n[Result \"1-0\"]\r\n[FEN \"8/8/8/8/8/8/8/K6k w - - 0 "
      "1\"]\r\n"
      "[SetUp \"1\"]\r\n[Opening \"O\"]\r\n[whiteelo \"2400\"]\r\n\r\n1. Kb1 1-0\r\n");
  b = Open();
  const RecordPattern& p = b->GetRecordPattern();
  ASSERT_EQ(p.Count(), 10);
  const char* names[] = {"~16", "~11", "~15", "~17", "~1", "~2", "~14", "Opening", "~9", "~22"};
  const int types[] = {1, 1, 3, 6, 1, 1, 5, 1, 2, 4};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(Str(p[i].name), names[i]) << i;
    EXPECT_EQ(p[i].type, types[i]) << i;
    EXPECT_EQ(p[i].flags, 0u);
  }
  EXPECT_EQ(Str(p[2].param), "F");
  EXPECT_EQ(Str(p[8].param), "2u");
  Record r2(p);
  b->Read(0, r2);
  EXPECT_EQ(Text(r2[0]), "E");
  EXPECT_EQ(r2[8].GetInt(), 2400);
  EXPECT_EQ(Text(r2[9]).substr(0, 5), "Error");  // a set-up start is not a move
  EXPECT_EQ(dynamic_cast<ChessField&>(r2[9]).HasSetup(), 1);
  EXPECT_EQ(Moves(r2[9]).size(), 2u);
}

TEST_F(PgnBaseTest, FindsGamesAroundCommentsAndBlankLines) {
  Put("[Event \"1\"]\n\n1. e4 {a [Event \"no\"] comment\n[Event \"still no\"]} e5 *\n"
      "[Event \"2\"]\n1. d4 *\n\n\n[Event \"3\"]\n\n1. c4 ; [Event \"no\"]\n*\n");
  auto b = Open();
  ASSERT_EQ(b->RecordCount(), 3);
  Record r(b->GetRecordPattern());
  for (int i = 0; i < 3; ++i) {
    b->Read(i, r);
    EXPECT_EQ(Text(r[0]), std::to_string(i + 1));
  }
  b->Read(0, r);
  EXPECT_EQ(Moves(r[1]).size(), 3u);  // e4, the comment, e5
}

// Every game of the data files written into a new base and read back after reopening.
TEST_F(PgnBaseTest, DataFilesRoundTrip) {
  for (const char* file : {"/sample-games.pgn", "/eco.pgn"}) {
    Put(ReadFile(std::string(LUDREX_SHARED_DATA) + file));
    auto source = Open();
    const RecordPattern pattern = source->GetRecordPattern();
    const std::string copyName = name_ + "_copy";
    std::remove((copyName + ".pgn").c_str());
    {
      PgnBase copy(Own(copyName), pattern, true);
      Record r(pattern);
      for (std::int32_t i = 0; i < source->RecordCount(); ++i) {
        source->Read(i, r);
        EXPECT_EQ(copy.Write(kAppendRecord, r), i);
      }
    }
    auto copyBase = std::make_unique<PgnBase>(Own(copyName), nullptr);
    PgnBase& copy = *copyBase;
    ASSERT_EQ(copy.RecordCount(), source->RecordCount()) << file;
    ASSERT_EQ(copy.GetRecordPattern().Count(), pattern.Count());
    Record a(pattern), b(pattern);
    for (std::int32_t i = 0; i < source->RecordCount(); ++i) {
      source->Read(i, a);
      copy.Read(i, b);
      for (std::int32_t k = 0; k < pattern.Count(); ++k) {
        if (pattern[k].type == 4) {
          ASSERT_EQ(Moves(a[k]), Moves(b[k])) << file << " game " << i;
        } else {
          // Compared as written: an empty string is written and read back as "?".
          ASSERT_EQ(Str(a[k].Pack(kPgnBase, pattern[k].param)),
                    Str(b[k].Pack(kPgnBase, pattern[k].param)))
              << file << " game " << i << " field " << k;
        }
      }
    }
    copyBase.reset();
    // What is written is plain PGN: a blank line before the moves, short lines.
    const std::string text = ReadFile(copyName + ".pgn");
    EXPECT_NE(text.find("\"]\r\n\r\n1."), std::string::npos);
    std::size_t longest = 0, at = 0;
    while (at < text.size()) {
      std::size_t e = text.find("\r\n", at);
      if (e == std::string::npos) e = text.size();
      if (text[at] != '[') longest = std::max(longest, e - at);
      at = e + 2;
    }
    EXPECT_LT(longest, 80u);
    std::remove((copyName + ".pgn").c_str());
  }
}

RecordPattern SmallPattern() {
  RecordPattern p;
  p.Append(FieldSpec(1, String("~16"), 0, String("")));
  p.Append(FieldSpec(1, String("~1"), 0, String("")));
  p.Append(FieldSpec(5, String("~14"), 0, String("")));
  p.Append(FieldSpec(4, String("~22"), 0, String("")));
  return p;
}

void SetGame(Record& r, const std::string& event, const std::string& moves) {
  r[0].SetText(Own(event));
  r[3].Unpack(kPgnBase, reinterpret_cast<const std::uint8_t*>(moves.data()),
              std::int32_t(moves.size()), String(""));
}

TEST_F(PgnBaseTest, AppendReplaceLastAndMiddle) {
  const RecordPattern p = SmallPattern();
  auto b = std::make_unique<PgnBase>(Own(name_), p, true);
  Record r(p);
  r[1].SetText(String("White"));
  for (int i = 0; i < 10; ++i) {
    SetGame(r, "G" + std::to_string(i), "1. e4 e5");
    EXPECT_EQ(b->Write(i % 2 ? kAppendRecord : kAppendSortedRecord, r), i);
  }
  EXPECT_RAISES(903, b->Write(11, r));
  EXPECT_RAISES(903, b->Write(-1, r));
  // A record with only some of the fields: the others keep the game's old values.
  RecordPattern only;
  only.Append(FieldSpec(1, String("~16"), 0, String("")));
  Record part(only);
  part[0].SetText(String("Game three, now much longer than before"));
  const std::uint32_t before = b->GameOffset(5);
  EXPECT_EQ(b->Write(3, part), 3);
  EXPECT_GT(b->GameOffset(5), before);
  // The last game, replaced by a shorter one.
  SetGame(r, "L", "1. d4");
  EXPECT_EQ(b->Write(9, r), 9);
  EXPECT_EQ(b->RecordCount(), 10);
  b.reset();
  b = Open();
  ASSERT_EQ(b->RecordCount(), 10);
  Record back(p);
  for (int i = 0; i < 10; ++i) {
    b->Read(i, back);
    const std::string event = i == 3   ? "Game three, now much longer than before"
                              : i == 9 ? "L"
                                       : "G" + std::to_string(i);
    EXPECT_EQ(Text(back[0]), event);
    EXPECT_EQ(Text(back[1]), "White");
    EXPECT_EQ(Text(back[3]), i == 9 ? "1. Pd2-d4 " : "1. Pe2-e4 Pe7-e5 ");
  }
  b.reset();
  EXPECT_EQ(File().substr(File().size() - 11), "1. d4 *\r\n\r\n");
}

// A tail longer than what is kept in memory goes through a temporary file.
TEST_F(PgnBaseTest, ReplaceBeforeALargeTail) {
  const std::string big(9000000, 'x');
  Put("[Event \"first\"]\n\n1. e4 *\n\n[Event \"big\"]\n\n1. d4 {" + big +
      "} d5 *\n\n[Event \"last\"]\n\n1. c4 *\n");
  auto b = Open();
  ASSERT_EQ(b->RecordCount(), 3);
  RecordPattern only;
  only.Append(FieldSpec(1, String("~16"), 0, String("")));
  Record part(only);
  part[0].SetText(String("the first game, renamed"));
  b->Write(0, part);
  Record r(b->GetRecordPattern());
  b->Read(0, r);
  EXPECT_EQ(Text(r[0]), "the first game, renamed");
  EXPECT_EQ(Text(r[1]), "1. Pe2-e4 ");
  b->Read(1, r);
  EXPECT_EQ(Text(r[0]), "big");
  ASSERT_EQ(Moves(r[1]).size(), 3u);
  EXPECT_EQ(Moves(r[1])[1].bytes.size(), big.size() + 1);
  b->Read(2, r);
  EXPECT_EQ(Text(r[0]), "last");
}

// Replacing an early game of many moves the offsets of every game after it, across many blocks
// of the index.
TEST_F(PgnBaseTest, ReplaceEarlyGameShiftsEveryLaterOffset) {
  constexpr int kGames = 40000;
  std::string text;
  for (int i = 0; i < kGames; ++i) text += "[Event \"G" + std::to_string(i) + "\"]\n\n1. e4 *\n\n";
  Put(text);
  auto b = Open();
  ASSERT_EQ(b->RecordCount(), kGames);
  std::vector<std::uint32_t> before;
  for (int i = 0; i < kGames; ++i) before.push_back(b->GameOffset(i));
  RecordPattern only;
  only.Append(FieldSpec(1, String("~16"), 0, String("")));
  Record part(only);
  part[0].SetText(String("a much longer name for game two"));
  b->Write(2, part);
  const std::uint32_t shift = b->GameOffset(3) - before[3];
  EXPECT_GT(shift, 0u);
  for (int i = 0; i < kGames; ++i) {
    ASSERT_EQ(b->GameOffset(i), before[std::size_t(i)] + (i > 2 ? shift : 0)) << "game " << i;
  }
  Record r(b->GetRecordPattern());
  for (int i : {2, 3, 16386, 16387, 32771, kGames - 1}) {
    b->Read(i, r);
    EXPECT_EQ(Text(r[0]), i == 2 ? "a much longer name for game two" : "G" + std::to_string(i));
  }
}

TEST_F(PgnBaseTest, OemFlagConvertsValuesAndMoves) {
  const RecordPattern p = SmallPattern();
  auto b = std::make_unique<PgnBase>(Own(name_), p, true);
  EXPECT_FALSE(b->OemCoding());
  b->SetOemCoding(true);
  Record r(p), back(p);
  SetGame(r, "\xCC\xEE\xF1\xEA\xE2\xE0", "1. e4 {\xF5\xEE\xE4} e5");  // Cyrillic in 1251
  b->Write(kAppendRecord, r);
  b->Read(0, back);
  EXPECT_EQ(Text(back[0]), "\xCC\xEE\xF1\xEA\xE2\xE0");
  EXPECT_EQ(Moves(back[3]), Moves(r[3]));
  b.reset();  // the file is read once the base has let it go
  const std::string file = File();
  EXPECT_NE(file.find("\x8C\xAE\xE1\xAA\xA2\xA0"), std::string::npos);  // the same in 866
  EXPECT_EQ(file.find("\xCC\xEE"), std::string::npos);
  b = Open();  // reopened without the flag: the 866 bytes come as they are
  EXPECT_FALSE(b->OemCoding());
  Record raw(b->GetRecordPattern());
  b->Read(0, raw);
  EXPECT_EQ(Text(raw[0]), "\x8C\xAE\xE1\xAA\xA2\xA0");
}

TEST_F(PgnBaseTest, OpenThroughDispatchWithPatternAndErase) {
  Put("[Event \"a\"]\n\n1. e4 *\n\n[Event \"b\"]\n[WhiteElo \"2100\"]\n\n1. d4 *\n");
  Base* b = OpenBase(Own(name_), 2);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->RecordCount(), 2);
  EXPECT_EQ(b->GetRecordPattern().Count(), 2);  // Event and the moves: WhiteElo is not there
  EXPECT_RAISES(917, OpenPgnBaseWithPattern(Own(name_), SmallPattern()));
  CloseBase(b);
  RecordPattern p;
  p.Append(FieldSpec(2, String("~9"), 0, String("2u")));
  p.Append(FieldSpec(4, String("~22"), 0, String("")));
  b = OpenPgnBaseWithPattern(Own(name_), p);
  Record r(p);
  b->Read(1, r);
  EXPECT_EQ(r[0].GetInt(), 2100);
  b->Read(0, r);
  EXPECT_EQ(r[0].GetInt(), 0);
  CloseBase(b);
  EraseBase(Own(name_), 2);
  EXPECT_FALSE(FileExists((name_ + ".pgn").c_str()));
}

#if defined(__SANITIZE_ADDRESS__)
constexpr int kManyGames = 50000;  // the same test, smaller under the sanitizer
#else
constexpr int kManyGames = 200000;
#endif

TEST_F(PgnBaseTest, ManyGamesReadWithoutTheOnesBefore) {
  std::string text;
  text.reserve(std::size_t(kManyGames) * 64);
  std::vector<std::uint32_t> offsets;
  for (int i = 0; i < kManyGames; ++i) {
    offsets.push_back(std::uint32_t(text.size()));
    text +=
        "[Event \"G" + std::to_string(i) + "\"]\r\n[White \"X\"]\r\n\r\n1. e4 e5 2. Nf3 *\r\n\r\n";
  }
  // Damage an early game: reading the last one must not care.
  text[offsets[5] + 20] = '{';
  Put(text);
  auto b = Open();
  ASSERT_EQ(b->RecordCount(), kManyGames - 0);
  EXPECT_EQ(b->GameOffset(kManyGames - 1), offsets.back());
  Record r(b->GetRecordPattern());
  b->Read(kManyGames - 1, r);
  EXPECT_EQ(Text(r[0]), "G" + std::to_string(kManyGames - 1));
  EXPECT_EQ(Text(r[2]), "1. Pe2-e4 Pe7-e5 2. Ng1-f3 ");
}

TEST_F(PgnBaseTest, BadInputNeverCrashes) {
  std::mt19937 rng(5);
  std::string garbage(200000, '\0');
  for (auto& c : garbage) c = char(rng());
  std::vector<std::string> files = {
      garbage,
      "1. e4 e5 2. Nf3 no tags at all\n",
      "[Event \"x\"]\n\n1. e4 { never closed [Event \"y\"]\n1. d4\n",
      "[Event \"open quote\n[Site \"s\"]\n\n1. e4 *\n",
      "[Event \"v\"]\n\n1. e4 (1. d4 (1. c4 e5\n",
      "[Event \"illegal\"]\n\n1. e4 e5 2. Ke4 Nc6 *\n",
      "[Event \"long\"]\n\n" + std::string(10 << 20, 'a') + "\n",
      "[" + std::string(100000, '"'),
      "[\\",
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    Put(files[i]);
    std::unique_ptr<PgnBase> b;
    try {
      b = Open();
    } catch (const Failure&) {
      ADD_FAILURE() << "open " << i << " error " << LastErrorCode();
      continue;
    }
    Record r(b->GetRecordPattern());
    try {
      for (std::int32_t g = 0; g < b->RecordCount(); ++g) b->Read(g, r);
    } catch (const Failure&) {
      ADD_FAILURE() << "file " << i << " error " << LastErrorCode() << " "
                    << Capture().errors.back();
    }
    if (i == 5) {
      b->Read(0, r);
      EXPECT_EQ(Text(r[1]), "1. Pe2-e4 Pe7-e5 ") << "reads as far as it goes";
    }
  }
}

}  // namespace
}  // namespace ludrex::testing
