// Replays every committed fuzz finding (tests/fuzz/regressions/<target>-<name>) through its
// target, and runs each target on a few edge inputs, so the findings stay fixed in the ordinary
// test run too.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "targets.h"

namespace {

using ludrex::fuzz::kTargets;

const ludrex::fuzz::TargetEntry* TargetOf(const std::string& file) {
  for (const auto* t = kTargets; t->name != nullptr; ++t) {
    const std::size_t n = std::strlen(t->name);
    if (file.size() > n && file.compare(0, n, t->name) == 0 && file[n] == '-') return t;
  }
  return nullptr;
}

TEST(FuzzReplay, EveryRegressionInputPasses) {
  namespace fs = std::filesystem;
  const fs::path dir(LUDREX_FUZZ_REGRESSIONS);
  ASSERT_TRUE(fs::is_directory(dir));
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string file = entry.path().filename().string();
    if (!entry.is_regular_file() || file[0] == '.' || file == "README.md") continue;
    const auto* t = TargetOf(file);
    ASSERT_NE(t, nullptr) << file << ": no target of that name";
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    SCOPED_TRACE(file);
    EXPECT_EQ(t->run(bytes.data(), bytes.size()), 0);
    ++replayed;
  }
  RecordProperty("replayed", replayed);
}

TEST(FuzzReplay, EveryTargetTakesEdgeInputs) {
  const std::vector<std::vector<std::uint8_t>> inputs = {
      {},
      {0},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      std::vector<std::uint8_t>(300, 0),
      std::vector<std::uint8_t>(300, '['),
      std::vector<std::uint8_t>(300, 0xE7),
  };
  for (const auto* t = kTargets; t->name != nullptr; ++t) {
    for (const auto& in : inputs) {
      SCOPED_TRACE(t->name);
      EXPECT_EQ(t->run(in.data(), in.size()), 0);
    }
  }
  ludrex::fuzz::RemoveScratch();
}

}  // namespace
