#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "capture.h"
#include "frame/callbacks.h"

namespace ludrex {
namespace {

struct Recorder {
  std::vector<std::pair<int, int>> steps;
  std::vector<std::pair<int, int>> tree;
  int starts = 0, finishes = 0, stop_at = -1, dialogs = 0;
};
Recorder* g_rec = nullptr;

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_rec = &rec_;
    HostCallbacks& cb = Callbacks();
    cb.start = [](const char*, int one) {
      EXPECT_EQ(one, 1);
      ++g_rec->starts;
    };
    cb.step = [](int cur, int total) {
      g_rec->steps.emplace_back(cur, total);
      return cur >= g_rec->stop_at && g_rec->stop_at >= 0 ? 1 : 0;
    };
    cb.stepEx = [](int cur, int second, int) {
      g_rec->steps.emplace_back(cur, second);
      return 0;
    };
    cb.finish = [] { ++g_rec->finishes; };
    cb.tree = [](int cur, int total) {
      g_rec->tree.emplace_back(cur, total);
      return 0;
    };
  }
  void TearDown() override { Callbacks() = HostCallbacks{}; }
  Recorder rec_;
};

TEST_F(ProgressTest, StepReachesTheHostOnlyAfterAGranuleOfAdvance) {
  ProgressBegin("t", 1000);
  EXPECT_EQ(rec_.starts, 1);
  ProgressStep(999, 5000);
  EXPECT_TRUE(rec_.steps.empty());
  ProgressStep(1000, 5000);
  ProgressStep(1500, 5000);
  ProgressStep(2000, 5000);
  ASSERT_EQ(rec_.steps.size(), 2u);
  EXPECT_EQ(rec_.steps[0], std::make_pair(1000, 5000));
  EXPECT_EQ(rec_.steps[1], std::make_pair(2000, 5000));
  ProgressStepEx(2999, 7, 8);
  EXPECT_EQ(rec_.steps.size(), 2u);  // the extended step shares the threshold
  ProgressStepEx(3000, 7, 8);
  EXPECT_EQ(rec_.steps.size(), 3u);
  ProgressEnd();
  EXPECT_EQ(rec_.finishes, 1);
}

TEST_F(ProgressTest, BeginResetsTheLastValue) {
  ProgressBegin("a", 10);
  ProgressStep(50, 100);
  ProgressBegin("b", 10);
  ProgressStep(10, 100);
  EXPECT_EQ(rec_.steps.size(), 2u);
}

// A loop written the way every long operation is: it stops at the first nonzero step result.
int CountWithProgress(int n) {
  ProgressScope progress("count", 1);
  for (int i = 0; i < n; ++i) {
    if (ProgressStep(i + 1, n) != 0) return i + 1;
  }
  return n;
}

TEST_F(ProgressTest, AStepResultOfOneStopsTheOperation) {
  rec_.stop_at = 3;
  EXPECT_EQ(CountWithProgress(100), 3);
  EXPECT_EQ(rec_.finishes, 1);  // the scope ends the report on the way out
}

TEST_F(ProgressTest, TreeProgressStartsWithMinusOneAndKeepsTheThreshold) {
  TreeProgressBegin(100);
  TreeProgressStep(50, 1000);
  TreeProgressStep(100, 1000);
  TreeProgressNow(101, 1000);
  ASSERT_EQ(rec_.tree.size(), 3u);
  EXPECT_EQ(rec_.tree[0], std::make_pair(-1, 0));
  EXPECT_EQ(rec_.tree[1], std::make_pair(100, 1000));
  EXPECT_EQ(rec_.tree[2], std::make_pair(101, 1000));
}

TEST_F(ProgressTest, MissingCallbacksNeverStopAndDialogsGoOn) {
  Callbacks() = HostCallbacks{};
  ProgressBegin("x", 1);
  EXPECT_EQ(ProgressStep(5, 10), 0);
  EXPECT_EQ(ProgressStepEx(6, 1, 2), 0);
  ProgressEnd();
  EXPECT_EQ(MessageDialog("q", 0, kDialogQuestion), 0);
  Callbacks().dialog = [](const char*, int, int kind) { return kind == 20 ? 3 : 1; };
  EXPECT_EQ(MessageDialog("q", 0, kDialogQuestion), kDialogAbort);
}

}  // namespace
}  // namespace ludrex
