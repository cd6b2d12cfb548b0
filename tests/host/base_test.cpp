// The base exports as a host meets them before any game is read: the dispatch's refusals, erase,
// short information and temporary names.
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
std::string Code(const std::string& text) { return text.substr(0, text.find('\n')); }

class HostBase : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    name_ = ::testing::TempDir() + "ludrex_hostbase_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override { SetErrorFunction(nullptr); }
  std::string name_;
};

TEST_F(HostBase, OpenAndCreateRefuseWhatTheyCannotDo) {
  EXPECT_EQ(Base_BaseOpen(name_.c_str(), 7), nullptr);
  EXPECT_EQ(Code(g_errors.back()), "Error # 901");
  EXPECT_EQ(Base_BaseOpen("", 0), nullptr);
  EXPECT_EQ(Code(g_errors.back()), "Error # 913");
  EXPECT_EQ(Base_BaseOpen(name_.c_str(), 0), nullptr);
  EXPECT_EQ(Code(g_errors.back()), "Error # 503");
  EXPECT_NE(g_errors.back().find(name_ + ".kvx"), std::string::npos);
  HostRecordPattern empty = {0, nullptr};
  for (int type : {1, 3, 4, 5, 6}) {
    EXPECT_EQ(Base_BaseCreate(name_.c_str(), &empty, type), nullptr);
    EXPECT_EQ(Code(g_errors.back()), "Error # 907") << type;
  }
  EXPECT_EQ(Base_BaseCreate(name_.c_str(), &empty, 7), nullptr);
  EXPECT_EQ(Code(g_errors.back()), "Error # 901");
  // Null handles are refused, never followed.
  EXPECT_EQ(Base_GetBaseLength(nullptr), -1);
  EXPECT_EQ(Base_Write(nullptr, 0, nullptr), -1);
  Base_BaseDestroy(nullptr);  // reported (not fatal), nothing happens
}

TEST_F(HostBase, EraseRemovesTheFilesOfTheType) {
  for (const char* ext : {".pgn", ".ti2", ".kvx"}) std::ofstream(name_ + ext).put('x');
  Base_BaseErase(name_.c_str(), 2);
  EXPECT_FALSE(std::ifstream(name_ + ".pgn").good());
  EXPECT_FALSE(std::ifstream(name_ + ".ti2").good());
  EXPECT_TRUE(std::ifstream(name_ + ".kvx").good());  // another type's file stays
  std::remove((name_ + ".kvx").c_str());
  EXPECT_TRUE(g_errors.empty());
}

TEST_F(HostBase, ShortInfoWithoutAReaderIsEmpty) {
  char block[264];
  std::memset(block, 'z', sizeof block);
  Base_GetShortInfo(3, name_.c_str(), block);
  int count;
  std::memcpy(&count, block, 4);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(block[4], 0);
  Base_GetShortInfo(9, name_.c_str(), block);
  EXPECT_EQ(Code(g_errors.back()), "Error # 901");
}

TEST_F(HostBase, TemporaryBaseNamesAreFreshPaths) {
  std::string a = CPP_BaseTempName();
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a.find("~~~"), std::string::npos);
  EXPECT_FALSE(std::ifstream(a + ".kvx").good());
  EXPECT_TRUE(g_errors.empty());
}

}  // namespace
