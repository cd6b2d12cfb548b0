// The game-score criterion as a host uses it: the accessors and their checks, ChessField_Find's
// main-line preference, and Base_Search with a position criterion on a PGN base and on a native
// base copied from it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host_errors.h"
#include "ludrex.h"

namespace {

using host_test::g_errors;

HostFieldEntry Entry(int type, const char* name) {
  HostFieldEntry e;
  std::memset(&e, 0, sizeof e);
  e.type = type;
  e.name = const_cast<char*>(name);
  e.text = const_cast<char*>("");
  return e;
}

bool LastErrorIs(const char* code) {
  return !g_errors.empty() && g_errors.back().find(code) != std::string::npos;
}

// Square codes of the position after 1.e4 c5 2.Nf3 d6 (0x88 squares).
void SicilianMasks(uint32_t* m) {
  const char* rows[8] = {"RNBQKB.R", "PPPP.PPP", ".....N..", "....P...",
                         "..p.....", "...p....", "pp..pppp", "rnbqkbnr"};
  for (int sq = 0; sq < 128; ++sq) m[sq] = 0;
  for (int rank = 0; rank < 8; ++rank) {
    for (int file = 0; file < 8; ++file) {
      char c = rows[rank][file];
      uint32_t code = 0x8000;
      const char* kinds = "pnbrqk";
      if (c != '.') {
        int k = static_cast<int>(std::strchr(kinds, c >= 'a' ? c : c + 32) - kinds) + 1;
        code = c >= 'a' ? 0x40u >> k : 0x4000u >> k;
      }
      m[rank * 16 + file] = code;
    }
  }
}

class HostChessCrit : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    HostFieldEntry e = Entry(LUDREX_FIELD_CHESS + LUDREX_CRITERION_BIT, "~22");
    crit_ = Field_CreateField(&e);
    ASSERT_NE(crit_, nullptr);
  }
  void TearDown() override {
    Field_DestroyField(crit_);
    SetErrorFunction(nullptr);
  }
  LudrexField* crit_ = nullptr;
};

TEST_F(HostChessCrit, AccessorsKeepTheirSettingsAndCheckTheirArguments) {
  ChessFieldCrit_SetRestInfo(crit_, 5, 0, 1, 7, 2, 1);
  int pos = -1, regions = -1, flag = -1, side = -1, vars = -1;
  ChessFieldCrit_GetRestInfo(crit_, &pos, &regions, &flag, &side, &vars);
  EXPECT_EQ(pos, 1);
  EXPECT_EQ(regions, 1);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(side, 2);
  EXPECT_EQ(vars, 1);
  ASSERT_NE(ChessFieldCrit_GetNormalPos(crit_), nullptr);
  EXPECT_EQ(ChessFieldCrit_GetMaterial(crit_, 3) - ChessFieldCrit_GetMaterial(crit_, 2), 28);
  EXPECT_EQ(ChessFieldCrit_GetMaterial(crit_, 4), nullptr);
  EXPECT_TRUE(LastErrorIs("12"));

  ChessFieldCrit_SetLength(crit_, 2);
  ChessFieldCrit_SetPair(crit_, 1, 30, 20);
  int upper = 0, lower = 0;
  ChessFieldCrit_GetPair(crit_, 1, &upper, &lower);
  EXPECT_EQ(upper, 30);
  EXPECT_EQ(lower, 20);
  EXPECT_EQ(ChessFieldCrit_GetLength(crit_), 2);
  g_errors.clear();
  ChessFieldCrit_SetPair(crit_, 2, 1, 1);
  EXPECT_TRUE(LastErrorIs("12"));
  ChessFieldCrit_SetLength(crit_, -1);
  EXPECT_TRUE(LastErrorIs("14"));

  ChessFieldCrit_SetNVariations(crit_, 2);
  EXPECT_EQ(ChessFieldCrit_GetNVariations(crit_), 2);
  ChessFieldCrit_SetStartPos(crit_, 9);
  EXPECT_EQ(ChessFieldCrit_GetStartPos(crit_), 1);
  ChessFieldCrit_SetAnyCom(crit_, 4);
  EXPECT_EQ(ChessFieldCrit_GetAnyCom(crit_), 1);

  ChessFieldCrit_UseTextComments(crit_, 1);
  ChessFieldCrit_SetTextCommentsLength(crit_, 2);
  ChessFieldCrit_SetTextCommentInfo(crit_, 0, "abc", 2);
  ChessFieldCrit_SetTextCommentsInfoOptions(crit_, 0, 2, 1);
  EXPECT_EQ(ChessFieldCrit_GetTextCommentsLength(crit_), 2);
  EXPECT_EQ(ChessFieldCrit_GetTextCommentInfo(crit_, 0), 0);
  EXPECT_EQ(ChessFieldCrit_GetTextCommentPrefix(crit_, 0), 1);
  EXPECT_EQ(ChessFieldCrit_GetTextCommentsInfoSearchType(crit_, 0), 2);
  EXPECT_EQ(ChessFieldCrit_GetTextCommentsInfoCaseSensitive(crit_, 0), 1);
  EXPECT_EQ(ChessFieldCrit_GetTextCommentsInfoSearchType(crit_, 1), 1);  // the default
  ChessFieldCrit_ClearTextComments(crit_);
  EXPECT_EQ(ChessFieldCrit_GetTextCommentsLength(crit_), 0);

  const uint32_t list[] = {24, 1, 1, 0x34000000u, 0x2000, 0};
  ChessFieldCrit_SetEventList(crit_, list, 1);
  const void* copy = ChessFieldCrit_GetEventList(crit_);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, static_cast<const void*>(list));
  EXPECT_EQ(std::memcmp(copy, list, sizeof list), 0);
  ChessFieldCrit_SetEventList(crit_, nullptr, 0);
  EXPECT_EQ(ChessFieldCrit_GetEventList(crit_), nullptr);

  // Every setting survives Copy and the packed form.
  int32_t values[12] = {1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
  ChessFieldCrit_SetMatDiff(crit_, values, 2, (32u << 16) | 2u);
  ChessFieldCrit_SetMirrors(crit_, 3);
  ChessFieldCrit_Bishops(crit_, 1, 5);
  HostFieldEntry e = Entry(LUDREX_FIELD_CHESS + LUDREX_CRITERION_BIT, "~22");
  LudrexField* other = Field_CreateField(&e);
  ChessFieldCrit_Copy(other, crit_);
  std::vector<unsigned char> a(4096), b(4096);
  int na = FieldCrit_Pack(crit_, a.data(), 4096);
  int nb = FieldCrit_Pack(other, b.data(), 4096);
  ASSERT_GT(na, 60);
  EXPECT_EQ(na, nb);
  EXPECT_EQ(std::memcmp(a.data(), b.data(), static_cast<std::size_t>(na)), 0);
  LudrexField* third = Field_CreateField(&e);
  FieldCrit_UnPack(third, a.data(), na);
  EXPECT_EQ(FieldCrit_Pack(third, b.data(), 4096), na);
  EXPECT_EQ(std::memcmp(a.data(), b.data(), static_cast<std::size_t>(na)), 0);
  Field_DestroyField(other);
  Field_DestroyField(third);

  // Another class of field is refused.
  HostFieldEntry s = Entry(LUDREX_FIELD_STRING + LUDREX_CRITERION_BIT, "~3");
  LudrexField* text = Field_CreateField(&s);
  g_errors.clear();
  EXPECT_EQ(ChessFieldCrit_GetNormalPos(text), nullptr);
  EXPECT_TRUE(LastErrorIs("803"));
  Field_DestroyField(text);
}

class HostChessSearch : public HostChessCrit {
 protected:
  void SetUp() override {
    HostChessCrit::SetUp();
    name_ = ::testing::TempDir() + "ludrex_chesscrit";
    std::ofstream out(name_ + ".pgn", std::ios::binary);
    out << "[White \"a\"]\n\n1. e4 c5 2. Nf3 d6 3. d4 *\n\n"           // 0: in order
        << "[White \"b\"]\n\n1. Nf3 d6 2. e4 c5 *\n\n"                 // 1: a transposition
        << "[White \"c\"]\n\n1. d4 (1. e4 c5 2. Nf3 d6) 1... d5 *\n\n"  // 2: in a variation
        << "[White \"d\"]\n\n1. e4 e5 2. Nf3 d6 *\n\n"                // 3: another position
        << "[White \"e\"]\n\n1. e4 {the best} e5 *\n\n";             // 4: commented
  }
  void TearDown() override {
    Base_BaseErase(name_.c_str(), 2);
    Base_BaseErase((name_ + "_n").c_str(), 0);
    HostChessCrit::TearDown();
  }
  std::string name_;
};

std::vector<int> Members(LudrexSubset* s, int n) {
  std::vector<int> m;
  for (int i = 0; i < n; ++i)
    if (Subset_Item(s, i)) m.push_back(i);
  return m;
}

TEST_F(HostChessSearch, PositionSearchOnPgnAndNativeBasesAndFind) {
  LudrexBase* pgn = Base_BaseOpen(name_.c_str(), 2);
  ASSERT_NE(pgn, nullptr);
  HostRecordPattern* pattern = Base_GetRecordPattern(pgn);
  int chess = -1;
  for (int i = 0; i < pattern->count; ++i)
    if (pattern->entries[i].type == LUDREX_FIELD_CHESS) chess = i;
  ASSERT_GE(chess, 0);
  LudrexBase* native = Base_BaseCreate((name_ + "_n").c_str(), pattern, 0);
  ASSERT_NE(native, nullptr);
  ASSERT_EQ(Base_AppendAnother(pgn, native, nullptr, 0, 0, nullptr), 5);

  SicilianMasks(ChessFieldCrit_GetNormalPos(crit_));
  ChessFieldCrit_SetRestInfo(crit_, 1, 0, 0, 0, 1, 0);
  HostFieldEntry e = Entry(LUDREX_FIELD_CHESS + LUDREX_CRITERION_BIT, pattern->entries[chess].name);
  HostRecordPattern cp = {1, &e};
  LudrexRecord* criteria = Record_CreateRecord(&cp);
  LudrexField* c = Record_GetField(criteria, 0);
  for (int vars = 0; vars < 2; ++vars) {
    ChessFieldCrit_Copy(c, crit_);
    ChessFieldCrit_SetRestInfo(c, 1, 0, 0, 0, 1, vars);
    std::vector<int> want = vars ? std::vector<int>{0, 1, 2} : std::vector<int>{0, 1};
    for (LudrexBase* b : {pgn, native}) {
      LudrexSubset* s = Subset_CreateTmp(5);
      Subset_IncludeRange(s, 0, -1);
      EXPECT_EQ(Base_Search(b, s, criteria, nullptr), static_cast<int>(want.size()));
      EXPECT_EQ(Members(s, 5), want) << "variations " << vars;
      Subset_Destroy(s);
    }
  }

  // The same criterion from the moves or from the FEN.
  HostFieldEntry ce = Entry(LUDREX_FIELD_CHESS + LUDREX_CRITERION_BIT, "~22");
  LudrexField* byMoves = Field_CreateField(&ce);
  LudrexField* byFen = Field_CreateField(&ce);
  EXPECT_EQ(ChessFieldCrit_SetExactMoves(byMoves, "Nf3 d6 e4 c5"), 1);
  EXPECT_EQ(ChessFieldCrit_SetExactFEN(
                byFen, "rnbqkbnr/pp2pppp/3p4/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 0 3"),
            1);
  std::vector<unsigned char> p1(2048), p2(2048), p3(2048);
  int n1 = FieldCrit_Pack(crit_, p1.data(), 2048);
  ASSERT_EQ(FieldCrit_Pack(byMoves, p2.data(), 2048), n1);
  ASSERT_EQ(FieldCrit_Pack(byFen, p3.data(), 2048), n1);
  EXPECT_EQ(p1, p2);
  EXPECT_EQ(p1, p3);
  EXPECT_EQ(ChessFieldCrit_SetExactMoves(byMoves, "e4 e5 Ke3 Nc6"), 0);  // an illegal move
  EXPECT_EQ(ChessFieldCrit_SetExactFEN(byFen, "not a fen"), 0);
  Field_DestroyField(byMoves);
  Field_DestroyField(byFen);

  // Find: the main line first, the variation only on the second try.
  LudrexRecord* r = Record_CreateRecord(pattern);
  ChessFieldCrit_SetRestInfo(crit_, 1, 0, 0, 0, 1, 1);
  int ply = -1;
  Base_Read(native, 2, r);
  EXPECT_EQ(ChessField_Find(Record_GetField(r, chess), crit_, &ply), 1);
  EXPECT_GT(ply, 4);  // after the main-line move and the variation mark
  int vars = -1;
  ChessFieldCrit_GetRestInfo(crit_, nullptr, nullptr, nullptr, nullptr, &vars);
  EXPECT_EQ(vars, 1);  // restored
  Base_Read(native, 0, r);
  ply = -1;
  EXPECT_EQ(ChessField_Find(Record_GetField(r, chess), crit_, &ply), 1);
  EXPECT_EQ(ply, 4);  // the fourth element replayed
  Base_Read(native, 3, r);
  ply = -7;
  EXPECT_EQ(ChessField_Find(Record_GetField(r, chess), crit_, &ply), 0);
  EXPECT_EQ(ply, -7);

  // Commented games.
  for (LudrexBase* b : {pgn, native}) {
    LudrexSubset* s = Subset_CreateTmp(5);
    Subset_IncludeRange(s, 0, -1);
    Base_GetCommented(b, s);
    EXPECT_EQ(Members(s, 5), std::vector<int>{4});
    Subset_Destroy(s);
  }

  Record_Destroy(r);
  Record_Destroy(criteria);
  CPP_DestroyRP(pattern);
  Base_BaseDestroy(native);
  Base_BaseDestroy(pgn);
}

}  // namespace
