// Bulk writes against the record-by-record path: the same games appended both ways leave the same
// bytes in every file of the base and in every member of its volume; and a library answers
// AppendRecord and AppendSortedRecord from its key index exactly as its searches on file do.
#include <map>
#include <random>

#include "native_test_support.h"
#include "storage/volume.h"

namespace ludrex {
namespace {

using testing::NativeTest;
using testing::Own;

using FileBytes = std::map<std::string, std::vector<std::uint8_t>>;

std::vector<std::uint8_t> FileOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Every file of the closed native base name (the volume as a whole included) and every member of
// its volume, under "file:" and "member:" names.
FileBytes Snapshot(const std::string& name) {
  FileBytes out;
  for (const char* ext : {".kvx", ".axx", ".dxx", ".iii", ".emb"}) {
    if (FileExists((name + ext).c_str())) out[std::string("file:") + ext] = FileOf(name + ext);
  }
  for (int g = 0; g < 100; ++g) {
    for (char kind : {'a', 'd'}) {
      std::string ext = GroupExtension(kind, g);
      if (FileExists((name + ext).c_str())) out["file:" + ext] = FileOf(name + ext);
    }
  }
  std::unique_ptr<Volume> v(Volume::Open((name + ".emb").c_str()));
  for (VolumeFind* f = v->FindFirst(kVolumeFile, 0); f != nullptr; f = v->FindNext(f)) {
    std::string member(f->name.Text(), f->name.Length());
    ArrayHandle a = v->OpenMember(member.c_str(), 0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(a->Count()));
    for (std::int32_t at = 0; at < a->Count();) {
      std::int32_t n = std::min(a->Count() - at, 65535);
      a->Read(at, bytes.data() + at, n);
      at += n;
    }
    out["member:" + member] = bytes;

  }
  v->Close();
  return out;
}

// withVolume false leaves out the volume file as a whole (where its members lie in it depends
// on when they were flushed), not its members.
void ExpectSame(const FileBytes& want, const FileBytes& got, bool withVolume = true) {
  ASSERT_EQ(want.size(), got.size());
  for (const auto& [name, bytes] : want) {
    if (!withVolume && name == "file:.emb") continue;
    auto it = got.find(name);
    ASSERT_NE(it, got.end()) << name;
    EXPECT_TRUE(it->second == bytes) << name << ": " << bytes.size() << " bytes against "
                                     << it->second.size();
  }
}

RecordPattern NamePattern(const char* field) {
  RecordPattern p;
  p.Append(FieldSpec(kStringType, String(field), kFlagKey, String("")));
  return p;
}

// Games whose players, event and place live in three libraries.
RecordPattern LibraryGames() {
  RecordPattern players = NamePattern("~3"), events = NamePattern("~16"),
                places = NamePattern("~12");
  RecordPattern p;
  p.Append(FieldSpec(kLibRefType, String("~1"), 0, String("Players"), &players));
  p.Append(FieldSpec(kLibRefType, String("~2"), 0, String("Players"), &players));
  p.Append(FieldSpec(kLibRefType, String("~16"), 0, String("Events"), &events));
  p.Append(FieldSpec(kLibRefType, String("~11"), 0, String("Places"), &places));
  p.Append(FieldSpec(kDateType, String("~15"), 0, String("F")));
  p.Append(FieldSpec(kResultType, String("~14"), 0, String("")));
  p.Append(FieldSpec(kStringType, String("~19"), 0, String("")));
  return p;
}

// The same fields with the names as plain texts: the source of an import.
RecordPattern TextGames() {
  RecordPattern p;
  for (const char* name : {"~1", "~2", "~16", "~11"}) {
    p.Append(FieldSpec(kStringType, String(name), 0, String("")));
  }
  p.Append(FieldSpec(kDateType, String("~15"), 0, String("F")));
  p.Append(FieldSpec(kResultType, String("~14"), 0, String("")));
  p.Append(FieldSpec(kStringType, String("~19"), 0, String("")));
  return p;
}

// Names as a real collection has them: a pool that repeats, names new to the library, names that
// differ only in case (equal keys), Cyrillic letters (Windows-1251) and empty names.
std::string NameFrom(std::mt19937& rng, const char* kind, int pool, int fresh, int& next) {
  int pick = static_cast<int>(rng() % 100);
  if (pick < 3) return "";
  if (pick < fresh) return std::string(kind) + " new " + std::to_string(next++);
  std::string name = std::string(kind) + " " + std::to_string(rng() % pool);
  if (pick % 7 == 0) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  if (pick % 11 == 0) name += " \xC8\xE2\xE0\xED\xEE\xE2";  // "Иванов"
  return name;
}

std::vector<std::vector<std::string>> MakeGames(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<std::string>> games;
  int next = 0;
  for (int i = 0; i < count; ++i) {
    games.push_back({NameFrom(rng, "player", 400, 30, next), NameFrom(rng, "player", 400, 30, next),
                     NameFrom(rng, "event", 60, 50, next), NameFrom(rng, "site", 40, 10, next),
                     std::to_string(1950 + static_cast<int>(rng() % 70)),
                     std::to_string(static_cast<int>(rng() % 4)),
                     rng() % 5 == 0 ? "remark " + std::to_string(i) : ""});
  }
  return games;
}

class NativeBulkTest : public NativeTest {
 protected:
  std::string Named(const std::string& suffix) const { return name_ + suffix; }

  Base* CreateAt(const std::string& name, const RecordPattern& p) {
    EraseBase(Own(name), 0);
    erase_.push_back(name);
    return CreateBase(Own(name), p, 0);
  }

  void TearDown() override {
    for (const std::string& e : testing::Capture().errors) ADD_FAILURE() << e;
    Registry()->CloseAll();
    for (const std::string& n : erase_) EraseBase(Own(n), 0);
    NativeTest::TearDown();
  }

  // A base of text games to import from.
  Base* Source(const std::vector<std::vector<std::string>>& games) {
    Base* src = CreateAt(Named("_src"), TextGames());
    Record r(src->GetRecordPattern());
    for (const auto& g : games) {
      for (std::int32_t i = 0; i < r.Count(); ++i) {
        std::string field(r[i].Name().Text(), r[i].Name().Length());
        const std::string& v = field == "~1"    ? g[0]
                               : field == "~2"  ? g[1]
                               : field == "~16" ? g[2]
                               : field == "~11" ? g[3]
                               : field == "~15" ? g[4]
                               : field == "~14" ? g[5]
                                                : g[6];
        if (field == "~14" || field == "~15") {
          r[i].SetInt(std::stoi(v));
        } else {
          r[i].SetText(Own(v));
        }
      }
      src->Write(kAppendRecord, r);
    }
    return src;
  }

  // The record-by-record path: each game read, its fields assigned and written with
  // AppendRecord, no bulk write around it.
  static void CopyOneByOne(Base* src, Base* dst, std::int32_t from = 0, std::int32_t count = -1) {
    Record in(src->GetRecordPattern());
    in.LinkToBase(src);
    Record out(dst->GetRecordPattern());
    out.LinkToBase(dst);
    std::int32_t end = count < 0 ? src->RecordCount() : from + count;
    for (std::int32_t n = from; n < end; ++n) {
      src->Read(n, in);
      for (std::int32_t d = 0; d < out.Count(); ++d) {
        for (std::int32_t s = 0; s < in.Count(); ++s) {
          if (in[s].Name() == out[d].Name()) out[d].Assign(in[s]);
        }
      }
      dst->Write(kAppendRecord, out);
    }
    dst->Update();
  }

  std::vector<std::string> erase_;
};

TEST_F(NativeBulkTest, ImportInBulkLeavesTheBytesOfTheRecordByRecordPath) {
  auto games = MakeGames(3000, 7);
  Base* src = Source(games);
  src->Update();

  Base* one = CreateAt(Named("_one"), LibraryGames());
  CopyOneByOne(src, one);
  CloseBase(one);

  Base* bulk = CreateAt(Named("_bulk"), LibraryGames());
  EXPECT_EQ(src->AppendAnother(nullptr, bulk, false, 0, nullptr), 3000);
  // The key index answered: the library did not search its files.
  Base* players = OpenEmbeddedBase(bulk, String("Players"));
  EXPECT_TRUE(static_cast<NativeBase*>(players)->KeyIndexOn());
  CloseBase(players);
  CloseBase(bulk);

  // In three calls, as a checkpointed import makes them: the index lives on between them. Each
  // call ends with an update, which the record-by-record copy makes at the same points.
  Base* parts = CreateAt(Named("_parts"), LibraryGames());
  Base* oneParts = CreateAt(Named("_oneparts"), LibraryGames());
  std::unique_ptr<Subset> part(Subset::CreateTmp(3000));
  for (auto [from, n] : {std::pair{0, 1000}, {1000, 1500}, {2500, 500}}) {
    part->ExcludeRange(0, 3000);
    part->IncludeRange(from, n);
    EXPECT_EQ(src->AppendAnother(part.get(), parts, false, 0, nullptr), n);
    CopyOneByOne(src, oneParts, from, n);
  }
  CloseBase(parts);
  CloseBase(oneParts);
  CloseBase(src);

  FileBytes want = Snapshot(Named("_one"));
  EXPECT_GT(want.size(), 20u);
  ExpectSame(want, Snapshot(Named("_bulk")));
  ExpectSame(Snapshot(Named("_oneparts")), Snapshot(Named("_parts")));
  ExpectSame(want, Snapshot(Named("_parts")), false);
}

TEST_F(NativeBulkTest, AppendAfterReopenUsesTheNamesOnFile) {
  // The second import finds the first one's names on file: the index is built from them.
  auto first = MakeGames(800, 11), second = MakeGames(900, 12);
  Base* src1 = Source(first);
  src1->Update();
  Base* one = CreateAt(Named("_one"), LibraryGames());
  CopyOneByOne(src1, one);
  Base* bulk = CreateAt(Named("_bulk"), LibraryGames());
  src1->AppendAnother(nullptr, bulk, false, 0, nullptr);
  CloseBase(one);
  CloseBase(bulk);
  CloseBase(src1);
  EraseBase(Own(Named("_src")), 0);

  Base* src2 = Source(second);
  src2->Update();
  one = OpenBase(Own(Named("_one")), 0);
  CopyOneByOne(src2, one);
  bulk = OpenBase(Own(Named("_bulk")), 0);
  EXPECT_EQ(src2->AppendAnother(nullptr, bulk, false, 0, nullptr), 900);
  CloseBase(one);
  CloseBase(bulk);
  CloseBase(src2);
  ExpectSame(Snapshot(Named("_one")), Snapshot(Named("_bulk")));
}

// Library writes through the key index against Write on file: the same record numbers, the same
// positions after settling, the same files.
TEST_F(NativeBulkTest, LibraryAppendsFromTheIndexMatchWritesOnFile) {
  RecordPattern games;
  RecordPattern players = NamePattern("~3");
  games.Append(FieldSpec(kLibRefType, String("~1"), 0, String("Players"), &players));
  Base* a = CreateAt(Named("_a"), games);
  Base* b = CreateAt(Named("_b"), games);
  Base* libA = OpenEmbeddedBase(a, String("Players"));
  Base* libB = OpenEmbeddedBase(b, String("Players"));
  std::mt19937 rng(5);
  Record r(libA->GetRecordPattern());
  auto put = [&](const std::string& name, std::int32_t how) {
    r[0].SetText(Own(name));
    std::int32_t want = libA->UnsortedFromSorted(libA->Write(how, r));
    EXPECT_EQ(libB->AppendByKey(r, how), want) << name;
  };
  // Some names on file before the bulk write starts.
  for (int i = 0; i < 50; ++i) {
    r[0].SetText(Own("p" + std::to_string(rng() % 300)));
    libA->Write(kAppendRecord, r);
    libB->Write(kAppendRecord, r);
  }
  b->BeginBulkWrite();
  EXPECT_TRUE(static_cast<NativeBase*>(libB)->KeyIndexOn());
  for (int i = 0; i < 2000; ++i) {
    std::int32_t how = rng() % 3 == 0 ? kAppendSortedRecord : kAppendRecord;
    std::string name = i % 50 == 0 ? "" : "p" + std::to_string(rng() % 700);
    if (i % 13 == 0) name = "zz" + std::to_string(i);  // above every key so far
    if (i % 17 == 0) name = "P" + name.substr(name.empty() ? 0 : 1);  // equal key, other case
    put(name, how);
  }
  EXPECT_GT(static_cast<NativeBase*>(libB)->PendingKeys(), 0);
  // A search in the middle settles the pending keys: positions agree.
  for (std::int32_t p = 0; p < libA->RecordCount(); p += 37) {
    EXPECT_EQ(libB->UnsortedFromSorted(p), libA->UnsortedFromSorted(p));
  }
  EXPECT_EQ(static_cast<NativeBase*>(libB)->PendingKeys(), 0);
  for (int i = 0; i < 300; ++i) put("q" + std::to_string(rng() % 200), kAppendRecord);
  // An ordinary Write while the index is on searches it in memory and keeps it current.
  r[0].SetText(Own("mid"));
  EXPECT_EQ(libB->Write(kAppendRecord, r), libA->Write(kAppendRecord, r));
  put("mid", kAppendRecord);
  b->EndBulkWrite();
  CloseBase(libA);
  CloseBase(libB);
  CloseBase(a);
  CloseBase(b);
  FileBytes want = Snapshot(Named("_a"));
  ExpectSame(want, Snapshot(Named("_b")));
}

TEST_F(NativeBulkTest, RewritingALibraryKeyDropsTheIndexAndStaysExact) {
  RecordPattern games;
  RecordPattern players = NamePattern("~3");
  games.Append(FieldSpec(kLibRefType, String("~1"), 0, String("Players"), &players));
  Base* a = CreateAt(Named("_a"), games);
  Base* b = CreateAt(Named("_b"), games);
  Base* libA = OpenEmbeddedBase(a, String("Players"));
  Base* libB = OpenEmbeddedBase(b, String("Players"));
  Record r(libA->GetRecordPattern());
  b->BeginBulkWrite();
  for (const char* name : {"d", "b", "a", "c", "e"}) {
    r[0].SetText(String(name));
    libA->Write(kAppendRecord, r);
    libB->AppendByKey(r, kAppendRecord);
  }
  r[0].SetText(String("aa"));
  EXPECT_EQ(libB->Write(2, r), libA->Write(2, r));  // record 2 ("a") becomes "aa"
  EXPECT_FALSE(static_cast<NativeBase*>(libB)->KeyIndexOn());
  r[0].SetText(String("a"));
  EXPECT_EQ(libB->AppendByKey(r, kAppendRecord), libA->UnsortedFromSorted(libA->Write(kAppendRecord, r)));
  b->EndBulkWrite();
  CloseBase(libA);
  CloseBase(libB);
  CloseBase(a);
  CloseBase(b);
  ExpectSame(Snapshot(Named("_a")), Snapshot(Named("_b")));
}

}  // namespace
}  // namespace ludrex

namespace ludrex {
namespace {

// During bulk writes a top-level base grows its deletion marks once, when they are asked for.
TEST_F(NativeBulkTest, DeletionMarksOfBulkAppendsAreClearAndGrowWhenAsked) {
  Base* b = CreateAt(Named("_marks"), TextGames());
  Record r(b->GetRecordPattern());
  b->BeginBulkWrite();
  Field* white = r.FindField(String("~1"));
  ASSERT_NE(white, nullptr);
  for (int i = 0; i < 21; ++i) {
    white->SetText(Own("w" + std::to_string(i)));
    b->Write(kAppendRecord, r);
  }
  EXPECT_EQ(b->IsDeleted(20), 0);
  b->ToggleDelete(17, 1);
  EXPECT_EQ(b->IsDeleted(17), 1);
  white->SetText(Own("last"));
  b->Write(kAppendRecord, r);
  EXPECT_EQ(b->IsDeleted(21), 0);
  Subset* marks = b->GetDeletedSubset();
  ASSERT_NE(marks, nullptr);
  EXPECT_EQ(marks->MaxLength(), 22);
  EXPECT_EQ(marks->CurLength(), 1);
  b->EndBulkWrite();
  CloseBase(b);
  // 22 bits: record 17 set.
  EXPECT_EQ(FileOf(Named("_marks") + ".dxx"), (std::vector<std::uint8_t>{0, 0, 0x40}));
}

}  // namespace
}  // namespace ludrex
