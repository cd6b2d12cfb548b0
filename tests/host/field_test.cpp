// Fields, records and the field-type catalogue as a host sees them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ludrex.h"

namespace {

std::vector<std::string> g_fieldErrors;
void LUDREX_CDECL KeepError(const char* text) { g_fieldErrors.emplace_back(text); }

class HostFields : public ::testing::Test {
 protected:
  void SetUp() override {
    CPP_Startup();
    g_fieldErrors.clear();
    SetErrorFunction(KeepError);
  }
  void TearDown() override { SetErrorFunction(nullptr); }
  static std::string LastError() {
    return g_fieldErrors.empty() ? ""
                                 : g_fieldErrors.back().substr(0, g_fieldErrors.back().find('\n'));
  }
};

HostFieldEntry Entry(int type, const char* name, int flags = 0, const char* text = "",
                     HostRecordPattern* library = nullptr) {
  HostFieldEntry e;
  e.type = type;
  e.name = const_cast<char*>(name);
  e.param = flags;
  e.text = const_cast<char*>(text);
  e.extra.value = 0;
  if (type == 0) e.extra.library = library;
  return e;
}

TEST_F(HostFields, Catalogue) {
  EXPECT_STREQ(CPP_GetFieldTypeName(7), "ECO");
  EXPECT_STREQ(CPP_GetFieldTypeName(0x10007), "ECO criterion");
  EXPECT_STREQ(CPP_GetFieldTypeName(1),
               "\xF1\xF2\xF0\xEE\xEA\xE0 \xEF\xE5\xF0\xE5\xEC\xE5\xED\xED\xEE\xE9 "
               "\xE4\xEB\xE8\xED\xFB");  // строка переменной длины
  EXPECT_EQ(CPP_GetFieldTypeName(9), nullptr);
  EXPECT_EQ(LastError(), "Error # 801");
  EXPECT_EQ(CPP_NFieldSubtypes(2), 6);
  EXPECT_EQ(CPP_NFieldSubtypes(3), 3);
  EXPECT_EQ(CPP_NFieldSubtypes(0x10002), 0);
  EXPECT_STREQ(CPP_GetFieldSubtypeStr(2, 3), "2u");
  EXPECT_STREQ(CPP_GetFieldSubtypeStr(3, 1), "YM");
  EXPECT_STREQ(CPP_GetFieldSubtypeName(3, 0), "\xE3\xEE\xE4");  // год
  EXPECT_EQ(CPP_GetFieldSubtypeStr(3, 3), nullptr);
  EXPECT_EQ(LastError(), "Error # 801");
  EXPECT_EQ(CPP_GetFieldSubtypeInt(2, "2u"), 3);
  EXPECT_EQ(CPP_GetFieldSubtypeInt(3, "ym"), 1);
  EXPECT_EQ(CPP_GetFieldSubtypeInt(2, "8"), 0);
  EXPECT_EQ(CPP_GetFieldSubtypeInt(2, nullptr), 0);
}

TEST_F(HostFields, Meanings) {
  EXPECT_EQ(Field_NMeanings(), 23);
  EXPECT_STREQ(Field_MeaningName(8), "FIDE ID");
  EXPECT_STREQ(Field_MeaningName(1), "\xC1\xE5\xEB\xFB\xE5");  // Белые
  EXPECT_EQ(Field_MeaningName(23), nullptr);
  EXPECT_EQ(LastError(), "Error # 814");
  EXPECT_EQ(Field_NMeaningPairs(0), 9);
  EXPECT_EQ(Field_MeaningPairFieldType(0, 7), 3);
  EXPECT_EQ(Field_MeaningPairSubtype(0, 7), 1);
  EXPECT_EQ(Field_MeaningPairFieldType(16, 0), 0);
  EXPECT_EQ(Field_MeaningPairSubtype(8, 0), 5);
  EXPECT_EQ(Field_MeaningPairFieldType(22, 1), -1);
  EXPECT_EQ(LastError(), "Error # 815");
  EXPECT_STREQ(Field_PackMeaningName(5, "Elo"), "~5");
  EXPECT_STREQ(Field_PackMeaningName(0, "Clock"), "Clock");
  EXPECT_EQ(Field_UnpackFieldMeaning("~22"), 22);
  EXPECT_EQ(Field_UnpackFieldMeaning("White"), 0);
  EXPECT_STREQ(Field_UnpackFieldName("~22"), "");
  EXPECT_STREQ(Field_UnpackFieldName("White"), "White");
}

TEST_F(HostFields, CreateFieldsAndUseTheTypedAccessors) {
  HostFieldEntry e = Entry(2, "~9", 4, "2u");
  LudrexField* elo = Field_CreateField(&e);
  ASSERT_NE(elo, nullptr);
  EXPECT_EQ(Field_GetFlags(elo), 4);
  EXPECT_EQ(Field_SetFlags(elo, 6), 6);
  EXPECT_EQ(Field_GetFlags(elo), 6);
  IntField_SetValue(elo, 2785);
  EXPECT_EQ(IntField_GetValue(elo), 2785);
  Field_SetEmpty(elo);
  EXPECT_EQ(IntField_GetValue(elo), 0);
  EXPECT_EQ(StringField_GetStrPtr(elo), nullptr);  // not a string field
  EXPECT_EQ(LastError(), "Error # 803");
  Field_DestroyField(elo);
  Field_DestroyField(nullptr);

  e = Entry(2, "x", 0, "3");
  EXPECT_EQ(Field_CreateField(&e), nullptr);
  EXPECT_EQ(LastError(), "Error # 806");
  e = Entry(0, "~1");
  EXPECT_EQ(Field_CreateField(&e), nullptr);
  EXPECT_EQ(LastError(), "Error # 804");

  e = Entry(1, "~16");
  LudrexField* event = Field_CreateField(&e);
  StringField_SetStr(event, "Candidates");
  EXPECT_STREQ(StringField_GetStrPtr(event), "Candidates");
  Field_DestroyField(event);

  e = Entry(3, "~15", 0, "F");
  LudrexField* date = Field_CreateField(&e);
  DateField_SetYear(date, 1948);
  DateField_SetMonth(date, 3);
  DateField_SetDay(date, 2);
  EXPECT_EQ(DateField_GetYear(date), 1948);
  EXPECT_EQ(DateField_GetMonth(date), 3);
  EXPECT_EQ(DateField_GetDay(date), 2);
  Field_DestroyField(date);

  e = Entry(6, "~17");
  LudrexField* round = Field_CreateField(&e);
  RoundField_SetRoundN(round, 7);
  RoundField_SetGameN(round, 3);
  EXPECT_EQ(RoundField_GetRoundN(round), 7);
  EXPECT_EQ(RoundField_GetGameN(round), 3);
  RoundField_SetRoundN(round, 2);
  EXPECT_EQ(RoundField_GetGameN(round), 3);
  Field_DestroyField(round);

  const int types[] = {5, 8, 7};
  for (int type : types) {
    e = Entry(type, "f");
    LudrexField* f = Field_CreateField(&e);
    if (type == 5) {
      ResultField_SetValue(f, 2);
      EXPECT_EQ(ResultField_GetValue(f), 2);
    } else if (type == 8) {
      SexField_SetValue(f, 1);
      EXPECT_EQ(SexField_GetValue(f), 1);
    } else {
      EXPECT_EQ(ECOField_GetValue(f), -1);
      ECOField_SetValue(f, 499);
      EXPECT_EQ(ECOField_GetValue(f), 499);
    }
    Field_DestroyField(f);
  }
}

TEST_F(HostFields, RecordsWithLibraryFields) {
  HostFieldEntry libEntries[2] = {Entry(1, "~3"), Entry(2, "~5", 0, "2u")};
  HostRecordPattern library = {2, libEntries};
  HostFieldEntry entries[3] = {Entry(0, "~1", 1, "players", &library), Entry(5, "~14", 2),
                               Entry(4, "~22", 8)};
  HostRecordPattern pattern = {3, entries};
  LudrexRecord* record = Record_CreateRecord(&pattern);
  ASSERT_NE(record, nullptr);
  LudrexField* white = Record_GetField(record, 0);
  ASSERT_NE(white, nullptr);
  EXPECT_EQ(Field_GetFlags(Record_GetField(record, 2)), 8);
  EXPECT_EQ(Record_GetField(record, 3), nullptr);
  EXPECT_EQ(LastError(), "Error # 12");
  EXPECT_EQ(LibRefField_GetIndex(white), -1);
  LibRefField_SetIndex(white, 42);  // index-only: no library is opened
  EXPECT_EQ(LibRefField_GetIndex(white), 42);
  EXPECT_EQ(LibRefField_GetBaseBody(white), nullptr);
  EXPECT_EQ(LibRefField_GetRecordLength(white), 2);
  LudrexRecord* libRecord = LibRefField_GetRecord(white);
  ASSERT_NE(libRecord, nullptr);
  LudrexField* name = Record_GetField(libRecord, 0);
  StringField_SetStr(name, "Tal, Mikhail");
  EXPECT_STREQ(StringField_GetStrPtr(name), "Tal, Mikhail");
  HostRecordPattern* rp = LibRefField_GetRP(white);
  ASSERT_NE(rp, nullptr);
  ASSERT_EQ(rp->count, 2);
  EXPECT_STREQ(rp->entries[1].name, "~5");
  EXPECT_STREQ(rp->entries[1].text, "2u");
  CPP_DestroyRP(rp);
  Record_LinkToBase(record, nullptr);  // no base: reported, nothing bound
  EXPECT_EQ(LastError(), "Error # 7");
  Record_Destroy(record);
  Record_Destroy(nullptr);
  // A bad pattern is refused without a record.
  HostRecordPattern bad = {-2, nullptr};
  EXPECT_EQ(Record_CreateRecord(&bad), nullptr);
  EXPECT_EQ(LastError(), "Error # 14");
  HostFieldEntry unknown[1] = {Entry(12, "x")};
  HostRecordPattern unknownPattern = {1, unknown};
  EXPECT_EQ(Record_CreateRecord(&unknownPattern), nullptr);
  EXPECT_EQ(LastError(), "Error # 801");
}

}  // namespace
