// Library-reference fields against a fake registry of libraries, records and patterns.
#include <algorithm>
#include <map>

#include "helpers.h"
#include "record/library_access.h"

namespace ludrex::testing {
namespace {

using V = std::vector<std::uint8_t>;

// A library: names in record-number order, kept in sorted key order as well.
struct FakeLibrary {
  std::vector<std::string> names;
  int opens = 0;
  std::vector<int> Sorted() const {
    std::vector<int> order(names.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return names[a] < names[b]; });
    return order;
  }
};

class FakeAccess : public LibraryAccess {
 public:
  std::map<std::string, FakeLibrary> libraries;  // by "type:name"
  std::vector<std::string> log;

  static FakeLibrary& Lib(Base* b) { return *reinterpret_cast<FakeLibrary*>(b); }

  Base* Open(std::int32_t type, const String& name) override {
    if (type >= 7) Raise(901);
    std::string key = std::to_string(type) + ":" + Str(name);
    log.push_back("open " + key);
    FakeLibrary& lib = libraries[key];
    ++lib.opens;
    return reinterpret_cast<Base*>(&lib);
  }
  void Close(Base* library) override {
    log.push_back("close");
    --Lib(library).opens;
  }
  std::int32_t RecordCount(Base* library) override {
    return static_cast<std::int32_t>(Lib(library).names.size());
  }
  void Read(Base* library, std::int32_t n, Record& record) override {
    record.FindField(String("~3"))->SetText(String(Lib(library).names.at(n).c_str()));
  }
  std::int32_t Write(Base* library, std::int32_t n, Record& record) override {
    EXPECT_EQ(n, 0x10000000);
    FakeLibrary& lib = Lib(library);
    std::string name = Str(record.FindField(String("~3"))->ToText());
    if (std::find(lib.names.begin(), lib.names.end(), name) == lib.names.end()) {
      lib.names.push_back(name);
    }
    std::vector<int> sorted = lib.Sorted();
    for (size_t pos = 0; pos < sorted.size(); ++pos) {
      if (lib.names[sorted[pos]] == name) return static_cast<std::int32_t>(pos);
    }
    return -1;
  }
  std::int32_t UnsortedFromSorted(Base* library, std::int32_t position) override {
    return Lib(library).Sorted().at(position);
  }
  std::int32_t BaseType(Base*) override { return 0; }
  String SecondFullName(Base*) override { return String("C:/bases/games"); }
  String LibraryFileName(Base*, const String& fieldName) override {
    return Str(fieldName) == "~1" ? String("players") : String("");
  }
};

// A record set of a criterion: GetBody of the criterion field gives its address.
class FakeSet : public RecordSetView {
 public:
  std::vector<int> members;
  bool all = false;
  bool Contains(std::int32_t n) const override {
    return std::find(members.begin(), members.end(), n) != members.end();
  }
  bool HoldsAll() const override { return all; }
};

class FakeCriterion : public Field {
 public:
  explicit FakeCriterion(FakeSet* set) : Field(::ludrex::testing::Spec(0x10000)), set_(set) {}
  void Assign(const Field&) override {}
  void SetEmpty() override {}
  ByteBlock GetKey() const override { return ByteBlock(); }
  std::int32_t PutKey(std::uint8_t*, std::int32_t) const override { return 0; }
  int CompareTo(const Field&) const override { return 0; }
  String ToText() const override { return String(); }
  void* GetBody() override { return set_; }
  void Pack(std::int32_t, const String&, ByteBlock& out) override { out.Clear(); }
  void Unpack(std::int32_t, const std::uint8_t*, std::int32_t, const String&) override {}

 private:
  FakeSet* set_;
};

class LibRef : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetLibraryAccess(&access_);
    library_.Append(Spec(1, "~3"));
    library_.Append(Spec(2, "~5", "2u"));
    FakeLibrary& players = access_.libraries["0:C:/bases/games,players"];
    players.names = {"Tal", "Alekhine", "Petrosian"};
  }
  void TearDown() override { SetLibraryAccess(previous_); }

  std::unique_ptr<Field> White(std::uint32_t flags = 0) {
    return std::unique_ptr<Field>(CreateField(Spec(0, "~1", "players", flags, &library_)));
  }
  static std::string NameOf(Field& f) {
    return Str(dynamic_cast<LibRefField&>(f).LibraryRecord().FindField(String("~3"))->ToText());
  }

  CaptureScope capture_;
  FakeAccess access_;
  LibraryAccess* previous_ = nullptr;
  RecordPattern library_;
};

TEST_F(LibRef, LinkToBaseBindsAndOpensTheLibrary) {
  RecordPattern pattern;
  pattern.Append(Spec(0, "~1", "", 0, &library_));
  pattern.Append(Spec(1, "~16"));
  Record record(pattern);
  auto& white = dynamic_cast<LibRefField&>(record[0]);
  EXPECT_EQ(white.LibraryBase(), nullptr);
  EXPECT_EQ(white.LibraryType(), LibRefField::kUnbound);
  record.LinkToBase(nullptr);
  EXPECT_EQ(Str(white.LibraryName()), "C:/bases/games,players");
  EXPECT_EQ(white.LibraryType(), 0);
  EXPECT_NE(white.LibraryBase(), nullptr);
  EXPECT_EQ(access_.libraries["0:C:/bases/games,players"].opens, 1);
  record.LinkToBase(nullptr);  // same binding: nothing reopened
  EXPECT_EQ(access_.libraries["0:C:/bases/games,players"].opens, 1);
  white.SetInt(2);
  EXPECT_EQ(NameOf(white), "Petrosian");
  white.SetInt(3);  // beyond the library: empty
  EXPECT_EQ(white.GetInt(), -1);
  EXPECT_EQ(white.IsEmpty(), 1);
}

TEST_F(LibRef, UnpackLoadsAndPackFindsOrAppends) {
  auto f = White();
  UnpackBytes(*f, 0, {1, 0, 0}, "C:/bases/games,players");
  EXPECT_EQ(f->GetInt(), 1);
  EXPECT_EQ(NameOf(*f), "Alekhine");
  UnpackBytes(*f, 0, {0xFF, 0xFF, 0xFF}, "C:/bases/games,players");
  EXPECT_EQ(f->GetInt(), -1);
  EXPECT_EQ(f->IsEmpty(), 1);
  EXPECT_EQ(Bytes(f->Pack(0, String("C:/bases/games,players"))), (V{0xFF, 0xFF, 0xFF}));
  // A name that is new to the library is appended; its record number is stored.
  auto s = Make(1, "", 0, "~1");
  s->SetText(String("Botvinnik"));
  f->Assign(*s);
  EXPECT_EQ(f->GetInt(), -1);  // numbered only when packed
  EXPECT_EQ(Bytes(f->Pack(0, String("C:/bases/games,players"))), (V{3, 0, 0}));
  EXPECT_EQ(f->GetInt(), 3);
  s->SetText(String("Tal"));
  f->Assign(*s);
  EXPECT_EQ(Bytes(f->Pack(0, String("C:/bases/games,players"))), (V{0, 0, 0}));
  // DOS numbers count from 1; re-binding closes the library bound before.
  access_.libraries["1:C:/bases/games,players"].names = {"a", "b", "c"};
  UnpackBytes(*f, 1, {3, 0}, "C:/bases/games,players");
  EXPECT_EQ(f->GetInt(), 2);
  EXPECT_EQ(NameOf(*f), "c");
  EXPECT_EQ(access_.libraries["1:C:/bases/games,players"].opens, 1);
  EXPECT_EQ(access_.libraries["0:C:/bases/games,players"].opens, 0);
  UnpackBytes(*f, 1, {0, 0}, "C:/bases/games,players");
  EXPECT_EQ(f->GetInt(), -1);
  EXPECT_RAISES(805, UnpackBytes(*f, 2, {1}));
  EXPECT_RAISES(805, f->Pack(1, String("")));
  EXPECT_RAISES(803, f->ToText());
  f.reset();
  EXPECT_EQ(access_.libraries["1:C:/bases/games,players"].opens, 0);  // closed with the field
}

TEST_F(LibRef, IndexOnlyFieldsKeepOnlyTheNumber) {
  auto f = White(kFlagIndexOnly);
  f->SetInt(0x1000000);
  EXPECT_EQ(Bytes(f->Pack(0, String(""))), (V{0xFF, 0xFF, 0xFF}));
  UnpackBytes(*f, 0, {0xFF, 0xFF, 0xFF});
  EXPECT_EQ(f->GetInt(), -1);
  EXPECT_EQ(f->IsEmpty(), 1);
  UnpackBytes(*f, 5, {7, 1, 0, 0});
  EXPECT_EQ(f->GetInt(), 263);
  EXPECT_TRUE(access_.log.empty());  // never opened
  EXPECT_EQ(Bytes(f->GetKey()), (V{7, 1, 0, 0}));
  auto g = White(kFlagIndexOnly);
  g->SetInt(5);
  EXPECT_EQ(f->CompareTo(*g), 1);
  g->Assign(*f);
  EXPECT_EQ(g->GetInt(), 263);
  // A string field takes no text from an index-only library field.
  auto s = Make(1, "", kFlagIndexOnly, "~1");
  EXPECT_RAISES(803, s->Assign(*f));
}

TEST_F(LibRef, KeysAndComparisonFollowTheLibraryRecord) {
  auto a = White(), b = White();
  UnpackBytes(*a, 0, {0, 0, 0}, "C:/bases/games,players");  // Tal
  UnpackBytes(*b, 0, {1, 0, 0}, "C:/bases/games,players");  // Alekhine
  EXPECT_EQ(a->CompareTo(*b), 1);
  ByteBlock ka = a->GetKey(), kb = b->GetKey();
  EXPECT_EQ(CompareBytes(ka.Data(), ka.Count(), kb.Data(), kb.Count()), 1);
  std::uint8_t buf[64];
  EXPECT_EQ(a->PutKey(buf, 3), -4);
  std::int32_t n = a->PutKey(buf, sizeof buf);
  EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + n), Bytes(ka));
  // With a translation table the key is the table's entry, big-endian.
  const std::int32_t table[3] = {2, 0, 1};
  dynamic_cast<LibRefField&>(*a).SetKeyTable(table, 3);
  EXPECT_EQ(a->PutKey(buf, sizeof buf), 4);
  EXPECT_EQ((V(buf, buf + 4)), (V{0, 0, 0, 2}));
  a->SetInt(-1);
  a->PutKey(buf, sizeof buf);
  EXPECT_EQ((V(buf, buf + 4)), (V{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(LibRef, StringAndLibraryFieldsAssignEachOther) {
  auto f = White();
  UnpackBytes(*f, 0, {2, 0, 0}, "C:/bases/games,players");
  auto s = Make(1, "", 0, "~1");
  s->Assign(*f);
  EXPECT_EQ(Str(s->ToText()), "Petrosian");
  // Meanings without a name field in the library record are refused.
  auto other = Make(1, "", 0, "~7");
  EXPECT_RAISES(803, other->Assign(*f));
  // A library record without the chosen field leaves the text as it is.
  RecordPattern noName;
  noName.Append(Spec(1, "~13"));
  std::unique_ptr<Field> g(CreateField(Spec(0, "~2", "", 0, &noName)));
  s->Assign(*g);
  EXPECT_EQ(Str(s->ToText()), "Petrosian");
  EXPECT_RAISES(803, g->Assign(*s));
  // The library record's name field must be a string.
  RecordPattern wrongType;
  wrongType.Append(Spec(2, "~3", "4"));
  std::unique_ptr<Field> h(CreateField(Spec(0, "~20", "", 0, &wrongType)));
  EXPECT_RAISES(803, s->Assign(*h));
}

TEST_F(LibRef, CriteriaTestTheRecordNumberAgainstTheSets) {
  auto f = White(kFlagIndexOnly);
  FakeSet setA, setB;
  setA.members = {3, 9};
  setB.members = {9};
  FakeCriterion critA(&setA), critB(&setB);
  f->SetCriterionA(&critA);
  f->SetCriterionB(&critB);
  std::uint8_t three[3] = {3, 0, 0}, nine[3] = {9, 0, 0}, none[3] = {0xFF, 0xFF, 0xFF};
  EXPECT_EQ(f->UnpackNativeAndTest(three, 3), 0);
  EXPECT_EQ(f->ResultA(), 1);
  EXPECT_EQ(f->GetInt(), -1);  // the field is not changed by the test
  EXPECT_EQ(f->UnpackNativeAndTest(nine, 3), 1);
  EXPECT_EQ(f->UnpackNativeAndTest(none, 3), 0);  // no record: fails a present criterion
  EXPECT_EQ(f->ResultA(), 0);
  std::uint8_t dosNone[2] = {0, 0};
  setA.all = true;
  f->UnpackAndTest(1, dosNone, 2, String(""));
  EXPECT_EQ(f->ResultA(), 1);  // DOS: a set holding every record accepts no record
  EXPECT_EQ(f->ResultB(), 0);
  f->SetCriterion(&critA);  // B removed
  EXPECT_EQ(f->UnpackAndTest(5, none, 3, String("")), 1);
  EXPECT_EQ(f->ResultA(), 0);
  EXPECT_RAISES(805, f->UnpackAndTest(2, none, 3, String("")));
  f->SetInt(9);
  EXPECT_EQ(f->Matches(&critA), 1);
  EXPECT_EQ(f->Matches(&critB), 1);
  f->SetInt(-1);
  EXPECT_EQ(f->Matches(&critA), 1);  // holds all
  EXPECT_EQ(f->Matches(&critB), 0);
}

TEST_F(LibRef, WithoutARegistryLibraryWorkIsRefused) {
  SetLibraryAccess(nullptr);
  auto f = White();
  EXPECT_RAISES(805, UnpackBytes(*f, 0, {1, 0, 0}, "lib"));
  auto g = White(kFlagIndexOnly);
  UnpackBytes(*g, 0, {1, 0, 0}, "lib");
  EXPECT_EQ(g->GetInt(), 1);
}

}  // namespace
}  // namespace ludrex::testing
