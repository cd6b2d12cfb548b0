// The check of a native base: each finding produced by damaging a real base in exactly that way,
// the log compared line by line in Windows-1251; the repair of a base damaged in several places.
#include <cstring>
#include <filesystem>

#include "base/check/base_check.h"
#include "frame/state.h"
#include "native_test_support.h"
#include "platform/platform.h"
#include "record/field_chess.h"
#include "storage/volume.h"

namespace ludrex {
namespace {

using testing::Le32;
using testing::NativeTest;
using testing::Own;
using testing::PlayerName;
using testing::SetPlayer;
using testing::Text;

// The expected text of a log line, written here in UTF-8 and compared as Windows-1251.
std::string W(const std::string& utf8) {
  std::string out(utf8.size() + 1, '\0');
  out.resize(platform::Utf8ToCp1251(utf8.data(), utf8.size(), out.data(), out.size()));
  return out;
}

const std::string kSound = W("Результат проверки: База не содержит ошибок");
const std::string kDamaged = W("Результат проверки: База содержит ошибки");
const std::string kFinished = W("Проверка закончена");
const std::string kStopped = W("Проверка прервана");
const std::string kCritical = W("Критическая ошибка, невозможно продолжить проверку");
const std::string kWarning = W(
    "Предупреждение (CW01): записи после этой могут иметь несоответствие между заголовками и "
    "телами партий");
std::string Checking(const std::string& name) { return W("Проверка базы: ") + name; }
std::string RecordLine(int n) { return W("Невозможно прочитать запись: ") + std::to_string(n); }
std::string Missing(const std::string& ext) { return "Missing file error (C001), file: " + ext; }
std::string NoData(int g) {
  return W("Ошибка (C008): Неправильное значение адреса поля, адресный файл #") +
         std::to_string(g);
}

class CheckTest : public NativeTest {
 protected:
  void TearDown() override {
    std::filesystem::remove_all(name_ + ".axx");
    std::remove(LogName().c_str());
    NativeTest::TearDown();
  }
  std::string LogName() const { return name_ + ".log"; }

  // n games: White "W<k>", Black "B<k % 3>", Event "event <k>", result k % 3, closed. Players:
  // W0, B0, W1, B1, W2, B2, W3, W4, ...
  void MakeGames(int n) {
    Base* b = Create(testing::GamesPattern());
    Record r(b->GetRecordPattern());
    r.LinkToBase(b);
    for (int k = 0; k < n; ++k) {
      SetPlayer(r[0], "W" + std::to_string(k));
      SetPlayer(r[1], "B" + std::to_string(k % 3));
      // Field order: White, Black, Date, Result (group 00), Event (group 01).
      r[4].SetText(Own("event " + std::to_string(k)));
      r[3].SetInt(k % 3);
      b->Write(kAppendRecord, r);
    }
    CloseBase(b);
  }

  // Runs the check; the log's lines (each written as CR LF + text).
  std::vector<std::string> Check(int* result, Subset* subset = nullptr) {
    std::remove(LogName().c_str());
    CheckOptions o;
    *result = CheckNativeBase(Own(name_), LogName().c_str(), subset, o);
    std::ifstream in(LogName(), std::ios::binary);
    std::string log((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::string> lines;
    EXPECT_EQ(log.compare(0, 2, "\r\n"), 0);
    for (std::size_t at = 2; at <= log.size();) {
      std::size_t end = log.find("\r\n", at);
      if (end == std::string::npos) end = log.size();
      lines.push_back(log.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }

  // Replaces 32-bit entry i of a file.
  void PutEntry(const std::string& ext, std::size_t i, std::int64_t value) {
    auto bytes = Bytes(ext);
    auto v = Le32({value});
    std::copy(v.begin(), v.end(), bytes.begin() + static_cast<long>(4 * i));
    PutBytes(ext, bytes);
  }

  std::vector<std::string> Sound() const {
    return {Checking(name_), Checking("Players"), kSound, kFinished};
  }
};

TEST_F(CheckTest, SoundBaseAndEmptyBase) {
  MakeGames(0);
  int result = -1;
  EXPECT_EQ(Check(&result),
            (std::vector<std::string>{Checking(name_),
                                      W("Предупреждение (CW00), Файл .axx имеет длину ноль"),
                                      Checking("Players"), kSound, kFinished}));
  EXPECT_EQ(result, 1);
  MakeGames(5);
  auto subset = std::unique_ptr<Subset>(Subset::CreateTmp(5));
  EXPECT_EQ(Check(&result, subset.get()), Sound());
  EXPECT_EQ(result, 1);
  EXPECT_EQ(subset->CurLength(), 5);
}

TEST_F(CheckTest, MissingFilesOfEachKind) {
  for (const char* ext : {".kvx", ".axx", ".dxx", ".emb"}) {
    MakeGames(2);
    std::filesystem::remove(name_ + ext);
    int result = -1;
    EXPECT_EQ(Check(&result), (std::vector<std::string>{Checking(name_), Missing(ext), kCritical}))
        << ext;
    EXPECT_EQ(result, 0);
  }
  for (const char* ext : {".a01", ".d01", ".d00"}) {
    MakeGames(2);
    std::filesystem::remove(name_ + ext);
    int result = -1;
    EXPECT_EQ(Check(&result), (std::vector<std::string>{Checking(name_), Checking("Players"),
                                                         Missing(ext), kCritical}))
        << ext;
    EXPECT_EQ(result, 0);
  }
  // A library without its key order.
  MakeGames(2);
  {
    std::unique_ptr<Volume> v(Volume::Open((name_ + ".emb").c_str()));
    v->DeleteEntries("Players.iii", kVolumeFile, 0);
    v->Close();
  }
  int result = -1;
  EXPECT_EQ(Check(&result), (std::vector<std::string>{Checking(name_), Checking("Players"),
                                                       Missing(".iii"), kCritical}));
  EXPECT_EQ(result, 0);
}

TEST_F(CheckTest, HeaderFindings) {
  MakeGames(2);
  auto header = Bytes(".kvx");
  auto wrong = header;
  wrong[60] = 'X';
  PutBytes(".kvx", wrong);
  int result = -1;
  EXPECT_EQ(Check(&result),
            (std::vector<std::string>{Checking(name_), W("Ошибка (C000) В заголовке файла: .kvx"),
                                      Checking("Players"), kSound, kFinished}));
  auto negative = header;
  negative[107] = 0x80;
  PutBytes(".kvx", negative);
  EXPECT_EQ(Check(&result), (std::vector<std::string>{
                                Checking(name_), W("Ошибка (C009): Размер базы меньше нуля"),
                                kCritical}));
  EXPECT_EQ(result, 0);
  PutBytes(".kvx", header);
  EXPECT_EQ(Check(&result), Sound());
}

TEST_F(CheckTest, KeyFieldIsReported) {
  Base* b = Create(testing::PlayersPattern());
  Record r(b->GetRecordPattern());
  r[0].SetText(Own("x"));
  b->Write(kAppendRecord, r);
  CloseBase(b);
  int result = -1;
  EXPECT_EQ(Check(&result), (std::vector<std::string>{Checking(name_),
                                                       W("Ошибка (C002): Ключевое поле в базе"),
                                                       kSound, kFinished}));
}

TEST_F(CheckTest, EmptySlotMapVolumeAndUnopenableSlotMap) {
  MakeGames(3);
  PutBytes(".axx", {});
  int result = -1;
  EXPECT_EQ(Check(&result),
            (std::vector<std::string>{Checking(name_),
                                      W("Предупреждение (CW00), Файл .axx имеет длину ноль"),
                                      Checking("Players"), RecordLine(1),
                                      W("Ошибка (C005): SubsetAxx неправильный"), kDamaged,
                                      kStopped}));
  EXPECT_EQ(result, 0);

  MakeGames(3);
  PutBytes(".emb", std::vector<std::uint8_t>(600, 7));
  EXPECT_EQ(Check(&result),
            (std::vector<std::string>{
                Checking(name_), W("Ошибка: (C011): Невозможно открыть том с библиотеками"),
                kCritical}));
  EXPECT_EQ(result, 0);

  MakeGames(3);
  std::filesystem::remove(name_ + ".axx");
  std::filesystem::create_directory(name_ + ".axx");
  EXPECT_EQ(Check(&result),
            (std::vector<std::string>{Checking(name_),
                                      W("Ошибка (C012): невозможно открыть файл .axx"),
                                      kCritical}));
  EXPECT_EQ(result, 0);
}

TEST_F(CheckTest, SlotMapTooShortStopsAtTheFirstRecordBeyondIt) {
  MakeGames(9);
  EXPECT_EQ(Bytes(".axx"), (std::vector<std::uint8_t>{0xFF, 0x80}));
  PutBytes(".axx", {0xFF});
  auto subset = std::unique_ptr<Subset>(Subset::CreateTmp(9));
  subset->IncludeRange(0, 9);
  int result = -1;
  EXPECT_EQ(Check(&result, subset.get()),
            (std::vector<std::string>{Checking(name_), Checking("Players"), RecordLine(9),
                                      W("Ошибка (C005): SubsetAxx неправильный"), kDamaged,
                                      kStopped}));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(subset->CurLength(), 8);
  EXPECT_EQ(subset->Item(8), 0);
}

TEST_F(CheckTest, FixedDataBeyondItsFile) {
  MakeGames(4);
  // Group 00 holds two library numbers, the date and the result: 10 bytes a slot.
  auto d = Bytes(".d00");
  ASSERT_EQ(d.size(), 40u);
  d.resize(25);
  PutBytes(".d00", d);
  int result = -1;
  EXPECT_EQ(Check(&result),
            (std::vector<std::string>{Checking(name_), Checking("Players"), RecordLine(4),
                                      W("Ошибка (C006): Неправильный фиксированный адрес"),
                                      kDamaged, kStopped}));
}

TEST_F(CheckTest, SlotBeyondTheAddressFile) {
  MakeGames(4);
  auto a = Bytes(".a01");
  a.resize(8);
  PutBytes(".a01", a);
  auto subset = std::unique_ptr<Subset>(Subset::CreateTmp(4));
  int result = -1;
  EXPECT_EQ(Check(&result, subset.get()),
            (std::vector<std::string>{
                Checking(name_), Checking("Players"), RecordLine(3),
                W("Ошибка (C010): Номер записи больше размера адресного файла #1"), kDamaged,
                kStopped}));
  EXPECT_EQ(subset->CurLength(), 2);
}

TEST_F(CheckTest, NoDataEntriesDirectAndThroughAnOverflowStep) {
  MakeGames(5);
  PutEntry(".a01", 1, 0x80000000);
  auto a = Bytes(".a01");
  auto tail = Le32({0x80000000});
  a.insert(a.end(), tail.begin(), tail.end());  // entry 5
  PutBytes(".a01", a);
  PutEntry(".a01", 3, -5);
  auto subset = std::unique_ptr<Subset>(Subset::CreateTmp(5));
  int result = -1;
  EXPECT_EQ(Check(&result, subset.get()),
            (std::vector<std::string>{Checking(name_), Checking("Players"), RecordLine(2),
                                      NoData(1), kWarning, RecordLine(4), NoData(1), kDamaged,
                                      kFinished}));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(subset->CurLength(), 3);
  EXPECT_EQ(subset->Item(1), 0);
  EXPECT_EQ(subset->Item(3), 0);
}

TEST_F(CheckTest, OverflowReferenceBeyondTheAddressFile) {
  MakeGames(3);
  PutEntry(".a01", 0, -1000);
  int result = -1;
  EXPECT_EQ(Check(&result),
            (std::vector<std::string>{Checking(name_), Checking("Players"), RecordLine(1),
                                      W("Ошибка (C007): Неправильный адрес поля"), kDamaged,
                                      kFinished}));
  EXPECT_EQ(result, 0);
}

TEST_F(CheckTest, LogGoesToTheProgramPathWithoutAName) {
  MakeGames(1);
  std::string dir = ::testing::TempDir() + "ludrex_check_program";
  std::filesystem::create_directories(dir);
  std::string saved = ProgramPath;
  SetProgramPath(dir.c_str());
  std::filesystem::remove(dir + "/Test.log");
  EXPECT_EQ(CheckNativeBase(Own(name_), nullptr, nullptr, CheckOptions{}), 1);
  SetProgramPath(saved.c_str());
  std::ifstream in(dir + "/Test.log", std::ios::binary);
  std::string log((std::istreambuf_iterator<char>(in)), {});
  in.close();  // Windows cannot remove a file that is open
  EXPECT_EQ(log, "\r\n" + Checking(name_) + "\r\n" + Checking("Players") + "\r\n" + kSound +
                     "\r\n" + kFinished);
  std::filesystem::remove_all(dir);
}

int g_stopAt = -1;
int LUDREX_CDECL StopAt(int current, int) { return current == g_stopAt ? 1 : 0; }

TEST_F(CheckTest, StopDuringTheRecordCheck) {
  MakeGames(6);
  Callbacks().step = StopAt;
  g_stopAt = 2;
  auto subset = std::unique_ptr<Subset>(Subset::CreateTmp(6));
  int result = -1;
  EXPECT_EQ(Check(&result, subset.get()),
            (std::vector<std::string>{Checking(name_), Checking("Players"), kSound, kStopped}));
  Callbacks().step = nullptr;
  EXPECT_EQ(subset->CurLength(), 2);
}

// ---------------------------------------------------------------------------------------------
// Repair

struct Game {
  std::string white, black, event;
  std::int32_t result;
  bool operator==(const Game&) const = default;
};

class RepairTest : public CheckTest {
 protected:
  void TearDown() override {
    Registry()->CloseAll();
    EraseBase(Own(name_ + "_new"), 0);
    CheckTest::TearDown();
  }
  Base* CreateNew(const RecordPattern& p) { return CreateBase(Own(name_ + "_new"), p, 0); }
  static Game ReadGame(Base* b, std::int32_t n) {
    Record r(b->GetRecordPattern());
    r.LinkToBase(b);
    b->Read(n, r);
    return {PlayerName(r[0]), PlayerName(r[1]), Text(r[4]), r[3].GetInt()};
  }
};

TEST_F(RepairTest, RecoversEveryRecordThatPassedTheCheck) {
  MakeGames(10);
  std::vector<Game> originals;
  {
    Base* b = Open();
    for (int k = 0; k < 10; ++k) originals.push_back(ReadGame(b, k));
    CloseBase(b);
  }
  // Three damages: no data for record 2, no data behind an overflow step for record 5, an
  // overflow reference past the file for record 7.
  PutEntry(".a01", 2, 0x80000000);
  auto a = Bytes(".a01");
  auto tail = Le32({0x80000000});
  a.insert(a.end(), tail.begin(), tail.end());
  PutBytes(".a01", a);
  PutEntry(".a01", 5, -10);
  PutEntry(".a01", 7, -99);
  auto passed = std::unique_ptr<Subset>(Subset::CreateTmp(10));
  int result = -1;
  Check(&result, passed.get());
  EXPECT_EQ(result, 0);
  ASSERT_EQ(passed->CurLength(), 7);

  Base* source = Open();
  Base* dest = CreateNew(source->GetRecordPattern());
  EXPECT_EQ(RepairBase(source, dest, passed.get(), 0), 7);
  ASSERT_EQ(dest->RecordCount(), 7);
  std::int32_t i = 0;
  for (int k = 0; k < 10; ++k) {
    if (k == 2 || k == 5 || k == 7) continue;
    EXPECT_TRUE(ReadGame(dest, i) == originals[static_cast<std::size_t>(k)]) << k;
    ++i;
  }
  CloseBase(dest);
  CloseBase(source);
  // The new base is sound.
  std::string saved = name_;
  name_ += "_new";
  EXPECT_EQ(Check(&result), (std::vector<std::string>{Checking(name_), Checking("Players"),
                                                       kSound, kFinished}));
  name_ = saved;
}

TEST_F(RepairTest, ARecordThatCannotBeReadIsReportedAndLeftOut) {
  MakeGames(3);
  // An address past the end of the data file: the check cannot see it, the read fails (946).
  PutEntry(".a01", 1, 1000000);
  int result = -1;
  Check(&result);
  EXPECT_EQ(result, 1);
  Base* source = Open();
  Base* dest = CreateNew(source->GetRecordPattern());
  EXPECT_EQ(RepairBase(source, dest, nullptr, 0), 3);
  EXPECT_EQ(dest->RecordCount(), 2);
  EXPECT_EQ(testing::LastErrorCode(), 946u);
  EXPECT_EQ(ReadGame(dest, 1).white, "W2");
  CloseBase(dest);
  CloseBase(source);
}

RecordPattern WithMoves() {
  RecordPattern p = testing::GamesPattern();
  p.Append(FieldSpec(kChessType, String("~22"), 0, String("")));
  return p;
}

TEST_F(RepairTest, LeavesOutGamesWithoutMovesWhenAsked) {
  Base* b = Create(WithMoves());
  Record r(b->GetRecordPattern());
  r.LinkToBase(b);
  const char* moves = "1. e4 e5 2. Nf3 *";
  for (int k = 0; k < 2; ++k) {
    SetPlayer(r[0], "W" + std::to_string(k));
    SetPlayer(r[1], "B");
    r[5].SetEmpty();
    if (k == 1) {
      r[5].Unpack(kPgnBase, reinterpret_cast<const std::uint8_t*>(moves),
                  static_cast<std::int32_t>(std::strlen(moves)), String(""));
    }
    b->Write(kAppendRecord, r);
  }
  Base* dest = CreateNew(b->GetRecordPattern());
  EXPECT_EQ(RepairBase(b, dest, nullptr, kRepairSkipEmpty), 2);
  ASSERT_EQ(dest->RecordCount(), 1);
  Record out(dest->GetRecordPattern());
  out.LinkToBase(dest);
  dest->Read(0, out);
  EXPECT_EQ(PlayerName(out[0]), "W1");
  EXPECT_GT(out[5].ToText().Length(), 0);
  EXPECT_EQ(Text(out[5]), Text(r[5]));
  // Without the flag (or with bit 1 set) both games are copied.
  EXPECT_EQ(RepairBase(b, dest, nullptr, 3), 2);
  EXPECT_EQ(dest->RecordCount(), 3);
  CloseBase(dest);
  CloseBase(b);
}

TEST_F(RepairTest, StopEndsTheCopyAfterTheRecord) {
  MakeGames(5);
  Base* source = Open();
  Base* dest = CreateNew(source->GetRecordPattern());
  Callbacks().step = StopAt;
  g_stopAt = 1;
  EXPECT_EQ(RepairBase(source, dest, nullptr, 0), 2);
  Callbacks().step = nullptr;
  EXPECT_EQ(dest->RecordCount(), 2);
  CloseBase(dest);
  CloseBase(source);
}

TEST_F(RepairTest, ByNameShowsTheNoticeWhenTheSourceCannotBeOpened) {
  MakeGames(1);
  Base* source = Open();
  Base* dest = CreateNew(source->GetRecordPattern());
  CloseBase(source);
  static std::string notice;
  Callbacks().dialog = [](const char* text, int flag, int kind) {
    notice = std::to_string(flag) + "/" + std::to_string(kind) + ":" + text;
    return 0;
  };
  EXPECT_EQ(RepairBaseByName(Own(name_ + "_nothing"), 0, dest, 0), -1);
  EXPECT_EQ(notice, "1/4:" + W("Ошибка при открытии базы, восстановление невозможно"));
  EXPECT_EQ(RepairBaseByName(Own(name_), 0, dest, 0), 1);
  EXPECT_EQ(dest->RecordCount(), 1);
  Callbacks().dialog = nullptr;
  CloseBase(dest);
}

}  // namespace
}  // namespace ludrex
