// ChessBase .cbh databases as a host sees them: opened as base type 5, read field by field and
// as PGN, copied into native and PGN bases; writing and creating refused; damaged files give
// numbered errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cbh_writer.h"
#include "host_errors.h"
#include "ludrex.h"

namespace {

using host_test::g_errors;

class HostCbh : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    name_ = ::testing::TempDir() + "ludrex_host_cbh";
    copy_ = name_ + "_copy";
    Base_BaseErase(name_.c_str(), 5);
    cbhtest::DatabaseWriter w;
    cbhtest::Game g;
    g.white = "Kasparov, Garry";
    g.black = "Karpov, Anatoly";
    g.event = "World Championship";
    g.site = "Moscow";
    g.annotator = "Nunn, John";
    g.source = "Informant";
    g.year = 1985;
    g.month = 10;
    g.day = 15;
    g.round = 16;
    g.result = 2;
    g.whiteElo = 2700;
    g.blackElo = 2720;
    g.eco = 2 * 100 + 88 + 1;  // C88
    g.moves = "e2e4 c7c5 ( e7e5 g1f3 ) g1f3 {a comment} e7e6 $1 d2d4 c5d4 f3d4";
    w.Add(g);
    cbhtest::Game s;
    s.white = "Study";
    s.black = "";
    s.event = "Endgames";
    s.result = 1;
    s.fen = "8/4P3/8/8/8/2k5/8/4K3 w - - 0 1";
    s.moves = "e7e8q c3d3 e8e2";
    w.Add(s);
    g.deleted = true;
    w.Add(g);
    ASSERT_TRUE(w.Save(name_));
  }
  void TearDown() override {
    Base_BaseErase(name_.c_str(), 5);
    Base_BaseErase(copy_.c_str(), 0);
    Base_BaseErase(copy_.c_str(), 2);
    SetErrorFunction(nullptr);
  }
  static std::string LastError() { return g_errors.empty() ? "" : g_errors.back(); }
  std::string name_, copy_;
};

TEST_F(HostCbh, OpenReadFieldsAndPgn) {
  LudrexBase* b = Base_BaseOpen(name_.c_str(), 5);
  ASSERT_NE(b, nullptr) << LastError();
  EXPECT_EQ(Base_GetBaseType(b), 5);
  EXPECT_EQ(Base_GetBaseLength(b), 3);
  EXPECT_EQ(Base_GetRecordLength(b), 13);
  HostRecordPattern* p = Base_GetRecordPattern(b);
  LudrexRecord* r = Record_CreateRecord(p);
  Base_Read(b, 0, r);
  auto text = [&](int i) { return std::string(StringField_GetStrPtr(Record_GetField(r, i))); };
  EXPECT_EQ(text(0), "World Championship");
  EXPECT_EQ(text(1), "Moscow");
  EXPECT_EQ(DateField_GetYear(Record_GetField(r, 2)), 1985);
  EXPECT_EQ(DateField_GetMonth(Record_GetField(r, 2)), 10);
  EXPECT_EQ(DateField_GetDay(Record_GetField(r, 2)), 15);
  EXPECT_EQ(RoundField_GetRoundN(Record_GetField(r, 3)), 16);
  EXPECT_EQ(text(4), "Kasparov, Garry");
  EXPECT_EQ(text(5), "Karpov, Anatoly");
  EXPECT_EQ(ResultField_GetValue(Record_GetField(r, 6)), 2);
  EXPECT_EQ(IntField_GetValue(Record_GetField(r, 7)), 2700);
  EXPECT_EQ(IntField_GetValue(Record_GetField(r, 8)), 2720);
  EXPECT_EQ(ECOField_GetValue(Record_GetField(r, 9)), 288);
  EXPECT_EQ(text(10), "Nunn, John");
  EXPECT_EQ(text(11), "Informant");
  char* pgn = Record_GetPGNBuffer(r);
  ASSERT_NE(pgn, nullptr);
  const std::string t(pgn);
  Record_DeletePGNBuffer(pgn);
  EXPECT_NE(t.find("1. e4 c5 (1... e5 2. Nf3) 2. Nf3 {a comment} 2... e6! 3. d4 cxd4 4."),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("[White \"Kasparov, Garry\"]"), std::string::npos) << t;
  // The study starts from its set-up position and promotes.
  Base_Read(b, 1, r);
  pgn = Record_GetPGNBuffer(r);
  const std::string study(pgn);
  Record_DeletePGNBuffer(pgn);
  EXPECT_NE(study.find("[FEN \"8/4P3/8/8/8/2k5/8/4K3 w - - 0 1\"]"), std::string::npos) << study;
  EXPECT_NE(study.find("1. e8=Q Kd3 2. Qe2+"), std::string::npos) << study;
  EXPECT_EQ(Base_IsDeleted(b, 1), 0);
  EXPECT_EQ(Base_IsDeleted(b, 2), 1);
  // Read only: writing and creating are refused with 907.
  g_errors.clear();
  EXPECT_EQ(Base_Write(b, AppendRecord, r), -1);
  EXPECT_NE(LastError().find("907"), std::string::npos) << LastError();
  EXPECT_EQ(Base_BaseCreate((name_ + "_new").c_str(), p, 5), nullptr);
  EXPECT_NE(LastError().find("907"), std::string::npos) << LastError();
  // Short information without opening.
  Base_BaseDestroy(b);
  unsigned char info[264] = {};
  Base_GetShortInfo(5, name_.c_str(), info);
  std::int32_t count;
  std::memcpy(&count, info, 4);
  EXPECT_EQ(count, 3);
  Record_Destroy(r);
  CPP_DestroyRP(p);
}

TEST_F(HostCbh, AppendIntoNativeAndPgnBases) {
  LudrexBase* b = Base_BaseOpen(name_.c_str(), 5);
  ASSERT_NE(b, nullptr) << LastError();
  HostRecordPattern* p = Base_GetRecordPattern(b);
  for (int type : {0, 2}) {
    LudrexBase* dst = Base_BaseCreate(copy_.c_str(), p, type);
    ASSERT_NE(dst, nullptr) << LastError();
    EXPECT_EQ(Base_AppendAnother(b, dst, nullptr, 0, 0, nullptr), 2);  // the deleted one skipped
    LudrexRecord* r = Record_CreateRecord(p);
    LudrexRecord* s = Record_CreateRecord(p);
    for (int k = 0; k < 2; ++k) {
      Base_Read(dst, k, r);
      Base_Read(b, k, s);
      for (int i = 0; i < 13; ++i) {
        if (i == 12) {
          EXPECT_EQ(ChessField_EqualTo(Record_GetField(r, i), Record_GetField(s, i)), 1);
        } else if (i == 0 || i == 1 || i == 4 || i == 5 || i == 10 || i == 11) {
          // A PGN base writes an empty text as "?".
          std::string copied = StringField_GetStrPtr(Record_GetField(r, i));
          if (type == 2 && copied == "?") copied.clear();
          EXPECT_EQ(copied, StringField_GetStrPtr(Record_GetField(s, i))) << type << " " << k << " " << i;
        }
      }
    }
    Record_Destroy(r);
    Record_Destroy(s);
    Base_BaseDestroy(dst);
  }
  CPP_DestroyRP(p);
  Base_BaseDestroy(b);
}

TEST_F(HostCbh, SortedByEventThroughTheSharedSort) {
  LudrexBase* b = Base_BaseOpen(name_.c_str(), 5);
  ASSERT_NE(b, nullptr) << LastError();
  LudrexSubset* s = Subset_CreateTmp(3);
  Subset_IncludeRange(s, 0, 2);
  HostFieldEntry byEvent[1];
  byEvent[0].type = LUDREX_FIELD_STRING;
  byEvent[0].name = const_cast<char*>("~16");
  byEvent[0].param = 0;
  byEvent[0].text = const_cast<char*>("");
  byEvent[0].extra.value = 0;
  HostRecordPattern sortPattern = {1, byEvent};
  int out[2] = {-1, -1};
  EXPECT_EQ(Base_SortSubset(b, out, s, &sortPattern), 1) << LastError();
  EXPECT_EQ(out[0], 1);  // "Endgames" before "World Championship"
  EXPECT_EQ(out[1], 0);
  Subset_Destroy(s);
  Base_BaseDestroy(b);
}

TEST_F(HostCbh, DamagedFilesGiveNumberedErrors) {
  // A move file cut in the middle of the first game: opening works, reading fails with 945.
  std::vector<char> cbg;
  {
    std::ifstream in(name_ + ".cbg", std::ios::binary);
    cbg.assign(std::istreambuf_iterator<char>(in), {});
  }
  {
    std::ofstream out(name_ + ".cbg", std::ios::binary | std::ios::trunc);
    out.write(cbg.data(), 30);
  }
  LudrexBase* b = Base_BaseOpen(name_.c_str(), 5);
  ASSERT_NE(b, nullptr) << LastError();
  HostRecordPattern* p = Base_GetRecordPattern(b);
  LudrexRecord* r = Record_CreateRecord(p);
  g_errors.clear();
  Base_Read(b, 0, r);
  EXPECT_NE(LastError().find("945"), std::string::npos) << LastError();
  Record_Destroy(r);
  CPP_DestroyRP(p);
  Base_BaseDestroy(b);
  // A missing move file: 503 at open.
  std::remove((name_ + ".cbg").c_str());
  g_errors.clear();
  EXPECT_EQ(Base_BaseOpen(name_.c_str(), 5), nullptr);
  EXPECT_NE(LastError().find("503"), std::string::npos) << LastError();
}

}  // namespace
