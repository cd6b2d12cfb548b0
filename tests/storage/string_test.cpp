#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "storage/memory.h"
#include "storage/string.h"

namespace ludrex {
namespace {

using testing::CaptureScope;
using testing::LastErrorCode;

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }

TEST(String, ConstructionForms) {
  CaptureScope scope;
  String d;
  EXPECT_EQ(d.MaxLen(), 255);
  EXPECT_EQ(d.Allocated(), 256);
  EXPECT_EQ(d.Length(), 0);
  String view("abc");
  EXPECT_EQ(view.Allocated(), 0);
  EXPECT_EQ(view.Length(), 3);
  String one('q'), nul('\0');
  EXPECT_EQ(Str(one), "q");
  EXPECT_EQ(nul.Length(), 0);
  EXPECT_EQ(one.Allocated(), 0);
  String copy(view);
  EXPECT_EQ(copy.Allocated(), 4);
  EXPECT_NE(copy.Text(), view.Text());
  String moved(std::move(one));
  EXPECT_EQ(Str(moved), "q");  // the in-object character moves with it
}

TEST(String, LengthLimitsRaise103) {
  CaptureScope scope;
  EXPECT_THROW(String::WithMaxLen(65521), Failure);
  EXPECT_EQ(LastErrorCode(), 103u);
  std::string big(65521, 'a');
  EXPECT_THROW(String v(big.c_str()), Failure);
  EXPECT_EQ(LastErrorCode(), 103u);
  std::string max(65520, 'a');
  EXPECT_EQ(String(max.c_str()).Length(), 65520);
  String full = String::Copy(max.data(), 65520);
  EXPECT_THROW(full.InsertChar(0, 'x'), Failure);
}

TEST(String, AssignGrowsAndShrinksTheBuffer) {
  CaptureScope scope;
  String d;
  std::string long_text(300, 'z');
  d.Assign(String(long_text.c_str()));
  EXPECT_EQ(d.Allocated(), 301);
  d.Assign(String("0123456789"));
  EXPECT_EQ(d.Allocated(), 256);
  EXPECT_EQ(Str(d), "0123456789");
  String v("view");
  v.Assign(String("now owned"));
  EXPECT_EQ(v.Allocated(), 10);
  EXPECT_EQ(Str(v), "now owned");
}

TEST(String, IndexBeyondTheEndRaises101) {
  CaptureScope scope;
  String s("abcde");
  EXPECT_EQ(s.At(4), 'e');
  EXPECT_THROW(s.At(5), Failure);
  EXPECT_EQ(LastErrorCode(), 101u);
}

TEST(String, InsertIntoItselfAndAroundIt) {
  CaptureScope scope;
  String s = String::Copy("abc", 3);
  s.Insert(1, s, 0, 3);
  EXPECT_EQ(Str(s), "aabcbc");
  s.InsertChar(6, '!');
  EXPECT_EQ(Str(s), "aabcbc!");
  String t("xy");
  EXPECT_EQ(Str(t.Inserted(1, String("123"), 1, 2)), "x23y");
  EXPECT_EQ(Str(t.InsertedChar(0, '>')), ">xy");
  s.Insert(0, t, 0, 0);  // nothing
  EXPECT_EQ(s.Length(), 7);
}

TEST(String, FindAndFindChar) {
  CaptureScope scope;
  String s("one two two");
  StrPos p = s.Find(0, 11, String("two"), 0, 3);
  EXPECT_EQ(p.pos, 4);
  EXPECT_EQ(p.len, 3);
  p = s.Find(5, 6, String("two"), 0, 3);
  EXPECT_EQ(p.pos, 8);
  p = s.Find(0, 6, String("two"), 0, 3);  // must occur whole inside the range
  EXPECT_EQ(p.pos, 6);
  EXPECT_EQ(p.len, 0);
  p = s.FindChar(0, 11, 'w');
  EXPECT_EQ(p.pos, 5);
  EXPECT_EQ(p.len, 1);
  EXPECT_THROW(s.FindChar(5, 10, 'q'), Failure);  // a range past the end
}

TEST(String, ConversionsAndCopyOut) {
  CaptureScope scope;
  EXPECT_EQ(Str(String("aZ\xE0q").Upper()), "AZ\xE0Q");
  EXPECT_EQ(Str(String::FromNumber(255, 16)), "FF");
  EXPECT_EQ(Str(String::FromNumber(-42)), "-42");
  EXPECT_EQ(String("123abc").ToNumber(), 123);
  EXPECT_EQ(String("-7").ToNumber(), -7);
  EXPECT_EQ(String("99999999999").ToNumber(), 2147483647);
  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(String("hello").CopyOut(1, 10, buf, sizeof buf), 3u);
  EXPECT_STREQ(buf, "ell");
  EXPECT_EQ(String("hello").CopyOut(0, 5, buf, 0), 0u);
  EXPECT_EQ(String("hi").CopyOut(1, 10, buf, sizeof buf), 1u);  // never past the text
  EXPECT_STREQ(buf, "i");
  EXPECT_EQ(Str(String("hello").Substring(3, 100)), "lo");  // clamped to the text
}

TEST(String, NarrowingTo255ReportsAndClamps) {
  CaptureScope scope;
  EXPECT_EQ(NarrowTo255(200), 200);
  EXPECT_EQ(NarrowTo255(300), 255);
  EXPECT_EQ(LastErrorCode(), 102u);
}

}  // namespace
}  // namespace ludrex
