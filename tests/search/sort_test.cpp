#include "search/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/registry.h"
#include "capture.h"
#include "fake_base.h"
#include "search/subset.h"

namespace ludrex {
namespace {

using testing::CaptureScope;
using testing::LastErrorCode;

// Sorting plain integers through the sequence interface, with many duplicates; each element
// carries its original index so stability shows.
class VectorSequence : public SortedSequence {
 public:
  explicit VectorSequence(std::vector<std::pair<int, int>> v) : v_(std::move(v)) {}
  void Load(std::int32_t i) override { current_ = v_[static_cast<std::size_t>(i)]; }
  std::int32_t Done() override { return 42; }
  int CompareCurrent(std::int32_t i) override {
    int other = v_[static_cast<std::size_t>(i)].first;
    return current_.first < other ? -1 : current_.first > other ? 1 : 0;
  }
  void Move(std::int32_t from, std::int32_t count, std::int32_t to) override {
    std::rotate(v_.begin() + to, v_.begin() + from, v_.begin() + from + count);
    ++moves_;
  }
  int Stop(std::int32_t, std::int32_t) override { return 0; }
  std::vector<std::pair<int, int>> v_;
  std::pair<int, int> current_;
  int moves_ = 0;
};

TEST(InsertSorted, IsAStableSortThatMovesRunsAsBlocks) {
  std::mt19937 rng(3);
  for (int round = 0; round < 50; ++round) {
    std::vector<std::pair<int, int>> v;
    int n = 1 + static_cast<int>(rng() % 300);
    for (int i = 0; i < n; ++i) v.emplace_back(static_cast<int>(rng() % 20), i);
    VectorSequence seq(v);
    EXPECT_EQ(InsertSorted(seq, 0, n - 1), 42);
    std::stable_sort(v.begin(), v.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    ASSERT_EQ(seq.v_, v);
  }
  // A descending block goes in with one move per element, an ascending block after a
  // smaller head in a single move.
  VectorSequence block({{9, 0}, {1, 1}, {2, 2}, {3, 3}});
  InsertSorted(block, 0, 3);
  EXPECT_EQ(block.moves_, 1);
}

std::string Key(std::mt19937& rng) {
  std::string k(rng() % 6, 'a');
  for (auto& c : k) c = static_cast<char>('a' + rng() % 3);  // many equal keys and prefixes
  return k;
}

TEST(KeySorter, RunsAndMergeGiveAStableSortedOrder) {
  CaptureScope scope;
  std::mt19937 rng(11);
  std::vector<std::pair<std::string, std::uint32_t>> items;
  KeySorter sorter;
  sorter.BeginRuns(10000);
  for (std::uint32_t i = 0; i < 25000; ++i) {
    items.emplace_back(Key(rng), i);
    sorter.Add(reinterpret_cast<const std::uint8_t*>(items.back().first.data()),
               static_cast<std::int32_t>(items.back().first.size()), i);
  }
  sorter.EndRuns();
  EXPECT_EQ(sorter.RunCount(), 3);
  EXPECT_EQ(sorter.IndexRecords(), 25000);
  std::stable_sort(items.begin(), items.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  sorter.BeginMerge();
  std::size_t k = 0;
  for (; sorter.HasNext(); sorter.Next(), ++k) {
    ASSERT_LT(k, items.size());
    std::string key(reinterpret_cast<const char*>(sorter.CurrentKey()),
                    static_cast<std::size_t>(sorter.CurrentLength()));
    ASSERT_EQ(key, items[k].first);
    ASSERT_EQ(sorter.CurrentValue(), items[k].second) << k;
  }
  EXPECT_EQ(k, items.size());
  sorter.EndMerge();
}

TEST(KeySorter, NamedWorkFilesStayAndLongKeysAreRefused) {
  CaptureScope scope;
  std::string name = ::testing::TempDir() + "ludrex_sorter_named";
  {
    KeySorter sorter(name);
    sorter.BeginRuns(2);
    for (std::uint32_t v : {3u, 1u, 2u}) {
      std::string key(1, static_cast<char>('0' + v));
      sorter.Add(reinterpret_cast<const std::uint8_t*>(key.data()), 1, v);
    }
    sorter.EndRuns();
    sorter.BeginMerge();
    std::vector<std::uint32_t> got;
    for (; sorter.HasNext(); sorter.Next()) got.push_back(sorter.CurrentValue());
    EXPECT_EQ(got, (std::vector<std::uint32_t>{1, 2, 3}));
    sorter.EndMerge();
    std::string big(201, 'k');
    EXPECT_THROW(sorter.Add(reinterpret_cast<const std::uint8_t*>(big.data()), 201, 9), Failure);
    EXPECT_EQ(LastErrorCode(), 923u);
  }
  std::ifstream index(name + ".#si", std::ios::binary | std::ios::ate);
  ASSERT_TRUE(index.good());
  EXPECT_EQ(index.tellg(), 36);  // three 12-byte index records
  std::ifstream data(name + ".#sd", std::ios::binary | std::ios::ate);
  EXPECT_EQ(data.tellg(), 3);
  index.close();
  data.close();
  std::remove((name + ".#si").c_str());
  std::remove((name + ".#sd").c_str());
}

class SortSubsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateRegistry();
    InstallLibraryAccess();
    testing::InstallFakeFormat(2, ".pgn");
    name_ = ::testing::TempDir() + "ludrex_sortsubset";
    RecordPattern p;
    p.Append(FieldSpec(2, String("~5"), 0, String("4")));
    p.Append(FieldSpec(1, String("~16"), 0, String("")));
    base_ = CreateBase(String(name_.c_str()), p, 2);
    Record r(p);
    int values[] = {5, 3, 5, 9, 1, 3};
    for (int v : values) {
      r[0].SetInt(v);
      r[1].SetText(String("e"));
      base_->Write(kAppendRecord, r);
    }
  }
  void TearDown() override {
    CloseBase(base_);
    DestroyRegistry();
    testing::Stores().clear();
    std::remove((name_ + ".pgn").c_str());
  }
  std::string name_;
  Base* base_ = nullptr;
};

TEST_F(SortSubsetTest, AscendingWithTiesByRecordNumberAndDescending) {
  CaptureScope scope;
  std::unique_ptr<Subset> all(Subset::CreateTmp(6));
  all->IncludeRange(0, -1);
  RecordPattern key;
  key.Append(FieldSpec(2, String("~5"), 0, String("4")));
  std::vector<std::int32_t> out(6, -1);
  EXPECT_EQ(SortSubset(base_, out.data(), all.get(), key), 1);
  EXPECT_EQ(out, (std::vector<std::int32_t>{4, 1, 5, 0, 2, 3}));
  RecordPattern down;
  down.Append(FieldSpec(2, String("~5"), kFlagDescending, String("4")));
  EXPECT_EQ(SortSubset(base_, out.data(), all.get(), down), 1);
  EXPECT_EQ(out, (std::vector<std::int32_t>{3, 0, 2, 1, 5, 4}));
}

TEST_F(SortSubsetTest, NothingToDoLeavesTheOutputAlone) {
  CaptureScope scope;
  std::unique_ptr<Subset> none(Subset::CreateTmp(6));
  RecordPattern key;
  key.Append(FieldSpec(2, String("~5"), 0, String("4")));
  std::vector<std::int32_t> out(6, -1);
  EXPECT_EQ(SortSubset(base_, out.data(), none.get(), key), 1);
  EXPECT_EQ(SortSubset(base_, out.data(), none.get(), RecordPattern()), 1);
  EXPECT_EQ(out, std::vector<std::int32_t>(6, -1));
}

TEST_F(SortSubsetTest, AStopRequestGivesZero) {
  CaptureScope scope;
  Record r(base_->GetRecordPattern());
  for (int i = 0; i < 1500; ++i) {  // progress reaches the host every 1000 records
    r[0].SetInt(i);
    base_->Write(kAppendRecord, r);
  }
  std::unique_ptr<Subset> all(Subset::CreateTmp(base_->RecordCount()));
  all->IncludeRange(0, -1);
  RecordPattern key;
  key.Append(FieldSpec(2, String("~5"), 0, String("4")));
  std::vector<std::int32_t> out(static_cast<std::size_t>(base_->RecordCount()), -1);
  Callbacks().step = [](int, int) { return 1; };
  EXPECT_EQ(SortSubset(base_, out.data(), all.get(), key), 0);
  Callbacks().step = nullptr;
}

}  // namespace
}  // namespace ludrex
