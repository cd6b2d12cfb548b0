// Records and record patterns, and their host form.
#include <cstring>

#include "helpers.h"
#include "storage/memory.h"

namespace ludrex::testing {
namespace {

class Records : public ::testing::Test {
 protected:
  CaptureScope capture_;
};

RecordPattern GamePattern(std::uint32_t dateFlags = 0) {
  RecordPattern p;
  p.Append(Spec(1, "~1"));
  p.Append(Spec(3, "~15", "F", dateFlags));
  p.Append(Spec(5, "~14"));
  return p;
}

// A wide record finds its fields through an index: the first of a name, none for a stranger.
TEST_F(Records, FindFieldInWideRecords) {
  for (int width : {5, 40}) {
    RecordPattern p;
    for (int i = 0; i < width; ++i) p.Append(Spec(1, ("F" + std::to_string(i)).c_str()));
    p.Append(Spec(2, "F1", "2"));  // a second field of an existing name
    Record r(p);
    for (int i = 0; i < width; ++i) {
      const std::string name = "F" + std::to_string(i);
      Field* f = r.FindField(String::Copy(name.data(), static_cast<std::uint32_t>(name.size())));
      ASSERT_NE(f, nullptr) << width << " " << i;
      EXPECT_EQ(f, &r[i]);
    }
    EXPECT_EQ(r.FindField(String("F1"))->TypeCode(), 1);
    EXPECT_EQ(r.FindField(String("G")), nullptr);
    EXPECT_EQ(r.FindField(String("")), nullptr);
  }
}

TEST_F(Records, KeyIndexIsTheLastKeyField) {
  RecordPattern p = GamePattern();
  EXPECT_EQ(Record(p).KeyIndex(), -1);
  p[0].flags = kFlagKey;
  p[2].flags = kFlagKey;
  Record r(p);
  EXPECT_EQ(r.KeyIndex(), 2);
  // With a key field, emptiness is the key field's.
  r[0].SetText(String("Smyslov"));
  EXPECT_EQ(r.IsEmpty(), 1);
  r[2].SetInt(1);
  EXPECT_EQ(r.IsEmpty(), 0);
  Record plain(GamePattern());
  EXPECT_EQ(plain.IsEmpty(), 1);
  plain[2].SetInt(3);
  EXPECT_EQ(plain.IsEmpty(), 0);
  plain.Clear();
  EXPECT_EQ(plain.IsEmpty(), 1);
}

TEST_F(Records, AFailingFieldLeavesNoRecordBehind) {
  RecordPattern p = GamePattern();
  p.Append(Spec(2, "~5", "3"));  // bad integer Param
  EXPECT_RAISES(806, Record r(p));
}

TEST_F(Records, KeysConcatenateAndPutKeyReportsTheShortfall) {
  Record r(GamePattern());
  r[0].SetText(String("Euwe"));
  auto& d = dynamic_cast<DateField&>(r[1]);
  d.year_ = 1935;
  r[2].SetInt(2);
  ByteBlock key = r.GetKey();
  ASSERT_EQ(key.Count(), 5 + 3 + 1);
  EXPECT_EQ(key.Data()[8], 2);  // GetKey of the result
  std::uint8_t buf[16];
  EXPECT_EQ(r.PutKey(buf, 9), 9);
  EXPECT_EQ(buf[8], 0xFD);  // PutKey of the result
  EXPECT_EQ(std::memcmp(buf, key.Data(), 8), 0);
  EXPECT_EQ(r.PutKey(buf, 7), -3);  // the date does not fit
  EXPECT_EQ(r.PutKey(buf, 3), -5);
}

TEST_F(Records, DescendingFieldsReverseTheComparison) {
  Record a(GamePattern(kFlagDescending)), b(GamePattern(kFlagDescending));
  a[0].SetText(String("Karpov"));
  b[0].SetText(String("Karpov"));
  dynamic_cast<DateField&>(a[1]).year_ = 1975;
  dynamic_cast<DateField&>(b[1]).year_ = 1978;
  EXPECT_EQ(a[1].CompareTo(b[1]), -1);
  EXPECT_EQ(a.CompareTo(b), 1);
  EXPECT_EQ(b.CompareTo(a), -1);
  b[0].SetText(String("kasparov"));
  EXPECT_EQ(a.CompareTo(b), -1);  // the first, ascending field decides
  b[0].SetText(String("KARPOV"));
  dynamic_cast<DateField&>(b[1]).year_ = 1975;
  EXPECT_EQ(a.CompareTo(b), 0);  // letters compare without case
}

HostRecordPattern* HostPattern() {
  RecordPattern library;
  library.Append(Spec(1, "~3"));
  library.Append(Spec(3, "~4", "Y"));
  RecordPattern p;
  p.Append(Spec(0, "~1", "players", kFlagIndexOnly, &library));
  p.Append(Spec(2, "~9", "2u", kFlagDescending));
  p.Append(Spec(1, "Annotation"));
  return PatternToHost(p);
}

TEST_F(Records, HostPatternsRoundTripWithTheirLibraries) {
  HostRecordPattern* host = HostPattern();
  ASSERT_EQ(host->count, 3);
  EXPECT_EQ(host->entries[0].type, 0);
  EXPECT_STREQ(host->entries[0].name, "~1");
  EXPECT_STREQ(host->entries[0].text, "players");
  EXPECT_EQ(host->entries[0].param, 1);
  ASSERT_NE(host->entries[0].extra.library, nullptr);
  EXPECT_EQ(host->entries[0].extra.library->count, 2);
  EXPECT_STREQ(host->entries[0].extra.library->entries[1].text, "Y");
  EXPECT_EQ(host->entries[1].param, 4);
  EXPECT_EQ(host->entries[1].extra.value, 0);
  RecordPattern back = PatternFromHost(host);
  ASSERT_EQ(back.Count(), 3);
  EXPECT_EQ(Str(back[2].name), "Annotation");
  ASSERT_NE(back[0].library, nullptr);
  EXPECT_EQ(Str((*back[0].library)[1].name), "~4");
  EXPECT_EQ(back[1].library, nullptr);
  DestroyHostPattern(host);
  // The copy is deep: it outlives the host block and copies of it.
  RecordPattern copy = back;
  back.Clear();
  EXPECT_EQ(Str((*copy[0].library)[0].name), "~3");
  Record r(copy);
  EXPECT_EQ(dynamic_cast<LibRefField&>(r[0]).LibraryRecord().Count(), 2);
  RecordPattern fromRecord = r.Pattern();
  EXPECT_EQ(fromRecord.Count(), 3);
}

TEST_F(Records, HostBlocksAreReadSafely) {
  // Another type's nested member is a plain value and is never followed.
  HostFieldEntry e{};
  char name[] = "~18";
  e.type = 7;
  e.name = name;
  e.text = nullptr;
  e.extra.value = 0x1234;
  FieldSpec spec = SpecFromHost(e);
  EXPECT_EQ(spec.library, nullptr);
  EXPECT_EQ(Str(spec.param), "");
  HostRecordPattern bad{-1, nullptr};
  EXPECT_RAISES(14, PatternFromHost(&bad));
  HostRecordPattern noEntries{2, nullptr};
  EXPECT_RAISES(7, PatternFromHost(&noEntries));
  EXPECT_EQ(PatternFromHost(nullptr).Count(), 0);
  // A pattern that contains itself is cut off instead of recursing forever.
  HostFieldEntry self{};
  self.type = 0;
  self.name = name;
  HostRecordPattern loop{1, &self};
  self.extra.library = &loop;
  EXPECT_RAISES(801, PatternFromHost(&loop));
}

}  // namespace
}  // namespace ludrex::testing
