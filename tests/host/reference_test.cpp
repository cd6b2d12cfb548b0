// Read-only bases as a host meets them: a base whose main file is read-only opens through a
// reference file in the program path's "CD-Refer" directory; its reads come from the base, its
// writes are refused, and the same base opened again reuses the same reference file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host_errors.h"
#include "ludrex.h"

namespace {

namespace fs = std::filesystem;
using host_test::g_errors;

std::string Code(const std::string& text) { return text.substr(0, text.find('\n')); }

HostFieldEntry Entry(int type, const char* name, int flags, const char* text,
                     HostRecordPattern* library = nullptr) {
  HostFieldEntry e;
  std::memset(&e, 0, sizeof e);
  e.type = type;
  e.name = const_cast<char*>(name);
  e.param = flags;
  e.text = const_cast<char*>(text);
  if (type == 0) e.extra.library = library;
  return e;
}

LudrexRecord* RecordOf(LudrexBase* b) {
  HostRecordPattern* p = Base_GetRecordPattern(b);
  LudrexRecord* r = Record_CreateRecord(p);
  CPP_DestroyRP(p);
  Record_LinkToBase(r, b);
  return r;
}

std::string Player(LudrexRecord* r, int i) {
  return StringField_GetStrPtr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, i)), 0));
}

void SetReadOnly(const std::string& file, bool on) {
  ::chmod(file.c_str(), on ? 0444 : 0644);
}

class HostReference : public ::testing::Test {
 protected:
  void SetUp() override {
    host_test::StartRecordingErrors();
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = ::testing::TempDir() + "ludrex_ref_" + test + "/";
    fs::remove_all(dir_);
    fs::create_directories(dir_ + "media");
    fs::create_directories(dir_ + "program");
    CPP_SetProgramPath((dir_ + "program/").c_str());
    name_ = dir_ + "media/games";
    playerEntries_[0] = Entry(1, "~3", 2, "");
    players_ = {1, playerEntries_};
    gameEntries_[0] = Entry(0, "~1", 0, "Players", &players_);
    gameEntries_[1] = Entry(0, "~2", 0, "Players", &players_);
    gameEntries_[2] = Entry(1, "~16", 0, "");
    games_ = {3, gameEntries_};
  }
  void TearDown() override {
    for (const auto& e : fs::recursive_directory_iterator(dir_)) SetReadOnly(e.path().string(), false);
    fs::remove_all(dir_);
    CPP_SetProgramPath("");
    SetErrorFunction(nullptr);
  }

  // A native base of three games with a "Players" library, its main file made read-only.
  void MakeReadOnlyNative() {
    LudrexBase* b = Base_BaseCreate(name_.c_str(), &games_, 0);
    ASSERT_NE(b, nullptr);
    LudrexRecord* r = RecordOf(b);
    for (int k = 0; k < 3; ++k) {
      StringField_SetStr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, 0)), 0),
                         kNames[k][0]);
      StringField_SetStr(Record_GetField(LibRefField_GetRecord(Record_GetField(r, 1)), 0),
                         kNames[k][1]);
      StringField_SetStr(Record_GetField(r, 2), kNames[k][2]);
      ASSERT_EQ(Base_Write(b, AppendRecord, r), k);
    }
    HostBaseInfo info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.description, "Candidates");
    Base_SetBaseInfo(b, &info);
    Record_Destroy(r);
    Base_BaseDestroy(b);
    for (const char* ext : {".kvx", ".emb", ".axx", ".dxx", ".a00", ".d00", ".a01", ".d01"}) {
      if (fs::exists(name_ + ext)) SetReadOnly(name_ + ext, true);
    }
  }

  std::vector<std::string> ReferenceFiles() const {
    std::vector<std::string> out;
    const std::string refer = dir_ + "program/CD-Refer";
    if (!fs::exists(refer)) return out;
    for (const auto& e : fs::directory_iterator(refer)) out.push_back(e.path().filename().string());
    return out;
  }

  static constexpr const char* kNames[3][3] = {
      {"Tal", "Botvinnik", "Moscow"}, {"Smyslov", "Tal", "Bled"}, {"Petrosian", "Spassky", "Riga"}};
  std::string dir_, name_;
  HostFieldEntry playerEntries_[1];
  HostRecordPattern players_;
  HostFieldEntry gameEntries_[3];
  HostRecordPattern games_;
};

TEST_F(HostReference, ReadOnlyNativeBaseReadsThroughItsReference) {
  MakeReadOnlyNative();
  LudrexBase* b = Base_BaseOpen(name_.c_str(), 0);
  ASSERT_NE(b, nullptr) << (g_errors.empty() ? "" : g_errors.back());
  EXPECT_EQ(Base_GetBaseType(b), 4);
  EXPECT_EQ(Base_GetBaseLength(b), 3);
  EXPECT_EQ(Base_GetRecordLength(b), 3);
  LudrexRecord* r = RecordOf(b);
  for (int k = 0; k < 3; ++k) {
    Base_Read(b, k, r);
    EXPECT_EQ(Player(r, 0), kNames[k][0]);
    EXPECT_EQ(Player(r, 1), kNames[k][1]);
    EXPECT_STREQ(StringField_GetStrPtr(Record_GetField(r, 2)), kNames[k][2]);
  }
  // The information: the reference's own name, the base's as the second name, its type, flag 1.
  HostBaseInfo info;
  std::memset(&info, 0, sizeof info);
  Base_GetBaseInfo(b, &info);
  EXPECT_STREQ(info.description, "Candidates");
  EXPECT_EQ(std::string(info.secondFullName), name_);
  EXPECT_NE(std::string(info.fullName).find("CD-Refer"), std::string::npos);
  EXPECT_EQ(info.flag, 1);
  EXPECT_TRUE(g_errors.empty()) << g_errors.front();

  // Writes are refused; the deletion toggle only reports.
  EXPECT_EQ(Base_Write(b, AppendRecord, r), -1);
  EXPECT_EQ(Code(g_errors.back()), "Error # 907");
  Base_ToggleDelete(b, 0);  // 907 in a message box (not fatal)
  EXPECT_EQ(Base_IsDeleted(b, 0), 0);
  g_errors.clear();

  // The library is reached through the reference too.
  LudrexBase* lib = Base_EmbeddedBaseOpen(b, "Players");
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(Base_GetBaseLength(lib), 5);  // Tal plays twice
  Base_BaseDestroy(lib);

  // A copy into a writable native base takes the games with their names.
  const std::string copy = dir_ + "copy";
  LudrexBase* d = Base_BaseCreate(copy.c_str(), &games_, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Base_AppendAnother(b, d, nullptr, 0, 0, nullptr), 3);
  EXPECT_EQ(Base_AppendAnother(b, d, nullptr, 0, 2, nullptr), 3);  // the shared copy
  LudrexRecord* x = RecordOf(d);
  for (int k : {0, 4}) {
    Base_Read(d, k, x);
    EXPECT_EQ(Player(x, 0), kNames[k % 3][0]);
    EXPECT_EQ(Player(x, 1), kNames[k % 3][1]);
  }
  Record_Destroy(x);
  Base_BaseDestroy(d);
  Base_BaseErase(copy.c_str(), 0);

  Record_Destroy(r);
  Base_BaseDestroy(b);
  EXPECT_TRUE(g_errors.empty()) << g_errors.front();
}

TEST_F(HostReference, OpeningTwiceUsesOneReferenceFile) {
  MakeReadOnlyNative();
  std::ofstream(name_ + ".bo0") << "order";
  LudrexBase* a = Base_BaseOpen(name_.c_str(), 0);
  ASSERT_NE(a, nullptr);
  LudrexBase* b = Base_BaseOpen(name_.c_str(), 0);
  EXPECT_EQ(a, b);  // the same open base
  Base_BaseDestroy(b);
  Base_BaseDestroy(a);
  LudrexBase* c = Base_BaseOpen(name_.c_str(), 0);  // from the file made the first time
  ASSERT_NE(c, nullptr);
  Base_BaseDestroy(c);
  std::vector<std::string> files = ReferenceFiles();
  ASSERT_EQ(files.size(), 2u);  // one reference file and the companion copy
  std::string ror = files[0].size() > 4 && files[0].substr(files[0].size() - 4) == ".ror"
                        ? files[0]
                        : files[1];
  ASSERT_EQ(ror.size(), 12u);  // six digits of the file time, two of the number, ".ror"
  const std::string refName = dir_ + "program/CD-Refer/" + ror.substr(0, 8);
  std::ifstream companion(refName + ".bo4");
  std::string text;
  companion >> text;
  EXPECT_EQ(text, "order");

  // The reference file: type, name length, name.
  std::ifstream in(refName + ".ror", std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();  // on Windows an open file can be neither opened alone nor removed
  ASSERT_EQ(bytes.size(), 8 + name_.size());
  std::int32_t head[2];
  std::memcpy(head, bytes.data(), 8);
  EXPECT_EQ(head[0], 0);
  EXPECT_EQ(head[1], static_cast<std::int32_t>(name_.size()));
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.end()), name_);

  // Short information of the reference, then of a reference whose base has gone.
  char block[400];
  Base_GetShortInfo(4, refName.c_str(), block);
  std::int32_t count;
  std::memcpy(&count, block, 4);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::string(block + 4), "Candidates   Reference to: " + name_);
  SetReadOnly(name_ + ".kvx", false);
  fs::remove(name_ + ".kvx");
  Base_GetShortInfo(4, refName.c_str(), block);
  EXPECT_EQ(std::string(block + 4), " Base not present now!   Reference to: " + name_);
  EXPECT_TRUE(g_errors.empty()) << g_errors.front();
  // Opening it now fails with 921 (in a message box: not fatal).
  EXPECT_EQ(Base_BaseOpen(refName.c_str(), 4), nullptr);
  EXPECT_TRUE(g_errors.empty());
  // Erase takes the reference file with it.
  Base_BaseErase(refName.c_str(), 4);
  EXPECT_FALSE(fs::exists(refName + ".ror"));
}

TEST_F(HostReference, ReadOnlyPgnFileOpensThroughItsReference) {
  const std::string pgn = name_ + ".pgn";
  {
    std::ofstream out(pgn);
    out << "[Event \"One\"]\n[White \"A\"]\n[Black \"B\"]\n[Result \"1-0\"]\n\n1. e4 e5 1-0\n\n"
        << "[Event \"Two\"]\n[White \"C\"]\n[Black \"D\"]\n[Result \"0-1\"]\n\n1. d4 d5 0-1\n";
  }
  SetReadOnly(pgn, true);
  LudrexBase* b = Base_BaseOpen(name_.c_str(), 2);
  ASSERT_NE(b, nullptr) << (g_errors.empty() ? "" : g_errors.back());
  EXPECT_EQ(Base_GetBaseType(b), 4);
  EXPECT_EQ(Base_GetBaseLength(b), 2);
  LudrexRecord* r = RecordOf(b);
  Base_Read(b, 1, r);
  EXPECT_STREQ(StringField_GetStrPtr(Record_GetField(r, 0)), "Two");
  EXPECT_EQ(Base_Write(b, 0, r), -1);
  EXPECT_EQ(Code(g_errors.back()), "Error # 907");
  Record_Destroy(r);
  Base_BaseDestroy(b);
  // The file is as it was.
  std::ifstream in(pgn);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "[Event \"One\"]");
}

}  // namespace
