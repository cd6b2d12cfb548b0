// Random writes, partial rewrites, appends and deletions against a plain in-memory model, with a
// reopen between rounds: every record reads back equal, also under fast access.
#include <random>

#include "native_test_support.h"

namespace ludrex {
namespace {

using testing::NativeTest;
using testing::Own;
using testing::Text;

struct Model {
  std::int32_t number = 0;
  std::int32_t result = 0;
  std::string s, t;
  bool deleted = false;
};

RecordPattern ModelPattern() {
  RecordPattern p;
  p.Append(FieldSpec(kStringType, String("S"), 0, String("")));
  p.Append(FieldSpec(kIntType, String("N"), 0, String("4")));
  p.Append(FieldSpec(kStringType, String("T"), 0, String("")));
  p.Append(FieldSpec(kResultType, String("R"), 0, String("")));
  return p;
}

std::string RandomText(std::mt19937& rng) {
  static const std::uint32_t kLengths[] = {0, 1, 3, 10, 40, 200, 3000};
  std::uint32_t n = kLengths[rng() % 7];
  std::string s(n, 'a');
  for (char& c : s) c = static_cast<char>('a' + rng() % 26);
  return s;
}

void Check(Base* b, const std::vector<Model>& model) {
  ASSERT_EQ(b->RecordCount(), static_cast<std::int32_t>(model.size()));
  Record r(b->GetRecordPattern());  // N, R, S, T
  for (std::size_t k = 0; k < model.size(); ++k) {
    b->Read(static_cast<std::int32_t>(k), r);
    ASSERT_EQ(r[0].GetInt(), model[k].number) << k;
    ASSERT_EQ(r[1].GetInt(), model[k].result) << k;
    ASSERT_EQ(Text(r[2]), model[k].s) << k;
    ASSERT_EQ(Text(r[3]), model[k].t) << k;
    ASSERT_EQ(b->IsDeleted(static_cast<std::int32_t>(k)), model[k].deleted ? 1 : 0) << k;
  }
}

TEST_F(NativeTest, RandomOperationsMatchTheModelAcrossReopens) {
  std::mt19937 rng(20261208);
  std::vector<Model> model;
  Base* b = Create(ModelPattern());
  RecordPattern onlyT;
  onlyT.Append(FieldSpec(kStringType, String("T"), 0, String("")));
  RecordPattern onlyN;
  onlyN.Append(FieldSpec(kIntType, String("N"), 0, String("4")));
  for (int round = 0; round < 6; ++round) {
    if (round % 2 == 1) b->EnableFastAccess(nullptr);
    Record full(b->GetRecordPattern());
    Record partT(onlyT);
    Record partN(onlyN);
    for (int op = 0; op < 700; ++op) {
      std::uint32_t kind = rng() % 10;
      std::int32_t count = static_cast<std::int32_t>(model.size());
      if (kind < 4 || count == 0) {
        Model m{static_cast<std::int32_t>(rng()), static_cast<std::int32_t>(rng() % 4),
                RandomText(rng), RandomText(rng), false};
        full[0].SetInt(m.number);
        full[1].SetInt(m.result);
        full[2].SetText(Own(m.s));
        full[3].SetText(Own(m.t));
        std::int32_t at = (rng() % 2 == 0) ? kAppendRecord : count;
        ASSERT_EQ(b->Write(at, full), count);
        model.push_back(m);
      } else if (kind < 6) {
        std::int32_t k = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(count));
        Model& m = model[static_cast<std::size_t>(k)];
        m.number = static_cast<std::int32_t>(rng());
        m.result = static_cast<std::int32_t>(rng() % 4);
        m.s = RandomText(rng);
        m.t = RandomText(rng);
        full[0].SetInt(m.number);
        full[1].SetInt(m.result);
        full[2].SetText(Own(m.s));
        full[3].SetText(Own(m.t));
        ASSERT_EQ(b->Write(k, full), k);
      } else if (kind < 8) {
        // A record with one field rewrites that field and keeps the others.
        std::int32_t k = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(count));
        Model& m = model[static_cast<std::size_t>(k)];
        if (kind == 6) {
          m.t = RandomText(rng);
          partT[0].SetText(Own(m.t));
          b->Write(k, partT);
        } else {
          m.number = static_cast<std::int32_t>(rng());
          partN[0].SetInt(m.number);
          b->Write(k, partN);
        }
      } else {
        std::int32_t k = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(count));
        b->ToggleDelete(k, 1);
        model[static_cast<std::size_t>(k)].deleted = !model[static_cast<std::size_t>(k)].deleted;
      }
    }
    Check(b, model);
    b->DisableFastAccess();
    CloseBase(b);
    b = Open();
    ASSERT_NE(b, nullptr);
    Check(b, model);
  }
  // Partial reads match by name: a record of T alone.
  Record partT(onlyT);
  b->Read(0, partT);
  EXPECT_EQ(Text(partT[0]), model[0].t);
  CloseBase(b);
}

}  // namespace
}  // namespace ludrex
