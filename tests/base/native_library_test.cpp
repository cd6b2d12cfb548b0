// Libraries end to end: games whose White and Black refer to an embedded "Players" library, fast
// access, embedded-base operations and the native AppendAnother.
#include "native_test_support.h"

namespace ludrex {
namespace {

using testing::NativeTest;
using testing::Own;
using testing::PlayerName;
using testing::SetPlayer;
using testing::Text;

void Fill(Record& r, const std::string& white, const std::string& black, const std::string& event,
          int result) {
  // Sorted pattern: White, Black, Date, Result (group 0), Event (group 1).
  SetPlayer(r[0], white);
  SetPlayer(r[1], black);
  r[3].SetInt(result);
  r[4].SetText(Own(event));
}

TEST_F(NativeTest, GamesWithPlayerLibraryWriteAndReadNames) {
  Base* b = Create(testing::GamesPattern());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->EmbeddedBaseCount(), 1);
  EXPECT_EQ(std::string(b->EmbeddedBaseName(0).Text()), "Players");
  EXPECT_THROW(b->EmbeddedBaseName(1), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 908u);
  const RecordPattern& p = b->GetRecordPattern();
  ASSERT_EQ(p.Count(), 5);
  EXPECT_EQ(std::string(p[4].name.Text()), "~16");
  ASSERT_NE(p[0].library, nullptr);
  EXPECT_EQ(p[0].library->Count(), 1);

  {
    Record r(p);
    Fill(r, "Tal", "Botvinnik", "Moscow", 2);
    EXPECT_EQ(b->Write(kAppendRecord, r), 0);
    Fill(r, "Botvinnik", "Tal", "Moscow", 1);
    EXPECT_EQ(b->Write(kAppendRecord, r), 1);
    Fill(r, "Anand", "", "Linares", 3);  // an empty name is no library record
    EXPECT_EQ(b->Write(kAppendRecord, r), 2);
    EXPECT_EQ(r[1].GetInt(), -1);
  }
  Base* players = OpenEmbeddedBase(b, String("Players"));
  EXPECT_EQ(players->RecordCount(), 3);  // Tal, Botvinnik, Anand once each
  ShortInfo info;
  b->GetEmbeddedShortInfo(info, String("Players"));
  EXPECT_EQ(info.count, 3);
  BaseInfo pi;
  players->GetInfo(pi);
  EXPECT_EQ(std::string(pi.fullName.Text(), pi.fullName.Length()), name_ + ",Players");
  CloseBase(players);
  b->Update();
  CloseBase(b);

  b = Open();
  ASSERT_NE(b, nullptr);
  {
    Record r(b->GetRecordPattern());
    b->Read(0, r);
    EXPECT_EQ(PlayerName(r[0]), "Tal");
    EXPECT_EQ(PlayerName(r[1]), "Botvinnik");
    EXPECT_EQ(Text(r[4]), "Moscow");
    b->Read(1, r);
    EXPECT_EQ(PlayerName(r[0]), "Botvinnik");
    EXPECT_EQ(r[0].GetInt(), 1);
    b->Read(2, r);
    EXPECT_EQ(PlayerName(r[0]), "Anand");
    EXPECT_TRUE(r[1].IsEmpty());
    // The library's key order: Anand, Botvinnik, Tal.
    Base* lib = OpenEmbeddedBase(b, String("Players"));
    EXPECT_EQ(lib->UnsortedFromSorted(0), 2);
    EXPECT_EQ(lib->UnsortedFromSorted(2), 0);
    ShortInfo embedded;
    b->GetEmbeddedShortInfo(embedded, String("Players"));
    EXPECT_EQ(embedded.count, 3);
    CloseBase(lib);
  }
  CloseBase(b);
  // Closed: the short information of an embedded base comes from its header in the volume.
  ShortInfo closed;
  GetShortInfo(0, Own(name_), closed);
  EXPECT_EQ(closed.count, 3);
  ShortInfo library;
  GetShortInfo(0, Own(name_ + ",Players"), library);
  EXPECT_EQ(library.count, 3);
  GetShortInfo(0, Own(name_ + ",Nobody"), library);
  EXPECT_EQ(library.count, -1);
}

TEST_F(NativeTest, FastAccessAnswersReadsAndLibraryLookups) {
  Base* b = Create(testing::GamesPattern());
  Record r(b->GetRecordPattern());
  for (int k = 0; k < 300; ++k) {
    Fill(r, "W" + std::to_string(k % 37), "B" + std::to_string(k % 11), "E" + std::to_string(k),
         k % 4);
    b->Write(kAppendRecord, r);
  }
  EXPECT_EQ(b->GetFastAccess(), nullptr);
  b->EnableFastAccess(nullptr);
  EXPECT_NE(b->GetFastAccess(), nullptr);
  Base* lib = OpenEmbeddedBase(b, String("Players"));
  EXPECT_NE(lib->GetFastAccess(), nullptr);  // the library's lookups run in memory too
  // Writes under fast access go to the files and to the tables alike.
  for (int k = 300; k < 400; ++k) {
    Fill(r, "W" + std::to_string(k % 53), "B" + std::to_string(k % 11), "E" + std::to_string(k),
         k % 4);
    b->Write(kAppendRecord, r);
  }
  Fill(r, "Rewritten", "B0", "A much longer event name than before", 1);
  b->Write(5, r);
  auto check = [&](Base* base) {
    Record x(base->GetRecordPattern());
    for (int k = 0; k < 400; ++k) {
      base->Read(k, x);
      if (k == 5) {
        ASSERT_EQ(PlayerName(x[0]), "Rewritten");
        ASSERT_EQ(Text(x[4]), "A much longer event name than before");
        continue;
      }
      ASSERT_EQ(PlayerName(x[0]), "W" + std::to_string(k % (k < 300 ? 37 : 53))) << k;
      ASSERT_EQ(PlayerName(x[1]), "B" + std::to_string(k % 11));
      ASSERT_EQ(Text(x[4]), "E" + std::to_string(k));
    }
  };
  check(b);
  EXPECT_EQ(lib->RecordCount(), 53 + 11 + 1);
  b->DisableFastAccess();
  EXPECT_EQ(lib->GetFastAccess(), nullptr);
  CloseBase(lib);
  check(b);
  CloseBase(b);
  b = Open();
  check(b);
  CloseBase(b);
}

TEST_F(NativeTest, AppendAnotherCopiesGamesAndLibraries) {
  Base* src = Create(testing::GamesPattern());
  Record r(src->GetRecordPattern());
  for (int k = 0; k < 1200; ++k) {
    Fill(r, "P" + std::to_string(k % 30), "Q" + std::to_string(k % 7), "E" + std::to_string(k),
         k % 4);
    src->Write(kAppendRecord, r);
  }
  src->ToggleDelete(3, 1);
  std::string other = name_ + "_dst";
  EraseBase(Own(other), 0);
  Base* dst = CreateBase(Own(other), testing::GamesPattern(), 0);
  // Bit 1: the shared algorithm; otherwise the native copy (granularity 500). Same records.
  EXPECT_EQ(src->AppendAnother(nullptr, dst, false, 2, nullptr), 1199);
  EXPECT_EQ(src->AppendAnother(nullptr, dst, false, 0, nullptr), 1199);
  EXPECT_EQ(dst->RecordCount(), 2398);
  Record x(dst->GetRecordPattern());
  for (int k : {0, 2, 3, 4, 1199, 1200, 1201, 2397}) {
    dst->Read(k, x);
    int s = k < 1199 ? k : k - 1199;
    if (s >= 3) ++s;  // the deleted game is not copied
    EXPECT_EQ(PlayerName(x[0]), "P" + std::to_string(s % 30)) << k;
    EXPECT_EQ(PlayerName(x[1]), "Q" + std::to_string(s % 7)) << k;
    EXPECT_EQ(Text(x[4]), "E" + std::to_string(s)) << k;
  }
  Base* lib = OpenEmbeddedBase(dst, String("Players"));
  EXPECT_EQ(lib->RecordCount(), 37);
  EXPECT_EQ(lib->GetFastAccess(), nullptr);  // switched off again after the copy
  CloseBase(lib);
  CloseBase(dst);
  CloseBase(src);
  EraseBase(Own(other), 0);
}

// White and Black as plain texts, in the same names.
RecordPattern TextGamesPattern() {
  RecordPattern p;
  p.Append(FieldSpec(kStringType, String("~1"), 0, String("")));
  p.Append(FieldSpec(kStringType, String("~2"), 0, String("")));
  p.Append(FieldSpec(kStringType, String("~16"), 0, String("")));
  return p;
}

TEST_F(NativeTest, LibraryFieldsConvertToAndFromTexts) {
  Base* b = Create(testing::GamesPattern());
  {
    Record r(b->GetRecordPattern());
    Fill(r, "Capablanca", "Lasker", "St Petersburg", 2);
    b->Write(kAppendRecord, r);
    Fill(r, "Lasker", "Capablanca", "Havana", 3);
    b->Write(kAppendRecord, r);
  }
  // A record whose White is a text reads the name through a field of the base's type.
  {
    Record texts(TextGamesPattern());
    b->Read(1, texts);
    EXPECT_EQ(Text(texts[0]), "Lasker");
    EXPECT_EQ(Text(texts[1]), "Capablanca");
    EXPECT_EQ(Text(texts[2]), "Havana");
    // Written back as texts: the names go through the library again, no new entries.
    texts[0].SetText(String("Alekhine"));
    b->Write(1, texts);
  }
  Base* lib = OpenEmbeddedBase(b, String("Players"));
  EXPECT_EQ(lib->RecordCount(), 3);
  CloseBase(lib);
  // Index-only fields give the library record numbers without loading the records.
  {
    RecordPattern p = b->GetRecordPattern();
    p[0].flags |= kFlagIndexOnly;
    p[1].flags |= kFlagIndexOnly;
    Record numbers(p);
    b->Read(1, numbers);
    EXPECT_EQ(numbers[0].GetInt(), 2);
    EXPECT_EQ(numbers[1].GetInt(), 0);
    // And a record made of numbers writes them as they are.
    numbers[0].SetInt(1);
    b->Write(0, numbers);
    Record r(b->GetRecordPattern());
    b->Read(0, r);
    EXPECT_EQ(testing::PlayerName(r[0]), "Lasker");
  }
  // Copying to a base of texts and back.
  std::string other = name_ + "_texts";
  EraseBase(Own(other), 0);
  Base* t = CreateBase(Own(other), TextGamesPattern(), 0);
  EXPECT_EQ(b->AppendAnother(nullptr, t, false, 0, nullptr), 2);
  Record x(t->GetRecordPattern());
  t->Read(0, x);
  EXPECT_EQ(Text(x[0]), "Lasker");
  EXPECT_EQ(Text(x[1]), "Capablanca");  // both numbers were written to game 0
  t->Read(1, x);
  EXPECT_EQ(Text(x[0]), "Alekhine");
  EXPECT_EQ(t->AppendAnother(nullptr, b, false, 0, nullptr), 2);
  EXPECT_EQ(b->RecordCount(), 4);
  Record r(b->GetRecordPattern());
  b->Read(3, r);
  EXPECT_EQ(testing::PlayerName(r[0]), "Alekhine");
  EXPECT_EQ(r[0].GetInt(), 2);  // found in the library, not added again
  CloseBase(t);
  CloseBase(b);
  EraseBase(Own(other), 0);
}

TEST_F(NativeTest, EmbeddedBasesCreateOpenAndRefuseNesting) {
  RecordPattern p;
  p.Append(FieldSpec(kIntType, String("I"), 0, String("4")));
  Base* b = Create(p);
  Base* e = CreateEmbeddedBase(b, String("Notes"), testing::PlayersPattern());
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(b->EmbeddedBaseCount(), 1);
  Record r(e->GetRecordPattern());
  r[0].SetText(String("hello"));
  e->Write(kAppendRecord, r);
  EXPECT_THROW(e->CreateEmbedded(String("Deeper"), p), Failure);
  EXPECT_EQ(testing::LastErrorCode(), 915u);
  CloseBase(e);
  b->Update();
  CloseBase(b);
  b = Open();
  e = OpenEmbeddedBase(b, String("Notes"));
  ASSERT_EQ(e->RecordCount(), 1);
  e->Read(0, r);
  EXPECT_EQ(Text(r[0]), "hello");
  CloseBase(e);
  CloseBase(b);
}

}  // namespace
}  // namespace ludrex
