// The frame as a host sees it: start-up, callbacks, errors, byte utilities, pattern release.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host_errors.h"
#include "ludrex.h"

namespace {

using host_test::g_errors;
using host_test::RecordError;

class HostFrame : public ::testing::Test {
 protected:
  void SetUp() override { host_test::StartRecordingErrors(); }
  void TearDown() override { SetErrorFunction(nullptr); }
};

TEST_F(HostFrame, StartupTwiceKeepsOneMessageTable) {
  CPP_Startup();
  CPP_Startup();
  Error(10414, nullptr, 1);
  Error(1041, nullptr, 1);
  ASSERT_EQ(g_errors.size(), 2u);
  EXPECT_EQ(g_errors[0],
            "Error # 10414\n\xCF\xEE\xF1\xF2\xF0\xEE\xE5\xED\xE8\xE5 "
            "\xEC\xED\xEE\xE6\xE5\xF1\xF2\xE2...");
  EXPECT_EQ(g_errors[1], "Error # 1041\n");
}

TEST_F(HostFrame, ErrorWithExtraText) {
  char extra[] = "C:\\bases\\games";
  Error(913, extra, 1);
  ASSERT_EQ(g_errors.size(), 1u);
  EXPECT_EQ(g_errors[0], std::string("Error # 913\nBASE: \xCD\xE5\xE2\xE5\xF0\xED\xEE\xE5 "
                                     "\xE8\xEC\xFF \xE1\xE0\xE7\xFB\n") +
                             extra);
}

TEST_F(HostFrame, InstallersReturnWhatTheyWereGiven) {
  EXPECT_EQ(SetErrorFunction(RecordError), reinterpret_cast<intptr_t>(&RecordError));
  TreeMessageFunction tree = [](int, int) { return 0; };
  EXPECT_EQ(SetTreeMessageFunctionPtr(tree), reinterpret_cast<intptr_t>(tree));
  EXPECT_EQ(SetTreeMessageFunctionPtr(nullptr), 0);
  MessageDlgFunction dlg = [](const char*, int, int) { return 0; };
  EXPECT_EQ(SetMessageDlg(dlg), reinterpret_cast<intptr_t>(dlg));
  SetMessageDlg(nullptr);
  ProgressStepExFunction ex = [](int, int, int) { return 0; };
  EXPECT_EQ(SetMessageFunctions(nullptr, nullptr, nullptr, nullptr, ex),
            reinterpret_cast<intptr_t>(ex));
  SetMessageFunctions(nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(HostFrame, SetProgramPathAcceptsLongPaths) {
  std::string path(400, 'p');
  EXPECT_EQ(CPP_SetProgramPath(path.c_str()), 0);
  EXPECT_EQ(CPP_SetProgramPath(""), 0);
  EXPECT_TRUE(g_errors.empty());
}

TEST_F(HostFrame, ByteUtilities) {
  char a[] = "abcX", b[] = "abcY";
  EXPECT_EQ(Compare(a, b, 3L), 0);
  EXPECT_EQ(Compare(a, b, 4L), -1);
  EXPECT_EQ(Compare(a, 3L, b, 5L), -1);
  EXPECT_EQ(Compare(b, 4L, a, 4L), 1);
  char p[] = "0123456abcDEFG";
  Swap(p, 10, 4, -3);
  EXPECT_STREQ(p, "0123456DEFGabc");
  Fill(p, 5, '*');
  EXPECT_STREQ(p, "*****56DEFGabc");
}

// Pattern blocks belong to the library's heap, which is the C runtime's heap here.
char* Text(const char* s) {
  char* t = static_cast<char*>(std::malloc(std::strlen(s) + 1));
  std::strcpy(t, s);
  return t;
}

HostRecordPattern* Pattern(int n, HostRecordPattern* library) {
  auto* p = static_cast<HostRecordPattern*>(std::malloc(sizeof(HostRecordPattern)));
  p->count = n;
  p->entries = static_cast<HostFieldEntry*>(std::malloc(sizeof(HostFieldEntry) * n));
  for (int i = 0; i < n; ++i) {
    HostFieldEntry& e = p->entries[i];
    e.type = i == 0 ? 0 : 1;
    e.name = Text(i == 0 ? "White" : "Event");
    e.param = 0;
    e.text = Text("");
    if (i == 0) {
      e.extra.library = library;
    } else {
      e.extra.value = 7;
    }
  }
  return p;
}

TEST_F(HostFrame, DestroyRecordPatternFreesNestedPatterns) {
  // Run under AddressSanitizer: a leak or a double free fails the test program.
  HostRecordPattern* inner = Pattern(1, nullptr);
  HostRecordPattern* middle = Pattern(2, inner);
  HostRecordPattern* outer = Pattern(3, middle);
  EXPECT_EQ(CPP_DestroyRP(outer), 0);
  EXPECT_EQ(CPP_DestroyRP(nullptr), 0);
}

TEST(HostFrameDeathTest, FatalErrorWithoutAFunctionEndsWithCode3) {
  EXPECT_EXIT(
      {
        CPP_Startup();
        SetErrorFunction(nullptr);
        Error(903, nullptr, 1);
      },
      ::testing::ExitedWithCode(3), "");
}

// Shut-down is final for the process, so it runs in a child process of its own.
TEST(HostFrameDeathTest, DoneReleasesTheStateForGood) {
  EXPECT_EXIT(
      {
        CPP_Startup();
        bool ok = CPP_Done() == 0;
        CPP_Startup();  // does not start the library again
        g_errors.clear();
        SetErrorFunction(RecordError);
        Error(903, nullptr, 1);
        ok = ok && g_errors.size() == 1 && g_errors[0] == "Error # 903\n";
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
