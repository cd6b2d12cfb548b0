// Subsets through the public interface, in memory and in files.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host_errors.h"
#include "ludrex.h"

namespace {

using host_test::g_errors;

std::string FileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class HostSubset : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    name_ = ::testing::TempDir() + "ludrex_subset_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".set";
    std::remove(name_.c_str());
  }
  void TearDown() override {
    SetErrorFunction(nullptr);
    std::remove(name_.c_str());
  }
  std::string name_;
};

TEST_F(HostSubset, MemorySetBasics) {
  LudrexSubset* s = Subset_CreateTmp(20);
  ASSERT_NE(s, nullptr);
  Subset_IncludeRange(s, 3, -1);
  EXPECT_EQ(Subset_CurLength(s), 17);
  Subset_Exclude(s, 4);
  Subset_Toggle(s, 0);
  EXPECT_EQ(Subset_Item(s, 0), 1);
  EXPECT_EQ(Subset_Item(s, 4), 0);
  EXPECT_EQ(Subset_BaseNum(s, 1), 3);
  EXPECT_EQ(Subset_BaseNum(s, Subset_CurLength(s) - 1), 19);
  EXPECT_TRUE(g_errors.empty());
  Subset_IncludeRange(s, 5, 16);
  ASSERT_EQ(g_errors.size(), 1u);
  EXPECT_EQ(g_errors[0].substr(0, 12), "Error # 704\n");
  EXPECT_EQ(Subset_BaseNum(s, 99), -1);
  EXPECT_EQ(g_errors.back().substr(0, 12), "Error # 702\n");
  EXPECT_EQ(Subset_Item(s, 20), 0);
  EXPECT_EQ(g_errors.back().substr(0, 12), "Error # 701\n");
  EXPECT_EQ(Subset_SeqAccessInitBase(s, 20), -1);
  Subset_Destroy(s);
  Subset_Destroy(nullptr);
}

TEST_F(HostSubset, FileSetWithACommentHasItsMaskAfterTheText) {
  LudrexSubset* s = Subset_CreateInAFile(24, name_.c_str());
  ASSERT_NE(s, nullptr);
  Subset_Include(s, 0);
  Subset_Include(s, 9);
  Subset_SetComment(s, "hello");
  Subset_Update(s);
  Subset_Destroy(s);  // the set holds its file exclusively while it is open
  EXPECT_EQ(FileBytes(name_), std::string("hello\x80\x40\x00", 8));

  // Reopened with the same MaxLength: the five leading bytes are the comment.
  s = Subset_OpenInAFile(24, name_.c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Subset_CurLength(s), 2);
  ASSERT_EQ(Subset_GetCommentLength(s), 5);
  char buf[6];
  Subset_GetComment(s, buf);
  EXPECT_STREQ(buf, "hello");
  Subset_Destroy(s);

  // A mask longer than the file cannot be opened.
  EXPECT_EQ(Subset_OpenInAFile(100, name_.c_str()), nullptr);
  EXPECT_EQ(g_errors.back().substr(0, 12), "Error # 703\n");
}

TEST_F(HostSubset, CopiesInMemoryAndInFiles) {
  LudrexSubset* a = Subset_CreateTmp(1000);
  Subset_IncludeRange(a, 100, 200);
  LudrexSubset* f = Subset_CreateCopyInAFile(a, name_.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Subset_CurLength(f), 200);
  LudrexSubset* m = Subset_CreateTmpCopy(f);
  EXPECT_EQ(Subset_BaseNum(m, 0), 100);
  Subset_Subtract(m, a);
  EXPECT_EQ(Subset_CurLength(m), 0);
  Subset_Join(m, f);
  Subset_Intersect(m, a);
  EXPECT_EQ(Subset_CurLength(m), 200);
  Subset_Expand(m, 24);
  Subset_CopySubset(a, m);
  EXPECT_EQ(Subset_MaxLength(a), 1024);
  int seen = 0;
  for (int r = Subset_SeqAccessInitSet(a, 0); r >= 0; r = Subset_SeqNextExclude(a)) ++seen;
  Subset_SeqStop(a);
  EXPECT_EQ(seen, 200);
  EXPECT_EQ(Subset_CurLength(a), 0);
  Subset_Destroy(a);
  Subset_Destroy(m);
  Subset_Destroy(f);
  EXPECT_EQ(FileBytes(name_).size(), 125u);
  EXPECT_TRUE(g_errors.empty());
}

TEST_F(HostSubset, OldLayoutKeepsItsLengthAndCommentInTheHeader) {
  std::string bytes(89, '\0');
  bytes[43] = 3;
  bytes.replace(44, 3, "old");
  bytes[85] = 12;  // MaxLength 12
  bytes += std::string("\xA0\x10", 2);
  std::ofstream(name_, std::ios::binary) << bytes;
  LudrexSubset* s = Subset_OpenForOldBase(name_.c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Subset_MaxLength(s), 12);
  EXPECT_EQ(Subset_CurLength(s), 3);
  EXPECT_EQ(Subset_BaseNum(s, 2), 11);
  ASSERT_EQ(Subset_GetCommentLength(s), 3);
  char buf[4];
  Subset_GetComment(s, buf);
  EXPECT_STREQ(buf, "old");
  Subset_SetComment(s, "ignored");
  EXPECT_EQ(Subset_GetCommentLength(s), 3);
  Subset_Destroy(s);
  // A header claiming more records than the file holds.
  bytes[85] = 100;
  std::ofstream(name_, std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_EQ(Subset_OpenForOldBase(name_.c_str()), nullptr);
  EXPECT_EQ(g_errors.back().substr(0, 12), "Error # 703\n");
}

}  // namespace

namespace {

TEST_F(HostSubset, SetsLiveInVolumeMembers) {
  std::string vol = name_ + ".vol";
  std::remove(vol.c_str());
  LudrexVolume* v = Volume_Create(vol.c_str());
  ASSERT_NE(v, nullptr);
  LudrexSubset* s = Subset_CreateInAVolume(5000, "marks", 0, v);
  ASSERT_NE(s, nullptr);
  Subset_IncludeRange(s, 4000, 1000);
  Subset_SetComment(s, "my marks");
  LudrexSubset* c = Subset_CreateCopyInAVolume(s, "copy", 0, v);
  Subset_Destroy(s);
  Subset_Destroy(c);
  Volume_Close(v);

  v = Volume_Open(vol.c_str());
  ASSERT_NE(v, nullptr);
  s = Subset_OpenInAVolume(5000, "marks", 0, v);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Subset_CurLength(s), 1000);
  EXPECT_EQ(Subset_BaseNum(s, 0), 4000);
  EXPECT_EQ(Subset_GetCommentLength(s), 8);
  c = Subset_OpenInAVolume(5000, "copy", 0, v);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(Subset_GetCommentLength(c), 0);
  EXPECT_EQ(Subset_CurLength(c), 1000);
  Subset_Destroy(s);
  Subset_Destroy(c);
  EXPECT_EQ(Subset_OpenInAVolume(5000, "absent", 0, v), nullptr);
  EXPECT_EQ(g_errors.back().substr(0, 12), "Error # 503\n");
  Volume_Close(v);
  std::remove(vol.c_str());
}

}  // namespace
