#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_errors.h"
#include "ludrex.h"

namespace {

using host_test::g_errors;

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override { host_test::StartRecordingErrors(); }
  void TearDown() override { SetErrorFunction(nullptr); }
};

TEST_F(Catalogue, NamesExtensionsAndFlagsOfEveryType) {
  ASSERT_EQ(CPP_NBaseTypes(), 7);
  const char* shorts[] = {"QX Win",  "QX DOS",         "PGN", "CB .cbf", "CD ref",
                          "CB .cbh", "Compressed .zip"};
  const char* exts[] = {".kvx", ".bfi", ".pgn", ".cbf", ".ror", ".cbh", ".zip"};
  const int flags[] = {127, 17, 15, 1, 1, 17, 1};
  for (int t = 0; t < 7; ++t) {
    EXPECT_STREQ(CPP_BaseShortTypeNameStr(t), shorts[t]);
    EXPECT_STREQ(CPP_BaseExtStr(t), exts[t]);
    EXPECT_EQ(CPP_BaseTypeFlags(t), flags[t]);
  }
  EXPECT_STREQ(CPP_BaseTypeNameStr(2), "Portable Game Notation");
  EXPECT_STREQ(CPP_BaseTypeNameStr(0), "Tallowmerecraft \xE4\xEB\xFF Windows");
  EXPECT_STREQ(CPP_BaseTypeNameStr(6), "");  // its message code has no text
  EXPECT_TRUE(g_errors.empty());
}

TEST_F(Catalogue, TextResultsShareOneBuffer) {
  char* first = CPP_BaseExtStr(0);
  EXPECT_STREQ(first, ".kvx");
  char* second = CPP_BaseShortTypeNameStr(2);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "PGN");
}

TEST_F(Catalogue, IndexOutOfRangeRaises901AndNegativeIsEmpty) {
  EXPECT_EQ(CPP_BaseTypeFlags(7), 1);
  ASSERT_EQ(g_errors.size(), 1u);
  EXPECT_EQ(g_errors[0].substr(0, 12), "Error # 901\n");
  EXPECT_STREQ(CPP_BaseExtStr(99), "");
  EXPECT_EQ(g_errors.size(), 2u);
  EXPECT_STREQ(CPP_BaseShortTypeNameStr(-1), "");
  EXPECT_EQ(CPP_BaseTypeFlags(-3), 1);
  EXPECT_EQ(g_errors.size(), 2u);  // a negative index is not an error
}

}  // namespace
