#include "storage/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frame/callbacks.h"
#include "frame/error.h"
#include "storage_support.h"

namespace ludrex {
namespace {

using testing::CaptureScope;
using testing::ErrorOf;
using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteAll;

std::string S(const String& s) { return std::string(s.Text(), s.Length()); }

TEST(FileQueries, ExistenceSizeAttributesAndStamp) {
  CaptureScope scope;
  ScratchDir dir;
  std::string f = dir / "a.kvx";
  WriteAll(f, std::vector<unsigned char>(1234, 1));
  EXPECT_TRUE(FileExists(f.c_str()));
  EXPECT_FALSE(IsDirectory(f.c_str()));
  EXPECT_TRUE(IsDirectory(dir.Path().c_str()));
  EXPECT_FALSE(FileExists(dir.Path().c_str()));
  EXPECT_EQ(FileSize(f.c_str()), 1234u);
  EXPECT_FALSE(IsReadOnly(f.c_str()));
  EXPECT_GT(FileStamp(f.c_str()), 0x01000000u);  // a time after 1601 + a few centuries
  std::string missing = dir / "none.kvx";
  EXPECT_FALSE(FileExists(missing.c_str()));
  EXPECT_EQ(ErrorOf([&] { FileSize(missing.c_str()); }), 503u);
  EXPECT_EQ(ErrorOf([&] { IsReadOnly(missing.c_str()); }), 503u);
  EXPECT_EQ(ErrorOf([&] { FileStamp(missing.c_str()); }), 503u);
  EXPECT_TRUE(RemoveFile(f.c_str()));
  EXPECT_FALSE(RemoveFile(f.c_str()));
  EXPECT_FALSE(FileExists(f.c_str()));
}

TEST(FileQueries, SearchListsMatchingNames) {
  CaptureScope scope;
  ScratchDir dir;
  for (const char* n : {"one.kvx", "two.kvx", "three.txt"}) WriteAll(dir / n, {1});
  std::vector<std::string> found;
  for (FileSearch* s = FileSearch::First((dir / "*.kvx").c_str()); s != nullptr;
       s = FileSearch::Next(s)) {
    found.push_back(S(s->FoundName()));
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"one.kvx", "two.kvx"}));
  EXPECT_EQ(FileSearch::First((dir / "*.none").c_str()), nullptr);
  FileSearch* early = FileSearch::First((dir / "*").c_str());
  ASSERT_NE(early, nullptr);
  FileSearch::Close(early);
  FileSearch::Close(nullptr);
}

TEST(FileOperations, CreateDirCopyAndMove) {
  CaptureScope scope;
  ScratchDir dir;
  std::string sub = dir / "sub";
  CreateDir(sub.c_str());
  EXPECT_TRUE(IsDirectory(sub.c_str()));
  EXPECT_EQ(ErrorOf([&] { CreateDir(sub.c_str()); }), 506u);
  EXPECT_NE(testing::Capture().errors.back().find("NEW DIR: " + sub), std::string::npos);

  std::vector<unsigned char> data(150000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31);
  std::string src = dir / "src.bin", dst = dir / "dst.bin";
  WriteAll(src, data);
  WriteAll(dst, std::vector<unsigned char>(200000, 9));  // longer: must be replaced whole
  CopyFileContents(dst.c_str(), src.c_str());
  EXPECT_EQ(ReadAll(dst), data);
  EXPECT_EQ(ErrorOf([&] { CopyFileContents(dst.c_str(), (dir / "none").c_str()); }), 506u);

  std::string moved = sub + "/moved.bin";
  if (platform::kPathSeparator == '\\') moved = sub + "\\moved.bin";
  MoveFileTo(moved.c_str(), src.c_str());
  EXPECT_FALSE(FileExists(src.c_str()));
  EXPECT_EQ(ReadAll(moved), data);
  EXPECT_EQ(ErrorOf([&] { MoveFileTo(dst.c_str(), src.c_str()); }), 528u);
}

TEST(TempNames, TempFileNameCreatesAnEmptyFile) {
  CaptureScope scope;
  String dir = TempDirectory();
  ASSERT_GT(dir.Length(), 0);
  EXPECT_EQ(dir.Text()[dir.Length() - 1], platform::kPathSeparator);
  std::string a = S(TempFileName()), b = S(TempFileName());
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(S(dir), 0), 0u);
  EXPECT_NE(a.find("~~~"), std::string::npos);
  EXPECT_TRUE(FileExists(a.c_str()));
  EXPECT_EQ(FileSize(a.c_str()), 0u);
  RemoveFile(a.c_str());
  RemoveFile(b.c_str());
}

TEST(TempNames, BaseNameFromTheTimeOfDay) {
  CaptureScope scope;
  ScratchDir dir;
  std::string d = dir / "";
  EXPECT_EQ(S(TempBaseNameAt(d.c_str(), 13, 7, 42)), d + "~~~0D1EA");
  WriteAll(d + "~~~0D1EA.kvx", {1});
  EXPECT_EQ(S(TempBaseNameAt(d.c_str(), 13, 7, 42)), d + "~~~0D1EB");
  EXPECT_EQ(S(TempBaseNameAt(d.c_str(), 23, 59, 59)), d + "~~~07EFB");
  std::string now = S(TempBaseName());
  std::string temp = S(TempDirectory());
  ASSERT_EQ(now.size(), temp.size() + 8);
  EXPECT_EQ(now.substr(0, temp.size() + 3), temp + "~~~");
  EXPECT_EQ(now.find_first_not_of("0123456789ABCDEF", temp.size() + 3), std::string::npos);
}

TEST(FreeSpace, DirectoryPartAndRootRules) {
  EXPECT_EQ(S(DirectoryPart("C:\\bases\\x.kvx", '\\')), "C:\\bases\\");
  EXPECT_EQ(S(DirectoryPart("C:\\bases\\", '\\')), "C:\\bases\\");
  EXPECT_EQ(S(DirectoryPart("x.kvx", '\\')), "");
  EXPECT_EQ(S(DirectoryPart("\\x.kvx", '\\')), "\\");
  EXPECT_EQ(S(DirectoryPart("/data/x.kvx", '/')), "/data/");
  EXPECT_EQ(S(RootOf("C:\\bases\\x.kvx")), "C:\\");
  EXPECT_EQ(S(RootOf("\\\\server\\share\\bases\\x.kvx")), "\\\\server\\share\\");
  EXPECT_EQ(S(RootOf("\\\\server\\share")), "\\\\server\\share\\");
  EXPECT_EQ(S(RootOf("/home/x.kvx")), "");
  EXPECT_EQ(S(RootOf("C:")), "");
}

TEST(FreeSpace, MeasuresRealDisks) {
  CaptureScope scope;
  ScratchDir dir;
  EXPECT_GT(FreeSpace(""), 0u);
  EXPECT_GT(FreeSpace((dir / "x.kvx").c_str()), 0u);
  EXPECT_GT(FreeSpaceTemp(), 0u);
  EXPECT_GT(FreeSpaceFor((dir / "x.kvx").c_str()), 0u);
  EXPECT_GT(FreeSpaceFor("x.kvx"), 0u);  // the current directory
  if (platform::kPathSeparator == '/') {
    // (Windows measures the disk of a missing directory all the same.)
    EXPECT_EQ(ErrorOf([&] { FreeSpaceFor((dir / "no/such/dir/x.kvx").c_str()); }), 516u);
  }
}

struct Dialogs {
  static std::vector<std::string>& Texts() {
    static std::vector<std::string> t;
    return t;
  }
  static int& Answer() {
    static int a = 0;
    return a;
  }
  static int Record(const char* text, int flag, int kind) {
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(kind, 20);
    Texts().emplace_back(text);
    return Answer();
  }
};

TEST(SpaceQuestion, AsksOnlyWhenTheSpaceIsShort) {
  CaptureScope scope;
  Dialogs::Texts().clear();
  MessageDlgFunction old = Callbacks().dialog;
  Callbacks().dialog = Dialogs::Record;
  EXPECT_TRUE(SpaceQuestion(1000, 926, 5000));
  EXPECT_TRUE(SpaceQuestion(5000, 925, 5000));
  EXPECT_TRUE(Dialogs::Texts().empty());
  Dialogs::Answer() = 1;
  EXPECT_TRUE(SpaceQuestion(10240000, 926, 100));
  ASSERT_EQ(Dialogs::Texts().size(), 1u);
  std::string text = Dialogs::Texts()[0];
  EXPECT_NE(text.find("\n10000 KB "), std::string::npos);
  EXPECT_EQ(text.find("%I64d"), std::string::npos);
  Dialogs::Answer() = kDialogAbort;
  EXPECT_FALSE(SpaceQuestion(5000000000ll, 925, 100));
  EXPECT_NE(Dialogs::Texts()[1].find("4882812 KB"), std::string::npos);
  EXPECT_TRUE(AskSpaceForTemp(1000));  // a real disk has a kilobyte to spare
  Callbacks().dialog = nullptr;
  EXPECT_TRUE(SpaceQuestion(5000, 925, 100));  // no dialog installed: go on
  Callbacks().dialog = old;
}

TEST(LogFile, BuffersAndAppends) {
  CaptureScope scope;
  ScratchDir dir;
  std::string name = dir / "Test.log";
  WriteAll(name, {'x'});
  {
    LogFile log;
    EXPECT_STREQ(log.Name(), "d:\\trace\\trace.out");
    log.SetName("");
    log.SetName(std::string(256, 'n').c_str());
    EXPECT_STREQ(log.Name(), "d:\\trace\\trace.out");
    log.SetName(name.c_str());
    std::vector<char> big(70000, 'b');
    log.Write(big.data(), 70000);  // larger than the buffer: ignored
    EXPECT_EQ(log.Buffered(), 0);
    log.Write(big.data(), 40000);
    log.Write(big.data(), 40000);  // does not fit: the first 40000 go to the file
    EXPECT_EQ(log.Buffered(), 40000);
    EXPECT_EQ(ReadAll(name).size(), 40001u);
    log.Flush();
    log.Line("done");
  }
  std::vector<unsigned char> all = ReadAll(name);
  ASSERT_EQ(all.size(), 80007u);
  EXPECT_EQ(all[0], 'x');
  EXPECT_EQ(std::string(all.end() - 6, all.end()), "\r\ndone");
}

}  // namespace
}  // namespace ludrex
