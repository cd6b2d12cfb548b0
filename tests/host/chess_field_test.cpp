// Game-score field exports as a host sees them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ludrex.h"

namespace {

std::vector<std::string> g_chessErrors;
void LUDREX_CDECL KeepChessError(const char* text) { g_chessErrors.emplace_back(text); }

class HostChessField : public ::testing::Test {
 protected:
  void SetUp() override {
    CPP_Startup();
    g_chessErrors.clear();
    SetErrorFunction(KeepChessError);
  }
  void TearDown() override { SetErrorFunction(nullptr); }
  static LudrexField* Create(int type) {
    HostFieldEntry e;
    e.type = type;
    e.name = const_cast<char*>("~22");
    e.param = 0;
    e.text = const_cast<char*>("");
    e.extra.value = 0;
    return Field_CreateField(&e);
  }
};

TEST_F(HostChessField, BodyAndEquality) {
  LudrexField* a = Create(LUDREX_FIELD_CHESS);
  LudrexField* b = Create(LUDREX_FIELD_CHESS);
  LudrexField* s = Create(LUDREX_FIELD_STRING);
  ASSERT_NE(a, nullptr);
  void* bodyA = ChessField_GetBody(a);
  EXPECT_NE(bodyA, nullptr);
  EXPECT_EQ(ChessField_GetBody(a), bodyA);  // one game for the field's life
  EXPECT_NE(ChessField_GetBody(b), bodyA);
  EXPECT_EQ(ChessField_EqualTo(a, b), 1);  // two empty games
  EXPECT_TRUE(g_chessErrors.empty());
  EXPECT_EQ(ChessField_GetBody(s), nullptr);
  ASSERT_FALSE(g_chessErrors.empty());
  EXPECT_EQ(g_chessErrors.back().find("803") != std::string::npos, true);
  EXPECT_EQ(ChessField_EqualTo(a, s), 0);
  EXPECT_EQ(ChessField_EqualTo(nullptr, b), 0);
  Field_DestroyField(a);
  Field_DestroyField(b);
  Field_DestroyField(s);
}

}  // namespace
