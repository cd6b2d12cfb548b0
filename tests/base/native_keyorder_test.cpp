// The key order's blocks against a plain vector: inserts, removals, moves and the stored file,
// across block splits and emptied blocks.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "base/native/key_order.h"
#include "storage/array.h"

namespace ludrex {
namespace {

TEST(NativeKeyOrder, MatchesAVectorThroughSplitsAndStores) {
  std::mt19937 rng(5);
  KeyOrder order;
  std::vector<std::int32_t> model;
  ArrayHandle file(NewMemArray(0));
  file->Init(4);
  file->Expandable(1);
  for (int step = 0; step < 30000; ++step) {
    std::uint32_t kind = rng() % 10;
    auto n = static_cast<std::int32_t>(model.size());
    if (kind < 6 || n == 0) {
      std::int32_t p = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n + 1));
      if (kind == 0) p = n;  // appends at the end, as sorted appends do
      order.Insert(p, step);
      model.insert(model.begin() + p, step);
    } else if (kind < 8) {
      std::int32_t from = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n));
      std::int32_t to = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n));
      std::int32_t v = order.Erase(from);
      order.Insert(to, v);
      model.erase(model.begin() + from);
      model.insert(model.begin() + to, v);
    } else if (kind == 8) {
      std::int32_t p = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n));
      ASSERT_EQ(order.Erase(p), model[static_cast<std::size_t>(p)]);
      model.erase(model.begin() + p);
    } else {
      order.Store(file.Get());
      ASSERT_EQ(file->Count(), static_cast<std::int32_t>(model.size()));
      std::vector<std::int32_t> stored(model.size());
      if (!stored.empty()) file->Read(0, stored.data(), file->Count());
      ASSERT_EQ(stored, model) << step;
    }
    ASSERT_EQ(order.Count(), static_cast<std::int32_t>(model.size()));
    if (!model.empty()) {
      std::int32_t p = static_cast<std::int32_t>(rng() % model.size());
      ASSERT_EQ(order.At(p), model[static_cast<std::size_t>(p)]);
      ASSERT_EQ(order.Find(model[static_cast<std::size_t>(p)]), p);
    }
  }
  KeyOrder copy;
  copy.Assign(model);
  for (std::size_t p = 0; p < model.size(); p += 97) {
    EXPECT_EQ(copy.At(static_cast<std::int32_t>(p)), model[p]);
  }
  EXPECT_EQ(copy.Find(-5), -1);
}

}  // namespace
}  // namespace ludrex
