// Volumes as a host drives them, through the public header only.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ludrex.h"

namespace {

std::vector<std::string> g_volume_errors;
void LUDREX_CDECL RecordVolumeError(const char* text) { g_volume_errors.emplace_back(text); }

unsigned LastCode() {
  if (g_volume_errors.empty()) return 0;
  return static_cast<unsigned>(std::stoul(g_volume_errors.back().substr(8)));
}

long FileLength(const std::string& name) {
  std::error_code ec;
  auto n = std::filesystem::file_size(name, ec);
  return ec ? -1 : static_cast<long>(n);
}

class HostVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    CPP_Startup();
    g_volume_errors.clear();
    SetErrorFunction(RecordVolumeError);
    static int serial = 0;
    dir_ =
        std::filesystem::temp_directory_path() /
        ("ludrex-host-volume-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + std::to_string(++serial));
    std::filesystem::create_directories(dir_);
    name_ = (dir_ / "test.vol").string();
  }
  void TearDown() override {
    SetErrorFunction(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path dir_;
  std::string name_;
};

std::vector<std::string> List(LudrexVolume* v, int mask, int dir) {
  std::vector<std::string> names;
  for (LudrexVolumeFind* f = Volume_FindFirst(v, mask, dir); f != nullptr;
       f = Volume_FindNext(v, f)) {
    names.emplace_back(Volume_GetFileName(f));
  }
  return names;
}

TEST_F(HostVolume, FreshVolumeAndOneMember) {
  LudrexVolume* v = Volume_Create(name_.c_str());
  ASSERT_NE(v, nullptr);
  Volume_Close(v);
  EXPECT_EQ(FileLength(name_), 512);

  v = Volume_Open(name_.c_str());
  ASSERT_NE(v, nullptr);
  LudrexVolumeFile* f = Volume_CreateFile(v, "games", 1000, 0);
  ASSERT_NE(f, nullptr);
  unsigned char data[300];
  for (int i = 0; i < 300; ++i) data[i] = static_cast<unsigned char>(i);
  Volume_BlockWriteFile(f, data, 300);
  Volume_CloseFile(f);
  Volume_Close(v);
  EXPECT_EQ(FileLength(name_), 3048);

  v = Volume_Open(name_.c_str());
  f = Volume_OpenFile(v, "games", 0);
  ASSERT_NE(f, nullptr);
  unsigned char back[300] = {};
  Volume_BlockReadFile(f, back, 300);
  EXPECT_EQ(std::memcmp(back, data, 300), 0);
  Volume_BlockWriteFile(f, data, 10);  // the size stays 1000
  Volume_CloseFile(f);
  LudrexVolumeFind* find = Volume_FindFirst(v, LUDREX_VOLUME_FILE, 0);
  ASSERT_NE(find, nullptr);
  EXPECT_STREQ(Volume_GetFileName(find), "games");
  EXPECT_EQ(Volume_GetFileSize(find), 1000);
  EXPECT_EQ(Volume_GetFileFlags(find), LUDREX_VOLUME_FILE);
  EXPECT_EQ(Volume_GetFlags(find), 0);
  EXPECT_EQ(Volume_FindNext(v, find), nullptr);
  Volume_Update(v);
  Volume_Close(v);
  EXPECT_TRUE(g_volume_errors.empty());
}

TEST_F(HostVolume, DirectoriesOrderFlagsAndDeletion) {
  LudrexVolume* v = Volume_Create(name_.c_str());
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(Volume_CreateEntry(v, "bases", LUDREX_VOLUME_DIR, 0), 0);
  int bases = Volume_ChangeDir(v, "bases", 0);
  EXPECT_GT(bases, 0);
  EXPECT_EQ(Volume_ChangeDir(v, "", 0), 0);
  EXPECT_EQ(Volume_ChangeDir(v, "missing", 0), 0);
  for (const char* n : {"a", "b", "c"}) Volume_CloseFile(Volume_CreateFile(v, n, 10, bases));
  Volume_CloseFile(Volume_CreateFile(v, "top", 5, 0));

  LudrexVolumeFind* d = Volume_FindFirst(v, LUDREX_VOLUME_DIR, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Volume_GetFileSize(d), 0);  // a directory has no size
  EXPECT_EQ(Volume_GetFileFlags(d), LUDREX_VOLUME_DIR);
  Volume_FindClose(v, d);

  EXPECT_EQ(List(v, 0, bases), (std::vector<std::string>{"a", "b", "c"}));
  Volume_ChangeDirEntryPos(v, "a", LUDREX_VOLUME_FILE, "c", LUDREX_VOLUME_FILE, bases);
  EXPECT_EQ(List(v, 0, bases), (std::vector<std::string>{"c", "a", "b"}));
  Volume_ChangeDirEntryPos(v, "", 0, "c", LUDREX_VOLUME_FILE, bases);
  EXPECT_EQ(List(v, 0, bases), (std::vector<std::string>{"a", "b", "c"}));
  // Re-creating a member moves it last.
  Volume_CloseFile(Volume_CreateFile(v, "a", 3, bases));
  EXPECT_EQ(List(v, 0, bases), (std::vector<std::string>{"b", "c", "a"}));

  Volume_SetFlags(v, 0x7, "b", LUDREX_VOLUME_FILE, bases);
  LudrexVolumeFind* f = Volume_FindFirst(v, 0x70000, bases);
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(Volume_GetFileName(f), "b");
  EXPECT_EQ(Volume_GetFlags(f), 7);
  EXPECT_EQ(Volume_GetFileFlags(f), LUDREX_VOLUME_FILE);
  EXPECT_EQ(Volume_FindNext(v, f), nullptr);

  Volume_MoveRename(v, "top", LUDREX_VOLUME_FILE, 0, "renamed", bases);
  EXPECT_EQ(List(v, LUDREX_VOLUME_FILE, 0), std::vector<std::string>{});
  EXPECT_EQ(List(v, 0, bases), (std::vector<std::string>{"b", "c", "a", "renamed"}));
  LudrexVolumeFile* m = Volume_OpenFile(v, "renamed", bases);
  ASSERT_NE(m, nullptr);
  Volume_CloseFile(m);

  Volume_DeleteFile(v, "c", LUDREX_VOLUME_FILE, bases);
  EXPECT_EQ(List(v, 0, bases), (std::vector<std::string>{"b", "a", "renamed"}));
  Volume_DeleteFile(v, "", 0, 0);  // everything, directories with their contents
  EXPECT_EQ(List(v, 0, 0), std::vector<std::string>{});
  EXPECT_EQ(List(v, 0, bases), std::vector<std::string>{});
  Volume_Close(v);

  v = Volume_Open(name_.c_str());  // the deletions were written
  EXPECT_EQ(List(v, 0, 0), std::vector<std::string>{});
  Volume_Close(v);
  EXPECT_TRUE(g_volume_errors.empty());
}

TEST_F(HostVolume, FailuresReturnTheFailureResultWithANumberedError) {
  LudrexVolume* v = Volume_Create(name_.c_str());
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(Volume_CreateEntry(v, "x", 3, 0), -1);
  EXPECT_EQ(LastCode(), 545u);
  EXPECT_EQ(Volume_CreateEntry(v, "x", 0, 0), -1);
  EXPECT_EQ(LastCode(), 545u);
  EXPECT_EQ(Volume_CreateEntry(v, "x", LUDREX_VOLUME_FILE, -1), -1);
  EXPECT_EQ(LastCode(), 541u);
  EXPECT_EQ(Volume_CreateEntry(v, "", LUDREX_VOLUME_FILE, 0), -1);
  EXPECT_EQ(LastCode(), 540u);
  EXPECT_EQ(Volume_OpenFile(v, "none", 0), nullptr);
  EXPECT_EQ(LastCode(), 503u);
  LudrexVolumeFile* f = Volume_CreateFile(v, "short", 4, 0);
  char buffer[16];
  Volume_BlockReadFile(f, buffer, 16);  // the member holds only 4 bytes
  EXPECT_EQ(LastCode(), 517u);
  Volume_CloseFile(f);
  Volume_Close(v);
  Volume_Close(nullptr);
  Volume_CloseFile(nullptr);

  // A file that is not a volume.
  std::string other = (dir_ / "other.vol").string();
  std::FILE* out = std::fopen(other.c_str(), "wb");
  std::vector<char> junk(600, 'j');
  std::fwrite(junk.data(), 1, junk.size(), out);
  std::fclose(out);
  EXPECT_EQ(Volume_Open(other.c_str()), nullptr);
  EXPECT_EQ(LastCode(), 539u);
  EXPECT_EQ(Volume_Open((dir_ / "missing.vol").string().c_str()), nullptr);
  EXPECT_EQ(LastCode(), 506u);
}

}  // namespace
