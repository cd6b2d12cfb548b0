#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capture.h"
#include "frame/error.h"
#include "frame/exceptions.h"
#include "storage/string.h"

namespace ludrex {
namespace {

using testing::Capture;
using testing::CaptureScope;

std::string Bytes1251(std::initializer_list<unsigned char> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(MessageTable, HasEveryCodeOnceAndFindsFiveDigitCodes) {
  CaptureScope scope;
  EXPECT_EQ(MessageTableSize(), 222);
  EXPECT_STREQ(MessageTextPtr(10414), "\xCF\xEE\xF1\xF2\xF0\xEE\xE5\xED\xE8\xE5 \xEC\xED\xEE\xE6\xE5\xF1\xF2\xE2...");
  EXPECT_STREQ(MessageTextPtr(1041), "");
  EXPECT_EQ(MessageText(1041).Length(), 0);
  EXPECT_EQ(MessageText(0).Length(), 0);
  BuildMessageTable();  // a second build changes nothing
  EXPECT_EQ(MessageTableSize(), 222);
}

TEST(MessageTable, TextsAreWindows1251Bytes) {
  CaptureScope scope;
  // "RAM: Не хватает памяти"
  EXPECT_EQ(std::string(MessageTextPtr(1)),
            "RAM: " + Bytes1251({0xCD, 0xE5}) + " " + Bytes1251({0xF5, 0xE2, 0xE0, 0xF2, 0xE0, 0xE5, 0xF2}) +
                " " + Bytes1251({0xEF, 0xE0, 0xEC, 0xFF, 0xF2, 0xE8}));
  // The double space of 510 and the line feeds of 904 are kept.
  EXPECT_NE(std::string(MessageTextPtr(510)).find("  "), std::string::npos);
  EXPECT_EQ(std::string(MessageTextPtr(904)).substr(std::strlen(MessageTextPtr(904)) - 14),
            "\n\n" + Bytes1251({0xC4, 0xEE, 0xEB, 0xE6, 0xED, 0xEE}) + " " +
                Bytes1251({0xE1, 0xFB, 0xF2, 0xFC}) + ":");
  EXPECT_STREQ(MessageTextPtr(545), "ARRAY: Illegal combination of file and dir flags in volume");
  // The long name of the DOS base type.
  EXPECT_STREQ(MessageTextPtr(935), "Tallowmerecraft \xE4\xEB\xFF DOS");
  EXPECT_NE(std::string(MessageTextPtr(925)).find("%I64d KB"), std::string::npos);
}

TEST(ErrorReport, NonFatalShowsTheBoxEvenWithAnErrorFunction) {
  CaptureScope scope;
  ::Error(903, const_cast<char*>("x"), 0);
  ASSERT_EQ(Capture().boxes.size(), 1u);
  EXPECT_TRUE(Capture().errors.empty());
  EXPECT_EQ(Capture().boxes[0], std::string("Error # 903\n") + MessageTextPtr(903) + "\nx");
  EXPECT_EQ(Capture().captions[0], "Database Driver");
  EXPECT_EQ(Capture().styles[0], 0x2010u);
}

TEST(ErrorReport, FatalGoesToTheErrorFunctionOnly) {
  CaptureScope scope;
  ::Error(903, nullptr, 1);
  EXPECT_TRUE(Capture().boxes.empty());
  ASSERT_EQ(Capture().errors.size(), 1u);
  EXPECT_EQ(Capture().errors[0], std::string("Error # 903\n") + MessageTextPtr(903));
}

TEST(ErrorReport, UnknownCodeGivesAnEmptySecondLine) {
  CaptureScope scope;
  ::Error(4242, nullptr, 1);
  EXPECT_EQ(Capture().errors.at(0), "Error # 4242\n");
}

TEST(ErrorReport, LongCompositionIsCutAt499Characters) {
  CaptureScope scope;
  std::string extra(800, 'e');
  ::Error(903, extra.data(), 1);
  const std::string& text = Capture().errors.at(0);
  EXPECT_EQ(text.size(), 499u);
  EXPECT_EQ(text.substr(0, 12), "Error # 903\n");
  EXPECT_EQ(text.back(), 'e');
}

TEST(ErrorReport, RaiseReportsThenUnwinds) {
  CaptureScope scope;
  try {
    Raise(511, "file.dat");
    FAIL() << "Raise returned";
  } catch (const Failure& f) {
    EXPECT_EQ(f.code, 511);
  }
  EXPECT_EQ(testing::LastErrorCode(), 511u);
  EXPECT_NE(Capture().errors.back().find("\nfile.dat"), std::string::npos);
}

TEST(ErrorReportDeathTest, FatalWithoutErrorFunctionEndsTheProcessWithCode3) {
  EXPECT_EXIT(
      {
        platform::SetMessageBoxHook([](const char*, const char*, unsigned) { return 1; });
        Callbacks().error = nullptr;
        ::Error(903, nullptr, 1);
      },
      ::testing::ExitedWithCode(3), "");
}

TEST(Exceptions, TreeExceptionStandsForMessage1020) {
  CaptureScope scope;
  try {
    throw TBException(1);
  } catch (const fException& e) {
    EXPECT_EQ(e.code(), 1020u);
    e.report();
  }
  EXPECT_EQ(testing::LastErrorCode(), 1020u);
  fException plain(945);
  EXPECT_EQ(plain.code(), 945u);
}

}  // namespace
}  // namespace ludrex

#include "frame/state.h"

namespace ludrex {
namespace {

TEST(ProgramPath, KeepsTheFirst260CharactersNulTerminated) {
  std::string path(300, 'd');
  path[259] = 'e';
  SetProgramPath(path.c_str());
  EXPECT_EQ(std::strlen(ProgramPath), 260u);
  EXPECT_EQ(ProgramPath[259], 'e');
  EXPECT_EQ(ProgramPath[260], 0);
  SetProgramPath("C:\\x");
  EXPECT_STREQ(ProgramPath, "C:\\x");
  EXPECT_EQ(ProgramPath[200], 0);  // the rest is NUL-filled
}

TEST(ExportBuffer, CutsToItsSize) {
  std::string text(500, 't');
  const char* p = ToExportBuffer(text.data(), text.size());
  EXPECT_EQ(p, ExportTextBuffer);
  EXPECT_EQ(std::strlen(p), 363u);
}

}  // namespace
}  // namespace ludrex
