// The key index: its comparison is the key field's, equal keys find the first record claimed,
// and lookups survive the table's growth.
#include "base/native/key_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"

namespace ludrex {
namespace {

std::vector<std::uint8_t> W(const std::string& s) {
  std::vector<std::uint8_t> w;
  KeyIndex::WeightsOf(s.data(), s.size(), w);
  return w;
}

int Sign(int c) { return c < 0 ? -1 : c > 0 ? 1 : 0; }

TEST(KeyIndex, ComparesAsTheTextComparisonDoes) {
  const std::vector<std::string> texts = {"",     "a",      "A",        "ab",   "abc",
                                          "b",    "Zed",    "zed ",     "\xC5", "\xA8",
                                          "\xE5", "smith",  "Smith, J", "0",    "a b",
                                          "ab\x01"};
  KeyIndex index;
  for (const std::string& t : texts) {
    auto w = W(t);
    index.Add(w.data(), w.size());
  }
  for (std::size_t i = 0; i < texts.size(); ++i) {
    for (std::size_t j = 0; j < texts.size(); ++j) {
      int want = Sign(platform::CompareTexts(texts[i].data(), texts[i].size(), texts[j].data(),
                                             texts[j].size()));
      EXPECT_EQ(index.Compare(static_cast<std::int32_t>(i), static_cast<std::int32_t>(j)), want)
          << '"' << texts[i] << "\" against \"" << texts[j] << '"';
    }
  }
}

TEST(KeyIndex, EqualKeysFindTheFirstClaimedRecord) {
  KeyIndex index;
  for (const char* t : {"Tal", "TAL", "Botvinnik", "tal", ""}) {
    auto w = W(t);
    index.Add(w.data(), w.size());
  }
  index.Claim(1);  // "TAL" first: it answers for "Tal" and "tal" too
  index.Claim(0);
  index.Claim(3);
  index.Claim(2);
  auto w = W("tAl");
  EXPECT_EQ(index.Find(w.data(), w.size()), 1);
  w = W("Botvinnik");
  EXPECT_EQ(index.Find(w.data(), w.size()), 2);
  w = W("");
  EXPECT_EQ(index.Find(w.data(), w.size()), -1);  // record 4 not claimed yet
  index.Claim(4);
  EXPECT_EQ(index.Find(w.data(), w.size()), 4);
  w = W("Tal ");
  EXPECT_EQ(index.Find(w.data(), w.size()), -1);
}

TEST(KeyIndex, ManyKeysAcrossGrowth) {
  KeyIndex index;
  const int n = 50000;
  for (int i = 0; i < n; ++i) {
    auto w = W("player " + std::to_string(i));
    index.Add(w.data(), w.size());
    index.Claim(i);
  }
  EXPECT_EQ(index.Count(), n);
  for (int i = 0; i < n; i += 7) {
    auto w = W("Player " + std::to_string(i));
    ASSERT_EQ(index.Find(w.data(), w.size()), i);
  }
  auto w = W("player " + std::to_string(n));
  EXPECT_EQ(index.Find(w.data(), w.size()), -1);
  index.Clear();
  EXPECT_EQ(index.Count(), 0);
  w = W("player 1");
  EXPECT_EQ(index.Find(w.data(), w.size()), -1);
}

}  // namespace
}  // namespace ludrex
