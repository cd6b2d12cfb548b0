// PGN exports as a host sees them: one game as text and back, the move text of a base's game,
// PGN bases created, written, read and opened with the host's pattern.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ludrex.h"

namespace {

std::vector<std::string> g_pgnErrors;
void LUDREX_CDECL KeepPgnError(const char* text) { g_pgnErrors.emplace_back(text); }

HostFieldEntry Entry(int type, const char* name, const char* text = "") {
  HostFieldEntry e;
  e.type = type;
  e.name = const_cast<char*>(name);
  e.param = 0;
  e.text = const_cast<char*>(text);
  e.extra.value = 0;
  return e;
}

class HostPgn : public ::testing::Test {
 protected:
  void SetUp() override {
    CPP_Startup();
    g_pgnErrors.clear();
    SetErrorFunction(KeepPgnError);
    entries_ = {Entry(LUDREX_FIELD_STRING, "~16"), Entry(LUDREX_FIELD_STRING, "~1"),
                Entry(LUDREX_FIELD_INT, "~9", "2u"), Entry(LUDREX_FIELD_RESULT, "~14"),
                Entry(LUDREX_FIELD_CHESS, "~22")};
    pattern_.count = int32_t(entries_.size());
    pattern_.entries = entries_.data();
    name_ = ::testing::TempDir() + "ludrex_host_pgn";
    std::remove((name_ + ".pgn").c_str());
  }
  void TearDown() override {
    std::remove((name_ + ".pgn").c_str());
    SetErrorFunction(nullptr);
  }
  static std::string Error() { return g_pgnErrors.empty() ? "" : g_pgnErrors.back(); }
  std::vector<HostFieldEntry> entries_;
  HostRecordPattern pattern_{};
  std::string name_;
};

TEST_F(HostPgn, RecordTextRoundTrip) {
  LudrexRecord* r = Record_CreateRecord(&pattern_);
  const std::string game =
      "[Event \"Club \\\"A\\\"\"]\r\n[White \"Smith\"]\r\n[WhiteElo \"2100\"]\r\n"
      "[Result \"1-0\"]\r\n1. e4 e5 2. Nf3 {develops} Nc6 1-0\r\n\r\n[Event \"second\"]\r\n";
  Record_CreateFromPGNBuffer(r, game.data(), int(game.size()));
  EXPECT_STREQ(StringField_GetStrPtr(Record_GetField(r, 0)), "Club \"A\"");
  EXPECT_EQ(IntField_GetValue(Record_GetField(r, 2)), 2100);
  char* text = Record_GetPGNBuffer(r);
  ASSERT_NE(text, nullptr);
  const std::string t(text);
  EXPECT_EQ(t.substr(0, 22), "[Event \"Club \\\"A\\\"\"]\r\n");
  EXPECT_NE(t.find("[WhiteElo \"2100\"]\r\n"), std::string::npos);
  EXPECT_NE(t.find("\r\n\r\n1. e4 e5 2. Nf3 {develops} 2... Nc6 1-0\r\n\r\n"), std::string::npos)
      << t;
  LudrexRecord* back = Record_CreateRecord(&pattern_);
  Record_CreateFromPGNBuffer(back, text, int(std::strlen(text)));
  Record_DeletePGNBuffer(text);
  EXPECT_EQ(ChessField_EqualTo(Record_GetField(r, 4), Record_GetField(back, 4)), 1);
  EXPECT_EQ(ResultField_GetValue(Record_GetField(back, 3)),
            ResultField_GetValue(Record_GetField(r, 3)));
  // No game in the text.
  Record_CreateFromPGNBuffer(back, "1. e4", 5);
  EXPECT_NE(Error().find("903"), std::string::npos);
  Record_Destroy(r);
  Record_Destroy(back);
}

// A NUL inside a tag value or a comment never reaches the field: the text written back keeps
// every tag, the moves and the result, and reads back as the same game.
TEST_F(HostPgn, NulInTagValuesAndCommentsIsDropped) {
  LudrexRecord* r = Record_CreateRecord(&pattern_);
  const std::string game("[Event \"Cl\0ub\"]\r\n[White \"Sm\0ith\"]\r\n[WhiteElo \"2100\"]\r\n"
                         "[Result \"1-0\"]\r\n\r\n1. e4 {a\0b} e5 2. Nf3 ; x\0y\r\nNc6 1-0\r\n",
                         110);
  ASSERT_EQ(game[10], '\0');
  Record_CreateFromPGNBuffer(r, game.data(), int(game.size()));
  EXPECT_STREQ(StringField_GetStrPtr(Record_GetField(r, 0)), "Club");
  EXPECT_STREQ(StringField_GetStrPtr(Record_GetField(r, 1)), "Smith");
  char* text = Record_GetPGNBuffer(r);
  ASSERT_NE(text, nullptr);
  const std::string t(text);
  EXPECT_NE(t.find("[WhiteElo \"2100\"]\r\n[Result \"1-0\"]\r\n"), std::string::npos) << t;
  EXPECT_NE(t.find("{a b}"), std::string::npos) << t;
  EXPECT_NE(t.find("x y"), std::string::npos) << t;
  EXPECT_EQ(t.substr(t.size() - 8), " 1-0\r\n\r\n") << t;
  LudrexRecord* back = Record_CreateRecord(&pattern_);
  Record_CreateFromPGNBuffer(back, text, int(t.size()));
  Record_DeletePGNBuffer(text);
  EXPECT_EQ(ChessField_EqualTo(Record_GetField(r, 4), Record_GetField(back, 4)), 1);
  EXPECT_EQ(IntField_GetValue(Record_GetField(back, 2)), 2100);
  EXPECT_EQ(ResultField_GetValue(Record_GetField(back, 3)),
            ResultField_GetValue(Record_GetField(r, 3)));
  Record_Destroy(r);
  Record_Destroy(back);
}

TEST_F(HostPgn, BaseWriteReadAndNotation) {
  LudrexBase* b = Base_BaseCreate(name_.c_str(), &pattern_, 2);
  ASSERT_NE(b, nullptr) << Error();
  EXPECT_EQ(Base_GetOEMCoding(b), 0);
  LudrexRecord* r = Record_CreateRecord(&pattern_);
  const std::string game = "[Event \"E\"]\n\n1. d4 d5 2. c4 *\n";
  Record_CreateFromPGNBuffer(r, game.data(), int(game.size()));
  for (int i = 0; i < 3; ++i) Base_Write(b, 0x10000000, r);
  EXPECT_EQ(Base_GetBaseLength(b), 3);
  char buf[256];
  const int n = NW_ReadNotationPGN(b, 2, buf, sizeof buf);
  ASSERT_GT(n, 0);
  const std::string moves(buf, std::size_t(n));
  EXPECT_NE(moves.find("1. d4 d5 2. c4"), std::string::npos);
  std::memset(buf, 'z', sizeof buf);
  EXPECT_EQ(NW_ReadNotationPGN(b, 2, buf, n - 1), -n);
  EXPECT_EQ(buf[0], 'z');
  EXPECT_EQ(NW_ReadNotationPGN(b, 2, buf, n), n);
  NW_ReadNotationPGN(b, 3, buf, n);
  EXPECT_NE(Error().find("903"), std::string::npos);
  Base_BaseDestroy(b);
  Record_Destroy(r);
  Base_BaseErase(name_.c_str(), 2);
  std::ifstream gone(name_ + ".pgn");
  EXPECT_FALSE(gone.good());
}

TEST_F(HostPgn, OpenWithTheHostsPattern) {
  {
    std::ofstream out(name_ + ".pgn", std::ios::binary);
    out << "[Event \"a\"]\n\n1. e4 *\n\n[Event \"b\"]\n[WhiteElo \"2300\"]\n\n1. d4 *\n";
  }
  LudrexBase* plain = Base_BaseOpen(name_.c_str(), 2);
  ASSERT_NE(plain, nullptr) << Error();
  EXPECT_EQ(Base_GetRecordLength(plain), 2);  // the first game has no WhiteElo
  EXPECT_EQ(Base_PgnOpenWithPattern(name_.c_str(), &pattern_), nullptr);  // already open
  EXPECT_NE(Error().find("917"), std::string::npos);
  Base_BaseDestroy(plain);
  LudrexBase* b = Base_PgnOpenWithPattern(name_.c_str(), &pattern_);
  ASSERT_NE(b, nullptr) << Error();
  EXPECT_EQ(Base_GetRecordLength(b), 5);
  LudrexRecord* r = Record_CreateRecord(&pattern_);
  Base_Read(b, 1, r);
  EXPECT_EQ(IntField_GetValue(Record_GetField(r, 2)), 2300);
  EXPECT_STREQ(StringField_GetStrPtr(Record_GetField(r, 0)), "b");
  Base_BaseDestroy(b);
  Record_Destroy(r);
  EXPECT_EQ(Base_PgnOpenWithPattern((name_ + "_missing").c_str(), &pattern_), nullptr);
}

}  // namespace

namespace {

TEST(HostPgnIncomplete, GamesReadOnlyPartlyAreCountedOnce) {
  CPP_Startup();
  std::string name = ::testing::TempDir() + "ludrex_incomplete";
  {
    std::ofstream out(name + ".pgn", std::ios::binary);
    out << "[White \"a\"]\r\n\r\n1. e4 e5 2. Nf3 *\r\n\r\n"
        << "[White \"b\"]\r\n\r\n1. e4 e5 2. Ke3 Nc6 *\r\n\r\n"
        << "[White \"c\"]\r\n\r\n1. d4 *\r\n\r\n";
  }
  LudrexBase* base = Base_BaseOpen(name.c_str(), 2);
  ASSERT_NE(base, nullptr);
  HostRecordPattern* pattern = Base_GetRecordPattern(base);
  LudrexRecord* record = Record_CreateRecord(pattern);
  CPP_DestroyRP(pattern);
  EXPECT_EQ(Base_PgnGetIncompleteCount(base), 0);
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 3; ++i) Base_Read(base, i, record);
  }
  EXPECT_EQ(Base_PgnGetIncompleteCount(base), 1);
  Record_Destroy(record);
  Base_BaseDestroy(base);
  std::remove((name + ".pgn").c_str());
}

}  // namespace
